#!/usr/bin/env bash
# Real-time check of hylo-sim: 512000 samples/s, 24-bit, over UDP on loopback. Counts the
# samples that arrive in DURATION seconds (default 60) and compares them with the nominal count.
# Usage: bench/sim_realtime.sh [path/to/hylo-sim]   (env: DURATION, PORT, RATE)
set -euo pipefail
SIM=${1:-build-sim/sim/hylo-sim}
[[ -d "$SIM" ]] && SIM="$SIM/sim/hylo-sim"  # scripts/run-bench.sh passes the build folder
DURATION=${DURATION:-60}
PORT=${PORT:-50700}
RATE=${RATE:-512000}
"$SIM" --model hf --port "$PORT" --rate "$RATE" --bits 24 --tone 1000:-10 --noise -60 \
  --seconds $((DURATION + 15)) > /tmp/hylo-sim-bench.$$ &
SIM_PID=$!
trap 'kill "$SIM_PID" 2>/dev/null || true; rm -f /tmp/hylo-sim-bench.$$' EXIT
for _ in $(seq 50); do grep -q listening /tmp/hylo-sim-bench.$$ 2>/dev/null && break; sleep 0.1; done
python3 - "$PORT" "$DURATION" "$RATE" <<'PY'
import socket, struct, sys, time
port, duration, rate = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
s.bind(("127.0.0.1", 0))
s.settimeout(2.0)
target = ("127.0.0.1", port - 50000 + 51676)
s.sendto(b"3*\x00\x04\x00\x00\x00\x00", target)
first = None
count = 0
gaps = 0
expect = None
while True:
    try:
        m = s.recv(2048)
    except socket.timeout:
        break
    if len(m) < 32 or m[0] != 0x31:
        continue
    now = time.monotonic()
    if first is None:
        first = now
    if now - first >= duration:
        break
    hi, lo = struct.unpack(">II", m[12:20])
    off, = struct.unpack(">I", m[24:28])
    n, = struct.unpack(">H", m[30:32])
    start = (hi << 32 | lo) + off
    if expect is not None and start != expect:
        gaps += 1
    expect = start + n
    count += n
s.sendto(b"4*\x00\x00", target)
nominal = rate * duration
err = (count - nominal) / nominal * 100
print(f"received {count} samples in {duration:.0f} s, nominal {nominal:.0f}, error {err:+.3f} %, gaps {gaps}")
sys.exit(0 if abs(err) <= 0.1 and gaps == 0 else 1)
PY
