#!/usr/bin/env bash
# Unpacks the release archives and checks them.
#   scripts/check-dist.sh ARCHIVE... [objdump]
# Gleanery.zip: what Total Commander's installer reads (pluginst.inf with its [plugininstall]
# keys, the files it names, of the right machine type) and the rest of the set. The Linux
# tarball: its file set, native binaries, and that its install.sh installs a working program
# under a prefix and uninstalls it without a trace. Both: the language file has every language
# section with every built-in text.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
objdump=x86_64-w64-mingw32-objdump
archives=()
for arg in "$@"; do
    case $arg in *.zip | *.tar.gz) archives+=("$arg") ;; *) objdump=$arg ;; esac
done
[ ${#archives[@]} -gt 0 ] || { echo "usage: $0 ARCHIVE... [objdump]" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# The numbers of the built-in texts, from their table.
numbers=$(sed -n 's/^ *{\([0-9]\+\), u".*/\1/p' "$here/src/settings/texts.cpp" | sort -n)
[ "$(wc -l <<<"$numbers")" -ge 90 ] || { echo "FAIL: cannot read the built-in text numbers" >&2; exit 1; }

check_language_file() { # path
    local lng=$1 language keys
    [ -f "$lng" ] || { fail "no language file"; return; }
    for language in DEU FRA RUS ESP POL CHN; do
        keys=$(tr -d '\r' <"$lng" | awk -v s="[$language]" '
            /^\[/ { inside = ($0 == s); next }
            inside && /^[0-9]+=./ { sub(/=.*/, ""); print }' | sort -n)
        [ "$keys" = "$numbers" ] ||
            fail "$(basename "$lng"): section $language differs from the built-in texts:" \
                "$(diff <(echo "$numbers") <(echo "$keys") | grep '^[<>]' | tr '\n' ' ')"
    done
}

check_zip() { # archive
    local zipfile=$1 dir=$work/zip
    mkdir "$dir"
    unzip -q "$zipfile" -d "$dir" || { fail "cannot unpack $zipfile"; return; }
    local listed want
    listed=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort)
    want=$(printf '%s\n' Gleanery.wcx Gleanery.wcx64 pluginst.inf readme.txt Gleanery.Sample.ini \
        Gleanery.lng | sort)
    [ "$listed" = "$want" ] || fail "$zipfile holds [$(echo $listed)], expected [$(echo $want)]"

    local inf=$dir/pluginst.inf
    if [ -f "$inf" ]; then
        # The installer reads an ini file: section and keys, CR LF line ends.
        grep -q $'\r$' "$inf" || fail "pluginst.inf does not use CR LF line ends"
        local body named
        body=$(tr -d '\r' <"$inf")
        [ "$(head -n1 <<<"$body")" = "[plugininstall]" ] || fail "pluginst.inf does not start with [plugininstall]"
        for pair in type=wcx file=Gleanery.wcx defaultdir=gleanery defaultextension=gln; do
            grep -qx "$pair" <<<"$body" || fail "pluginst.inf lacks $pair"
        done
        grep -qE '^description=.{10,}' <<<"$body" || fail "pluginst.inf lacks a description"
        named=$(sed -n 's/^file=//p' <<<"$body")
        [ -f "$dir/$named" ] || fail "pluginst.inf names $named, which the archive lacks"
    fi
    # The readme recommends the extension the installer registers, and no other.
    grep -q 'extension gln' "$dir/readme.txt" || fail "readme.txt does not name the extension gln"

    machine_ok() { "$objdump" -f "$1" 2>/dev/null | grep -q "file format $2"; }
    [ -f "$dir/Gleanery.wcx" ] && { machine_ok "$dir/Gleanery.wcx" pei-i386 || fail "Gleanery.wcx is not a 32-bit Windows DLL"; }
    [ -f "$dir/Gleanery.wcx64" ] && { machine_ok "$dir/Gleanery.wcx64" pei-x86-64 || fail "Gleanery.wcx64 is not a 64-bit Windows DLL"; }
    check_language_file "$dir/Gleanery.lng"
    echo "$zipfile: $(echo $listed)"
}

check_tarball() { # archive
    local tarball=$1 dir=$work/tar
    mkdir "$dir"
    tar -xzf "$tarball" -C "$dir" || { fail "cannot unpack $tarball"; return; }
    local top=$dir/gleanery-linux-x86_64 listed want
    listed=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort)
    want=$(printf 'gleanery-linux-x86_64/%s\n' install.sh readme-linux.txt bin/gleanery \
        lib/gleanery/Gleanery.so lib/gleanery/Gleanery.Sample.ini lib/gleanery/Gleanery.lng \
        share/man/man1/gleanery.1 share/bash-completion/completions/gleanery \
        share/doc/gleanery/README | sort)
    [ "$listed" = "$want" ] || fail "$tarball holds [$(echo $listed)], expected [$(echo $want)]"
    readelf -h "$top/bin/gleanery" 2>/dev/null | grep -q 'Machine: *Advanced Micro Devices X86-64' ||
        fail "bin/gleanery is not an x86-64 program"
    readelf -h "$top/lib/gleanery/Gleanery.so" 2>/dev/null | grep -q 'Type: *DYN' ||
        fail "Gleanery.so is not a shared library"
    check_language_file "$top/lib/gleanery/Gleanery.lng"

    # Its installer, as a user runs it: into a prefix, the program works from there, and out.
    local prefix=$work/prefix
    mkdir "$prefix"
    "$top/install.sh" "$prefix" >/dev/null 2>&1 || fail "install.sh failed"
    rm -rf "$top" # the installed program must not depend on the unpacked archive
    "$prefix/bin/gleanery" --help 2>&1 | grep -q 'gleanery pack' || fail "the installed gleanery does not run"
    printf 'x=42\n' >"$work/in.txt"
    [ "$(XDG_CONFIG_HOME=$work/config "$prefix/bin/gleanery" pack --quiet -e '\d+' - "$work/in.txt")" = 42 ] ||
        fail "the installed gleanery does not find its plug-in"
    [ -f "$prefix/share/man/man1/gleanery.1" ] || fail "no manual page installed"
    # The archive's install.sh was removed with it: uninstall with the copy of the source tree.
    "$here/scripts/install-tree.sh" --uninstall "$prefix" >/dev/null 2>&1 || fail "uninstall failed"
    [ -z "$(find "$prefix" -mindepth 1)" ] || fail "uninstall left $(find "$prefix" -mindepth 1 | tr '\n' ' ')"
    echo "$tarball: $(sed 's|gleanery-linux-x86_64/||' <<<"$listed" | tr '\n' ' ')"
}

for archive in "${archives[@]}"; do
    case $archive in
        *.zip) check_zip "$archive" ;;
        *.tar.gz) check_tarball "$archive" ;;
    esac
done
exit $status
