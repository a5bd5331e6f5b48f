#!/usr/bin/env bash
# The background refresh's threads under ThreadSanitizer: a clang build of the
# libraries and of the refresh test with -fsanitize=thread (its own folder, as
# no object is shared with the ASan build), then that test. Not part of
# scripts/test.sh: the whole library compiles once more for it (minutes).
#   scripts/tsan.sh [DIR]   build folder (default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-tsan}
gen=()
if [ ! -f "$out/CMakeCache.txt" ] && command -v ninja >/dev/null; then gen=(-G Ninja); fi
opt="-O1 -gline-tables-only"
cmake "${gen[@]}" -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS_RELWITHDEBINFO="$opt" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$opt" >/dev/null
cmake --build "$out" -j "${BUILD_JOBS:-$(nproc)}" --target api_netrefresh
# The tests fork children that start threads while the parent's test server runs.
TSAN_OPTIONS="die_after_fork=0 halt_on_error=1 ${TSAN_OPTIONS:-}" "$out/tests/api/api_netrefresh"
