#!/usr/bin/env bash
# Retrieve throughput of the instrument file protocol over a serial line: hylo-sim on a pty
# that paces its replies at the line rate (--pace-line), hylo-cli files get of one file,
# bytes per second against the line's raw byte rate (baud / 10).
# Usage: bench/files_throughput.sh [build folder]   (env: BAUDS, KBYTES_PER_BAUD)
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/sim/hylo-sim"
CLI="$BUILD/cli/hylo-cli"
BAUDS=${BAUDS:-"115200 1250000"}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
printf '%-8s %10s %10s %12s %12s %7s\n' baud bytes seconds "bytes/s" "line B/s" ratio
for baud in $BAUDS; do
  # About eight seconds of line time per rate.
  size=$((baud / 10 * 8))
  rm -rf "$WORK/store" "$WORK/out"
  mkdir -p "$WORK/store/1/DATA"
  head -c "$size" /dev/urandom > "$WORK/store/1/DATA/BENCH.BIN"
  "$SIM" --model lf --storage "$WORK/store" --pty --baud "$baud" --pace-line --seconds 120 > "$WORK/sim.out" 2> "$WORK/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do grep -q listening "$WORK/sim.out" 2>/dev/null && break; sleep 0.1; done
  device=$(awk '{print $3}' "$WORK/sim.out")
  start=$(date +%s.%N)
  "$CLI" files get /1/DATA/BENCH.BIN --to "$WORK/out" --serial "$device" --baud "$baud" \
    --settings-dir "$WORK/settings" > /dev/null
  end=$(date +%s.%N)
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  cmp -s "$WORK/store/1/DATA/BENCH.BIN" "$WORK/out/BENCH.BIN" || { echo "retrieved file differs" >&2; exit 1; }
  python3 - "$baud" "$size" "$start" "$end" <<'PY'
import sys
baud, size, start, end = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
secs = end - start
rate = size / secs
print("%-8d %10d %10.2f %12.0f %12.0f %7.3f" % (baud, size, secs, rate, baud / 10, rate / (baud / 10)))
PY
done
