#!/usr/bin/env bash
# Builds the monitor and runs it.
#   run.sh                 against the built-in ECU simulator (no car needed), cat mode
#   run.sh --log FILE      the same, recording the drive to FILE (m marks a row)
#   run.sh PORT [c] [--log FILE]  against a real car: PORT is /dev/ttyUSB0 or a number N (/dev/ttyS{N-1})
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --run

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

if [ $# -gt 0 ] && [ "${1#--log}" = "$1" ]; then
  exec build/tarnwickdialer "$@"
fi
if [ -x build/ecusim ]; then
  exec build/ecusim -- build/tarnwickdialer '{port}' c "$@"
fi
exec build/tarnwickdialer
