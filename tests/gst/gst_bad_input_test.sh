#!/usr/bin/env bash
# Bad inputs through gst-launch-1.0, as a user meets them: the run fails (exit status not 0) and its output
# carries the element's error naming what is wrong.
#   gst_bad_input_test.sh PLUGIN_DIR SCENE_WRITER
# NORVA_GST_PRELOAD names runtime libraries to preload into the tool (the sanitizer runtimes when the plug-in is
# built with sanitizers).
set -uo pipefail
here=$(dirname "$(realpath "$0")")
plugin_dir=$(realpath "$1")
scene_writer=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=gst_tools_env.sh
source "$here/gst_tools_env.sh"
norva_gst_env "$work" "$plugin_dir"

"$scene_writer" "$work/scene.nrv" 320 240 2 || { echo "FAIL: scene writer"; exit 1; }
echo "// no settings" >"$work/setup.txt"
base="-IntDG0_inputNRV $work/scene.nrv -IntDG0_gasket 0 -CT0_nBuffers 3 -CT0_nPreenqBuffers 1"

# case NAME SENSOR PARAMETERS EXPECTED [PROPERTY [ENVIRONMENT]]: runs norvasrc with the parameter file (and the
# element property and environment variable given); every line of EXPECTED must appear in the output.
case_() {
  local name=$1 sensor=$2 params=$3 expected=$4 property=${5:-} environment=${6:-}
  echo "$params" >"$work/params.txt"
  # shellcheck disable=SC2086
  env GST_NORVASRC_PARAMS_FILE="$work/params.txt" $environment gst-launch-1.0 norvasrc sensor="$sensor" \
    num-buffers=2 $property ! fakesink >"$work/$name.txt" 2>&1
  local status=$?
  local problems=()
  [ "$status" -ne 0 ] || problems+=("exit status 0")
  local line
  while IFS= read -r line; do
    grep -qF -- "$line" "$work/$name.txt" || problems+=("no \"$line\" in the output")
  done <<<"$expected"
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: ${problems[*]}"
    grep -v "^-" "$work/$name.txt" | tail -20
    failures=$((failures + 1))
  fi
}

# The element's error text (after the element's name), its debug detail, and the capture context's own lines.
error_text="GstNorvasrc:norvasrc0: "
case_ unknown-sensor no-such-sensor "$base -CT0_setupFile $work/setup.txt" "${error_text}Failed to configure context 0
Unknown sensor \"no-such-sensor\".
failed to create camera with sensor for context 0
failed to create camera for context 0"
case_ missing-setup-file "DOR Idazida" "$base -CT0_setupFile $work/absent.txt" "${error_text}Failed to configure context 0
Setup file \"$work/absent.txt\" cannot be read.
failed to parse parameter file: $work/absent.txt"
not_loaded="${error_text}Error has occurred while loading parameters
Cannot load the parameter file \"$work/params.txt\"."
case_ help-in-parameters "DOR Idazida" "$base -CT0_setupFile $work/setup.txt -h" "$not_loaded"
case_ letters-for-a-count "DOR Idazida" "$base -CT0_setupFile $work/setup.txt -CT0_nBuffers 3x" "$not_loaded"
case_ letters-for-a-gain "DOR Idazida" "$base -CT0_setupFile $work/setup.txt -CT0_sensorGain abc" "$not_loaded"
# A board without the dmabuf allocator, the element asked to use it.
case_ dmabuf-absent "DOR Idazida" "$base -CT0_setupFile $work/setup.txt" 'Cannot open the dmabuf allocator "/dev/dmabuf"' \
  use-dmabuf=true NORVA_SIM_DMABUF_ABSENT=1

# Paths that are not files: the run does not wait on a FIFO that nobody writes, whether it is the parameter file
# or the grid file a setup file names. Each run is bounded, so that a hang fails its row instead of the test.
# hostile_ NAME PARAMETER_FILE MUST_FAIL EXPECTED: MUST_FAIL "yes" when the run must end with a failing status.
hostile_() {
  local name=$1 params_file=$2 must_fail=$3 expected=$4
  timeout 60 env GST_NORVASRC_PARAMS_FILE="$params_file" gst-launch-1.0 norvasrc sensor="DOR Idazida" \
    num-buffers=2 ! fakesink >"$work/$name.txt" 2>&1
  local status=$?
  local problems=()
  [ "$status" -ne 124 ] || problems+=("still running after 60 s")
  [ "$must_fail" != yes ] || [ "$status" -ne 0 ] || problems+=("exit status 0")
  grep -qF -- "$expected" "$work/$name.txt" || problems+=("no \"$expected\" in the output")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: ${problems[*]}"
    grep -v "^-" "$work/$name.txt" | tail -20
    failures=$((failures + 1))
  fi
}
mkfifo "$work/fifo"
mkdir "$work/folder"
hostile_ parameter-file-fifo "$work/fifo" yes "Cannot load the parameter file \"$work/fifo\""
hostile_ parameter-file-directory "$work/folder" yes "'$work/folder' is not a regular file"
# The grid is refused and named; the controls' set-up reports no failure of its own, so the run goes on without it.
printf 'LSH_CTRL_CORRECTIONS 1\nLSH_CTRL_TEMPERATURE_0 6500\nLSH_CTRL_FILE_0 %s\n' "$work/fifo" >"$work/grid_setup.txt"
echo "$base -CT0_setupFile $work/grid_setup.txt" >"$work/grid_params.txt"
hostile_ grid-file-fifo "$work/grid_params.txt" no "Failed to open file $work/fifo"

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
