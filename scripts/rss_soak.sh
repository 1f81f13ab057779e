#!/usr/bin/env bash
# Memory over a long stream: the main job's sensor pipeline (norvasrc on OV4689_0 with auto exposure and white
# balance, the calibrated setup file data/setup/ov4689.txt, through tools/norva_frames) at a small sensor mode,
# frames on demand (not paced), and the resident memory of the process every INTERVAL frames. Use a Release build.
#   scripts/rss_soak.sh BUILD_DIR [FRAMES (100000)] [INTERVAL (10000)]
# Prints "frames rss_kib" lines, then the growth from the first sample to the last, in bytes per frame.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: rss_soak.sh BUILD_DIR [FRAMES] [INTERVAL]}" && pwd)
frames=${2:-100000}
interval=${3:-10000}
# The sensor's 1344x760 mode (two lanes), shown at a quarter of its size.
mode=3
width=1344
height=760
scratch=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# The light of the main job: white balance has a warm light to correct.
export NORVA_SIM_ILLUMINANT=${NORVA_SIM_ILLUMINANT:-3000}
export NORVA_PLATFORM=sim GST_PLUGIN_PATH="$build/gst/plugin" GST_REGISTRY="$scratch/registry.bin"
unset NORVA_SIM_PACED_FPS GST_NORVASRC_PARAMS_FILE
csv="$scratch/frames.csv"
# From the repository's root, where the setup file's grid paths start.
(cd "$root" && exec "$build/tools/norva_frames" --csv "$csv" --chart "${width}x$height" -- norvasrc sensor=OV4689_0 \
  sensor-mode="$mode" setup-file=data/setup/ov4689.txt exposure-auto=true awb-enable=true num-buffers="$frames" \
  ! "video/x-raw,format=BGR,width=$((width / 4)),height=$((height / 4))" ! fakesink) >"$scratch/log" 2>&1 &
pid=$!
echo "frames rss_kib"
next=$interval
first_frames="" first_rss=""
while kill -0 "$pid" 2>/dev/null; do
  done_frames=0
  if [ -f "$csv" ]; then done_frames=$(($(wc -l <"$csv") - 1)); fi
  if [ "$done_frames" -ge "$next" ]; then
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$rss" ] || break
    echo "$done_frames $rss"
    if [ -z "$first_rss" ]; then first_frames=$done_frames first_rss=$rss; fi
    last_frames=$done_frames last_rss=$rss
    next=$((next + interval))
  fi
  sleep 0.5
done
status=0
wait "$pid" || status=$?
pid=""
if [ "$status" -ne 0 ]; then
  cat "$scratch/log"
  echo "rss_soak.sh: norva_frames failed (status $status)" >&2
  exit 1
fi
tail -n 1 "$scratch/log"
if [ -n "$first_rss" ] && [ "$last_frames" -gt "$first_frames" ]; then
  echo "growth from frame $first_frames to $last_frames:" \
    "$(((last_rss - first_rss) * 1024 / (last_frames - first_frames))) bytes per frame"
fi
