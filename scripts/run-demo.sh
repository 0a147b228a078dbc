#!/usr/bin/env bash
# The main job: set up, build, and process the bundled sample raw file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --target ostelraw
build=${OSTEL_BUILD_DIR:-$root/build}
"$build/cli/ostelraw" info "$root/testdata/canon_eos30d.cr2"
