#!/usr/bin/env bash
# The main job: set up, build, and develop the bundled sample raw file to a JPEG.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --target ostelraw
build=${OSTEL_BUILD_DIR:-$root/build}
out="$build/demo"
mkdir -p "$out"
"$build/cli/ostelraw" info "$root/testdata/canon_eos30d.cr2"
"$build/cli/ostelraw" convert "$root/testdata/canon_eos30d.cr2" --format jpeg -y -o "$out/canon_eos30d.jpg"
echo "developed image: $out/canon_eos30d.jpg"
