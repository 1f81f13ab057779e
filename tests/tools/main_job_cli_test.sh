#!/usr/bin/env bash
# The command line of the main job (scripts/main_job.sh, what ./run.sh runs after its build), case by case: exit
# status, the one closing line on standard error, and nothing left behind when the run fails; then a short
# successful run and what it wrote. Usage: main_job_cli_test.sh <main_job.sh> <build folder>
# NORVA_GST_PRELOAD names runtime libraries to preload into gst-launch-1.0 (the sanitizer runtimes when the
# plug-in is built with sanitizers).
set -uo pipefail
script=$(realpath "$1")
build=$(realpath "$2")
# shellcheck source=cli_cases.sh
source "$(dirname "$0")/cli_cases.sh"
main_job_setup

# gst-launch-1.0 as the run sees it: the real one (with the preload), or one that fails as a broken plug-in does.
real_launch=$(command -v gst-launch-1.0)
mkdir -p "$scratch/bin-launch" "$scratch/bin-badlaunch"
cat >"$scratch/bin-launch/gst-launch-1.0" <<WRAP
#!/bin/sh
if [ -n "${NORVA_GST_PRELOAD:-}" ]; then
  export LD_PRELOAD="${NORVA_GST_PRELOAD:-}" GST_REGISTRY_FORK=no ASAN_OPTIONS="\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}detect_leaks=0"
fi
exec "$real_launch" "\$@"
WRAP
printf '#!/bin/sh\necho "ERROR: pipeline could not be constructed: no element \\"norvasrc\\"."\nexit 1\n' \
  >"$scratch/bin-badlaunch/gst-launch-1.0"
chmod +x "$scratch/bin-launch/gst-launch-1.0" "$scratch/bin-badlaunch/gst-launch-1.0"
export PATH="$scratch/bin-launch:$PATH"
cli_command=("$script" "$build")

case_ help 0 "" -- --help
case_ help-short 0 "" -- -h
case_ unknown-option 2 "run.sh: unknown option --bogus: see ./run.sh --help" -- --bogus out
case_ extra-argument 2 "run.sh: extra argument two: one output folder at most (see ./run.sh --help)" -- one two
case_ frames-zero 2 "run.sh: --frames 0: a number from 1 to 1000" -- --frames 0 out
case_ frames-word 2 "run.sh: --frames many: a number from 1 to 1000" -- --frames many out
case_ frames-missing 2 "run.sh: --frames: give a number of frames (see ./run.sh --help)" -- --frames
case_ unwritable-folder 1 "run.sh: cannot create the output folder a-file/out: Not a directory" -- a-file/out
case_ not-empty-folder 1 "run.sh: cannot create the output folder .: it exists and is not empty" -- .
case_ bad-platform 2 'run.sh: NORVA_PLATFORM="simulation": must be "sim" or "hw"' NORVA_PLATFORM=simulation -- out
case_ pipeline-fails 1 \
  'run.sh: gst-launch-1.0 failed on the encoder pipeline: ERROR: pipeline could not be constructed: no element "norvasrc".' \
  PATH="$scratch/bin-badlaunch:$PATH" -- --frames 2 deep/er/out
# Output folders the run cannot use, refused before anything runs and leaving nothing: a link to nothing, a link that
# loops, a name longer than a folder's name may be, a path longer than the system takes (the folders made on the
# way removed again).
unusable_folders
case_ dangling-link 1 "run.sh: cannot create the output folder out: it is a dangling symbolic link" -- --frames 1 out
case_ link-loop 1 "run.sh: cannot create the output folder out: it is a symbolic link that loops" -- --frames 1 out
case_ name-too-long 1 "run.sh: cannot create the output folder deep/er/$long_name: File name too long" \
  -- --frames 1 deep/er/$long_name
case_ path-too-long 1 "run.sh: cannot create the output folder $long_path/out: File name too long" \
  -- --frames 1 "$long_path/out"
# A link to an empty folder: the output goes into the folder it names, the link stays.
mkdir -p "$scratch/work-link-to-folder/empty"
ln -s empty "$scratch/work-link-to-folder/out"
case_ link-to-folder 0 "" -- --frames 1 out
[ -L "$scratch/work-link-to-folder/out" ] && [ -s "$scratch/work-link-to-folder/empty/frames.csv" ] ||
  { echo "FAIL link-to-folder: $(cd "$scratch/work-link-to-folder" && find . | head)"; failures=$((failures + 1)); }
# A successful run, from another folder than the script's, into a relative folder: no line on standard error
# (no warning), the output where the user is.
case_ relative-folder 0 "" -- --frames 3 runs/first

