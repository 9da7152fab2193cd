#!/usr/bin/env bash
# Builds PCRE (the 8-bit and the 16-bit library, UTF, Unicode properties and the JIT compiler,
# static only) for the mingw-w64 targets from Debian's pcre3 source package and installs it into
# a cache outside the repository: $GLEANERY_CACHE/pcre-jit-<arch> (default
# /var/cache/gleanery/pcre-jit-<arch>; the name changed when the JIT was added, so an older
# cache without it is never taken). A finished
# install is reused. Prints the install prefix of each target built or found.
# Usage: scripts/build-pcre-mingw.sh [x86_64|i686]...   (both when none is given)
set -euo pipefail

cache=${GLEANERY_CACHE:-/var/cache/gleanery}
arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(x86_64 i686)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

mkdir -p "$cache" 2>/dev/null || { $sudo mkdir -p "$cache" && $sudo chown "$(id -u):$(id -g)" "$cache"; }

# One build at a time: two `make test` runs may reach this script together.
exec 9>"$cache/.pcre-mingw.lock"
flock 9

all_cached=1
for arch in "${arches[@]}"; do
    [ -f "$cache/pcre-jit-$arch/.complete" ] || all_cached=0
done
if [ $all_cached -eq 1 ]; then
    for arch in "${arches[@]}"; do echo "$cache/pcre-jit-$arch"; done
    exit 0
fi

# Debian's source package, unpacked into the cache by its own script.
here=$(cd "$(dirname "$0")" && pwd)
src=$(GLEANERY_CACHE="$cache" "$here/fetch-pcre-source.sh")

# Two of Debian's patches touch configure.ac and Makefile.am; with the timestamps the unpacking
# leaves, make would try to rerun autotools of a version that is not installed. Put the generated
# files back in their natural order so that they count as up to date.
touch "$src/aclocal.m4"
sleep 1
touch "$src/configure" "$src/config.h.in"
find "$src" -name Makefile.in -exec touch {} +

jobs=${JOBS:-2}
for arch in "${arches[@]}"; do
    prefix="$cache/pcre-jit-$arch"
    if [ -f "$prefix/.complete" ]; then echo "$prefix"; continue; fi
    host="$arch-w64-mingw32"
    command -v "$host-gcc" >/dev/null || { echo "$host-gcc is missing (scripts/install-deps.sh windows)" >&2; exit 1; }
    build="$cache/build-pcre-$arch"
    rm -rf "$build" "$prefix"
    mkdir -p "$build"
    echo "Building PCRE for $host (about a minute)" >&2
    (
        cd "$build"
        "$src/configure" --host="$host" --prefix="$prefix" \
            --enable-pcre16 --enable-utf --enable-unicode-properties --enable-jit \
            --disable-shared --enable-static --disable-cpp \
            CFLAGS="-O2" >configure.log 2>&1 || { tail -n 40 configure.log >&2; exit 1; }
        make -j"$jobs" >make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
        make install >install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
    )
    for lib in libpcre.a libpcre16.a; do
        [ -f "$prefix/lib/$lib" ] || { echo "$prefix/lib/$lib was not installed" >&2; exit 1; }
    done
    touch "$prefix/.complete"
    rm -rf "$build"
    echo "$prefix"
done
