#!/usr/bin/env bash
# Runs a Windows program under Wine and returns its exit status; ctest uses it as the
# cross-compiling emulator of the mingw builds.
#   scripts/wine-run.sh [--prefix DIR] program.exe [arguments...]
# The Wine prefix is DIR (default: $WINEPREFIX, else "wineprefix" beside the program), set up with
# `wineboot -i` on first use. 64-bit programs run with wine64, 32-bit ones with the 32-bit loader;
# where this machine cannot run 32-bit programs (see scripts/setup-qemu-i386.sh) a 32-bit program
# is not run and the script exits with 77, which ctest reports as skipped. Without a DISPLAY the
# program runs inside its own Xvfb server.
set -uo pipefail

prefix=${WINEPREFIX:-}
if [ "${1:-}" = --prefix ]; then
    prefix=$2
    shift 2
fi
if [ $# -lt 1 ]; then
    echo "usage: $0 [--prefix DIR] program.exe [arguments...]" >&2
    exit 2
fi
program=$1
[ -f "$program" ] || { echo "wine-run: no such program: $program" >&2; exit 2; }
[ -n "$prefix" ] || prefix=$(cd "$(dirname "$program")" && pwd)/wineprefix

wine_dir=${GLEANERY_WINE_DIR:-/usr/lib/wine}
readonly skip_status=77

# The machine type in the PE header: 8664 for x64, 014c for x86.
pe_offset=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$program" | tr -d ' ')
case "$machine" in
    8664) loader=$wine_dir/wine64 ;;
    014c)
        loader=$wine_dir/wine
        if [ ! -e "$loader" ]; then
            {
                echo "************************************************************************"
                echo "SKIPPED: $(basename "$program") is a 32-bit Windows program and the 32-bit"
                echo "Wine is not installed ($loader is missing: package wine32:i386)."
                echo "Run scripts/install-deps.sh windows (as root) to install it."
                echo "************************************************************************"
            } >&2
            exit $skip_status
        fi
        if ! "$loader" --version >/dev/null 2>&1; then
            why=$("$loader" --version 2>&1 | head -n1)
            {
                echo "************************************************************************"
                echo "SKIPPED: $(basename "$program") is a 32-bit Windows program and this machine"
                echo "cannot run 32-bit x86 Linux programs, so Wine cannot load it"
                echo "(${why:-no answer from $loader})."
                echo "Run scripts/setup-qemu-i386.sh (as root) to run them through qemu-user."
                echo "************************************************************************"
            } >&2
            exit $skip_status
        fi
        ;;
    *) echo "wine-run: $program is not a Windows x86/x64 program (machine '$machine')" >&2; exit 2 ;;
esac
[ -x "$loader" ] || { echo "wine-run: $loader is missing (scripts/install-deps.sh windows)" >&2; exit 2; }

export WINEPREFIX=$prefix
export WINEDEBUG=${GLEANERY_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# First use: create the prefix once, even when several tests start together.
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/.gleanery-ready" ]; then
    (
        flock 9
        if [ ! -f "$prefix/.gleanery-ready" ]; then
            "$wine_dir/wine64" wineboot -i >"$prefix.boot.log" 2>&1 || {
                cat "$prefix.boot.log" >&2
                exit 1
            }
            touch "$prefix/.gleanery-ready"
        fi
    ) 9>"$prefix.lock" || { echo "wine-run: wineboot failed for $prefix" >&2; exit 2; }
fi

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$loader" "$@"
fi
exec "$loader" "$@"
