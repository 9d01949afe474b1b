#!/usr/bin/env bash
# The guard of scripts/wine-prefix and scripts/wine-run: a prefix outside the checkout's build folder is
# refused with exit code 2 and nothing is made for it, whether it is named plainly, through a link inside
# the build folder, or through ".." inside it; a folder inside that is no prefix is not made one; a prefix
# inside is accepted. The scripts run as a copy in a checkout of their own under WORK (a folder of the real
# build), so that whatever a broken guard lets through still lands inside the real build, where this test
# stops and removes it.
#   prefix-guard-test.sh SCRIPTS_DIR WORK
set -uo pipefail
scripts=${1:?usage: prefix-guard-test.sh SCRIPTS_DIR WORK} work=${2:?usage: prefix-guard-test.sh SCRIPTS_DIR WORK}
checkout="$work/checkout" outside="$work/outside"
build="$checkout/build/x86"
# Stops whatever a broken guard made a prefix of, and removes the folder.
clear_work() {
    [ -d "$work" ] && find "$work" -name system.reg -printf '%h\n' | while IFS= read -r prefix; do
        "$scripts/wine-prefix" stop "$prefix" >/dev/null 2>&1
    done
    rm -rf "$work"
}
# A checkout of the scripts alone, with its build folder, a link in it to a folder outside, and that folder;
# and in the build folder a folder that holds something other than a prefix.
make_work() {
    clear_work
    mkdir -p "$checkout/scripts/lib" "$build/not-a-prefix" "$outside"
    touch "$build/not-a-prefix/keep"
    cp "$scripts/wine-prefix" "$scripts/wine-run" "$checkout/scripts/"
    cp "$scripts/lib/wine-env.sh" "$checkout/scripts/lib/"
    ln -s ../../../outside "$build/link"
}
trap clear_work EXIT
# refused WHAT COMMAND...: in a fresh checkout, the command exits 2 and leaves nothing in the folder outside,
# nor any prefix or lock anywhere. The first failure ends the test: a guard that lets one through takes
# tens of seconds making each prefix.
refused() {
    local what=$1 rc=0 out
    shift
    make_work
    out=$("$@" 2>&1) || rc=$?
    if [ "$rc" != 2 ] || [ -n "$(ls -A "$outside")" ] || [ -n "$(find "$work" -name system.reg -o -name '*.lock')" ]; then
        printf 'FAIL %s: exit %s, outside holds: %s\n%s\n' "$what" "$rc" "$(find "$outside" -mindepth 1 -maxdepth 1 -printf '%f ')" "$out"
        exit 1
    fi
}

refused "a prefix outside" "$checkout/scripts/wine-prefix" ensure "$outside/p"
refused "the simulator registered outside" "$checkout/scripts/wine-prefix" register-sim "$outside/p" "$checkout/scripts/wine-run"
refused "through a link inside the build folder" "$checkout/scripts/wine-prefix" ensure "$build/link/p"
refused "through .. inside the build folder" "$checkout/scripts/wine-prefix" ensure "$build/../../../outside/p"
refused "the build folder itself" "$checkout/scripts/wine-prefix" ensure "$build/.."
refused "a folder beside it named alike" "$checkout/scripts/wine-prefix" ensure "$checkout/build.old/p"
refused "wine-run through a link" env WINEPREFIX="$build/link/p" "$checkout/scripts/wine-run" cmd /c exit
refused "the simulator registered in a folder inside that is no prefix" \
    "$checkout/scripts/wine-prefix" register-sim "$build/not-a-prefix" "$checkout/scripts/wine-run"
# A prefix inside, named through ".." that stays inside, is accepted (stopping one that is not there does nothing).
make_work
"$checkout/scripts/wine-prefix" stop "$build/../x86/p" || { echo "FAIL a prefix inside the build folder is refused"; exit 1; }
echo "every prefix outside the build folder refused"
