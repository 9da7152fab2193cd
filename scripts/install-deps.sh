#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Does nothing when all
# of them are present. Usage: scripts/install-deps.sh [native|windows|bench|fuzz|all]
set -euo pipefail

what=${1:-all}

native=(build-essential cmake ninja-build pkg-config libpcre3-dev libsimpleini-dev libutfcpp-dev
        googletest libgtest-dev zip unzip)
windows=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386 xvfb xauth imagemagick)
bench=(ripgrep pcregrep hyperfine time python3-matplotlib)
# libFuzzer and the sanitizer runtimes for clang
fuzz=(clang libclang-rt-14-dev)
# Double Commander (GTK) under Xvfb, driven with xdotool, for the dialog test inside a real host
doublecmd=(doublecmd-gtk xvfb xauth xdotool imagemagick)

wanted=()
case "$what" in
    native) wanted=("${native[@]}") ;;
    windows) wanted=("${native[@]}" "${windows[@]}") ;;
    bench) wanted=("${native[@]}" "${bench[@]}") ;;
    fuzz) wanted=("${native[@]}" "${fuzz[@]}") ;;
    doublecmd) wanted=("${native[@]}" "${doublecmd[@]}") ;;
    all) wanted=("${native[@]}" "${windows[@]}" "${fuzz[@]}") ;;
    *) echo "usage: $0 [native|windows|bench|fuzz|doublecmd|all]" >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)

# Steps after the packages: the Windows builds need PCRE built for mingw (cached outside the
# tree) and, where the kernel cannot run 32-bit programs, qemu-user for the 32-bit Wine tests.
after_packages() {
    case "$what" in
        windows|all)
            "$here/build-pcre-mingw.sh" >/dev/null
            local how
            how=$("$here/setup-qemu-i386.sh") || echo "warning: 32-bit Windows tests will be skipped: $how" >&2
            ;;
    esac
}

missing=()
for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    after_packages
    exit 0
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
for p in "${missing[@]}"; do
    if [[ "$p" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
done
echo "Installing: ${missing[*]}"
# A mirror in the middle of a sync serves index files of the wrong size for a while: the update is
# tried again before the install goes ahead with what it has.
for attempt in 1 2 3 4; do
    $sudo apt-get update -qq && break
    echo "install-deps: apt-get update failed (attempt $attempt of 4)" >&2
    [ "$attempt" -lt 4 ] && sleep $((attempt * 15))
done
if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    # Without the mirror's i386 lists (or with lists that do not match the machine's own
    # packages) the 32-bit Wine cannot be installed: everything else is, and the 32-bit Windows
    # tests report themselves skipped.
    native_only=()
    for p in "${missing[@]}"; do [[ "$p" == *:i386 ]] || native_only+=("$p"); done
    [ ${#native_only[@]} -lt ${#missing[@]} ] || exit 1
    echo "************************************************************************" >&2
    echo "install-deps: the i386 packages could not be installed; the 32-bit Windows" >&2
    echo "tests will be SKIPPED until scripts/install-deps.sh windows installs them." >&2
    echo "************************************************************************" >&2
    [ ${#native_only[@]} -eq 0 ] ||
        $sudo apt-get install -y -qq --no-install-recommends "${native_only[@]}"
fi
after_packages
