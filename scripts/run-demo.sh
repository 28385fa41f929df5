#!/usr/bin/env bash
# Starts hylo-sim (an HF unit, firmware v2.1.0, on 127.0.0.1:50000) and the desktop app with
# a demo profile that connects to it at start. The demo's settings and data live in a
# temporary folder, never in the user's own.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/sim-wait.sh"
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
wait_for_sim "$sim_log" "$sim_pid"
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
