#!/usr/bin/env bash
# The benchmarks as their figures are meant: a Release build of the library and the benchmark
# programs alone (no tests, no sanitizers) in build-release, then each program run in turn.
#   scripts/bench.sh [bench_NAME...] [-- BENCHMARK-OPTIONS...]   default: every program
# BUILD_JOBS sets the build's parallel jobs (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-release
names=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  names+=("$1")
  shift
done
[ $# -gt 0 ] && shift  # the "--"
gen=()
if [ ! -f "$out/CMakeCache.txt" ] && command -v ninja >/dev/null; then gen=(-G Ninja); fi
cmake "${gen[@]}" -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DTAL_TESTS=OFF -DTAL_BENCH=ON \
  >/dev/null
targets=()
if [ ${#names[@]} -eq 0 ]; then
  targets=(--target benchmarks)
else
  for n in "${names[@]}"; do targets+=(--target "$n"); done
fi
cmake --build "$out" -j "${BUILD_JOBS:-$(nproc)}" "${targets[@]}"
if [ ${#names[@]} -eq 0 ]; then
  for p in "$out"/bench/bench_*; do
    [ -f "$p" ] && [ -x "$p" ] && names+=("$(basename "$p")")
  done
fi
[ ${#names[@]} -gt 0 ] || { echo "no benchmark programs (Google Benchmark or libcrypto missing?)" >&2; exit 1; }
for n in "${names[@]}"; do
  echo "=== $n"
  "$out/bench/$n" "$@"
done
