#!/usr/bin/env bash
# Runs every fuzz target over the regression fixtures and then for a few
# seconds of fresh inputs: fuzz-smoke.sh BUILD_DIR [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=${2:-20}
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$root"/testdata/canon_eos30d.cr2 "$corpus"/ 2>/dev/null || true
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  echo "-- $name"
  if compgen -G "$root/testdata/regressions/*" >/dev/null; then
    "$target" -runs=0 "$root"/testdata/regressions/* >/dev/null 2>&1 || "$target" -runs=0 "$root"/testdata/regressions/*
  fi
  work=$(mktemp -d -p "$corpus")
  log="$corpus/$name.log"
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "$work" "$root"/fuzz/seeds "$root"/testdata/regressions >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz target $name failed" >&2
    exit 1
  fi
  grep -E "stat::number_of_executed_units" "$log" || true
done
