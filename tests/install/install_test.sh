#!/usr/bin/env bash
# Installs the built host and plug-in into a temporary prefix the way `make install` does, uses
# the installed program, manual page and completion, and uninstalls, which must leave nothing
# but a file of the user's own.
#   tests/install/install_test.sh BUILD_DIR
set -eu

build=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
mkdir "$prefix"
PREFIX=$prefix "$here/scripts/install.sh" install "$build" >/dev/null

# The installed program runs from the PATH and finds its plug-in in ../lib/gleanery.
export PATH=$prefix/bin:$PATH XDG_CONFIG_HOME=$work/config
[ "$(command -v gleanery)" = "$prefix/bin/gleanery" ] || fail "gleanery is not the installed one"
gleanery --help | grep -q '^  gleanery pack' || fail "gleanery --help printed no usage"
printf 'a1 b22\r\nc333\r\n' >"$work/input.txt"
found=$(gleanery pack --quiet -e '\d+' - "$work/input.txt") || fail "the installed host could not pack"
[ "$found" = $'1\n22\n333' ] || fail "the installed host found [$found]"

# The manual page formats without warnings and lists every option of the usage text.
page=$prefix/share/man/man1/gleanery.1
if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "the manual page has roff warnings: $warnings"
    text=$(LC_ALL=C.UTF-8 MANWIDTH=100 man -l -P cat "$page")
    for option in $(gleanery help | grep -oE -- '(^| )--[a-z][a-z-]*' | sort -u); do
        grep -qF -- "$option" <<<"$text" || fail "the manual page lacks $option"
    done
else
    echo "note: man is not installed; the manual page was not formatted" >&2
fi

# The completion offers the commands and the stored presets (here the sample settings' ones).
complete_words() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _gleanery
             printf "%s\n" "${COMPREPLY[@]}"' _ \
        "$prefix/share/bash-completion/completions/gleanery" "$@"
}
[ "$(complete_words gleanery pre)" = presets ] || fail "no completion of the command presets"
presets=$(gleanery presets | cut -f1)
[ -n "$presets" ] || fail "no presets stored"
stem=$(head -n1 <<<"$presets" | cut -c1-3)
want=$(while IFS= read -r p; do [[ $p != "$stem"* ]] || printf '%q\n' "$p"; done <<<"$presets")
got=$(complete_words gleanery pack --preset "$stem")
[ "$got" = "$want" ] || fail "preset completion gave [$got], expected [$want]"

# Uninstall removes what the install put there; a file of the user's own stays.
touch "$prefix/lib/gleanery/Gleanery.ini"
PREFIX=$prefix "$here/scripts/install.sh" uninstall >/dev/null 2>&1
left=$(cd "$prefix" && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$left" = "./lib ./lib/gleanery ./lib/gleanery/Gleanery.ini " ] || fail "uninstall left [$left]"
rm -r "${prefix:?}/lib"

# DESTDIR stages an install for another root.
DESTDIR=$work/stage PREFIX=/opt/gleanery "$here/scripts/install.sh" install "$build" >/dev/null 2>&1
[ -x "$work/stage/opt/gleanery/bin/gleanery" ] || fail "DESTDIR was not honoured"
grep -q "^f bin/gleanery$" "$work/stage/opt/gleanery/share/gleanery/install-manifest" ||
    fail "the manifest does not list the program"
DESTDIR=$work/stage PREFIX=/opt/gleanery "$here/scripts/install.sh" uninstall >/dev/null
[ -z "$(find "$work/stage" -type f)" ] || fail "uninstall under DESTDIR left files"
echo "install test: passed"
