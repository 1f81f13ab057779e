#!/usr/bin/env bash
# Calibrates a sensor of the simulated board again: a Release build of the calibration tool (tools/norva_calibrate),
# then the tool run from the repository's root, so that the setup file it writes into data/setup names its grid
# files as data/setup/<name>/lsh_<kelvin>K.lsh. Arguments go to the tool before the output folder, for example
#   scripts/calibrate.sh                                   # the OV4689 at position 0, as committed
#   scripts/calibrate.sh --sensor IMX219_0 --mode 1        # another sensor (NORVA_SIM_SENSORS plugs it in)
# See `scripts/calibrate.sh --help` for the options.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"

sensor=OV4689_0
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
  -h | --help) help=1 ;;
  --sensor) sensor=${args[i + 1]:-$sensor} ;;
  esac
done

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNORVA_WERROR=ON -DNORVA_BUILD_TESTS=OFF \
  -DNORVA_BUILD_BENCH=OFF >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --build "$build" -j"${NORVA_JOBS:-$(nproc)}" --target norva_calibrate >"$log" 2>&1; then
  cat "$log"
  echo "calibrate.sh: the Release build failed: see the compiler's messages above" >&2
  exit 1
fi
if [ -n "${help:-}" ]; then
  exec "$build/tools/norva_calibrate" --help
fi

cd "$root"
export NORVA_PLATFORM=sim
# The board carries the sensor being calibrated, unless the caller has plugged in sensors of their own.
export NORVA_SIM_SENSORS="${NORVA_SIM_SENSORS:-$sensor}"
"$build/tools/norva_calibrate" "$@" data/setup
