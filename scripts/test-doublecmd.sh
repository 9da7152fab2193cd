#!/usr/bin/env bash
# The settings dialog inside the real Double Commander (Debian's doublecmd-gtk) under Xvfb: marks
# two files, opens the pack dialog, presses Configure, changes the expression and a check box,
# presses OK, packs, and checks the output and the settings file. Screenshots of the dialog go to
# BUILD/doublecmd-test/. Usage: scripts/test-doublecmd.sh [BUILD_DIR] (default build/release)
set -euo pipefail

build=$(cd "${1:-build/release}" && pwd)
if [ -z "${GLEANERY_DC_INNER:-}" ]; then
    exec env GLEANERY_DC_INNER=1 xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" "$0" "$build"
fi

dir=$build/doublecmd-test
rm -rf "$dir"
mkdir -p "$dir/config" "$dir/plugin" "$dir/work" "$dir/out"
cp "$build/Gleanery.so" "$dir/plugin/"
printf 'alpha 12 beta 345\nx 6789\n' >"$dir/work/a.txt"
printf 'no digits\n42\n' >"$dir/work/b.txt"
# Packer plug-ins: 279 = new, modify, multiple, options, hide (GetPackerCaps).
cat >"$dir/config/doublecmd.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <Plugins>
    <WcxPlugins>
      <WcxPlugin Enabled="True">
        <ArchiveExt>gln</ArchiveExt>
        <Path>$dir/plugin/Gleanery.so</Path>
        <Flags>279</Flags>
      </WcxPlugin>
    </WcxPlugins>
  </Plugins>
</doublecmd>
XML

fail() {
    echo "test-doublecmd: FAILED: $*" >&2
    import -window root "$dir/failure.png" 2>/dev/null || true
    echo "test-doublecmd: screen at the failure: $dir/failure.png; host log: $dir/doublecmd.log" >&2
    exit 1
}

# The window with this exact title, once it is visible (up to `seconds`).
wait_window() {
    local title=$1 seconds=${2:-30} id
    for _ in $(seq $((seconds * 4))); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1) || true
        if [ -n "$id" ]; then
            sleep 0.5 # let it draw
            echo "$id"
            return 0
        fi
        sleep 0.25
    done
    return 1
}

wait_gone() {
    local title=$1
    for _ in $(seq 40); do
        xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || return 0
        sleep 0.25
    done
    return 1
}

# Its own home, so that nothing of the host lands in the user's configuration.
mkdir -p "$dir/home"
(cd "$dir" && HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" \
    exec doublecmd --config-dir="$dir/config" "$dir/work" "$dir/out") \
    >"$dir/doublecmd.log" 2>&1 &
host=$!
trap 'kill $host 2>/dev/null || true' EXIT

main=$(wait_window "Double Commander.*" 60) || fail "Double Commander did not start"
sleep 2 # the panels fill after the window shows
# Mark every file of the left panel (a click on the first file gives the panel the focus) and
# press Alt+F5; a busy host may drop keys that come too early, so this is tried three times.
pack=""
for _ in 1 2 3; do
    xdotool mousemove --window "$main" 60 230 click 1
    sleep 0.5
    xdotool key ctrl+a
    sleep 0.5
    xdotool key alt+F5
    pack=$(wait_window "Pack files" 10) && break
    xdotool key Escape # whatever else opened
    sleep 1
done
[ -n "$pack" ] || fail "no pack dialog"
# Configure, right of the packer list (the pack dialog's layout of Double Commander 1.0.10).
xdotool mousemove --window "$pack" 465 130 click 1
settings=$(wait_window "Gleanery Settings") || fail "Configure opened no settings dialog"
import -window "$settings" "$dir/settings-dialog.png"

# Clicks go where the generated form puts the controls (at 96 dpi the host does not rescale it).
xdotool mousemove --window "$settings" 300 60 click 1
xdotool key ctrl+a
xdotool type --delay 20 '[0-9]+('
sleep 0.5
import -window "$settings" "$dir/settings-error.png"
xdotool key BackSpace
xdotool mousemove --window "$settings" 18 104 click 1 # Line mode
sleep 0.3
xdotool mousemove --window "$settings" 709 386 click 1 # RegEx Help>
sleep 0.8
import -window "$settings" "$dir/settings-help.png"
xdotool mousemove --window "$settings" 56 534 click 1 # OK
wait_gone "Gleanery Settings" || fail "OK did not close the settings dialog"

ini=$dir/plugin/Gleanery.ini
[ -f "$ini" ] || fail "no settings file written"
tr -d '\r' <"$ini" | grep -qxF 'regex=[0-9]+' || fail "the expression was not stored: $(cat "$ini")"
tr -d '\r' <"$ini" | grep -qxF 'LineMode=true' || fail "Line mode was not stored"

xdotool mousemove --window "$pack" 483 244 click 1 # OK of the pack dialog
out=$dir/out/work.txt
for _ in $(seq 40); do [ -s "$out" ] && break; sleep 0.25; done
[ -s "$out" ] || fail "no output file"
sleep 0.5
expected=$'>>>> "'"$dir"$'/work/a.txt":\n>> Line 1:\n12\n345\n>> Line 2:\n6789\n>>>> "'"$dir"$'/work/b.txt":\n>> Line 2:\n42'
[ "$(tr -d '\r' <"$out")" = "$expected" ] || fail "unexpected output: $(cat "$out")"

echo "test-doublecmd: the dialog inside Double Commander changed the settings and the pack used them"
echo "test-doublecmd: screenshots in $dir"
echo "1 passed, 0 failed"
