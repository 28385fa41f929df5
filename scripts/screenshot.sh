#!/usr/bin/env bash
# Saves a PNG of the main window scanning hylo-sim: starts the simulator on a free loopback
# port and the app under Xvfb with a throw-away profile; the app starts scanning once the unit
# answers, grabs its own window after a few seconds and exits. Only the simulator this script
# started is ended, by its PID.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/sim-wait.sh"
build="$1"
out="${2:-$build/screenshot.png}"
seconds="${HYLO_SCREENSHOT_SECONDS:-5}"
# HYLO_SCREENSHOT_SETTINGS: more lines for the throw-away Hylo.ini (another section, displays).
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
work="$(mktemp -d /tmp/hylo-shot.XXXXXX)"
mkdir -p "$work/settings" "$work/data"
port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat > "$work/settings/Hylo.ini" <<INI
[Connection]
Link Type = 0
Comm IP Address = "127.0.0.1"
Comm TCP Port = $port
Tcp Timeout = 100
${HYLO_SCREENSHOT_SETTINGS:-}
INI

sim_log="$work/hylo-sim.log"
"$build/sim/hylo-sim" --model hf --firmware v2.1.0 --host 127.0.0.1 --port "$port" --tone 1000:-20 >"$sim_log" 2>&1 &
sim_pid=$!
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap stop_sim EXIT
wait_for_sim "$sim_log" "$sim_pid"

status=0
xvfb-run -a -s "-screen 0 1400x1000x24" \
  timeout 120 "$build/app/hylo" --settings-dir "$work/settings" --data-dir "$work/data" --connect \
  --screenshot "$out" --scan-seconds "$seconds" >"$work/app.log" 2>&1 || status=$?
if [[ $status -ne 0 || ! -s "$out" ]]; then
  echo "hylo: screenshot failed (status $status)" >&2
  cat "$work/app.log" >&2
  exit 1
fi
echo "hylo: saved $out"
