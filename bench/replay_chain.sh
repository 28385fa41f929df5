#!/usr/bin/env bash
# Replay: a 10-minute 64000 samples/s 24-bit WAV file through the whole chain headless with an
# FFT log (hylo-cli replay), as a multiple of real time, against `sox FILE -n stat` on the same
# file in the same run, wall clock and the command's CPU time (steadier on a shared machine);
# then the same signal as a folder of four files with --jobs 1 and 2.
#   Usage: bench/replay_chain.sh BUILD   (env: MINUTES, default 10)
set -euo pipefail
build="${1:-build}"
MINUTES=${MINUTES:-10}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
seconds=$((MINUTES * 60))
sox -n -r 64000 -b 24 -c 1 "$tmp/long.wav" synth "$seconds" sine 5000 synth "$seconds" whitenoise amod 0.1 0.9 \
  vol 0.5 2>/dev/null
sox -n -r 64000 -b 24 -c 1 "$tmp/one.wav" synth 1 sine 5000 2>/dev/null
mkdir -p "$tmp/folder"
quarter=$((seconds / 4))
for i in 0 1 2 3; do
  sox "$tmp/long.wav" "$tmp/folder/part$i.wav" trim $((i * quarter)) "$quarter"
done

wall() { # prints the wall seconds of a command, its output discarded
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
hylo=$(wall taskset -c 0 /usr/bin/time -f "%U %S" -o "$tmp/cpu" "$build/cli/hylo-cli" replay --jobs 1 \
  --fft-dir "$tmp/fft" --settings-dir "$tmp/s" "$tmp/long.wav")
cpu=$(awk '{print $1 + $2}' "$tmp/cpu")
fixed=$(wall taskset -c 0 "$build/cli/hylo-cli" replay --jobs 1 --fft-dir "$tmp/fft1" --settings-dir "$tmp/s0" \
  "$tmp/one.wav")
sox_stat=$(wall taskset -c 0 sox "$tmp/long.wav" -n stat)
jobs1=$(wall "$build/cli/hylo-cli" replay --jobs 1 --settings-dir "$tmp/s1" "$tmp/folder")
jobs2=$(wall "$build/cli/hylo-cli" replay --jobs 2 --settings-dir "$tmp/s2" "$tmp/folder")
printf 'replay_chain: %d s of 64000 S/s 24-bit signal\n' "$seconds"
printf '  hylo-cli replay (one core, FFT log)  %6.2f s  %7.0f x real time\n' "$hylo" "$(echo "$seconds / $hylo" | bc -l)"
printf '  its CPU time (user + system)         %6.2f s  %7.0f x real time\n' "$cpu" "$(echo "$seconds / $cpu" | bc -l)"
printf '  of which start and exit (a 1 s file)  %6.2f s; net %7.0f x real time\n' "$fixed" \
  "$(echo "$seconds / ($hylo - $fixed)" | bc -l)"
printf '  sox -n stat (one core)               %6.2f s  %7.0f x real time\n' "$sox_stat" \
  "$(echo "$seconds / $sox_stat" | bc -l)"
printf '  folder of 4, --jobs 1                %6.2f s\n' "$jobs1"
printf '  folder of 4, --jobs 2                %6.2f s  (%.2f x of --jobs 1)\n' "$jobs2" "$(echo "$jobs1 / $jobs2" | bc -l)"
