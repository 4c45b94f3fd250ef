#!/usr/bin/env bash
# Builds the monitor and runs it.
#   run.sh                 against the built-in ECU simulator (no car needed), cat mode
#   run.sh --log FILE      the same, recording the drive to FILE (m marks a row)
#   run.sh PORT [c] [--log FILE]  against a real car: PORT is /dev/ttyUSB0 or a number N (/dev/ttyS{N-1})
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

if [ $# -gt 0 ] && [ "${1#--log}" = "$1" ]; then
  exec "$root/build/tarnwickdialer" "$@"
fi
if [ -x "$root/build/ecusim" ]; then
  exec "$root/build/ecusim" -- "$root/build/tarnwickdialer" '{port}' c "$@"
fi
exec "$root/build/tarnwickdialer"
