# Shared by the demo and the screenshot script: a Wine prefix of the build with the firmware simulator
# registered, a virtual display, and the dialog driver. Source it, call `session_flavour`, then set
# `prefix` (a folder under $build).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/scripts/lib/wine-env.sh"
# Picks the flavour to show (x86, the product, where this machine runs 32-bit code; x64 otherwise),
# says which, builds it, and sets `flavour`, `build`, `exe`, `driver` and `sim`.
session_flavour() {
    local choice
    choice=$("$root/scripts/flavours" 2>&1) || { echo "$1: cannot run the tool here: $choice" >&2; exit 1; }
    case " $(sed -n 1p <<<"$choice") " in
        *" x86 "*) flavour=x86 ;;
        *) flavour=x64 ;;
    esac
    echo "$1: running the $flavour build ($(sed -n 2p <<<"$choice"))"
    build="$root/build/$flavour"
    exe="$build/app/Pelloran.exe"
    driver="$build/tests/driver/pelloran_driver.exe"
    sim="$build/sim/PelloranSim.dll"
    (cd "$root" && cmake --preset "$flavour" >/dev/null && cmake --build --preset "$flavour" >/dev/null) ||
        { echo "$1: building the $flavour flavour failed" >&2; exit 1; }
}

# Creates the prefix, registers the simulator, and sets the Wine environment.
session_prepare() {
    "$root/scripts/wine-prefix" ensure "$prefix"
    if [ -f "$sim" ]; then
        "$root/scripts/wine-prefix" register-sim "$prefix" "$sim"
    else
        echo "no firmware simulator built; the tool meets Wine's own WMI, which has no firmware class" >&2
    fi
    export WINEDEBUG=-all
    wine_env "$prefix"
}

# Starts a virtual display for the prefix (of display_size when set) and points DISPLAY at it.
session_display() {
    "$root/scripts/wine-prefix" display "$prefix" ${display_size:-}
    export DISPLAY=":$(cat "$prefix.display")"
}

desktop="/desktop=Pelloran,640x480"

# Starts the tool in Wine's virtual desktop (which draws window frames) in the background.
session_start() { wine explorer "$desktop" "$exe" & app=$!; }

# Runs the dialog driver, looking into the tool's virtual desktop.
drive() { PELLORAN_DESKTOP=Pelloran wine "$driver" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Saves a picture of the dialog (with a small margin) to the file named.
session_shot() {
    local geometry x y w h
    geometry=$(drive rect)
    read -r x y w h <<<"$geometry"
    import -window root -crop "$((w + 16))x$((h + 16))+$((x > 8 ? x - 8 : 0))+$((y > 8 ? y - 8 : 0))" +repage "$1"
    echo "saved $1"
}

session_stop() { "$root/scripts/wine-prefix" stop "$prefix"; }
