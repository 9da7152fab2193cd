#!/usr/bin/env bash
# Makes 32-bit x86 Linux programs (Debian's 32-bit Wine loader) runnable on this machine, so the
# 32-bit plug-in can be tested under Wine. Where the kernel runs them itself nothing is done.
# Otherwise qemu-user from Debian's bookworm-backports (Debian 12's own 7.2 cannot run Wine) is
# downloaded with apt into a private state directory, unpacked into the cache
# ($GLEANERY_CACHE/qemu-user, default /var/cache/gleanery/qemu-user) without installing it, and
# registered with binfmt_misc for 32-bit ELF programs with the fix-binary flag.
#
# Prints one line: "native", "qemu <path>", or "unavailable: <reason>" (exit status 1).
# GLEANERY_FORCE_QEMU=1 registers qemu even when the kernel runs 32-bit programs itself.
set -uo pipefail

cache=${GLEANERY_CACHE:-/var/cache/gleanery}
qemu_dir="$cache/qemu-user"
qemu="$qemu_dir/usr/bin/qemu-i386"
entry_name=gleanery-qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
probe=/usr/lib/wine/wine

unavailable() {
    echo "unavailable: $*"
    exit 1
}

runs_32bit() {
    # The 32-bit Wine loader prints its version without touching a prefix.
    "$probe" --version >/dev/null 2>&1
}

[ -x "$probe" ] || unavailable "$probe is missing (wine32:i386, scripts/install-deps.sh windows)"

if [ "${GLEANERY_FORCE_QEMU:-0}" != 1 ] && runs_32bit; then
    if [ -f "$binfmt/$entry_name" ] && grep -qx enabled "$binfmt/$entry_name"; then
        echo "qemu $(sed -n 's/^interpreter //p' "$binfmt/$entry_name")"
    else
        echo native
    fi
    exit 0
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# --- fetch qemu-user from bookworm-backports, unpacked into the cache --------------------------
if [ ! -x "$qemu" ] || ! "$qemu" --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
    mkdir -p "$cache" 2>/dev/null || { $sudo mkdir -p "$cache" && $sudo chown "$(id -u):$(id -g)" "$cache"; }
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs"
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    [ "$codename" = bookworm ] || echo "note: fetching qemu-user from bookworm-backports on $codename" >&2
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-backports main" \
        >"$work/sources.list"
    apt_opts=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent
              -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
              -o Dir::Cache::pkgcache="" -o Dir::Cache::srcpkgcache=""
              -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1)
    echo "Fetching qemu-user from bookworm-backports" >&2
    apt-get "${apt_opts[@]}" update -qq >"$work/update.log" 2>&1 \
        || { cat "$work/update.log" >&2; unavailable "apt could not read bookworm-backports"; }
    (cd "$work/debs" && apt-get "${apt_opts[@]}" download -qq qemu-user/bookworm-backports) >"$work/download.log" 2>&1 \
        || { cat "$work/download.log" >&2; unavailable "apt could not download qemu-user from bookworm-backports"; }
    deb=$(ls "$work"/debs/qemu-user_*.deb 2>/dev/null | head -n1)
    [ -n "$deb" ] || unavailable "no qemu-user package was downloaded"
    rm -rf "$qemu_dir.new"
    dpkg -x "$deb" "$qemu_dir.new" || unavailable "could not unpack $deb"
    rm -rf "$qemu_dir"
    mv "$qemu_dir.new" "$qemu_dir"
    [ -x "$qemu" ] || unavailable "the package holds no $qemu"
fi

# --- register it for 32-bit x86 ELF programs ----------------------------------------------------
if [ ! -w "$binfmt/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null
fi
[ -e "$binfmt/register" ] || unavailable "binfmt_misc cannot be mounted on $binfmt (container without the privilege?)"
if [ -f "$binfmt/$entry_name" ]; then
    if grep -qx "interpreter $qemu" "$binfmt/$entry_name" && grep -qx enabled "$binfmt/$entry_name"; then
        runs_32bit && { echo "qemu $qemu"; exit 0; }
    fi
    echo -1 | $sudo tee "$binfmt/$entry_name" >/dev/null
fi
# ELF, 32-bit, little endian, executable or shared object, machine EM_386 (qemu's own magic and
# mask for i386). F: the interpreter is opened now, so it also works inside other mount views.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf '%s' ":$entry_name:M::$magic:$mask:$qemu:F" | $sudo tee "$binfmt/register" >/dev/null 2>&1 \
    || unavailable "binfmt_misc refused the qemu-i386 registration"
runs_32bit || unavailable "32-bit programs still do not run with $qemu registered"
echo "qemu $qemu"
