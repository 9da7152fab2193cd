#!/usr/bin/env bash
# Unpacks Debian's pcre3 source package into the cache outside the repository,
# $GLEANERY_CACHE/pcre3-source (default /var/cache/gleanery/pcre3-source), with `apt-get source`
# from Debian's own archive; adds a deb-src entry for the main archive when the system has none.
# An unpacked source is reused. Prints the source directory.
# Used by scripts/build-pcre-mingw.sh (the Windows libraries) and by the build of the help text
# (the syntax summary in the source's documentation).
set -euo pipefail

cache=${GLEANERY_CACHE:-/var/cache/gleanery}
srcroot="$cache/pcre3-source"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

mkdir -p "$cache" 2>/dev/null || { $sudo mkdir -p "$cache" && $sudo chown "$(id -u):$(id -g)" "$cache"; }

find_source() {
    local dir
    dir=$(find "$srcroot" -mindepth 1 -maxdepth 1 -type d -name 'pcre3-*' 2>/dev/null | head -n1 || true)
    if [ -n "$dir" ] && [ -f "$dir/configure" ] && [ -f "$dir/doc/pcre.txt" ]; then
        echo "$dir"
    fi
}

src=$(find_source)
if [ -n "$src" ]; then echo "$src"; exit 0; fi

# One fetch at a time (a lock of its own: build-pcre-mingw.sh holds its lock while calling this).
exec 8>"$cache/.pcre-source.lock"
flock 8
src=$(find_source)
if [ -n "$src" ]; then echo "$src"; exit 0; fi

have_deb_src() {
    grep -rqsE '^[[:space:]]*deb-src[[:space:]]|^Types:.*deb-src' \
        /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null
}
if ! have_deb_src; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "Adding a deb-src entry for Debian $codename" >&2
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$codename" "$codename" | $sudo tee /etc/apt/sources.list.d/gleanery-deb-src.sources >/dev/null
    $sudo apt-get update -qq
fi

rm -rf "$srcroot"
mkdir -p "$srcroot"
(cd "$srcroot" && apt-get source -qq pcre3 >source.log 2>&1) || { cat "$srcroot/source.log" >&2; exit 1; }
src=$(find_source)
[ -n "$src" ] || { echo "pcre3 source not found under $srcroot" >&2; exit 1; }
echo "$src"
