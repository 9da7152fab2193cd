#!/usr/bin/env bash
# Installs the built host and Linux plug-in under a prefix, or stages them for the release archive.
#   scripts/install.sh install BUILD_DIR    (PREFIX, default /usr/local, and DESTDIR honoured)
#   scripts/install.sh uninstall
#   scripts/install.sh stage BUILD_DIR DIR  the installed tree, in DIR
# The tree: bin/gleanery; lib/gleanery/ the plug-in with its sample settings and language file
# (the host finds the plug-in there); share/ the manual page (made from the host's usage text),
# the bash completion and the Linux readme. scripts/install-tree.sh copies it under the prefix and
# keeps the manifest uninstall works from. Installs no packages and needs no root for a prefix
# the user owns.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
export PREFIX=${PREFIX:-/usr/local}

stage() { # build-dir dir
    local build=$1 dir=$2 f
    for f in "$build/gleanery" "$build/Gleanery.so" "$here/dist/Gleanery.Sample.ini" \
        "$here/dist/Gleanery.lng" "$here/dist/gleanery.bash-completion" "$here/dist/readme-linux.txt"; do
        [ -f "$f" ] || { echo "install: missing $f (run 'make build' first)" >&2; exit 1; }
    done
    mkdir -p "$dir/bin" "$dir/lib/gleanery" "$dir/share/man/man1" \
        "$dir/share/bash-completion/completions" "$dir/share/doc/gleanery"
    install -m 755 "$build/gleanery" "$dir/bin/gleanery"
    install -m 644 "$build/Gleanery.so" "$here/dist/Gleanery.Sample.ini" "$here/dist/Gleanery.lng" \
        "$dir/lib/gleanery/"
    "$here/scripts/man-page.sh" "$build/gleanery" >"$dir/share/man/man1/gleanery.1"
    chmod 644 "$dir/share/man/man1/gleanery.1"
    install -m 644 "$here/dist/gleanery.bash-completion" "$dir/share/bash-completion/completions/gleanery"
    install -m 644 "$here/dist/readme-linux.txt" "$dir/share/doc/gleanery/README"
}

case ${1:-} in
    stage)
        [ $# -eq 3 ] || { echo "usage: $0 stage BUILD_DIR DIR" >&2; exit 2; }
        stage "$2" "$3"
        ;;
    install)
        [ $# -eq 2 ] || { echo "usage: $0 install BUILD_DIR" >&2; exit 2; }
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
        stage "$2" "$work"
        TREE=$work "$here/scripts/install-tree.sh" "$PREFIX"
        ;;
    uninstall) "$here/scripts/install-tree.sh" --uninstall "$PREFIX" ;;
    *) echo "usage: $0 install BUILD_DIR | uninstall | stage BUILD_DIR DIR" >&2; exit 2 ;;
esac
