#!/usr/bin/env bash
# Live chain: hylo-sim streams 512000 samples/s, 24-bit, over UDP on loopback; hylo-cli
# records it (WAV log on) for DURATION seconds. Prints hylo-cli's CPU seconds per second of
# data, its peak RSS and the missed samples, against a floor receiver that only reads the
# same datagrams, and the ratio of the two (hylo-cli CPU / floor CPU) from the same run. The run is made twice: with the WAV header patched and the data synced to the
# disk once a second (the default), and without (--sync-seconds 0: only at close).
#   Usage: bench/live_chain.sh BUILD   (env: DURATION, PORT)
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

for sync in 1 0; do
  start_sim
  /usr/bin/time -f "%U %S %M" -o "$tmp/cli$sync.time" "$build/cli/hylo-cli" record --host 127.0.0.1 --port "$PORT" \
    --seconds "$DURATION" --wave udp --fft off --wav-dir "$tmp/wav$sync" --settings-dir "$tmp/settings$sync" \
    --sync-seconds "$sync" > "$tmp/summary$sync.json"
  stop_sim
done
start_sim
floor=$("$build/bench/udp_floor" "$wave_port" "$DURATION")
stop_sim

/usr/bin/python3 - "$tmp" "$DURATION" "$floor" <<'PY'
import json, sys
tmp, duration = sys.argv[1], float(sys.argv[2])
datagrams, _, floor_cpu = sys.argv[3].split()
floor = float(floor_cpu) / duration
print(f"live chain, 512000 S/s 24-bit UDP, {duration:.0f} s, WAV log on:")
cpu = {}
for sync, what in (("1", "patch+sync 1 s"), ("0", "no patch/sync")):
    user, system, rss_kb = open(f"{tmp}/cli{sync}.time").read().split()[-3:]
    summary = json.loads(open(f"{tmp}/summary{sync}.json").read().strip().splitlines()[-1])
    cpu[sync] = (float(user) + float(system)) / duration
    print(f"  hylo-cli, {what:15} {cpu[sync]:.4f} CPU s per s of data ({100 * cpu[sync]:.1f} % of one core), "
          f"peak RSS {int(rss_kb) / 1024:.0f} MB, missed samples {summary['missedSamples']}, "
          f"waveform records {summary['waveformRecords']}")
print(f"  floor      {floor:.4f} CPU s per s (reads {datagrams} datagrams, nothing else)")
for sync, what in (("1", "patch+sync 1 s"), ("0", "no patch/sync")):
    print(f"  ratio hylo-cli / floor, {what:15} {cpu[sync] / floor:.2f}")
print(f"  patch+sync costs {100 * (cpu['1'] - cpu['0']):+.2f} % of one core")
PY
