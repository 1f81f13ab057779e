#!/usr/bin/env bash
# Release build, then the main job: the most complete end-to-end program the project has.
# Arguments go to the program (see ./run.sh --help); a relative output folder is relative to where you are.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
source "$root/scripts/deps.sh"
norva_install_deps

cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DNORVA_WERROR=ON -DNORVA_BUILD_TESTS=OFF \
  -DNORVA_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build/release" -j"$(nproc)" >/dev/null
export NORVA_PLATFORM=${NORVA_PLATFORM:-sim}
exec "$root/build/release/tools/norva_run" "$@"
