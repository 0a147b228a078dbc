#!/usr/bin/env bash
# The desktop program driven from the keyboard on a virtual X display, as a
# user would: open the bundled camera file through File/Open, turn it a
# quarter turn clockwise, save it as JPEG through File/Save, and check the
# file that was written (a JPEG, portrait, with the camera's make).
#   scripts/gui-end-to-end.sh [GUI_BINARY]
# Needs xvfb, xauth, xdotool and exiftool; exits 77 (skipped) without them.
# OSTEL_E2E_TRACE=1 traces the steps; OSTEL_E2E_SHOT=FILE.png keeps a
# screenshot of the filled-in save dialog (needs imagemagick's import).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
gui=${1:-${OSTEL_BUILD_DIR:-$root/build}/ui/ostelraw-gui}
raw=$root/testdata/canon_eos30d.cr2
for tool in Xvfb xvfb-run xauth xdotool exiftool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed" >&2; exit 77; }
done
[ -x "$gui" ] || { echo "build ostelraw-gui first" >&2; exit 1; }
[ -f "$raw" ] || { echo "missing $raw" >&2; exit 1; }

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
export OSTELRAW_DATA_DIR=$home/data/ostel OSTELRAW_ICC_DIR=$home/icc
mkdir -p "$XDG_RUNTIME_DIR" "$home/out" "$OSTELRAW_ICC_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

xvfb-run -a -s "-screen 0 1600x1000x24" bash -s -- "$gui" "$raw" "$home/out" <<'DRIVE'
set -euo pipefail
gui=$1 raw=$2 out=$3
[ -n "${OSTEL_E2E_TRACE:-}" ] && set -x
"$gui" >"$out/gui.log" 2>&1 & pid=$!
finish() { kill -TERM $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; }
trap finish EXIT
fail() { echo "FAIL: $*" >&2; cat "$out/gui.log" >&2; exit 1; }
# Waits (up to $2 seconds) for a window whose title matches $1; prints its id.
window() {
  local id
  for _ in $(seq $(( $2 * 5 ))); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1) && [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
main=$(window '^Ostel RAW$' 60) || fail "the main window did not appear"
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"

# File/Open: the name typed into the open dialog, then Enter.
xdotool key ctrl+o
open=$(window '^Open RAW file$' 20) || fail "Ctrl+O did not show the open dialog"
xdotool windowfocus --sync "$open"
xdotool key alt+n ctrl+a
xdotool type --delay 5 "$raw"
xdotool key Return
main=$(window 'canon_eos30d.cr2 - Ostel RAW' 120) || fail "the file did not open"
xdotool windowfocus --sync "$main"
sleep 2

# A quarter turn clockwise, then File/Save as JPEG under a new name.
# A click on the picture puts the keyboard focus on the view.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $(( WIDTH * 2 / 3 )) $(( HEIGHT / 2 )) click 1
xdotool key bracketright
sleep 1
xdotool key ctrl+s
save=$(window '^Save converted image$' 20) || fail "Ctrl+S did not show the save dialog"
xdotool windowfocus --sync "$save"
xdotool key alt+t
xdotool type J
xdotool key alt+n ctrl+a
xdotool type --delay 5 "$out/turned"
[ -n "${OSTEL_E2E_SHOT:-}" ] && import -window root "$OSTEL_E2E_SHOT" || true
xdotool key Return
for _ in $(seq 150); do [ -s "$out/turned.jpg" ] && break; sleep 0.2; done
[ -s "$out/turned.jpg" ] || fail "no JPEG was written"
sleep 1
DRIVE

file=$home/out/turned.jpg
read -r type width height make <<<"$(exiftool -s3 -n -FileType -ImageWidth -ImageHeight -Make "$file" | tr '\n' ' ')"
echo "written: $type ${width}x${height} make $make"
[ "$type" = JPEG ] || { echo "FAIL: not a JPEG ($type)" >&2; exit 1; }
[ "$make" = Canon ] || { echo "FAIL: make $make" >&2; exit 1; }
# The camera held the picture level; turned, it is taller than wide.
[ "$height" -gt "$width" ] || { echo "FAIL: not turned (${width}x${height})" >&2; exit 1; }
ls "$home/out" | grep -q '^\.' && { echo "FAIL: a temporary file was left" >&2; exit 1; }
echo "PASS"
