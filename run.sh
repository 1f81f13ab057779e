#!/usr/bin/env bash
# Release build, then the main job (scripts/main_job.sh): a generated test chart played through the norvasrc
# GStreamer element with gst-launch-1.0 on the simulated platform in paced mode, written as PNG images and a
# YUV4MPEG2 stream. Arguments go to the main job (see ./run.sh --help); a relative output folder is relative to
# where you are.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
for arg in "$@"; do
  if [ "$arg" = "-h" ] || [ "$arg" = "--help" ]; then
    exec "$root/scripts/main_job.sh" "$root/build/release" --help
  fi
done
source "$root/scripts/deps.sh"
norva_install_deps

cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DNORVA_WERROR=ON -DNORVA_BUILD_TESTS=OFF \
  -DNORVA_BUILD_BENCH=OFF >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --build "$root/build/release" -j"$(nproc)" --target norvasrc norva_scene norva_frames >"$log" 2>&1; then
  cat "$log"
  echo "run.sh: the Release build failed: see the compiler's messages above" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
exec "$root/scripts/main_job.sh" "$root/build/release" "$@"
