#!/usr/bin/env bash
# The main job, end to end: packs the sample files through the real plug-in library with the
# command-line host, once per kind of run, and shows what came out.
set -euo pipefail

build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
host="$root/$build/gleanery"
out=$(mktemp -d "${TMPDIR:-/tmp}/gleanery-demo.XXXXXX")
config="$out/config"
samples=("$root"/samples/*)

# run TITLE NAME [OPTIONS...] -- FILE...
run() {
    local title=$1 name=$2
    shift 2
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    echo "== $title"
    "$host" pack --config "$config" --yes --quiet "${options[@]}" "$out/$name.zip" "$@" || true
    if [ -f "$out/$name.txt" ]; then
        sed 's/\r$//' "$out/$name.txt"
        echo
        echo "-> $out/$name.txt"
    fi
    echo
}

run "E-mail addresses, each once, with statistics" emails \
    --regex '[\w.+-]+@[\w-]+(?:\.[\w-]+)+' --no-duplicates --stats -- "${samples[@]}"
run "Lines with ERROR or WARN (line mode)" problems \
    --regex '.*\b(?:ERROR|WARN)\b.*' --line-mode -- "${samples[@]}"
run "IPv4 addresses with the file they came from" addresses \
    --regex '\b(?:\d{1,3}\.){3}\d{1,3}\b' --replace '$0 (\xNn)' -- "${samples[@]}"
run "Dates rewritten day.month.year (search and replace)" dates \
    --regex '(\d{4})-(\d{2})-(\d{2})' --replace '$3.$2.$1' --search-replace \
    -- "$root/samples/server.log"

echo "Output files are in $out"
