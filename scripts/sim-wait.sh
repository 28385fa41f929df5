# Sourced by the scripts that start hylo-sim: waits up to 5 s for its "listening" line.
# wait_for_sim LOG PID — exits the calling script when the simulator ends or never answers.
wait_for_sim() {
  local log="$1" pid="$2"
  for _ in $(seq 50); do
    grep -q "listening" "$log" 2>/dev/null && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "hylo: hylo-sim did not start:" >&2; cat "$log" >&2; exit 1
    fi
    sleep 0.1
  done
  echo "hylo: hylo-sim did not say it was listening" >&2
  exit 1
}
