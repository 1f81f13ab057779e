#!/usr/bin/env bash
# The main job on a build: plays the test chart through the norvasrc GStreamer element on the simulated platform,
# first as the default sensor of the simulated board sees it under a warm light, with auto exposure, white balance
# and lens shading on and the sensor's calibrated setup file (one CSV line per frame, and the frame from which the
# loops settled), then as the data generator plays it. Each part writes PNG images and a YUV4MPEG2 stream. ./run.sh
# builds Release and runs it.
#   main_job.sh BUILD_DIR [--help] [--frames N] [output-folder]
# Every failure ends with one line on standard error, "run.sh: WHAT: WHY". SIGINT or SIGTERM stops the run (and
# the pipeline running) and leaves nothing behind. Exit status: 0 done, 1 the run failed or was stopped, 2 wrong
# command line or environment.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: main_job.sh BUILD_DIR [arguments of run.sh]}
shift
# The pipelines run from the repository's root: the build's folders by absolute paths.
if [ -d "$build" ]; then build=$(cd "$build" && pwd); fi
frames=90
fps=30
# Part 1: the default sensor of the simulated board, its full frame shown at a quarter of its size, under a warm
# light that white balance must correct, with the setup file calibrated on it. That file names its lens-shading grids
# relative to the repository's root: the pipelines run from there.
sensor=OV4689_0
sensor_width=2688
sensor_height=1520
sensor_out_width=672
sensor_out_height=380
illuminant=3000
sensor_setup="$root/data/setup/ov4689.txt"
# Part 2: the data generator playing the chart written as a scene.
width=640
height=480
reference_setup="$root/data/setup/reference.txt"

fail() { # status what why
  echo "run.sh: $2: $3" >&2
  exit "$1"
}

