#!/usr/bin/env bash
# Builds the release archive: both Windows plug-in DLLs, the sample settings, a short readme and
# pluginst.inf, from which Total Commander installs the plug-in when the user opens the zip.
#   scripts/make-dist.sh OUT.zip Gleanery.wcx64 Gleanery.wcx
set -euo pipefail

out=$1
wcx64=$2
wcx=$3
here=$(cd "$(dirname "$0")/.." && pwd)

for f in "$wcx64" "$wcx" "$here/dist/pluginst.inf" "$here/dist/readme.txt"; do
    [ -f "$f" ] || { echo "make-dist: missing $f" >&2; exit 1; }
done
[ "$(basename "$wcx64")" = Gleanery.wcx64 ] || { echo "make-dist: $wcx64 is not Gleanery.wcx64" >&2; exit 1; }
[ "$(basename "$wcx")" = Gleanery.wcx ] || { echo "make-dist: $wcx is not Gleanery.wcx" >&2; exit 1; }

files=("$here/dist/pluginst.inf" "$wcx" "$wcx64" "$here/dist/readme.txt")
[ -f "$here/dist/Gleanery.Sample.ini" ] && files+=("$here/dist/Gleanery.Sample.ini")

mkdir -p "$(dirname "$out")"
rm -f "$out"
# -j: no directories inside; -X: no Unix extra fields; pluginst.inf first, as installers expect.
zip -q -j -X "$out" "${files[@]}"
echo "$out"
