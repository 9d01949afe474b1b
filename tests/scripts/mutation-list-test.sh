#!/usr/bin/env bash
# The mutation list read as scripts/mutate reads it, and each entry checked as scripts/mutate would apply it: its
# - and + lines there, its file there, its - text in that file exactly once. A line renamed since the last mutation
# run shows here, in seconds, each such entry named.
#   tests/scripts/mutation-list-test.sh [LIST]   (by default tests/mutations.txt)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$(dirname "$0")/../../scripts/lib/mutation-list.sh"
read_mutation_list "${1:-$root/tests/mutations.txt}"
problems=("${list_problems[@]}")
for i in "${!files[@]}"; do
    entry="entry $((i + 1)), ${files[$i]}: ${reasons[$i]}"
    if [ ! -f "$root/${files[$i]}" ]; then
        problems+=("$entry: no such file")
    elif ! replace_once "$root/${files[$i]}" "${froms[$i]}"; then
        problems+=("$entry: its - text is not found exactly once")
    fi
done
[ ${#problems[@]} -eq 0 ] || { printf '%s\n' "${problems[@]}" >&2; exit 1; }
echo "mutation list: ${#files[@]} entries, each text found exactly once in its file"
