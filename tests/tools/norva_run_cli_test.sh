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
