#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need, when any is missing.
# The one list of the project's packages; later work adds to it here.
PACKAGES=(
  cmake g++ make pkg-config python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  libgpiod-dev libdrm-dev
  ffmpeg
  clang libclang-rt-14-dev clang-format-14
)

norva_install_deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}
