#!/usr/bin/env bash
# Runs the GStreamer tools against the built plug-in with a fresh registry.
#   gst_tools_test.sh inspect|launch|stream PLUGIN_DIR [SCENE_WRITER]
# The registry holds only the plug-in and GStreamer's core elements. NORVA_GST_PRELOAD names runtime libraries
# to preload into the tools (the sanitizer runtimes when the plug-in is built with sanitizers); the registry is
# then scanned in-process so that the preload applies.
set -euo pipefail

mode=$1
plugin_dir=$2
scene_writer=${3:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The registry (the plug-in, core elements, conversion and PNG encoding for the image checks where installed), the
# preload and the helpers fail, expect_line and expect_count.
# shellcheck source=gst_tools_env.sh
source "$(dirname "$(realpath "$0")")/gst_tools_env.sh"
norva_gst_env "$work" "$plugin_dir" videoconvertscale png multifile

# The element properties listed by gst-inspect, one block per property, without those named in $2.
properties() { # inspect-output "base property names"
  sed -n '/^Element Properties:/,/^Element Signals:/p' "$1" | sed '1d;$d' |
    awk -v skip=" $2 " '/^  [a-z0-9-]+ *: / { name = $1; keep = index(skip, " " name " ") == 0 } keep'
}
# The six signals of norvasrc: two signals and four actions.
expect_signals() { # inspect-output
  sed -n '/^Element Signals:/,/^Element Actions:/p' "$1" | tr -s ' \n' ' ' >"$work/signals.txt"
  expect_line '"image-ready" : void user_function (GstElement* object, gboolean arg0, gpointer user_data);' "$work/signals.txt"
  expect_line '"sensor-row-time" : void user_function (GstElement* object, guint64 arg0, gpointer user_data);' "$work/signals.txt"
  expect_count 2 "user_function" "$work/signals.txt"
  sed -n '/^Element Actions:/,$p' "$1" | tr -s ' \n' ' ' >"$work/actions.txt"
  expect_line '"set-exposure-auto-gain-range" : void user_function (GstElement* object, gfloat arg0, gfloat arg1);' "$work/actions.txt"
  expect_line '"set-exposure-auto-time-range" : void user_function (GstElement* object, guint arg0, guint arg1);' "$work/actions.txt"
  expect_line '"take-nrv-image" : void user_function (GstElement* object, gchararray arg0, gchararray arg1, guint arg2);' "$work/actions.txt"
  expect_line '"set-fvalue-window" : gboolean user_function (GstElement* object, gfloat arg0, gfloat arg1, gfloat arg2, gfloat arg3);' "$work/actions.txt"
  expect_count 4 "user_function" "$work/actions.txt"
}

case "$mode" in
inspect)
  gst-inspect-1.0 --plugin norvasrc >"$work/plugin.txt" 2>&1 || fail "plug-in does not load: $(cat "$work/plugin.txt")"
  expect_line "Version                  0.1" "$work/plugin.txt"
  expect_line "License                  Proprietary" "$work/plugin.txt"
  expect_line "norvasrc: Norva video source" "$work/plugin.txt"
  grep -q "norvaproxysrc" "$work/plugin.txt" && fail "norvaproxysrc listed as a feature"

  nm -D --defined-only "$plugin_dir/libnorvasrc.so" >"$work/symbols.txt"
  expect_line " T gst_plugin_norvasrc_get_desc" "$work/symbols.txt"
  expect_line " T gst_plugin_norvasrc_register" "$work/symbols.txt"
  grep -q " plugin_init$" "$work/symbols.txt" && fail "plugin_init is exported"

  if gst-inspect-1.0 --exists norvaproxysrc; then fail "norvaproxysrc exists as a factory"; fi
  if gst-inspect-1.0 norvaproxysrc >/dev/null 2>&1; then fail "norvaproxysrc can be inspected"; fi

  gst-inspect-1.0 norvasrc >"$work/element.txt" 2>&1 || fail "inspecting norvasrc failed"
  expect_line "Long-name                Norva video source" "$work/element.txt"
  expect_line "Klass                    Source/Video" "$work/element.txt"
  expect_line "Description              Reads frames from ISP" "$work/element.txt"
  expect_line "SRC template: 'src'" "$work/element.txt"
  expect_line "Availability: Always" "$work/element.txt"
  expect_line "format: { (string)BGRx, (string)RGBx, (string)BGR, (string)RGB, (string)v308, (string)NV12, (string)NV21, (string)NV16, (string)NV61, (string)NV12_10LE32 }" "$work/element.txt"
  expect_line "format: { (string)rggb, (string)grbg, (string)gbrg, (string)bggr, (string)rggb10nrv, (string)grbg10nrv, (string)gbrg10nrv, (string)bggr10nrv, (string)rggb12nrv, (string)grbg12nrv, (string)gbrg12nrv, (string)bggr12nrv }" "$work/element.txt"
  expect_count 2 "format: {" "$work/element.txt"
  expect_count 36 "changeable in NULL, READY, PAUSED or PLAYING state" "$work/element.txt"
  expect_count 1 "changeable only in NULL, READY or PAUSED state" "$work/element.txt"
  # Properties: the 61 of the element beside the six of the base source.
  n=$(sed -n '/^Element Properties:/,/^Element Signals:/p' "$work/element.txt" | grep -cE '^  [a-z0-9-]+ *: ' || true)
  [ "$n" -eq 67 ] || fail "$n properties listed, expected 67"
  expect_line 'Enum "GstNorvasrcAwbMode" Default: 1, "average"' "$work/element.txt"
  expect_line '(2): white            - White patch' "$work/element.txt"
  expect_line '(1): FREE50           - 50 Hz flicker free' "$work/element.txt"
  expect_line 'GstValueArray of GValues of type "gint"' "$work/element.txt"

  expect_signals "$work/element.txt"

  # norvamultisrc: a bin with request pads of its own pad type, norvasrc's element properties, pad properties
  # and signals.
  expect_line "norvamultisrc: Norva video multisource" "$work/plugin.txt"
  expect_line " 2 features:" "$work/plugin.txt"
  gst-inspect-1.0 norvamultisrc >"$work/multi.txt" 2>&1 || fail "inspecting norvamultisrc failed"
  expect_line "Rank                     none (0)" "$work/multi.txt"
  expect_line "Long-name                Norva video multisource" "$work/multi.txt"
  expect_line "Description              Reads frames from ISP with support of multiple sources" "$work/multi.txt"
  expect_line "SRC template: 'src_%u'" "$work/multi.txt"
  expect_line "Availability: On request" "$work/multi.txt"
  expect_line "Type: GstNorvaMultiSrcPad" "$work/multi.txt"
  sed -n "/^    Capabilities:/,/^    Type:/p" "$work/multi.txt" | grep -q "^      ANY$" || fail "src_%u caps are not ANY"
  sed -n '/^    Pad Properties:/,/^Element Flags:/p' "$work/multi.txt" | grep -oE '^      [a-z-]+ +:' | tr -d ' :' |
    sort | tr '\n' ' ' >"$work/padprops.txt"
  expect_line "bounds-height bounds-width bounds-x bounds-y buf-mode context current-context dmabuf-fd-list dmabuf-size " \
    "$work/padprops.txt"
  expect_line 'Use specified context (-1: select automatically)' "$work/multi.txt"
  # The bin's own properties are norvasrc's, definition for definition (name, blurb, flags, type, default).
  properties "$work/element.txt" "name parent blocksize num-buffers typefind do-timestamp" >"$work/src-props.txt"
  properties "$work/multi.txt" "name parent async-handling message-forward" >"$work/multi-props.txt"
  n=$(grep -cE '^  [a-z0-9-]+ *: ' "$work/multi-props.txt" || true)
  [ "$n" -eq 61 ] || fail "norvamultisrc has $n properties of norvasrc, expected 61"
  diff "$work/src-props.txt" "$work/multi-props.txt" >"$work/props-diff.txt" || fail "properties differ from norvasrc's"
  expect_signals "$work/multi.txt"
  ;;
