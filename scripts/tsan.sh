#!/usr/bin/env bash
# The thread tests under ThreadSanitizer: a clang build of only what they need (the library,
# tests/api/test_threads.cpp and the background refresh's test) in its own folder, then the
# runs. Kept out of scripts/test.sh: a ThreadSanitizer build of the library costs a full
# compile of its own.
#   scripts/tsan.sh [DIR]   (default build-tsan; BUILD_JOBS caps the compile jobs)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-tsan}
gen=()
if [ ! -f "$out/CMakeCache.txt" ] && command -v ninja >/dev/null; then gen=(-G Ninja); fi
opt="-O1 -gline-tables-only"
cmake "${gen[@]}" -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS_RELWITHDEBINFO="$opt" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$opt" -DTAL_TSAN=ON -DTAL_WERROR=ON -DTAL_BENCH=OFF >/dev/null
cmake --build "$out" -j "${BUILD_JOBS:-$(nproc)}" --target api_threads api_netrefresh
# Any report fails the run. The refresh tests fork children that start threads while the
# parent's test server runs.
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$out/tests/api/api_threads"
TSAN_OPTIONS="die_after_fork=0 halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" \
  "$out/tests/api/api_netrefresh"
