#!/usr/bin/env bash
# Runs the benchmarks in bench/ (each prints its figure and its reference).
set -euo pipefail
build="$1"
for b in "$build"/bench/bench_*; do [[ -x "$b" ]] && "$b"; done
for s in bench/*.sh; do [[ -x "$s" ]] && "$s" "$build"; done
true
