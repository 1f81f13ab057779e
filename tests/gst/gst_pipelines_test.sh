#!/usr/bin/env bash
# The element's typical pipelines, each run with gst-launch-1.0 to EOS on a data-generator scene, and what a user
# sees of them: the buffers fakesink lists, the negotiated caps, the files written and read back by ImageMagick
# and ffmpeg, the dmabuf event, the copy mode and injected frame errors.
#   gst_pipelines_test.sh PLUGIN_DIR SCENE_WRITER
set -uo pipefail
here=$(dirname "$(realpath "$0")")
plugin_dir=$1
scene_writer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=gst_tools_env.sh
source "$here/gst_tools_env.sh"
norva_gst_env "$work" "$plugin_dir" videoconvertscale png multifile y4menc bayer

"$scene_writer" "$work/scene.nrv" 640 480 2 || { echo "FAIL: scene writer"; exit 1; }
echo "// no settings" >"$work/setup.txt"
echo "-IntDG0_inputNRV $work/scene.nrv -IntDG0_gasket 0 -CT0_setupFile $work/setup.txt -CT0_nBuffers 4 -CT0_nPreenqBuffers 1 -CT0_AE 1" >"$work/params"
export GST_NORVASRC_PARAMS_FILE="$work/params"

src="norvasrc sensor=\"DOR Idazida\" num-buffers=30"
nv12="video/x-raw,format=NV12,width=640,height=480"
# The records of every buffer in the order the element adds them: the frame's two reference timestamps (time of
# day, then the device's interrupt time), the planes, then the control results.
metas="GstReferenceTimestampMeta, GstReferenceTimestampMeta, GstVideoMeta, GstIrisCorrectionMeta, GstFocusValueMeta, GstNorvaCurrentBrightnessMeta"

# The buffers fakesink listed ("chain" lines): COUNT of them, offsets 0 to COUNT-1 each with its end one further,
# the frame period as duration, times that never go back, DISCONT on the first and the metas named, in order
# unless ORDER is "any".
expect_buffers() { # file count metas [order]
  grep -o 'chain   \*\*\*\*\*\*\* (fakesink0:sink) (.*' "$1" >"$1.chain"
  local problem
  problem=$(awk -v count="$2" -v metas="$3" -v order="${4:-}" '
    function ns(t,  p) { split(t, p, "[:.]"); return ((p[1] * 60 + p[2]) * 60 + p[3]) * 1e9 + p[4] }
    {
      n++
      if (!match($0, /offset: [0-9]+, offset_end: [0-9]+/)) { bad("buffer " n ": no offsets") }
      split(substr($0, RSTART, RLENGTH), o, /[^0-9]+/)
      if (o[2] != n - 1 || o[3] != n) { bad("buffer " n ": offsets " o[2] ", " o[3]) }
      if (index($0, "duration: 0:00:00.033333333,") == 0) { bad("buffer " n ": duration not 33333333 ns") }
      if (!match($0, /pts: [0-9:.]+/)) { bad("buffer " n ": no pts") }
      pts = ns(substr($0, RSTART + 5, RLENGTH - 5))
      if (n > 1 && pts < last) { bad("buffer " n ": pts goes back") }
      last = pts
      if (n == 1 && index($0, " discont ") == 0) { bad("first buffer without DISCONT") }
      if (!match($0, /meta: [A-Za-z, ]+\)/)) { bad("buffer " n ": no metas: " $0) }
      listed = substr($0, RSTART + 6, RLENGTH - 7)
      if ((order == "any") ? (sorted(listed) != sorted(metas)) : (listed != metas)) {
        bad("buffer " n ": metas " listed)
      }
    }
    function bad(text) { print text; failed = 1; exit }
    function sorted(list,  names, k, i, j, t, out) {
      k = split(list, names, /, /)
      for (i = 2; i <= k; i++)
        for (j = i; j > 1 && names[j - 1] > names[j]; j--) { t = names[j]; names[j] = names[j - 1]; names[j - 1] = t }
      for (i = 1; i <= k; i++) out = out names[i] ","
      return out
    }
    END { if (!failed && n != count) print n " buffers, expected " count }' "$1.chain")
  [ -z "$problem" ] || fail "$(basename "$1"): $problem"
}

