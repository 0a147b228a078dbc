#!/usr/bin/env bash
# Screenshot of the desktop program with a raw file open, on a virtual X
# display: scripts/gui-screenshot.sh [RAW_FILE] [OUTPUT.png]
# Needs xvfb, xauth and imagemagick (import). Uses a throw-away settings
# folder, so the user's own bar layout and recent files are left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
raw=${1:-$root/testdata/canon_eos30d.cr2}
out=${2:-$PWD/ostelraw-gui.png}
gui=${OSTEL_BUILD_DIR:-$root/build}/ui/ostelraw-gui
[ -x "$gui" ] || { echo "build ostelraw-gui first (scripts/build.sh -t ostelraw-gui)" >&2; exit 1; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1440x900x24" bash -c '
  "$1" "$2" & pid=$!
  sleep "${OSTEL_SCREENSHOT_WAIT:-12}"
  import -window root "$3"
  kill -TERM $pid; wait $pid 2>/dev/null || true
' _ "$gui" "$raw" "$out"
echo "$out"
