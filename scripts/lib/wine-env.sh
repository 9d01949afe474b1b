# shellcheck shell=bash
# The Wine environment of one of the build's prefixes. Source it, then call `wine_env DIR`.
#
# A prefix under build/x64/ is a 64-bit prefix for the 64-bit flavour; every other prefix of the build
# is a 32-bit one. A 64-bit prefix is driven through Wine's 64-bit loader and server directly: Debian's
# `wine`, `wineboot`, `winepath` and `wineserver` wrappers pick the 32-bit programs whenever wine32 is
# installed, and those cannot start at all on a machine that executes no 32-bit x86 code.
#
# After `wine_env DIR`: WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES (and for 64-bit WINELOADER and
# WINESERVER) are exported, `$pelloran_wine` names the loader to run programs with, and the functions
# `wine` and `wineserver` call the right programs.
#
# Also: `in_build_folder DIR`, the guard of every script that touches a prefix, and `winpath PATH`.

pelloran_wine64=/usr/lib/wine/wine64
pelloran_wineserver64=/usr/lib/wine/wineserver64
# The build folder of this checkout (the folder above scripts/), its links resolved.
pelloran_build=$(realpath -m -- "$(dirname "${BASH_SOURCE[0]}")/../../build")

# Whether DIR lies inside the build folder once its links and ".." are resolved, as the kernel would
# resolve them; DIR need not exist yet (what exists of it is resolved, the rest taken as written).
in_build_folder() {
    local real
    real=$(realpath -m -- "$1") || return 1
    [[ $real == "$pelloran_build"/?* ]]
}

# The Windows path of a Unix path, on the Z: drive that Wine maps to /.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The architecture of a prefix of the build, from where it lives.
wine_arch_of() {
    case "$1" in
        */build/x64/*) echo win64 ;;
        *) echo win32 ;;
    esac
}

# shellcheck disable=SC2317  # `wine` and `wineserver` are defined here for whoever sourced this file
wine_env() {
    export WINEPREFIX="$1"
    export WINEARCH
    WINEARCH=$(wine_arch_of "$1")
    # No offer to install .NET or a browser engine; and no winemenubuilder, which would copy every
    # shortcut made in the prefix to the Unix desktop, outside the build.
    export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ "$WINEARCH" = win64 ]; then
        export WINELOADER="$pelloran_wine64" WINESERVER="$pelloran_wineserver64"
        pelloran_wine=$pelloran_wine64
        wineserver() { "$pelloran_wineserver64" "$@"; }
    else
        unset WINELOADER WINESERVER
        pelloran_wine=$(command -v wine)
        wineserver() { command wineserver "$@"; }
    fi
    wine() { "$pelloran_wine" "$@"; }
}
