#!/usr/bin/env bash
# Release build, then the main job: the most complete end-to-end program the project has.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
norva_install_deps

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
export NORVA_PLATFORM=${NORVA_PLATFORM:-sim}
exec build/release/tools/norva_run "$@"
