#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Does nothing when all
# of them are present. Usage: scripts/install-deps.sh [native|windows|bench|all]
set -euo pipefail

what=${1:-all}

native=(build-essential cmake ninja-build pkg-config libpcre3-dev libsimpleini-dev libutfcpp-dev
        googletest libgtest-dev zip unzip)
windows=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386 xvfb xauth imagemagick)
bench=(ripgrep pcregrep hyperfine time python3-matplotlib)

wanted=()
case "$what" in
    native) wanted=("${native[@]}") ;;
    windows) wanted=("${native[@]}" "${windows[@]}") ;;
    bench) wanted=("${native[@]}" "${bench[@]}") ;;
    all) wanted=("${native[@]}" "${windows[@]}") ;;
    *) echo "usage: $0 [native|windows|bench|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
for p in "${missing[@]}"; do
    if [[ "$p" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
done
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
