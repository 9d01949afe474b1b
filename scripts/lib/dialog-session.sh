# Shared by the demo and the screenshot script: a Wine prefix of the build with the firmware simulator
# registered, a virtual display, and the dialog driver. Source it after setting `prefix`.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build="$root/build"
exe="$build/app/Pelloran.exe"
driver="$build/tests/driver/pelloran_driver.exe"
sim="$build/sim/PelloranSim.dll"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Creates the prefix, registers the simulator, and sets the Wine environment.
session_prepare() {
    "$root/scripts/wine-prefix" ensure "$prefix"
    if [ -f "$sim" ]; then
        "$root/scripts/wine-prefix" register-sim "$prefix" "$sim"
    else
        echo "no firmware simulator built; the tool meets Wine's own WMI, which has no firmware class" >&2
    fi
    export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# Starts a virtual display for the prefix and points DISPLAY at it.
session_display() {
    "$root/scripts/wine-prefix" display "$prefix"
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
