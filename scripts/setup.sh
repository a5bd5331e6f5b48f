#!/usr/bin/env bash
# Fresh machine: install what is missing, then build the library, tests and benchmarks.
# BUILD_JOBS sets the build's parallel jobs (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "${BUILD_JOBS:-$(nproc)}"
