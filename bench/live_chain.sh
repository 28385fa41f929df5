#!/usr/bin/env bash
# Live chain: hylo-sim streams 512000 samples/s, 24-bit, over UDP on loopback; hylo-cli
# records it (WAV log on) for DURATION seconds. Prints hylo-cli's CPU seconds per second of
# data, its peak RSS and the missed samples, against a floor receiver that only reads the
# same datagrams.   Usage: bench/live_chain.sh BUILD   (env: DURATION, PORT)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/sim-wait.sh"
build="${1:-build}"
DURATION=${DURATION:-60}
PORT=${PORT:-46000}
wave_port=$((PORT - 50000 + 51676))
tmp=$(mktemp -d)
sim_pid=""
cleanup() {
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
start_sim() {
  "$build/sim/hylo-sim" --model hf --port "$PORT" --rate 512000 --bits 24 --tone 1000:-10 --noise -60 \
    --seconds $((DURATION + 30)) > "$tmp/sim.out" &
  sim_pid=$!
  wait_for_sim "$tmp/sim.out" "$sim_pid"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

start_sim
/usr/bin/time -f "%U %S %M" -o "$tmp/cli.time" "$build/cli/hylo-cli" record --host 127.0.0.1 --port "$PORT" \
  --seconds "$DURATION" --wave udp --fft off --wav-dir "$tmp/wav" --settings-dir "$tmp/settings" > "$tmp/summary.json"
stop_sim
start_sim
floor=$("$build/bench/udp_floor" "$wave_port" "$DURATION")
stop_sim

/usr/bin/python3 - "$tmp/cli.time" "$tmp/summary.json" "$DURATION" "$floor" <<'PY'
import json, sys
user, system, rss_kb = open(sys.argv[1]).read().split()[-3:]
summary = json.loads(open(sys.argv[2]).read().strip().splitlines()[-1])
duration = float(sys.argv[3])
datagrams, _, floor_cpu = sys.argv[4].split()
cli = (float(user) + float(system)) / duration
floor = float(floor_cpu) / duration
print(f"live chain, 512000 S/s 24-bit UDP, {duration:.0f} s, WAV log on:")
print(f"  hylo-cli   {cli:.4f} CPU s per s of data ({100 * cli:.1f} % of one core), peak RSS {int(rss_kb) / 1024:.0f} MB, "
      f"missed samples {summary['missedSamples']}, waveform records {summary['waveformRecords']}")
print(f"  floor      {floor:.4f} CPU s per s (reads {datagrams} datagrams, nothing else)")
print(f"  ratio      {cli / floor if floor > 0 else float('inf'):.1f} x the floor")
PY
