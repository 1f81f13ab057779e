#!/usr/bin/env bash
# The main job on a build: plays a generated test chart through the norvasrc GStreamer element with
# gst-launch-1.0 and writes PNG images and a YUV4MPEG2 stream. ./run.sh builds Release and runs it.
#   main_job.sh BUILD_DIR [--help] [--frames N] [output-folder]
# Every failure ends with one line on standard error, "run.sh: WHAT: WHY". Exit status: 0 done, 1 the run
# failed, 2 wrong command line or environment.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: main_job.sh BUILD_DIR [arguments of run.sh]}
shift
width=640
height=480
frames=30
fps=30
reference_setup="$root/data/setup/reference.txt"

fail() { # status what why
  echo "run.sh: $2: $3" >&2
  exit "$1"
}

usage() {
  cat <<EOF
Usage: ./run.sh [--help] [--frames N] [output-folder]

Builds the project (Release), then plays a generated ${width}x${height} test chart through the norvasrc
GStreamer element with gst-launch-1.0. The data generator ("DOR Idazida") reads the scene; the simulated
platform runs in paced mode (frames at the sensor's ${fps} frames per second) and its ISP model processes
each frame with the project's reference setup file data/setup/reference.txt (limited-range encoder output,
full-range display output). Written into the output folder:
  frame_NNN.png              the display output (RGB), one PNG per frame (pngenc ! multifilesink)
  encoder.y4m                the encoder output (NV12) as a YUV4MPEG2 stream (4:2:0, y4menc)
  scene.nrv, params.txt      the inputs: the scene and the parameter file (GST_NORVASRC_PARAMS_FILE)
  display.log, encoder.log   what gst-launch-1.0 printed
The two pipelines are printed; README.md shows how to run them by hand.

Arguments:
  output-folder     where to write; relative to the current directory; must not exist or be empty.
                    Default: \$NORVA_OUTPUT_DIR, else out/run-<date>-<time>.
  --frames N        frames of each pipeline, 1 to 1000 (default ${frames}).
  -h, --help        print this text and exit.

Environment:
  NORVA_PLATFORM    "sim" (the simulated platform, the default here) or "hw" (the ISP device).
  NORVA_OUTPUT_DIR  the output folder when none is given.
  NORVA_SIM_PACED_FPS  the paced mode's frame rate (default ${fps}).

The run writes into a temporary folder beside the output folder and renames it when done: a failed run
leaves nothing behind. Exit status: 0 done, 1 the run failed, 2 wrong command line or environment.
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

plugin_dir="$build/gst/plugin"
scene_tool="$build/tools/norva_scene"
[ -f "$plugin_dir/libnorvasrc.so" ] || fail 2 "no plug-in in $plugin_dir" "build the project first (./run.sh does)"
[ -x "$scene_tool" ] || fail 2 "no scene writer $scene_tool" "build the project first (./run.sh does)"
[ -r "$reference_setup" ] || fail 2 "cannot read the reference setup file $reference_setup" "the source tree is incomplete"
command -v gst-launch-1.0 >/dev/null 2>&1 ||
  fail 1 "gst-launch-1.0 not found" "install it (apt-get install gstreamer1.0-tools) or add its folder to the PATH"

# ---- output folder: a temporary folder beside it, renamed at the end ----
if [ -z "$folder" ]; then
  folder=${NORVA_OUTPUT_DIR:-out/run-$(date +%Y%m%d-%H%M%S)}
fi
while [ "${#folder}" -gt 1 ] && [ "${folder%/}" != "$folder" ]; do folder=${folder%/}; done
what="cannot create the output folder $folder"
if [ -e "$folder" ]; then
  [ -d "$folder" ] || fail 1 "$what" "a file of that name exists"
  [ -z "$(ls -A "$folder" 2>/dev/null)" ] || fail 1 "$what" "it exists and is not empty"
fi
parent=$(dirname "$folder")
name=$(basename "$folder")
created=()
dir=$parent
while [ ! -e "$dir" ]; do
  created=("$dir" "${created[@]}")
  dir=$(dirname "$dir")
done
[ -d "$dir" ] || fail 1 "$what" "Not a directory"
for d in "${created[@]}"; do
  mkdir "$d" 2>/dev/null || fail 1 "$what" "cannot create $d"
done
work=$(mktemp -d "$parent/.$name.part-XXXXXX" 2>/dev/null) || fail 1 "$what" "cannot write in $parent"
# The parameter file names its inputs by absolute paths, so that it serves from any folder.
work=$(cd "$work" && pwd)
final=$(cd "$parent" && pwd)/$name
done_ok=0
cleanup() {
  [ $done_ok -eq 1 ] && return
  rm -rf "$work"
  local i
  for ((i = ${#created[@]} - 1; i >= 0; i--)); do rmdir "${created[$i]}" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# ---- inputs ----
"$scene_tool" "$work/scene.nrv" "$width" "$height" 4 >"$work/scene.log" 2>&1 ||
  { cat "$work/scene.log"; fail 1 "cannot write the scene $folder/scene.nrv" "see the messages above"; }
rm -f "$work/scene.log"
# params DIR: the parameter file of a scene in DIR.
params() {
  echo "-IntDG0_inputNRV $1/scene.nrv -IntDG0_gasket 0 -CT0_setupFile $reference_setup -CT0_nBuffers 4" \
    "-CT0_nPreenqBuffers 1 -CT0_AE 1"
}
params "$work" >"$work/params.txt"

# A registry of our own: the plug-in of this build, whatever else the user's registry holds.
export GST_REGISTRY="$work/registry.bin"
export GST_PLUGIN_PATH="$plugin_dir${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
export GST_NORVASRC_PARAMS_FILE="$work/params.txt"

source_caps="norvasrc sensor=\"DOR Idazida\" num-buffers=$frames"
display=(norvasrc "sensor=DOR Idazida" num-buffers="$frames" ! "video/x-raw,format=BGR,width=$width,height=$height"
  ! videoconvert ! pngenc ! multifilesink location="$work/frame_%03d.png")
encoder=(norvasrc "sensor=DOR Idazida" num-buffers="$frames" ! "video/x-raw,format=NV12,width=$width,height=$height"
  ! videoconvert ! video/x-raw,format=I420 ! y4menc ! filesink location="$work/encoder.y4m")

# run_pipeline NAME ARGS...: gst-launch-1.0 with its output in NAME.log; a failure shows the log and its error.
run_pipeline() {
  local pipeline=$1
  shift
  local shown="${*//$work/$folder}"
  echo "$pipeline: gst-launch-1.0 ${shown//sensor=DOR Idazida/sensor=\"DOR Idazida\"}"
  if ! gst-launch-1.0 -e "$@" >"$work/$pipeline.log" 2>&1; then
    cat "$work/$pipeline.log"
    local error
    error=$(grep -m1 -E "^ERROR" "$work/$pipeline.log" || true)
    fail 1 "gst-launch-1.0 failed on the $pipeline pipeline" "${error:-see its messages above}"
  fi
}
echo "Playing the ${width}x${height} test chart: $frames frames per pipeline at $NORVA_SIM_PACED_FPS frames per second ($source_caps)"
run_pipeline display "${display[@]}"
run_pipeline encoder "${encoder[@]}"

# ---- checks: every frame written ----
pngs=$(find "$work" -maxdepth 1 -name 'frame_*.png' -size +0 | wc -l)
[ "$pngs" -eq "$frames" ] || fail 1 "the display pipeline wrote $pngs PNG images" "expected $frames"
header=$(head -c 200 "$work/encoder.y4m" | head -n 1)
expected=$((${#header} + 1 + frames * (6 + width * height * 3 / 2)))
actual=$(stat -c %s "$work/encoder.y4m")
[ "$actual" -eq "$expected" ] ||
  fail 1 "encoder.y4m has $actual bytes" "expected $expected for $frames frames of ${width}x${height}"
rm -f "$work/registry.bin"
params "$final" >"$work/params.txt"

mv -T "$work" "$folder" 2>/dev/null || fail 1 "cannot rename $work to $folder" "$(mv -T "$work" "$folder" 2>&1)"
done_ok=1
echo "Wrote $pngs PNG images (frame_000.png to frame_$(printf %03d $((frames - 1))).png) and encoder.y4m ($frames frames)"
echo "Output folder: $folder"
