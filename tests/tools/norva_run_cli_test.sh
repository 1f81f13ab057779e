#!/usr/bin/env bash
# The command line of the main program, case by case: exit status, the one closing line on standard error,
# and nothing left behind when the run fails. Usage: norva_run_cli_test.sh <norva_run>
set -uo pipefail
program=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export NORVA_PLATFORM=sim
unset NORVA_OUTPUT_DIR
failures=0

# A folder on the PATH without ffmpeg, and one whose ffmpeg always fails.
mkdir -p "$scratch/bin-empty" "$scratch/bin-badffmpeg"
printf '#!/bin/sh\nexit 1\n' >"$scratch/bin-badffmpeg/ffmpeg"
chmod +x "$scratch/bin-badffmpeg/ffmpeg"
# An ffmpeg that never ends (it writes its pid to $scratch/ffmpeg-started first).
mkdir -p "$scratch/bin-blockingffmpeg"
printf '#!/bin/sh\nsleep 600 &\necho "$$" >"%s/ffmpeg-started"\nwait\n' "$scratch" >"$scratch/bin-blockingffmpeg/ffmpeg"
chmod +x "$scratch/bin-blockingffmpeg/ffmpeg"

# shellcheck source=cli_cases.sh
source "$(dirname "$0")/cli_cases.sh"
cli_command=("$program")

case_ help 0 "" -- --help
case_ help-short 0 "" -- -h
case_ unknown-option 2 "norva_run: unknown option --bogus: see norva_run --help" -- --bogus out
case_ extra-argument 2 "norva_run: extra argument two: one output folder at most (see norva_run --help)" -- one two
case_ unwritable-folder 1 "norva_run: cannot create the output folder a-file/out: Not a directory" -- a-file/out
case_ not-empty-folder 1 "norva_run: cannot create the output folder .: it exists and is not empty" -- .
case_ no-ffmpeg 1 \
  "norva_run: ffmpeg not found: install it (apt-get install ffmpeg) or add its folder to the PATH" \
  PATH="$scratch/bin-empty" -- out
case_ bad-platform 2 'norva_run: NORVA_PLATFORM="simulation": must be "sim" or "hw"' NORVA_PLATFORM=simulation -- out
case_ ffmpeg-fails 1 "norva_run: ffmpeg could not convert frame 0: see its messages above" \
  PATH="$scratch/bin-badffmpeg:$PATH" -- deep/er/out
# Output folders the run cannot use, refused before anything runs and leaving nothing: a link to nothing, a link that
# loops, a name longer than a folder's name may be, a path longer than the system takes (the folders made on the
# way removed again).
unusable_folders
case_ dangling-link 1 "norva_run: cannot create the output folder out: it is a dangling symbolic link" -- out
case_ link-loop 1 "norva_run: cannot create the output folder out: it is a symbolic link that loops" -- out
case_ name-too-long 1 "norva_run: cannot create the output folder deep/er/$long_name: File name too long" \
  -- deep/er/$long_name
case_ path-too-long 1 "norva_run: cannot create the output folder $long_path/out: File name too long" \
  -- "$long_path/out"
# A link to an empty folder: the output goes into the folder it names, the link stays.
mkdir -p "$scratch/work-link-to-folder/empty"
ln -s empty "$scratch/work-link-to-folder/out"
case_ link-to-folder 0 "" -- out
[ -L "$scratch/work-link-to-folder/out" ] && [ -s "$scratch/work-link-to-folder/empty/scene.nrv" ] ||
  { echo "FAIL link-to-folder: $(cd "$scratch/work-link-to-folder" && find . | head)"; failures=$((failures + 1)); }
# Stopped by a signal while ffmpeg converts the first frame, or during the capture (frames paced at one a second,
# the signal sent once the scene is written): ffmpeg stopped, nothing left.
stop_case ffmpeg-sigterm TERM pid "norva_run: the run was interrupted: SIGTERM" '[ -s "$scratch/ffmpeg-started" ]' \
  PATH="$scratch/bin-blockingffmpeg:$PATH" -- deep/er/out
stop_case capture-sigterm TERM pid "norva_run: the run was interrupted: SIGTERM" \
  'compgen -G "deep/.out.part-*/scene.nrv" >/dev/null' NORVA_SIM_PACED_FPS=1 -- deep/out
stop_case capture-ctrl-c INT group "norva_run: the run was interrupted: SIGINT" \
  'compgen -G ".out.part-*/scene.nrv" >/dev/null' NORVA_SIM_PACED_FPS=1 -- out
# A successful run, from another folder than the program's, into a relative folder: no line on standard error
# (no warning), the output where the user is.
case_ relative-folder 0 "" -- runs/first

for name in help help-short; do
  for text in "Usage: norva_run" "NORVA_PLATFORM" "NORVA_OUTPUT_DIR"; do
    grep -q "$text" "$scratch/$name.out" || { echo "FAIL $name: the usage lacks $text"; failures=$((failures + 1)); }
  done
done
out="$scratch/work-relative-folder/runs/first"
for f in scene.nrv frame_000.nv12 frame_011.bgr frame_000_encoder.png frame_011_display.png; do
  [ -s "$out/$f" ] || { echo "FAIL relative-folder: no $f in $out"; failures=$((failures + 1)); }
done
[ "$(tail -n 1 "$scratch/relative-folder.out")" = "Output folder: runs/first" ] ||
  { echo "FAIL relative-folder: last line $(tail -n 1 "$scratch/relative-folder.out")"; failures=$((failures + 1)); }
[ -z "$(find "$scratch/work-relative-folder" -name '.*part*')" ] ||
  { echo "FAIL relative-folder: temporary folder left"; failures=$((failures + 1)); }

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
