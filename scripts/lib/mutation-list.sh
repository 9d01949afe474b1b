# shellcheck shell=bash
# The mutation list (tests/mutations.txt, its format at the top of scripts/mutate), read the one way that
# scripts/mutate applies it and tests/scripts/mutation-list-test.sh checks it. Source it, then:
#   read_mutation_list LIST      fills the arrays files, reasons, froms, tos and equivalents, one element per
#                                entry (the texts as the list writes them), and list_problems, one line for each
#                                entry that lacks its - or + line and each line that the format does not know
#   replace_once FILE FROM [TO]  replaces the one occurrence of FROM in FILE by TO; without TO only looks for it.
#                                Exit 2 when FROM is not in FILE exactly once.

# shellcheck disable=SC2034  # the arrays are read by whoever sourced this file
read_mutation_list() {
    local line file="" reason="" from="" to="" equivalent="" lines=""
    files=() reasons=() froms=() tos=() equivalents=() list_problems=()
    while IFS= read -r line || [ -n "$line" ]; do
        case "$line" in
            '#'*) ;;
            '') add_entry ;;
            '- '*) from=${line#- } lines+=- ;;
            '+'|'+ '*) to=${line#+} lines+=+; to=${to# } ;;
            '= '*) equivalent=${line#= } ;;
            *:*) add_entry; file=${line%%:*} reason=${line#*: } ;;
            *) list_problems+=("cannot read this line of $1: $line") ;;
        esac
    done <"$1"
    add_entry
}

# The entry that read_mutation_list has read so far (its locals), once its last line is read; `lines` holds
# which of the - and + lines it had.
# shellcheck disable=SC2034  # the arrays are read by whoever sourced this file
add_entry() {
    if [ -n "$file" ] && [[ "$lines" != *-* || "$lines" != *+* ]]; then
        list_problems+=("entry '$file: $reason' lacks its - or + line")
    elif [ -n "$file" ]; then
        files+=("$file") reasons+=("$reason") froms+=("$from") tos+=("$to") equivalents+=("$equivalent")
    fi
    file="" reason="" from="" to="" equivalent="" lines=""
}

# FROM and TO with \n for a line break and \\ for a backslash, as the list writes them.
replace_once() {
    perl -e '
        my ($file, $from, $to) = @ARGV;
        for ($from, $to) { s/\\(n|\\)/$1 eq "n" ? "\n" : "\\"/ge if defined }
        local $/; open(my $in, "<", $file) or exit 2; my $text = <$in>; close $in;
        my $at = index($text, $from);
        exit 2 if $from eq "" || $at < 0 || index($text, $from, $at + 1) >= 0;
        exit 0 unless defined $to;
        substr($text, $at, length $from) = $to;
        open(my $out, ">", $file) or exit 2; print $out $text; close $out;' "$@"
}
