#!/usr/bin/env bash
# Builds the monitor and runs it.
#   run.sh                 against the built-in ECU simulator (no car needed), cat mode
#   run.sh --log FILE      the same, recording the drive to FILE (m marks a row);
#                          the monitor's other options (--beep, --mono) too
#   run.sh PORT [c] [--log FILE]  against a real car: PORT is /dev/ttyUSB0 or a number N (/dev/ttyS{N-1})
#   run.sh --report FILE.csv      the monitor alone (also --help, --list, --version)
set -euo pipefail
# The build happens in the tree; the programs run where the user stands, so
# that a relative --log FILE lands there.
here=$PWD
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh --run

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
cd "$here"

# A port among the arguments, or an option that opens none: the monitor
# alone. Otherwise (options only) against the simulator.
alone=0
expect_value=0
for arg in "$@"; do
  if [ $expect_value -eq 1 ]; then expect_value=0; continue; fi
  case "$arg" in
    --log) expect_value=1 ;;
    --log=*|--beep|--mono) ;;
    *) alone=1 ;;
  esac
done
if [ $alone -eq 1 ]; then
  exec "$root/build/tarnwickdialer" "$@"
fi
if [ -x "$root/build/ecusim" ]; then
  exec "$root/build/ecusim" -- "$root/build/tarnwickdialer" '{port}' c "$@"
fi
exec "$root/build/tarnwickdialer"
