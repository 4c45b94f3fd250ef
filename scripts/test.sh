#!/usr/bin/env bash
# Builds everything and runs every test: unit, end to end, the Windows build
# under Wine, the ARM builds under qemu-user, and the packages (the test
# `package`, which also cross-builds for 32-bit Windows and macOS).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
# With MinGW-w64 installed this also cross-builds the Windows program and its
# unit tests (build-test/tests/windows/win/), which ctest runs under Wine.
cmake -S . -B build-test -DTD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-test -j"$jobs"

ctest --test-dir build-test --output-on-failure -j"$jobs" "$@"
