#!/usr/bin/env bash
# Bad inputs through gst-launch-1.0, as a user meets them: the run fails (exit status not 0) and its output
# carries the element's error naming what is wrong.
#   gst_bad_input_test.sh PLUGIN_DIR SCENE_WRITER
# NORVA_GST_PRELOAD names runtime libraries to preload into the tool (the sanitizer runtimes when the plug-in is
# built with sanitizers).
set -uo pipefail
plugin_dir=$(realpath "$1")
scene_writer=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

core_dir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
mkdir "$work/plugins"
ln -s "$plugin_dir/libnorvasrc.so" "$core_dir/libgstcoreelements.so" "$work/plugins/"
export GST_REGISTRY="$work/registry.bin" GST_PLUGIN_SYSTEM_PATH_1_0="" GST_PLUGIN_PATH_1_0="$work/plugins"
export NORVA_PLATFORM=sim
if [ -n "${NORVA_GST_PRELOAD:-}" ]; then
  export LD_PRELOAD="$NORVA_GST_PRELOAD" GST_REGISTRY_FORK=no
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi

"$scene_writer" "$work/scene.nrv" 320 240 2 || { echo "FAIL: scene writer"; exit 1; }
echo "// no settings" >"$work/setup.txt"
base="-IntDG0_inputNRV $work/scene.nrv -IntDG0_gasket 0 -CT0_nBuffers 3 -CT0_nPreenqBuffers 1"
failures=0

# case NAME SENSOR PARAMETERS EXPECTED: runs norvasrc with the parameter file; EXPECTED must appear in the output.
case_() {
  local name=$1 sensor=$2 params=$3 expected=$4
  echo "$params" >"$work/params.txt"
  GST_NORVASRC_PARAMS_FILE="$work/params.txt" gst-launch-1.0 norvasrc sensor="$sensor" num-buffers=2 ! fakesink \
    >"$work/$name.txt" 2>&1
  local status=$?
  local problems=()
  [ "$status" -ne 0 ] || problems+=("exit status 0")
  grep -qF -- "$expected" "$work/$name.txt" || problems+=("no \"$expected\" in the output")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: ${problems[*]}"
    grep -v "^-" "$work/$name.txt" | tail -20
    failures=$((failures + 1))
  fi
}

case_ unknown-sensor no-such-sensor "$base -CT0_setupFile $work/setup.txt" 'Unknown sensor "no-such-sensor"'
case_ missing-setup-file "DOR Idazida" "$base -CT0_setupFile $work/absent.txt" "Setup file \"$work/absent.txt\" cannot be read"
case_ help-in-parameters "DOR Idazida" "$base -CT0_setupFile $work/setup.txt -h" \
  "Cannot load the parameter file \"$work/params.txt\""
case_ letters-for-a-count "DOR Idazida" "$base -CT0_setupFile $work/setup.txt -CT0_nBuffers 3x" \
  "Cannot load the parameter file \"$work/params.txt\""
case_ letters-for-a-gain "DOR Idazida" "$base -CT0_setupFile $work/setup.txt -CT0_sensorGain abc" \
  "Cannot load the parameter file \"$work/params.txt\""

# A frame rate of 0 cannot be written: the setup file's rate is bounded (1 to 255), so the run plays.
echo "SENSOR_FRAME_RATE 0" >"$work/rate0.txt"
echo "$base -CT0_setupFile $work/rate0.txt" >"$work/params.txt"
GST_NORVASRC_PARAMS_FILE="$work/params.txt" gst-launch-1.0 norvasrc sensor="DOR Idazida" num-buffers=2 ! \
  video/x-raw,format=NV12 ! fakesink silent=false -v >"$work/rate0.txt.out" 2>&1 ||
  { echo "FAIL rate-0: the run failed"; failures=$((failures + 1)); }
grep -q "framerate=(fraction)1/1" "$work/rate0.txt.out" && echo "ok   rate-0 (bounded to 1 frame per second)" ||
  { echo "FAIL rate-0: not bounded to 1/1"; grep -m3 framerate "$work/rate0.txt.out"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "PASS"