# Pipelines under test: NAME|ENVIRONMENT|NEEDS|PIPELINE (after gst-launch-1.0), where NEEDS names the system
# plug-ins and programs without which the row is skipped. Each has a check_NAME below.
pipelines=(
  "smoke|||-v $src ! $nv12 ! fakesink silent=false"
  "histogram|||-v $src add-histogram-meta=true ! $nv12 ! fakesink silent=false"
  "default-format|||-v $src ! fakesink"
  "png||videoconvertscale png identify convert|$src ! video/x-raw,format=BGR,width=640,height=480 ! videoconvert ! pngenc snapshot=true ! filesink location=$work/f.png"
  "y4m||videoconvertscale y4menc ffmpeg|$src ! $nv12 ! videoconvert ! video/x-raw,format=I420 ! y4menc ! filesink location=$work/o.y4m"
  # The scene's Bayer order is RGGB; 640 is a multiple of 64, so bayer2rgb's own stride matches the buffer's.
  "bayer||bayer videoconvertscale png multifile identify|$src ! video/x-bayer,format=rggb ! bayer2rgb ! videoconvert ! pngenc ! multifilesink location=$work/b%02d.png"
  "dmabuf-event|||-v $src buf-mode=event use-dmabuf=true ! $nv12 ! fakesink silent=false"
  "copy|||-v $src buf-mode=copy use-dmabuf=false ! $nv12 ! fakesink silent=false"
  "frame-errors|NORVA_SIM_ERROR_EVERY=10 GST_DEBUG=norvasrc:2||-v $src restart-on-error=true ! $nv12 ! fakesink silent=false"
)

check_smoke() { expect_buffers "$1" 30 "$metas"; }
check_histogram() { expect_buffers "$1" 30 "$metas, GstNorvaBrightnessHistMeta"; }
# Unconstrained, the first format the element offers: "BGR" (the ISP's RGB_888_24) at the sensor's full size.
check_default-format() {
  expect_line "caps = video/x-raw, format=(string)BGR, framerate=(fraction)30/1, width=(int)640, height=(int)480" "$1"
}
check_png() {
  norva_outside identify -format '%w %h\n' "$work/f.png" >"$1.size" 2>&1
  expect_line "640 480" "$1.size"
  # The red patch (the first colour patch of the scene, in the third band) is red: the ISP's RGB_888_24 arrives
  # as "BGR", not with red and blue swapped.
  norva_outside convert "$work/f.png" -format '%[fx:int(255*p{53,300}.r)] %[fx:int(255*p{53,300}.g)] %[fx:int(255*p{53,300}.b)]' info: >"$1.red" 2>&1
  read -r r g b <"$1.red" || true
  [ -n "${b:-}" ] && [ "$r" -gt $((2 * g)) ] && [ "$r" -gt $((2 * b)) ] || fail "png: red patch is $(cat "$1.red")"
}
check_y4m() {
  norva_outside ffmpeg -hide_banner -nostdin -i "$work/o.y4m" -f null - >"$1.ffmpeg" 2>&1 || fail "ffmpeg cannot read o.y4m"
  expect_line "yuv420p" "$1.ffmpeg"
  expect_line "640x480" "$1.ffmpeg"
  grep -qE "frame= *30 " "$1.ffmpeg" || fail "y4m: ffmpeg did not read 30 frames"
}
check_bayer() {
  local n
  n=$(ls "$work"/b*.png 2>/dev/null | wc -l)
  [ "$n" -eq 30 ] || fail "bayer: $n PNG files, expected 30"
  norva_outside identify -format '%w %h\n' "$work/b29.png" >"$1.size" 2>&1
  expect_line "640 480" "$1.size"
}
check_dmabuf-event() {
  grep -F "dmabuf_event" "$1" >"$1.event"
  expect_count 1 "dmabuf_event, buffer_size=(uint)" "$1.event"
  expect_line "seq-num=(uint)0" "$1.event"
  expect_buffers "$1" 30 "$metas"
}
# Copies in system memory keep every record, the current brightness included (copied by the element itself:
# it has no transform of its own).
check_copy() { expect_buffers "$1" 30 "$metas" any; }
check_frame-errors() {
  expect_line "Got erroneous shot" "$1"
  expect_line "Restarting capture" "$1"
  expect_buffers "$1" 30 "$metas"
  # Every erroneous shot reaches fakesink flagged CORRUPTED, and no other buffer is.
  local corrupted erroneous
  corrupted=$(grep -c " corrupted " "$1.chain" || true)
  erroneous=$(grep -c "Got erroneous shot" "$1" || true)
  [ "$corrupted" -ge 2 ] && [ "$corrupted" -eq "$erroneous" ] ||
    fail "frame-errors: $corrupted corrupted buffers, $erroneous erroneous shots"
}

for row in "${pipelines[@]}"; do
  IFS='|' read -r name environment needs pipeline <<<"$row"
  missing=""
  for need in $needs; do
    norva_gst_has "$need" || command -v "$need" >/dev/null || missing="$missing $need"
  done
  if [ -n "$missing" ]; then
    echo "SKIP $name:$missing missing"
    continue
  fi
  out="$work/$name.txt"
  before=$failures
  # shellcheck disable=SC2086
  eval "env $environment gst-launch-1.0 $pipeline" >"$out" 2>&1 || fail "$name: the pipeline failed"
  expect_line 'Got EOS from element "pipeline0".' "$out"
  "check_$name" "$out"
  if [ "$failures" -eq "$before" ]; then
    echo "ok   $name"
  else
    echo "--- $name output ---"
    grep -v "last-message = chain" "$out" | head -40
  fi
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "PASS"