launch)
  # An enumeration value that does not exist is refused while the pipeline is parsed.
  if gst-launch-1.0 norvasrc awb-mode=bogus ! fakesink >"$work/launch.txt" 2>&1; then
    fail "pipeline with awb-mode=bogus succeeded"
  fi
  expect_line 'could not set property "awb-mode" in element "norvasrc' "$work/launch.txt"
  expect_line 'to "bogus"' "$work/launch.txt"
  ;;
stream)
  # The data generator plays a scene named by the parameter file; the pipeline runs to EOS.
  "$scene_writer" "$work/scene.nrv" 640 480 2
  echo "// no settings" >"$work/setup.txt"
  echo "-IntDG0_inputNRV $work/scene.nrv -IntDG0_gasket 0 -CT0_setupFile $work/setup.txt -CT0_nBuffers 4 -CT0_nPreenqBuffers 1 -CT0_AE 1" >"$work/params"
  export GST_NORVASRC_PARAMS_FILE="$work/params"
  gst-launch-1.0 -v norvasrc sensor="DOR Idazida" num-buffers=30 ! fakesink silent=false >"$work/stream.txt" 2>&1 ||
    fail "pipeline failed"
  expect_line 'Got EOS from element "pipeline0".' "$work/stream.txt"
  expect_line "format=(string)BGR, framerate=(fraction)30/1, width=(int)640, height=(int)480" "$work/stream.txt"
  expect_count 30 "duration: 0:00:00.033333333" "$work/stream.txt"
  expect_line "offset: 29, offset_end: 30" "$work/stream.txt"

  # norvamultisrc with two branches of different formats runs to EOS in the default buffer mode, where the branches
  # show the capture buffers themselves: the second pad to negotiate configures a second output while frames are
  # already on their way, and the sink of each branch holds its first frame until the pipeline plays, which it
  # does only once both sinks have one. A branch that a loaded machine runs late may lose frames to the
  # free-buffer rule here; the copy-mode run below checks that every frame reaches each branch.
  gst-launch-1.0 -m norvamultisrc name=m sensor="DOR Idazida" \
    m.src_0 ! queue ! video/x-raw,format=NV12,width=640,height=480 ! identity eos-after=30 ! fakesink \
    m.src_1 ! queue ! video/x-raw,format=BGRx,width=320,height=240 ! identity eos-after=30 ! fakesink \
    >"$work/multi-pass.txt" 2>&1 || fail "two-branch pipeline in pass mode failed"
  expect_line 'Got EOS from element "pipeline0".' "$work/multi-pass.txt"
  grep -q "^ERROR" "$work/multi-pass.txt" && fail "two-branch pipeline in pass mode reported an error"

  # The same in copy mode; each branch receives every frame in order (identity reports a gap in the offsets as
  # "imperfect-offset"). Eight capture buffers leave room for a branch that a loaded machine runs late (with
  # fewer, the free-buffer rule drops its frame). The GstCheck suite compares the offsets across branches.
  gst-launch-1.0 -m norvamultisrc name=m sensor="DOR Idazida" buf-mode=copy alloc-buffers=8 \
    m.src_0 ! queue ! video/x-raw,format=NV12,width=640,height=480 ! identity eos-after=10 check-imperfect-offset=true ! fakesink \
    m.src_1 ! queue ! video/x-raw,format=BGRx,width=320,height=240 ! identity eos-after=10 check-imperfect-offset=true ! fakesink \
    >"$work/multi.txt" 2>&1 || fail "two-branch pipeline failed"
  expect_line 'Got EOS from element "pipeline0".' "$work/multi.txt"
  grep -q "imperfect-offset" "$work/multi.txt" && fail "a branch skipped a frame"

  # The second branch on the slave context; a PNG of each branch, of a one-frame scene at a fixed exposure and
  # fixed white-balance gains, so that both branches show the same scene whichever frame they start with. The
  # ninth frame of each branch is compared: the first frames of a context that just started may still differ.
  "$scene_writer" "$work/still.nrv" 640 480 1
  sed -i "s|$work/scene.nrv|$work/still.nrv|" "$work/params"
  sed -i 's|$| -sensorNumber 2 -CT0_sensor DOR -CT0_sensorMode 0 -CT1_sensor DOR -CT1_sensorMode 0 -CT1_imager 0 -CT1_nBuffers 4 -CT1_nPreenqBuffers 1 -CT1_setupFile '"$work/setup.txt"'|' "$work/params"
  if [ -e "$work/plugins/libgstpng.so" ] && [ -e "$work/plugins/libgstvideoconvertscale.so" ] && [ -e "$work/plugins/libgstmultifile.so" ] &&
    command -v identify >/dev/null && command -v convert-im6.q16 >/dev/null; then
    gst-launch-1.0 norvamultisrc name=m sensor="DOR Idazida" buf-mode=copy exposure-auto=false exposure-time=15000 awb-enable=false \
      src_1::context=1 \
      m.src_0 ! queue ! video/x-raw,format=NV12,width=640,height=480 ! identity eos-after=10 ! videoconvert ! pngenc ! multifilesink location="$work/main_%02d.png" \
      m.src_1 ! queue ! video/x-raw,format=BGRx,width=320,height=240 ! identity eos-after=10 ! videoconvert ! pngenc ! multifilesink location="$work/slave_%02d.png" \
      >"$work/png.txt" 2>&1 || fail "PNG pipeline failed"
    # identity ends each branch after its ninth frame; the last file of each is that frame.
    mv "$work/main_08.png" "$work/main.png" && mv "$work/slave_08.png" "$work/slave.png" || fail "a branch ended early"
    (unset LD_PRELOAD; identify -format '%w %h\n' "$work/main.png" "$work/slave.png") >"$work/sizes.txt" 2>&1
    expect_line "640 480" "$work/sizes.txt"
    expect_line "320 240" "$work/sizes.txt"
    # Both show the scene: neither is flat, and the main image scaled down is close to the slave's (RMSE about
    # 0.04; the slave's own mirror image is about 0.25 away, a flat grey about 0.44).
    rmse=$(unset LD_PRELOAD; convert-im6.q16 "$work/main.png" -resize 320x240 "$work/slave.png" -metric RMSE -compare -format '%[distortion]' info: 2>&1)
    awk -v d="$rmse" 'BEGIN { exit !(d < 0.1) }' || fail "branch images differ: RMSE $rmse"
    for f in main slave; do
      sd=$(unset LD_PRELOAD; identify -format '%[fx:standard_deviation]' "$work/$f.png")
      awk -v d="$sd" 'BEGIN { exit !(d > 0.05) }' || fail "$f.png is flat"
    done
  else
    echo "SKIP: PNG check (videoconvert, pngenc, multifilesink or ImageMagick missing)"
  fi

  # A sensor nobody knows: the context cannot be configured, the debug detail names the sensor, and the exit
  # status fails.
  if gst-launch-1.0 norvasrc sensor=no-such-sensor num-buffers=1 ! fakesink >"$work/unknown.txt" 2>&1; then
    fail "pipeline with an unknown sensor succeeded"
  fi
  expect_line 'GstNorvasrc:norvasrc0: Failed to configure context 0' "$work/unknown.txt"
  expect_line 'Unknown sensor "no-such-sensor".' "$work/unknown.txt"
  ;;
*)
  echo "unknown mode $mode"
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "--- output ---"
  cat "$work"/*.txt 2>/dev/null | head -400
  exit 1
fi
echo "PASS: $mode"
