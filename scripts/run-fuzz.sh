#!/usr/bin/env bash
# Runs every fuzz target for a bounded time each; fails when any target finds a crash.
set -euo pipefail
build="$1"; seconds="${2:-30}"
status=0
for target in "$build"/fuzz/fuzz_*; do
  [[ -x "$target" ]] || continue
  corpus="$build/fuzz-corpus/$(basename "$target")"
  mkdir -p "$corpus"
  echo "== $(basename "$target") for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" || status=1
done
exit $status
