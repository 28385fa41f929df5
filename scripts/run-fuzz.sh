#!/usr/bin/env bash
# Runs every fuzz target in turn, SECONDS in all split evenly over them, seeded from the checked-in corpus
# (fuzz/corpus/<target>/, read only) and the corpus the earlier runs grew in the build tree.
# Prints executions and findings per target and in total; fails when any target finds one.
set -euo pipefail
build="$1"; budget="${2:-600}"
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
targets=()
for target in "$build"/fuzz/fuzz_*; do
  [[ -x "$target" ]] && targets+=("$target")
done
if [[ ${#targets[@]} -eq 0 || ! "$budget" =~ ^[0-9]+$ ]]; then
  echo "run-fuzz: no fuzz targets in $build/fuzz, or SECONDS ($budget) is not a whole number" >&2
  exit 2
fi
seconds=$((budget / ${#targets[@]}))
[[ $seconds -lt 1 ]] && seconds=1
echo "== ${#targets[@]} targets, ${seconds}s each (${budget}s in all)" >&2
status=0
total=0
summary=()
for target in "${targets[@]}"; do
  name="$(basename "$target")"
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-findings/$name"
  mkdir -p "$corpus" "$artifacts"
  seeds=()
  [[ -d "$top/fuzz/corpus/$name" ]] && seeds=("$top/fuzz/corpus/$name")
  echo "== $name for ${seconds}s" >&2
  log="$build/fuzz-findings/$name.log"
  before=$(find "$artifacts" -type f | wc -l)
  set +e
  "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-0}
  findings=$(( $(find "$artifacts" -type f | wc -l) - before ))
  [[ $rc -ne 0 && $findings -eq 0 ]] && findings=1
  if [[ $findings -gt 0 ]]; then
    status=1
    tail -40 "$log" >&2
  fi
  total=$((total + runs))
  summary+=("$(printf '%-28s %14s %9s' "$name" "$runs" "$findings")")
done
printf '%-28s %14s %9s\n' target executions findings
printf '%s\n' "${summary[@]}"
printf '%-28s %14s\n' total "$total"
exit $status