# shellcheck source=steps.sh
source "$root/scripts/steps.sh"
# What the run made: removed at its end unless it succeeded (the output folder then renamed into place).
work=""
created=()
done_ok=0
cleanup() {
  [ $done_ok -eq 1 ] && return
  if [ -n "$work" ]; then rm -rf "$work"; fi
  local i
  for ((i = ${#created[@]} - 1; i >= 0; i--)); do rmdir "${created[$i]}" 2>/dev/null || true; done
}
# SIGINT or SIGTERM at any moment: the pipeline running is stopped, what the run made is removed, status 1.
stop() { # signal
  trap '' INT TERM
  norva_stop_steps TERM
  fail 1 "the run was interrupted" "$1"
}
trap cleanup EXIT
trap 'stop SIGINT' INT
trap 'stop SIGTERM' TERM
# The reason a command gave for its failure: its message after the last ": ".
reason() { local message=$1; echo "${message##*: }"; }

usage() {
  cat <<EOF
Usage: ./run.sh [--help] [--frames N] [output-folder]

Builds the project (Release), then plays the test chart (grey ramp, neutral and colour patches, fine edges, a
clipped patch) through the norvasrc GStreamer element with the simulated platform in paced mode (frames at the
sensor's ${fps} frames per second), in two parts:
 1. The sensor $sensor of the simulated board sees the chart under a ${illuminant} K light, with auto exposure,
    white balance and lens shading on (the setup file calibrated on it, ${sensor_setup#"$root/"}, whose grid
    files are named from the repository's root, where the pipelines run); its ${sensor_width}x${sensor_height}
    frame is shown at ${sensor_out_width}x${sensor_out_height}. The display pipeline runs through
    tools/norva_frames, which writes one CSV line per frame and prints the frame from which the loops settled,
    for example "Settled at frame 42: exposure 16.6 ms, gain 1.0, 3010 K, grey patch 118/119/118".
 2. The data generator ("DOR Idazida") plays the chart written as a ${width}x${height} scene, with the
    project's reference setup file data/setup/reference.txt (limited-range encoder output, full-range display
    output).
Written into the output folder, the second part into its folder datagen/:
  frame_NNN.png              the display output (RGB), one PNG per frame (pngenc ! multifilesink)
  encoder.y4m                the encoder output (NV12) as a YUV4MPEG2 stream (4:2:0, y4menc)
  frames.csv                 part 1, per frame: exposure_us and gain as the sensor reports them, brightness
                             (the brightness meta), temperature_k (the measured colour temperature), focus (the
                             focus-value meta), patch_r, patch_g, patch_b (the mean 8-bit colour of the grey
                             patch of level 0.2 in the display output)
  datagen/scene.nrv, datagen/params.txt  the data generator's scene and its parameter file
                             (GST_NORVASRC_PARAMS_FILE)
  display.log, encoder.log   what each pipeline printed
The pipelines are printed; README.md shows how to run them by hand.

Arguments:
  output-folder     where to write; relative to the current directory; must not exist or be empty (a
                    symbolic link to an empty folder: that folder).
                    Default: \$NORVA_OUTPUT_DIR, else out/run-<date>-<time>.
  --frames N        frames of each pipeline, 1 to 1000 (default ${frames}).
  -h, --help        print this text and exit.

Environment:
  NORVA_PLATFORM    "sim" (the simulated platform, the default here) or "hw" (the ISP device).
  NORVA_OUTPUT_DIR  the output folder when none is given.
  NORVA_SIM_PACED_FPS  the paced mode's frame rate (default ${fps}).
  NORVA_SIM_ILLUMINANT the colour temperature of the simulated light in kelvin (default here ${illuminant}).
  NORVA_SIM_LIGHT   the level of the simulated light, a factor (default 1).

The run writes into a temporary folder beside the output folder and renames it when done: a failed run
leaves nothing behind, nor does a run stopped by SIGINT or SIGTERM (Ctrl-C), during the build too. Exit
status: 0 done, 1 the run failed or was stopped, 2 wrong command line or environment.
EOF
}


# ---- command line ----
folder=""
positional=0
end_of_options=0
while [ $# -gt 0 ]; do
  arg=$1
  shift
  if [ $end_of_options -eq 0 ] && { [ "$arg" = "-h" ] || [ "$arg" = "--help" ]; }; then
    usage
    exit 0
  elif [ $end_of_options -eq 0 ] && [ "$arg" = "--" ]; then
    end_of_options=1
  elif [ $end_of_options -eq 0 ] && [ "$arg" = "--frames" ]; then
    [ $# -gt 0 ] || fail 2 "--frames" "give a number of frames (see ./run.sh --help)"
    frames=$1
    shift
    [[ "$frames" =~ ^[0-9]+$ ]] && [ "$frames" -ge 1 ] && [ "$frames" -le 1000 ] ||
      fail 2 "--frames $frames" "a number from 1 to 1000"
    frames=$((10#$frames))
  elif [ $end_of_options -eq 0 ] && [ "${#arg}" -gt 1 ] && [ "${arg:0:1}" = "-" ]; then
    fail 2 "unknown option $arg" "see ./run.sh --help"
  elif [ $positional -eq 1 ]; then
    fail 2 "extra argument $arg" "one output folder at most (see ./run.sh --help)"
  elif [ -z "$arg" ]; then
    fail 2 "empty output folder" "give a folder name (see ./run.sh --help)"
  else
    folder=$arg
    positional=1
  fi
done

export NORVA_PLATFORM=${NORVA_PLATFORM:-sim}
case "$NORVA_PLATFORM" in
sim | hw) ;;
*) fail 2 "NORVA_PLATFORM=\"$NORVA_PLATFORM\"" "must be \"sim\" or \"hw\"" ;;
esac
export NORVA_SIM_PACED_FPS=${NORVA_SIM_PACED_FPS:-$fps}
export NORVA_SIM_ILLUMINANT=${NORVA_SIM_ILLUMINANT:-$illuminant}

plugin_dir="$build/gst/plugin"
scene_tool="$build/tools/norva_scene"
frames_tool="$build/tools/norva_frames"
[ -f "$plugin_dir/libnorvasrc.so" ] || fail 2 "no plug-in in $plugin_dir" "build the project first (./run.sh does)"
[ -x "$scene_tool" ] || fail 2 "no scene writer $scene_tool" "build the project first (./run.sh does)"
[ -x "$frames_tool" ] || fail 2 "no frame recorder $frames_tool" "build the project first (./run.sh does)"
for setup in "$sensor_setup" "$reference_setup"; do
  [ -r "$setup" ] || fail 2 "cannot read the setup file $setup" "the source tree is incomplete"
done
command -v gst-launch-1.0 >/dev/null 2>&1 ||
  fail 1 "gst-launch-1.0 not found" "install it (apt-get install gstreamer1.0-tools) or add its folder to the PATH"

# ---- output folder: a temporary folder beside it, renamed at the end ----
if [ -z "$folder" ]; then
  folder=${NORVA_OUTPUT_DIR:-out/run-$(date +%Y%m%d-%H%M%S)}
fi
while [ "${#folder}" -gt 1 ] && [ "${folder%/}" != "$folder" ]; do folder=${folder%/}; done
what="cannot create the output folder $folder"
# A link is refused when it leads nowhere (the rename at the end would fail); a link to a folder stands for it.
target=$folder
if [ -L "$folder" ]; then
  if [ ! -e "$folder" ]; then
    [[ "$(LC_ALL=C stat -L -- "$folder" 2>&1)" != *"Too many levels of symbolic links"* ]] ||
      fail 1 "$what" "it is a symbolic link that loops"
    fail 1 "$what" "it is a dangling symbolic link"
  fi
  target=$(realpath -- "$folder")
fi
if [ -e "$target" ]; then
  [ -d "$target" ] || fail 1 "$what" "a file of that name exists"
  [ -z "$(ls -A "$target" 2>/dev/null)" ] || fail 1 "$what" "it exists and is not empty"
fi
parent=$(dirname "$target")
name=$(basename "$target")
dir=$parent
while [ ! -e "$dir" ]; do
  created=("$dir" "${created[@]}")
  dir=$(dirname "$dir")
done
[ -d "$dir" ] || fail 1 "$what" "Not a directory"
for d in "${created[@]}"; do
  error=$(LC_ALL=C mkdir -- "$d" 2>&1) || fail 1 "$what" "$(reason "$error")"
done
work=$(LC_ALL=C mktemp -d "$parent/.$name.part-XXXXXX" 2>&1) ||
  { error=$work work=""; fail 1 "$what" "$(reason "$error")"; }
# The parameter file names its inputs by absolute paths, so that it serves from any folder.
work=$(cd "$work" && pwd)
final=$(cd "$parent" && pwd)/$name

# A registry of our own: the plug-in of this build, whatever else the user's registry holds.
export GST_REGISTRY="$work/registry.bin"
export GST_PLUGIN_PATH="$plugin_dir${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
unset GST_NORVASRC_PARAMS_FILE

in_root() { cd "$root" && "$@"; }
# run_pipeline NAME COMMAND...: the command, run from the repository's root (where the setup files' grid paths
# start), with its output in NAME.log; a failure shows the log and its error. Every path it gets is absolute.
run_pipeline() {
  local pipeline=$1
  shift
  local shown="${*//$work\//$folder/}"
  echo "$pipeline: ${shown//sensor=DOR Idazida/sensor=\"DOR Idazida\"}"
  if ! norva_step "$work/$pipeline.log" in_root "$@"; then
    cat "$work/$pipeline.log"
    local error
    error=$(grep -m1 -E "^ERROR" "$work/$pipeline.log" || true)
    fail 1 "${1##*/} failed on the $pipeline pipeline" "${error:-see its messages above}"
  fi
}

# check_frames FOLDER WIDTH HEIGHT: every frame written as a PNG image and into encoder.y4m.
check_frames() {
  local dir=$1 w=$2 h=$3
  local shown=${dir/#$work/$folder}
  local pngs header expected actual
  pngs=$(find "$dir" -maxdepth 1 -name 'frame_*.png' -size +0 | wc -l)
  [ "$pngs" -eq "$frames" ] || fail 1 "the display pipeline wrote $pngs PNG images into $shown" "expected $frames"
  header=$(head -c 200 "$dir/encoder.y4m" | head -n 1 || true)
  expected=$((${#header} + 1 + frames * (6 + w * h * 3 / 2)))
  actual=$(stat -c %s "$dir/encoder.y4m")
  [ "$actual" -eq "$expected" ] ||
    fail 1 "$shown/encoder.y4m has $actual bytes" "expected $expected for $frames frames of ${w}x${h}"
}

# ---- part 1: the sensor ----
sensor_source=(norvasrc sensor="$sensor" setup-file="$sensor_setup" exposure-auto=true awb-enable=true
  num-buffers="$frames")
sensor_caps="video/x-raw,width=$sensor_out_width,height=$sensor_out_height"
echo "Playing the test chart through $sensor under a $NORVA_SIM_ILLUMINANT K light: $frames frames per pipeline" \
  "at $NORVA_SIM_PACED_FPS frames per second"
run_pipeline display "$frames_tool" --csv "$work/frames.csv" --chart "${sensor_width}x$sensor_height" -- \
  "${sensor_source[@]}" ! "$sensor_caps,format=BGR" ! videoconvert ! pngenc \
  ! multifilesink location="$work/frame_%03d.png"
run_pipeline encoder gst-launch-1.0 -e "${sensor_source[@]}" ! "$sensor_caps,format=NV12" ! videoconvert \
  ! video/x-raw,format=I420 ! y4menc ! filesink location="$work/encoder.y4m"
check_frames "$work" "$sensor_out_width" "$sensor_out_height"
rows=$(($(wc -l <"$work/frames.csv") - 1))
[ "$rows" -eq "$frames" ] || fail 1 "frames.csv has $rows frames" "expected $frames"
settled=$(grep -E "^(Settled at frame|Not settled in)" "$work/display.log" | tail -n 1 || true)
[ -n "$settled" ] || fail 1 "norva_frames printed no settled line" "see $folder/display.log"
echo "$settled"

# ---- part 2: the data generator ----
dg="$work/datagen"
mkdir "$dg" || fail 1 "cannot create $folder/datagen" "see the message above"
"$scene_tool" "$dg/scene.nrv" "$width" "$height" 4 >"$dg/scene.log" 2>&1 ||
  { cat "$dg/scene.log"; fail 1 "cannot write the scene $folder/datagen/scene.nrv" "see the messages above"; }
rm -f "$dg/scene.log"
# params DIR: the parameter file of a scene in DIR.
params() {
  echo "-IntDG0_inputNRV $1/scene.nrv -IntDG0_gasket 0 -CT0_setupFile $reference_setup -CT0_nBuffers 4" \
    "-CT0_nPreenqBuffers 1 -CT0_AE 1"
}
params "$dg" >"$dg/params.txt"
export GST_NORVASRC_PARAMS_FILE="$dg/params.txt"

echo "Playing the ${width}x${height} test chart through the data generator: $frames frames per pipeline at" \
  "$NORVA_SIM_PACED_FPS frames per second (GST_NORVASRC_PARAMS_FILE=$folder/datagen/params.txt)"
run_pipeline datagen/display gst-launch-1.0 -e norvasrc "sensor=DOR Idazida" num-buffers="$frames" \
  ! "video/x-raw,format=BGR,width=$width,height=$height" ! videoconvert ! pngenc \
  ! multifilesink location="$dg/frame_%03d.png"
run_pipeline datagen/encoder gst-launch-1.0 -e norvasrc "sensor=DOR Idazida" num-buffers="$frames" \
  ! "video/x-raw,format=NV12,width=$width,height=$height" ! videoconvert ! video/x-raw,format=I420 ! y4menc \
  ! filesink location="$dg/encoder.y4m"
check_frames "$dg" "$width" "$height"
rm -f "$work/registry.bin"
params "$final/datagen" >"$dg/params.txt"

# Once the output has its name, the run is done: a signal from here on is ignored.
trap '' INT TERM
mv -T "$work" "$target" 2>/dev/null || fail 1 "cannot rename $work to $folder" "$(mv -T "$work" "$target" 2>&1)"
done_ok=1
echo "Wrote $frames PNG images (frame_000.png to frame_$(printf %03d $((frames - 1))).png), encoder.y4m and" \
  "frames.csv, and the data generator's images and encoder.y4m into datagen/"
echo "Output folder: $folder"
