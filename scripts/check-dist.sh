#!/usr/bin/env bash
# Unpacks the release archive and checks what Total Commander's installer reads from it:
# pluginst.inf with its [plugininstall] keys, and the files it names, of the right machine type.
#   scripts/check-dist.sh Gleanery.zip [objdump]
set -uo pipefail

zipfile=$1
objdump=${2:-x86_64-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

unzip -q "$zipfile" -d "$work" || { echo "FAIL: cannot unpack $zipfile" >&2; exit 1; }

listed=$(cd "$work" && find . -type f | sed 's|^\./||' | sort)
want=$(printf '%s\n' Gleanery.wcx Gleanery.wcx64 pluginst.inf readme.txt | sort)
if [ -f "$(dirname "$0")/../dist/Gleanery.Sample.ini" ]; then
    want=$(printf '%s\nGleanery.Sample.ini\n' "$want" | sort)
fi
[ "$listed" = "$want" ] || fail "archive holds [$(echo $listed)], expected [$(echo $want)]"

inf="$work/pluginst.inf"
if [ -f "$inf" ]; then
    # The installer reads an ini file: section and keys, CR LF line ends.
    grep -q $'\r$' "$inf" || fail "pluginst.inf does not use CR LF line ends"
    body=$(tr -d '\r' <"$inf")
    [ "$(head -n1 <<<"$body")" = "[plugininstall]" ] || fail "pluginst.inf does not start with [plugininstall]"
    for pair in type=wcx file=Gleanery.wcx defaultdir=gleanery defaultextension=txt; do
        grep -qx "$pair" <<<"$body" || fail "pluginst.inf lacks $pair"
    done
    grep -qE '^description=.{10,}' <<<"$body" || fail "pluginst.inf lacks a description"
    named=$(sed -n 's/^file=//p' <<<"$body")
    [ -f "$work/$named" ] || fail "pluginst.inf names $named, which the archive lacks"
fi

machine_ok() { "$objdump" -f "$1" 2>/dev/null | grep -q "file format $2"; }
[ -f "$work/Gleanery.wcx" ] && { machine_ok "$work/Gleanery.wcx" pei-i386 || fail "Gleanery.wcx is not a 32-bit Windows DLL"; }
[ -f "$work/Gleanery.wcx64" ] && { machine_ok "$work/Gleanery.wcx64" pei-x86-64 || fail "Gleanery.wcx64 is not a 64-bit Windows DLL"; }

[ $status -eq 0 ] && echo "$zipfile: $(echo $listed)"
exit $status
