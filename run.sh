#!/usr/bin/env bash
# Release build, then the main job (scripts/main_job.sh): a generated test chart played through the norvasrc
# GStreamer element with gst-launch-1.0 on the simulated platform in paced mode, written as PNG images and a
# YUV4MPEG2 stream. Arguments go to the main job (see ./run.sh --help); a relative output folder is relative to
# where you are.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/steps.sh
source "$root/scripts/steps.sh"
# SIGINT or SIGTERM: the build is stopped (SIGTERM to it and all it started), or the main job gets the same signal
# (it stops its pipelines and removes what it wrote, and says why); the run fails.
stop() { # signal
  trap '' INT TERM
  if [ "$main_job" -eq 1 ]; then norva_stop_steps "${1#SIG}"; else norva_stop_steps TERM; fi
  # The main job, when it was running, has said why it stopped (status 1), or it had finished (0).
  if [ "$main_job" -eq 1 ] && { [ "$norva_step_status" = 0 ] || [ "$norva_step_status" = 1 ]; }; then
    exit "$norva_step_status"
  fi
  echo "run.sh: the run was interrupted: $1" >&2
  exit 1
}
main_job=0
trap 'stop SIGINT' INT
trap 'stop SIGTERM' TERM
for arg in "$@"; do
  if [ "$arg" = "-h" ] || [ "$arg" = "--help" ]; then
    exec "$root/scripts/main_job.sh" "$root/build/release" --help
  fi
done
source "$root/scripts/deps.sh"
norva_install_deps

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! norva_step "$log" cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DNORVA_WERROR=ON \
  -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_BENCH=OFF; then
  cat "$log"
  echo "run.sh: the Release build could not be configured: see CMake's messages above" >&2
  exit 1
fi
if ! norva_step "$log" cmake --build "$root/build/release" -j"$(nproc)" \
  --target norvasrc norva_scene norva_frames; then
  cat "$log"
  echo "run.sh: the Release build failed: see the compiler's messages above" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
# Run as a step (not exec'd), so that a signal before the main job has set up its own handling still ends the run
# with status 1.
status=0
main_job=1
norva_step "" "$root/scripts/main_job.sh" "$root/build/release" "$@" || status=$?
exit "$status"
