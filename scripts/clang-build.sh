#!/usr/bin/env bash
# The one test build: clang with AddressSanitizer and UndefinedBehaviorSanitizer,
# warnings as errors, the libraries with libFuzzer's coverage hooks, so its
# objects serve the unit tests, the benchmarks and the fuzz targets alike.
# Debug information is line tables only: enough for the sanitizers' and
# libFuzzer's stack traces, and a fifth less compile time than full -g.
#   scripts/clang-build.sh DIR [TARGET...]   configure DIR if needed, build TARGETs (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1
shift
gen=()
if [ ! -f "$out/CMakeCache.txt" ] && command -v ninja >/dev/null; then gen=(-G Ninja); fi
opt="-O2 -gline-tables-only -DNDEBUG"
cmake "${gen[@]}" -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS_RELWITHDEBINFO="$opt" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$opt" -DTAL_SANITIZE=ON -DTAL_WERROR=ON -DTAL_FUZZ=ON >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$out" -j "${BUILD_JOBS:-$(nproc)}" "${targets[@]}"
