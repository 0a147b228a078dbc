#!/usr/bin/env bash
# Sets up, builds and runs every test: the release build with all tests, the
# decoding core under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# fuzz targets (built with clang, each run briefly over the seed corpus).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

echo "== release build and tests"
"$root/scripts/build.sh"
build=${OSTEL_BUILD_DIR:-$root/build}
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs")

echo "== core under AddressSanitizer and UndefinedBehaviorSanitizer"
san="$root/build-sanitize"
CC=clang CXX=clang++ cmake -S "$root" -B "$san" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTEL_CORE_ONLY=ON -DOSTEL_SANITIZE=ON >/dev/null
cmake --build "$san"
(cd "$san" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")

echo "== fuzz targets"
fuzz="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTEL_FUZZ=ON >/dev/null
cmake --build "$fuzz"
"$root/scripts/fuzz-smoke.sh" "$fuzz" 20
echo "all tests passed"
