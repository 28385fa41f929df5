#!/usr/bin/env bash
# Makes the user guide's pictures (docs/images/) from the simulator, so they always show what
# the program really draws: the main window with the spectrogram over the spectrum, and with
# the spectrogram over the time series. Each is shrunk and reduced to a small palette.
# usage: scripts/guide-screenshots.sh BUILD_DIR
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
images="$top/docs/images"
mkdir -p "$images"
shot() {
  local name="$1" displays="$2"
  local raw
  raw="$(mktemp /tmp/hylo-guide.XXXXXX.png)"
  HYLO_SCREENSHOT_SECONDS=6 HYLO_SCREENSHOT_SETTINGS="$displays" "$top/scripts/screenshot.sh" "$build" "$raw"
  convert "$raw" -resize 60% -colors 96 -strip "PNG8:$images/$name.png"
  rm -f "$raw"
  echo "hylo: $images/$name.png ($(stat -c %s "$images/$name.png") bytes)"
}
shot main-spectrum $'[Settings]\nTop Display = 3\nBottom Display = 1\nRefresh Rate = 0.2'
shot main-timeseries $'[Settings]\nTop Display = 3\nBottom Display = 2\nRefresh Rate = 0.2'