for name in help help-short; do
  for text in "Usage: ./run.sh" "NORVA_PLATFORM" "NORVA_OUTPUT_DIR" "NORVA_SIM_ILLUMINANT" "data/setup/reference.txt" \
    "frames.csv"; do
    grep -q "$text" "$scratch/$name.out" || { echo "FAIL $name: the usage lacks $text"; failures=$((failures + 1)); }
  done
done
out="$scratch/work-relative-folder/runs/first"
for f in frame_000.png frame_002.png encoder.y4m frames.csv display.log encoder.log datagen/scene.nrv \
  datagen/params.txt datagen/frame_000.png datagen/frame_002.png datagen/encoder.y4m datagen/display.log \
  datagen/encoder.log; do
  [ -s "$out/$f" ] || { echo "FAIL relative-folder: no $f in $out"; failures=$((failures + 1)); }
done
for f in frame_003.png datagen/frame_003.png; do
  [ ! -e "$out/$f" ] || { echo "FAIL relative-folder: $f, more PNG images than frames"; failures=$((failures + 1)); }
done
for y4m in "encoder.y4m W672 H380" "datagen/encoder.y4m W640 H480"; do
  read -r f size <<<"$y4m"
  grep -q "^YUV4MPEG2 C420 $size " "$out/$f" ||
    { echo "FAIL relative-folder: $f header $(head -c 40 "$out/$f")"; failures=$((failures + 1)); }
done
# frames.csv: the header, then per frame one line of nine numbers, the first the frame's number from 0.
csv_problem=$(awk -F, 'NR == 1 { if ($0 != "frame,exposure_us,gain,brightness,temperature_k,focus,patch_r,patch_g,patch_b") print "header " $0; next }
  NF != 9 || $1 != NR - 2 { print "line " NR ": " $0; next }
  { for (i = 2; i <= 9; i++) if ($i !~ /^-?[0-9]+(\.[0-9]+)?$/) print "line " NR ": " $0 }
  END { if (NR != 4) print NR - 1 " frames" }' "$out/frames.csv")
[ -z "$csv_problem" ] || { echo "FAIL relative-folder: frames.csv: $csv_problem"; failures=$((failures + 1)); }
grep -qE "^(Settled at frame [0-9]+|Not settled in 3 frames; frame 2): exposure [0-9.]+ ms, gain [0-9.]+, [0-9]+ K, grey patch [0-9]+/[0-9]+/[0-9]+$" \
  "$scratch/relative-folder.out" || { echo "FAIL relative-folder: no settled line"; failures=$((failures + 1)); }
# params.txt names its files by absolute paths: with it, the by-hand pipeline of README.md plays from any folder.
for option in -IntDG0_inputNRV -CT0_setupFile; do
  named=$(awk -v o="$option" '{ for (i = 1; i < NF; i++) if ($i == o) print $(i + 1) }' "$out/datagen/params.txt")
  [[ "$named" == /* ]] && [ -s "$named" ] ||
    { echo "FAIL relative-folder: params.txt gives $option \"$named\""; failures=$((failures + 1)); }
done
grep -qF -- "-IntDG0_inputNRV $out/datagen/scene.nrv " "$out/datagen/params.txt" ||
  { echo "FAIL relative-folder: params.txt names $(cat "$out/datagen/params.txt")"; failures=$((failures + 1)); }
(cd / && GST_PLUGIN_PATH="$build/gst/plugin" GST_REGISTRY="$scratch/by-hand.registry" \
  GST_NORVASRC_PARAMS_FILE="$out/datagen/params.txt" gst-launch-1.0 norvasrc "sensor=DOR Idazida" num-buffers=2 ! \
  fakesink >"$scratch/by-hand.log" 2>&1) ||
  { echo "FAIL by-hand: the pipeline with params.txt failed from /"; cat "$scratch/by-hand.log"; failures=$((failures + 1)); }
[ "$(tail -n 1 "$scratch/relative-folder.out")" = "Output folder: runs/first" ] ||
  { echo "FAIL relative-folder: last line $(tail -n 1 "$scratch/relative-folder.out")"; failures=$((failures + 1)); }
[ -z "$(find "$scratch/work-relative-folder" -name '.*part*')" ] ||
  { echo "FAIL relative-folder: temporary folder left"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
  echo "--- output of the successful run ---"
  cat "$scratch/relative-folder.out" "$scratch/relative-folder.err" "$out"/*.log "$out"/datagen/*.log 2>/dev/null | tail -80
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
