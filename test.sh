#!/usr/bin/env bash
# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer, then every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
norva_install_deps

jobs=$(nproc)
cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug -DNORVA_SANITIZE=ON -DNORVA_WERROR=ON >/dev/null
cmake --build build/debug -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export NORVA_PLATFORM=sim
cd build/debug
ctest --output-on-failure -j"$jobs" "$@"
