# Sourced by the scripts that run the GStreamer tools against the built plug-in (bash).
#   norva_gst_env WORK PLUGIN_DIR [SYSTEM_PLUGIN...]
# A fresh registry in WORK holding only the plug-in, GStreamer's core elements and the named system plug-ins that
# are installed (file names without "libgst" and ".so"). NORVA_GST_PRELOAD names runtime libraries to preload into
# the tools (the sanitizer runtimes when the plug-in is built with sanitizers); the registry is then scanned
# in-process so that the preload applies. Programs run beside the tools (ImageMagick, ffmpeg) go through
# `norva_outside`, without the preload.
norva_gst_env() {
  local work=$1 plugin_dir=$2 name
  shift 2
  local core_dir
  core_dir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
  mkdir -p "$work/plugins"
  ln -sf "$(realpath "$plugin_dir")/libnorvasrc.so" "$core_dir/libgstcoreelements.so" "$work/plugins/"
  for name in "$@"; do
    if [ -e "$core_dir/libgst$name.so" ]; then
      ln -sf "$core_dir/libgst$name.so" "$work/plugins/"
    fi
  done
  export GST_REGISTRY="$work/registry.bin"
  export GST_PLUGIN_SYSTEM_PATH_1_0=""
  export GST_PLUGIN_PATH_1_0="$work/plugins"
  export NORVA_PLATFORM=sim
  if [ -n "${NORVA_GST_PRELOAD:-}" ]; then
    export LD_PRELOAD="$NORVA_GST_PRELOAD"
    export GST_REGISTRY_FORK=no
    # The tools are not built with the sanitizers; their own allocations at exit are not ours to report.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
  fi
}

# Whether a system plug-in was put into the registry by norva_gst_env.
norva_gst_has() { [ -e "$GST_PLUGIN_PATH_1_0/libgst$1.so" ]; }

# Runs a program that is not a GStreamer tool, without the preloaded runtimes.
norva_outside() { env -u LD_PRELOAD "$@"; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
expect_line() { # text file
  grep -qF -- "$1" "$2" || fail "missing: $1"
}
expect_count() { # count text file
  local n
  n=$(grep -oF -- "$2" "$3" | wc -l)
  [ "$n" -eq "$1" ] || fail "'$2' appears $n times, expected $1"
}
