#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test; then, where clang is present, a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAL_SANITIZE=ON -DTAL_WERROR=ON
cmake --build build-asan -j "$jobs"
(cd build-asan && ctest -j "$jobs" --output-on-failure)
scripts/ct.sh
if [ -x fuzz/run.sh ] && command -v clang++ >/dev/null; then
  fuzz/run.sh
fi
