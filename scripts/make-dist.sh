#!/usr/bin/env bash
# Builds the release archives.
#   scripts/make-dist.sh OUT.zip Gleanery.wcx64 Gleanery.wcx
#       for Total Commander: both plug-in DLLs, the sample settings, the language file, a readme
#       and pluginst.inf, from which Total Commander installs the plug-in when the zip is opened
#   scripts/make-dist.sh OUT.tar.gz BUILD_DIR
#       for Linux: gleanery-linux-x86_64/ with the staged install tree (host, plug-in, sample
#       settings, language file, manual page, bash completion), its install.sh and readme
set -euo pipefail

out=$1
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$(dirname "$out")"
rm -f "$out"

case $out in
    *.zip)
        [ $# -eq 3 ] || { echo "usage: $0 OUT.zip Gleanery.wcx64 Gleanery.wcx" >&2; exit 2; }
        wcx64=$2
        wcx=$3
        for f in "$wcx64" "$wcx" "$here/dist/pluginst.inf" "$here/dist/readme.txt" \
            "$here/dist/Gleanery.Sample.ini" "$here/dist/Gleanery.lng"; do
            [ -f "$f" ] || { echo "make-dist: missing $f" >&2; exit 1; }
        done
        [ "$(basename "$wcx64")" = Gleanery.wcx64 ] || { echo "make-dist: $wcx64 is not Gleanery.wcx64" >&2; exit 1; }
        [ "$(basename "$wcx")" = Gleanery.wcx ] || { echo "make-dist: $wcx is not Gleanery.wcx" >&2; exit 1; }
        # -j: no directories inside; -X: no Unix extra fields; pluginst.inf first, as installers
        # expect.
        zip -q -j -X "$out" "$here/dist/pluginst.inf" "$wcx" "$wcx64" "$here/dist/readme.txt" \
            "$here/dist/Gleanery.Sample.ini" "$here/dist/Gleanery.lng"
        ;;
    *.tar.gz)
        [ $# -eq 2 ] || { echo "usage: $0 OUT.tar.gz BUILD_DIR" >&2; exit 2; }
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
        top=$work/gleanery-linux-x86_64
        "$here/scripts/install.sh" stage "$2" "$top"
        install -m 755 "$here/scripts/install-tree.sh" "$top/install.sh"
        install -m 644 "$here/dist/readme-linux.txt" "$top/readme-linux.txt"
        # Reproducible: fixed owner, order and times.
        tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -C "$work" -cf - \
            gleanery-linux-x86_64 | gzip -n -9 >"$out"
        ;;
    *) echo "make-dist: $out is neither .zip nor .tar.gz" >&2; exit 2 ;;
esac
echo "$out"
