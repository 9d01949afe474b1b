#!/usr/bin/env bash
# scripts/flavours against stand-in Wine loaders: one that runs, one the kernel refuses as a 32-bit
# program would be refused ("Exec format error"), and none at all; and make test without Wine.
set -uo pipefail
scripts=${1:?usage: flavours-test.sh SCRIPTS_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\necho wine-8.0\n' >"$work/runs" && chmod +x "$work/runs"
printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0' >"$work/refused" && chmod +x "$work/refused"
failures=0
indent() { sed 's/^/    /'; }

# expect WINE32 WINE64 FORCED EXIT FLAVOURS REASON-PATTERN: the exit code, the flavours on the first line
# (when given) and the reason on the last, one line for a failure and two otherwise.
expect() {
    local out rc
    out=$(PELLORAN_WINE32_LOADER=$work/$1 PELLORAN_WINE64_LOADER=$work/$2 PELLORAN_FLAVOURS=$3 "$scripts/flavours" 2>&1)
    rc=$?
    if [ "$rc" != "$4" ] || { [ -n "$5" ] && [ "$(sed -n 1p <<<"$out")" != "$5" ]; } ||
       [[ "$(tail -n 1 <<<"$out")" != *$6* ]] || [ "$(wc -l <<<"$out")" -ne $(($4 == 0 ? 2 : 1)) ]; then
        echo "FAIL $*: exit $rc, printed:"; indent <<<"$out"
        failures=$((failures + 1))
    fi
}

expect runs    runs ""      0 "x86 x64" "runs 32-bit and 64-bit"
expect refused runs ""      0 "x64"     "executes no 32-bit x86 code"
expect none    runs ""      0 "x64"     "not installed"
expect runs    runs x64     0 "x64"     "forced by PELLORAN_FLAVOURS"
expect refused runs x64,x86 0 "x64 x86" "forced"
expect runs    runs arm64   1 ""        "unknown flavour \"arm64\""
expect runs    none ""      1 ""        "64-bit loader"
expect none    none x86     1 ""        "run scripts/bootstrap"

# make test on a machine without Wine: one line that says why, a non-zero exit, nothing built.
out=$(PELLORAN_WINE64_LOADER="$work/none" "$scripts/test" 2>&1) && failures=$((failures + 1))
[[ "$(wc -l <<<"$out")" -eq 1 && "$out" == "make test: cannot run the tests here: "* ]] ||
    { echo "FAIL make test without Wine, printed:"; indent <<<"$out"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "all flavour cases pass"
exit "$failures"
