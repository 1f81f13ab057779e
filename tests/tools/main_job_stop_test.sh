#!/usr/bin/env bash
# ./run.sh and the main job stopped by SIGINT or SIGTERM at a few moments (during the build, during a pipeline):
# each run ends at once with status 1 and one closing line, stops the step it was running and leaves nothing.
# run.sh runs from a copy of itself and scripts/ whose build/release is this build and whose cmake is a stand-in
# (the build step either passes at once or never ends); a pipeline that never ends is a stand-in gst-launch-1.0.
# Usage: main_job_stop_test.sh <source folder> <build folder>
# NORVA_GST_PRELOAD names runtime libraries to preload into gst-launch-1.0 (the sanitizer runtimes when the
# plug-in is built with sanitizers).
set -uo pipefail
source_dir=$(realpath "$1")
build=$(realpath "$2")
# shellcheck source=cli_cases.sh
source "$(dirname "$0")/cli_cases.sh"
main_job_setup

# The tree run.sh runs from.
tree="$scratch/tree"
mkdir -p "$tree/scripts" "$tree/build"
cp "$source_dir/run.sh" "$tree/"
cp "$source_dir"/scripts/*.sh "$tree/scripts/"
ln -s "$source_dir/data" "$tree/data"
ln -s "$build" "$tree/build/release"

# Stand-ins: a cmake whose build step passes at once or, with FAKE_BUILD_BLOCKS set, starts a step that never
# ends (as make runs compilers) after writing its pid to $scratch/build-started; a gst-launch-1.0 that never ends
# likewise ($scratch/launch-started). The real gst-launch-1.0 gets the preload.
real_launch=$(command -v gst-launch-1.0)
mkdir -p "$scratch/bin" "$scratch/bin-blocking-launch"
cat >"$scratch/bin/cmake" <<EOS
#!/bin/sh
case " \$* " in
*" --build "*)
  [ -n "\${FAKE_BUILD_BLOCKS:-}" ] || exit 0
  sleep 600 &
  echo "\$\$" >"$scratch/build-started"
  wait
  exit 1 ;;
esac
exit 0
EOS
cat >"$scratch/bin/gst-launch-1.0" <<EOS
#!/bin/sh
if [ -n "${NORVA_GST_PRELOAD:-}" ]; then
  export LD_PRELOAD="${NORVA_GST_PRELOAD:-}" GST_REGISTRY_FORK=no
  export ASAN_OPTIONS="\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}detect_leaks=0"
fi
exec "$real_launch" "\$@"
EOS
cat >"$scratch/bin-blocking-launch/gst-launch-1.0" <<EOS
#!/bin/sh
sleep 600 &
echo "\$\$" >"$scratch/launch-started"
wait
EOS
chmod +x "$scratch/bin/cmake" "$scratch/bin/gst-launch-1.0" "$scratch/bin-blocking-launch/gst-launch-1.0"
export PATH="$scratch/bin:$PATH"

started() { [ -s "$scratch/$1-started" ] && rm -f "$scratch/$1-started"; }

# During the build: stopped at once, whether the signal reaches run.sh alone or its whole process group.
cli_command=("$tree/run.sh")
stop_case build-sigterm TERM pid "run.sh: the run was interrupted: SIGTERM" "started build" FAKE_BUILD_BLOCKS=1 -- out
stop_case build-sigint INT pid "run.sh: the run was interrupted: SIGINT" "started build" FAKE_BUILD_BLOCKS=1 -- out
stop_case build-ctrl-c INT group "run.sh: the run was interrupted: SIGINT" "started build" FAKE_BUILD_BLOCKS=1 \
  -- deep/er/out
# After the build, in the main job: a pipeline that would never end is stopped, its output folder removed.
stop_case pipeline-sigterm TERM pid "run.sh: the run was interrupted: SIGTERM" "started launch" \
  PATH="$scratch/bin-blocking-launch:$PATH" -- --frames 1 deep/er/out
# The main job alone, its display pipeline (norva_frames) stopped at its first images.
cli_command=("$tree/scripts/main_job.sh" "$build")
stop_case display-ctrl-c INT group "run.sh: the run was interrupted: SIGINT" \
  'compgen -G "deep/.out.part-*/frame_000.png" >/dev/null' -- --frames 1000 deep/out
stop_case display-sigterm TERM pid "run.sh: the run was interrupted: SIGTERM" \
  'compgen -G ".out.part-*/frame_000.png" >/dev/null' -- --frames 1000 out

echo "$failures case(s) failed"
[ "$failures" -eq 0 ]
