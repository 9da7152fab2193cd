#!/usr/bin/env bash
# Copies a staged Gleanery tree (bin/, lib/, share/ beside this script, or $TREE) under a prefix,
# or removes what such a copy put there. Ships as install.sh in the Linux release archive.
#   install-tree.sh [PREFIX]                install (PREFIX default: $PREFIX, else ~/.local)
#   install-tree.sh --uninstall [PREFIX]    remove exactly what the install created
# DESTDIR is honoured. Every file and every directory an install creates is listed in
# PREFIX/share/gleanery/install-manifest; uninstall removes those and keeps anything else (the
# settings a plug-in wrote beside itself, say). Needs no root for a prefix the user owns.
set -eu

action=install
if [ "${1:-}" = --uninstall ]; then
    action=uninstall
    shift
fi
[ $# -le 1 ] || { echo "usage: $0 [--uninstall] [PREFIX]" >&2; exit 2; }
prefix=${1:-${PREFIX:-${HOME:?}/.local}}
case $prefix in /*) ;; *) echo "install: PREFIX must be an absolute path, not '$prefix'" >&2; exit 2 ;; esac
prefix=${prefix%/}
tree=${TREE:-$(cd "$(dirname "$0")" && pwd)}
root=${DESTDIR:-}$prefix
manifest_name=share/gleanery/install-manifest
manifest=$root/$manifest_name

# Manifest lines: "d PATH" for a directory the install created, "f PATH" for a file; paths
# relative to PREFIX.
entries=()

make_dir() { # relative path; records each level it creates
    local rel=$1 parent
    [ -d "$root/$rel" ] && return
    parent=$(dirname "$rel")
    [ "$parent" = . ] || make_dir "$parent"
    mkdir "$root/$rel"
    entries+=("d $rel")
}

uninstall() {
    [ -f "$manifest" ] || { echo "uninstall: nothing installed under $root (no $manifest_name)" >&2; exit 1; }
    local line rel dirs=()
    while IFS= read -r line; do
        rel=${line#? }
        case $rel in '' | /* | ../* | */../* | */..) echo "uninstall: bad manifest line '$line'" >&2; exit 1 ;; esac
        case $line in
            "f "*) rm -f "$root/$rel" ;;
            "d "*) dirs=("$rel" "${dirs[@]}") ;;
        esac
    done <"$manifest"
    for rel in "${dirs[@]}"; do # deepest first
        if ! rmdir "$root/$rel" 2>/dev/null && [ -d "$root/$rel" ]; then
            echo "uninstall: kept $prefix/$rel, which holds files of its own" >&2
        fi
    done
    echo "uninstalled from $root"
}

install_tree() {
    [ -x "$tree/bin/gleanery" ] && [ -f "$tree/lib/gleanery/Gleanery.so" ] ||
        { echo "install: $tree holds no staged Gleanery tree" >&2; exit 1; }
    if [ -f "$manifest" ]; then
        echo "install: replacing the earlier install under $root" >&2
        uninstall >/dev/null
    fi
    mkdir -p "$root"
    local rel mode
    while IFS= read -r rel; do
        make_dir "$(dirname "$rel")"
        mode=644
        [ -x "$tree/$rel" ] && mode=755
        install -m "$mode" "$tree/$rel" "$root/$rel"
        entries+=("f $rel")
    done < <(cd "$tree" && find bin lib share -type f | sort)
    make_dir "$(dirname "$manifest_name")"
    entries+=("f $manifest_name")
    printf '%s\n' "${entries[@]}" >"$manifest"
    echo "installed under $root:"
    sed -n "s|^f |  $prefix/|p" "$manifest"
    case ":$PATH:" in *":$prefix/bin:"*) ;; *) echo "note: $prefix/bin is not on your PATH" >&2 ;; esac
}

case $action in
    install) install_tree ;;
    uninstall) uninstall ;;
esac
