#!/usr/bin/env bash
# Constant-time tests: builds the ct_* programs and only the libraries they
# need, optimised, without sanitizers (valgrind cannot run sanitised code), with
# g++ as the release build (constant time depends on the compiler), and runs
# each under memcheck. Then, in the same build, the cost check: the bound on
# libxml2's work for a signed document's XPointer and XPath filter expressions
# against the instructions callgrind counts (its table in $out/cost-table.txt).
# Last, the hostile receipts through the example verifier of the same build
# (scripts/hostile-receipts.py: each bounded in processor time and memory, which
# sanitizers would distort; a hang is killed at 300 s).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${CT_BUILD:-build-ct}
ls tests/ct/ct_*.cpp >/dev/null 2>&1 || exit 0
# Without valgrind the tests would not exist, and an empty run must not pass as a clean one.
command -v valgrind >/dev/null || { echo "ct.sh: valgrind is needed" >&2; exit 1; }
gen=()
if [ ! -f "$out/CMakeCache.txt" ] && command -v ninja >/dev/null; then gen=(-G Ninja); fi
cmake "${gen[@]}" -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DTAL_WERROR=ON -DTAL_BENCH=OFF -DTAL_CT_VALGRIND=ON >/dev/null
cmake --build "$out" -j "${BUILD_JOBS:-$(nproc)}" --target ct_all cost_xpointer verify_upo
(cd "$out" && ctest -L ct -j "${BUILD_JOBS:-$(nproc)}" --no-tests=error --output-on-failure)
# Runs its own callgrind processes, one per core (COST_JOBS to choose, else BUILD_JOBS).
[ -n "${BUILD_JOBS:-}" ] && export COST_JOBS=${COST_JOBS:-$BUILD_JOBS}
(cd "$out" && ctest -L cost --no-tests=error --output-on-failure) ||
  { echo "ct.sh: the cost check failed, table in $out/cost-table.txt" >&2; exit 1; }
python3 scripts/hostile-receipts.py "$out/examples/verify_upo" </dev/null
