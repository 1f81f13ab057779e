#!/usr/bin/env bash
# The calibration of the simulated sensors:
#   1. the committed setup file of the default sensor loads through norvasrc under gst-launch-1.0 without a warning
#      (the reference setup, which has no calibration, shows that the warnings would be seen);
#   2. the calibration tool runs (two lights, the sensor's small mode) and writes a setup file and grid files of
#      the right shape, which load through norvasrc without a warning too.
#   calibration_test.sh SOURCE_DIR PLUGIN_DIR CALIBRATE_TOOL
set -euo pipefail

root=$(realpath "$1")
plugin_dir=$2
tool=$(realpath "$3")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=../gst/gst_tools_env.sh
source "$(dirname "$(realpath "$0")")/../gst/gst_tools_env.sh"
norva_gst_env "$work" "$plugin_dir"
unset NORVA_SIM_SENSORS NORVA_SIM_ILLUMINANT NORVA_SIM_LIGHT NORVA_SIM_SCENE NORVA_LOG_LEVEL

# The lines of a run's output that warn or report an error; the one warning the focus control gives on its first
# frame by design is not counted.
warnings() { # output-file
  grep -E "WARNING|ERROR|CRITICAL" "$1" | grep -v "ControlAF is not initialised" || true
}

# gst-launch-1.0 on the default sensor from the source tree (the setup file names its grids from there).
launch() { # name setup-file [element properties...]
  local name=$1 setup=$2
  shift 2
  (cd "$root" && timeout 120 gst-launch-1.0 norvasrc sensor=OV4689_0 setup-file="$setup" "$@" num-buffers=30 ! \
    fakesink >"$work/$name.txt" 2>&1) || fail "$name: gst-launch-1.0 failed: $(tail -5 "$work/$name.txt")"
}

# 1. The committed setup file.
committed="$root/data/setup/ov4689.txt"
[ -r "$committed" ] || fail "no $committed"
launch reference "$root/data/setup/reference.txt" sensor-mode=3
grep -qF "'WB_CORRECTIONS' not defined" "$work/reference.txt" || fail "the reference setup's warning is not seen"
grep -qF "'LSH_CTRL_CORRECTIONS' not defined" "$work/reference.txt" || fail "the reference setup's warning is not seen"
# At the full frame too: its white-balance statistics fit one measurement with the setup's gamut clip.
launch committed "$committed"
[ -z "$(warnings "$work/committed.txt")" ] || fail "the committed setup warns: $(warnings "$work/committed.txt")"
# The grids fit the full frame; a smaller mode of the same field of view loads them too.
launch committed_small "$committed" sensor-mode=3
[ -z "$(warnings "$work/committed_small.txt")" ] ||
  fail "the committed setup warns in mode 3: $(warnings "$work/committed_small.txt")"
while read -r grid; do
  [ -r "$root/$grid" ] || fail "the committed setup names $grid, which is not in the source tree"
done < <(awk '$1 ~ /^LSH_CTRL_FILE_/ { print $2 }' "$committed")

# 2. A short calibration into a folder of the test's own. The tool finds the element in itself and takes the core
# elements from a registry of its own.
mkdir -p "$work/tool_plugins"
ln -sf "$(pkg-config --variable=pluginsdir gstreamer-1.0)/libgstcoreelements.so" "$work/tool_plugins/"
out="$work/calibration"
if ! env -u LD_PRELOAD GST_REGISTRY="$work/tool_registry.bin" GST_PLUGIN_PATH_1_0="$work/tool_plugins" \
  timeout 600 "$tool" --mode 3 --temperatures 3000,6500 --name sim4689 "$out" >"$work/tool.txt" 2>&1; then
  fail "the calibration tool failed: $(tail -5 "$work/tool.txt")"
fi
setup="$out/sim4689.txt"
[ -r "$setup" ] || fail "no $setup"
# The value count of a tag's line, or nothing when the file has no such line.
values() { awk -v tag="$1" '$1 == tag { n = 0; for (i = 2; i <= NF && $i !~ /^\/\//; i++) n++; print n }' "$setup"; }
value() { awk -v tag="$1" -v i="$2" '$1 == tag { print $(i + 1) }' "$setup"; }
expect_value() { # tag index expected
  [ "$(value "$1" "$2")" = "$3" ] || fail "$1 value $2 is '$(value "$1" "$2")', expected $3"
}
expect_values() { # tag count
  [ "$(values "$1")" = "$2" ] || fail "$1 has '$(values "$1")' values, expected $2"
}
expect_values BLC_SENSOR_BLACK 4
expect_value MGM_CLIP_MAX 1 1
expect_value WB_CORRECTIONS 1 2
expect_value WB_TEMPERATURE_0 1 3000
expect_value WB_TEMPERATURE_1 1 6500
for i in 0 1; do
  expect_values "WB_CCM_$i" 9
  expect_values "WB_OFFSETS_$i" 3
  expect_values "WB_GAINS_$i" 4
  expect_value "WB_GAINS_$i" 2 1
  expect_value "WB_GAINS_$i" 3 1
done
# Warm light is redder and less blue than daylight: it takes less red gain and more blue gain.
awk -v r0="$(value WB_GAINS_0 1)" -v r1="$(value WB_GAINS_1 1)" -v b0="$(value WB_GAINS_0 4)" \
  -v b1="$(value WB_GAINS_1 4)" 'BEGIN { exit !(r0 < 0.9 * r1 && b0 > 1.1 * b1) }' ||
  fail "gains at 3000 K ($(value WB_GAINS_0 1), $(value WB_GAINS_0 4)) against 6500 K ($(value WB_GAINS_1 1), $(value WB_GAINS_1 4))"
expect_value LSH_CTRL_CORRECTIONS 1 2
bits=$(value LSH_CTRL_BITS_DIFF 1)
if [ "${bits:-0}" -lt 4 ] || [ "${bits:-0}" -gt 10 ]; then fail "LSH_CTRL_BITS_DIFF is '$bits'"; fi
for i in 0 1; do
  grid=$(value "LSH_CTRL_FILE_$i" 1)
  expect_value "LSH_CTRL_TEMPERATURE_$i" 1 "$([ "$i" = 0 ] && echo 3000 || echo 6500)"
  expect_value "LSH_CTRL_SCALE_WB_$i" 1 1
  [ "$grid" = "$out/sim4689/lsh_$([ "$i" = 0 ] && echo 3000 || echo 6500)K.lsh" ] || fail "grid file $i is '$grid'"
  [ -r "$grid" ] || { fail "no grid file $grid"; continue; }
  # "LSH", version 1, then width, height and tile: 672 x 380 cells in tiles of 32 need 22 x 13 vertices.
  header=$(od -An -tu4 -N20 -w20 "$grid" | tr -s " " | sed "s/^ //")
  [ "$(head -c 3 "$grid")" = "LSH" ] || fail "$grid does not start with LSH"
  [ "${header#* }" = "1 22 13 32" ] || fail "$grid header reads '$header'"
  [ "$(stat -c %s "$grid")" -eq $((20 + 4 * 22 * 13 * 4)) ] || fail "$grid holds $(stat -c %s "$grid") bytes"
done
grep -qE "^check: .* [0-9.]+ % with the new one" "$work/tool.txt" || fail "the tool printed no check: $(tail -3 "$work/tool.txt")"
launch tool_setup "$setup" sensor-mode=3
[ -z "$(warnings "$work/tool_setup.txt")" ] || fail "the tool's setup warns: $(warnings "$work/tool_setup.txt")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; cat "$work/tool.txt"; exit 1; }
cat "$work/tool.txt"
echo "PASS"
