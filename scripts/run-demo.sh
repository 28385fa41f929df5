#!/usr/bin/env bash
# Starts the desktop app (and, once it exists, the simulator it connects to).
set -euo pipefail
build="$1"; shift
demo="$(mktemp -d /tmp/hylo-demo.XXXXXX)"
app=("$build/app/hylo" --settings-dir "$demo/settings" --data-dir "$demo/data" "$@")
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "hylo: no display; running the app under xvfb-run" >&2
  exec xvfb-run -a "${app[@]}"
fi
exec "${app[@]}"
