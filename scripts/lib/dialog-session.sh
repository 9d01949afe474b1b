# shellcheck shell=bash
# Shared by the demo and the screenshot scripts: the build of the flavour shown, a Wine prefix of that build
# with its firmware simulator registered and a virtual display, the tool in Wine's virtual desktop, and the
# dialog driver. Source it; each function is given what it works on and prints what it finds.
session_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$session_root/scripts/lib/wine-env.sh"

# Picks the flavour to show (x86, the product, where this machine runs 32-bit code; x64 otherwise), says
# which on standard error in NAME's voice, builds it, and prints its build folder.
session_build() {
    local choice flavour
    choice=$("$session_root/scripts/flavours" 2>&1) || { echo "$1: cannot run the tool here: $choice" >&2; return 1; }
    case " $(sed -n 1p <<<"$choice") " in
        *" x86 "*) flavour=x86 ;;
        *) flavour=x64 ;;
    esac
    echo "$1: running the $flavour build ($(sed -n 2p <<<"$choice"))" >&2
    (cd "$session_root" && cmake --preset "$flavour" >/dev/null && cmake --build --preset "$flavour" >/dev/null) ||
        { echo "$1: building the $flavour flavour failed" >&2; return 1; }
    echo "$session_root/build/$flavour"
}

# Creates PREFIX, with the firmware simulator of BUILD as its WMI locator, for a display of the user's own.
session_prepare() {
    "$session_root/scripts/wine-prefix" ensure "$1"
    "$session_root/scripts/wine-prefix" register-sim "$1" "$2/sim/PelloranSim.dll"
}

# The same with a virtual display, the rest of the arguments as `wine-prefix session` takes them after the
# DLL ([N [wine]] [WxH]); prints the display's DISPLAY value. What the session starts writes nothing here.
session_open() {
    local prefix=$1 build=$2
    shift 2
    "$session_root/scripts/wine-prefix" session "$prefix" "$build/sim/PelloranSim.dll" "$@" >&2
    echo ":$(cat "$prefix.display")"
}

# Sets the Wine environment of PREFIX, quiet, for the functions below and the caller's own Wine commands.
session_env() {
    export WINEDEBUG=-all
    wine_env "$1"
}

# Runs EXE in Wine's virtual desktop (which draws window frames) of size WxH until it ends.
session_start() { wine explorer "/desktop=Pelloran,$1" "$2"; }

# Runs the dialog driver of BUILD with the rest of the arguments, looking into the tool's virtual desktop.
drive() {
    local build=$1
    shift
    PELLORAN_DESKTOP=Pelloran wine "$build/tests/driver/pelloran_driver.exe" "$@" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# Saves a picture of the dialog (with a small margin) to FILE, found by the dialog driver of BUILD.
session_shot() {
    local geometry x y w h
    geometry=$(drive "$1" rect)
    read -r x y w h <<<"$geometry"
    import -window root -crop "$((w + 16))x$((h + 16))+$((x > 8 ? x - 8 : 0))+$((y > 8 ? y - 8 : 0))" +repage "$2"
    echo "saved $2"
}

# Stops PREFIX's wineserver and virtual display.
session_stop() { "$session_root/scripts/wine-prefix" stop "$1"; }
