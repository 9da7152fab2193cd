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

run() {
    local title=$1 name=$2
    shift 2
    echo "== $title"
    "$host" pack --config "$config" --yes --quiet "$@" "$out/$name.zip" "${samples[@]}" || true
    if [ -f "$out/$name.txt" ]; then
        sed 's/\r$//' "$out/$name.txt"
        echo
        echo "-> $out/$name.txt"
    fi
    echo
}

run "E-mail addresses, each once, with statistics" emails \
    --regex '[\w.+-]+@[\w-]+(?:\.[\w-]+)+' --no-duplicates --stats
run "Lines with ERROR or WARN (line mode)" problems --regex 'ERROR|WARN' --line-mode
run "IPv4 addresses with the file they came from" addresses \
    --regex '\b(?:\d{1,3}\.){3}\d{1,3}\b' --replace '$0 (\xNn)'
run "Dates rewritten day.month.year (search and replace)" dates \
    --regex '(\d{4})-(\d{2})-(\d{2})' --replace '$3.$2.$1' --search-replace

echo "Output files are in $out"
