#!/usr/bin/env bash
# Starts hylo-sim (an HF unit, firmware v2.1.0, on 127.0.0.1:50000) and the desktop app with
# a demo profile that connects to it at start. The demo's settings and data live in a
# temporary folder, never in the user's own.
set -euo pipefail
build="$1"; shift
demo="$(mktemp -d /tmp/hylo-demo.XXXXXX)"
mkdir -p "$demo/settings" "$demo/data"
cat > "$demo/settings/Hylo.ini" <<'INI'
[Connection]
Link Type = 0
Comm IP Address = "127.0.0.1"
Comm TCP Port = 50000
Tcp Timeout = 100
INI

sim_log="$demo/hylo-sim.log"
"$build/sim/hylo-sim" --model hf --firmware v2.1.0 --host 127.0.0.1 --port 50000 --tone 1000:-20 >"$sim_log" 2>&1 &
sim_pid=$!
stop_sim() { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
trap stop_sim EXIT
for _ in $(seq 50); do
  grep -q "listening" "$sim_log" && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "hylo: hylo-sim did not start:" >&2; cat "$sim_log" >&2; exit 1
  fi
  sleep 0.1
done
echo "hylo: $(head -1 "$sim_log")"

app=("$build/app/hylo" --settings-dir "$demo/settings" --data-dir "$demo/data" --connect "$@")
status=0
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "hylo: no display; running the app under xvfb-run" >&2
  xvfb-run -a "${app[@]}" || status=$?
else
  "${app[@]}" || status=$?
fi
exit $status
