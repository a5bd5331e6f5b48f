#!/usr/bin/env bash
# Constant-time tests: builds the ct_* programs without sanitizers (valgrind
# cannot run sanitised code) and runs each under memcheck.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${CT_BUILD:-build-ct}
ls tests/ct/ct_*.cpp >/dev/null 2>&1 || exit 0
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAL_WERROR=ON -DTAL_BENCH=OFF -DTAL_CT_CHECK=ON >/dev/null
cmake --build "$out" -j "$(nproc)" --target ct_all
(cd "$out" && ctest -L ct -j "$(nproc)" --output-on-failure)
