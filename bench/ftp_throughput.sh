#!/usr/bin/env bash
# Retrieve throughput over FTP on loopback: hylo-sim as an HF v2.1.0 unit serving its storage
# through its FTP server, `hylo-cli files get` of one file against `curl` fetching the same file
# from the same server in the same run. hylo-cli's connect and login cost is taken from a
# `files list` run and left out of its time, so the ratio compares the transfers.
# Usage: bench/ftp_throughput.sh [build folder]   (env: MBYTES, default 256)
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/sim/hylo-sim"
CLI="$BUILD/cli/hylo-cli"
MBYTES=${MBYTES:-256}
WORK=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n "$sim_pid" ]] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/store/home/Aurisond/Data"
head -c $((MBYTES << 20)) /dev/urandom > "$WORK/store/home/Aurisond/Data/bench.wav"
for _ in $(seq 20); do
  port=$((50200 + RANDOM % 11000))
  "$SIM" --model hf --firmware v2.1.0 --storage "$WORK/store" --port "$port" --seconds 600 \
    > "$WORK/sim.out" 2> "$WORK/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do [[ -s "$WORK/sim.out" ]] && break; sleep 0.1; done
  grep -q " ftp " "$WORK/sim.out" && break
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
done
[[ -n "$sim_pid" ]] || { echo "hylo-sim did not start" >&2; exit 1; }
ftp_port=$((port - 50000 + 2021))
link=(--host 127.0.0.1 --port "$port" --settings-dir "$WORK/settings")
now() { date +%s.%N; }

t0=$(now); "$CLI" files list "${link[@]}" > /dev/null; t1=$(now)
"$CLI" files get /home/Aurisond/Data/bench.wav --to "$WORK/hylo" "${link[@]}" > /dev/null 2>&1; t2=$(now)
curl -s -u : --ftp-method nocwd --disable-epsv -o "$WORK/curl.wav" \
  "ftp://127.0.0.1:$ftp_port/%2Fhome/Aurisond/Data/bench.wav"; t3=$(now)
cmp -s "$WORK/store/home/Aurisond/Data/bench.wav" "$WORK/hylo/bench.wav" || { echo "hylo-cli's copy differs" >&2; exit 1; }
cmp -s "$WORK/store/home/Aurisond/Data/bench.wav" "$WORK/curl.wav" || { echo "curl's copy differs" >&2; exit 1; }
python3 - "$MBYTES" "$t0" "$t1" "$t2" "$t3" <<'PY'
import sys
mb, t0, t1, t2, t3 = int(sys.argv[1]), *map(float, sys.argv[2:])
connect = t1 - t0
hylo = max(t2 - t1 - connect, 1e-6)
curl = t3 - t2
print("ftp retrieve %d MiB on loopback: hylo-cli %.1f MB/s (%.2f s after %.2f s connect), curl %.1f MB/s (%.2f s), ratio %.2f"
      % (mb, mb * 1.048576 / hylo, hylo, connect, mb * 1.048576 / curl, curl, curl / hylo))
PY
