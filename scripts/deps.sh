#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need, when any is missing.
# The one list of the project's packages, each with what it is for; later work adds to it here.
PACKAGES=(
  "cmake:the build"
  "g++:the build"
  "make:the build"
  "pkg-config:the build (finds GStreamer)"
  "python3:test helpers"
  "libgtest-dev:the tests"
  "libgmock-dev:the tests"
  "libbenchmark-dev:the benchmarks"
  "libgstreamer1.0-dev:the GStreamer elements"
  "libgstreamer-plugins-base1.0-dev:the GStreamer elements"
  "gstreamer1.0-tools:the GStreamer elements"
  "gstreamer1.0-plugins-base:the GStreamer elements"
  "gstreamer1.0-plugins-good:the GStreamer elements"
  "gstreamer1.0-plugins-bad:the GStreamer elements"
  "libgpiod-dev:the board's sensor control"
  "libdrm-dev:dmabuf buffers"
  "ffmpeg:PNG images of the main job"
  "clang:the fuzz targets and the ThreadSanitizer build"
  "libclang-rt-14-dev:the fuzz targets and the ThreadSanitizer build"
  "clang-format-14:the formatting check of .ci/run"
  "netpbm:the image-format tests (reference reader and writer)"
  "imagemagick:the image-format tests (reference reader and writer)"
  "python3-pil:the image-format tests (reference reader and writer)"
  "python3-numpy:the image-format tests (reference reader and writer)"
)

# Waits until no other package manager holds the dpkg/apt locks, at most NORVA_APT_WAIT seconds (120).
norva_wait_for_apt() {
  local limit=${NORVA_APT_WAIT:-120} waited=0 said=""
  local locks=(/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock)
  command -v fuser >/dev/null 2>&1 || return 0
  while fuser "${locks[@]}" >/dev/null 2>&1; do
    if [ "$waited" -ge "$limit" ]; then
      echo "deps.sh: another package manager still holds the apt/dpkg lock after ${limit} s; try again later" >&2
      return 1
    fi
    if [ -z "$said" ]; then
      echo "deps.sh: another package manager is running; waiting for it (at most ${limit} s)"
      said=1
    fi
    sleep 2
    waited=$((waited + 2))
  done
}

norva_install_deps() {
  local missing=() entry p
  for entry in "${PACKAGES[@]}"; do
    p=${entry%%:*}
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$entry")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "deps.sh: installing ${#missing[@]} missing package(s):"
  local names=()
  for entry in "${missing[@]}"; do
    echo "  ${entry%%:*} (for ${entry#*:})"
    names+=("${entry%%:*}")
  done
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  norva_wait_for_apt || return 1
  # apt itself also waits for the lock, for the same bounded time, should another install start meanwhile.
  local wait=(-o DPkg::Lock::Timeout="${NORVA_APT_WAIT:-120}")
  $sudo apt-get "${wait[@]}" update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get "${wait[@]}" install -y -qq --no-install-recommends "${names[@]}" \
    >/dev/null
}
