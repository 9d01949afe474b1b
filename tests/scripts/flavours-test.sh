#!/usr/bin/env bash
# scripts/flavours against stand-in Wine loaders: one that runs, one the kernel refuses as a 32-bit
# program would be refused ("Exec format error"), and none at all.
set -uo pipefail
scripts=${1:?usage: flavours-test.sh SCRIPTS_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\necho wine-8.0\n' >"$work/runs" && chmod +x "$work/runs"
printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0' >"$work/refused" && chmod +x "$work/refused"
failures=0

# expect NAME WINE32 WINE64 FORCED EXIT FLAVOURS REASON-PATTERN
expect() {
    local name=$1 wine32=$2 wine64=$3 forced=$4 status=$5 flavours=$6 reason=$7 out rc
    out=$(PELLORAN_WINE32_LOADER=$wine32 PELLORAN_WINE64_LOADER=$wine64 PELLORAN_FLAVOURS=$forced \
          "$scripts/flavours" 2>&1)
    rc=$?
    if [ "$rc" != "$status" ] || { [ -n "$flavours" ] && [ "$(sed -n 1p <<<"$out")" != "$flavours" ]; } ||
       [[ "$(tail -n 1 <<<"$out")" != *$reason* ]] || [ "$(wc -l <<<"$out")" -ne $((status == 0 ? 2 : 1)) ]; then
        echo "FAIL $name: exit $rc, printed:"; echo "$out" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}

expect "both loaders run"        "$work/runs"    "$work/runs" ""        0 "x86 x64" "runs 32-bit and 64-bit"
expect "no 32-bit code"          "$work/refused" "$work/runs" ""        0 "x64"     "executes no 32-bit x86 code"
expect "no 32-bit Wine"          "$work/none"    "$work/runs" ""        0 "x64"     "not installed"
expect "forced to x64"           "$work/runs"    "$work/runs" "x64"     0 "x64"     "forced by PELLORAN_FLAVOURS"
expect "forced, with a comma"    "$work/refused" "$work/runs" "x64,x86" 0 "x64 x86" "forced"
expect "forced to nonsense"      "$work/runs"    "$work/runs" "arm64"   1 ""        "unknown flavour \"arm64\""
expect "no 64-bit loader"        "$work/runs"    "$work/none" ""        1 ""        "64-bit loader"
expect "no Wine, even if forced" "$work/none"    "$work/none" "x86"     1 ""        "run scripts/bootstrap"

# make test on a machine without Wine: one line that says why, a non-zero exit, nothing built.
out=$(PELLORAN_WINE64_LOADER="$work/none" "$scripts/test" 2>&1)
rc=$?
if [ "$rc" -eq 0 ] || [ "$(wc -l <<<"$out")" -ne 1 ] || [[ "$out" != "make test: cannot run the tests here: "* ]]; then
    echo "FAIL make test without Wine: exit $rc, printed:"; echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "all flavour cases pass"
exit "$failures"
