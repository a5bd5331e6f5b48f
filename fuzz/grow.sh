#!/usr/bin/env bash
# Grows the committed corpora: runs each named target (all by default) for
# SECONDS into a scratch corpus seeded with fuzz/corpus/<name>/, then merges
# into fuzz/corpus/<name>/ only the inputs that add coverage (libFuzzer's
# -merge=1; the inputs already there stay). Prints coverage and features of
# the committed corpus before and after.
#   fuzz/grow.sh [-s SECONDS] [NAME...]     (SECONDS default 150)
#   FUZZ_BUILD as in fuzz/run.sh
#   FUZZ_TIMEOUT  seconds one input may take (default 10): a slower one is a
#                 finding here, where nothing else runs beside it
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${FUZZ_BUILD:-$root/build-clang}
timeout=${FUZZ_TIMEOUT:-10}
secs=150
if [ "${1:-}" = -s ]; then
  secs=$2
  shift 2
fi
names=("$@")
if [ ${#names[@]} = 0 ]; then
  for t in fuzz/fuzz_*.cpp; do
    n=$(basename "$t" .cpp)
    names+=("${n#fuzz_}")
  done
fi
build=()
for n in "${names[@]}"; do
  [ -f "fuzz/fuzz_$n.cpp" ] || { echo "grow: no target $n" >&2; exit 1; }
  build+=("fuzz_$n")
done
scripts/clang-build.sh "$out" "${build[@]}"
opts=(-timeout="$timeout" -rss_limit_mb=2048)

# "cov: N ft: M" of a corpus, read by libFuzzer without mutating.
stats() {
  "$1" "${opts[@]}" -runs=0 "$2" 2>&1 | grep -o 'INITED cov: [0-9]* ft: [0-9]*' | tail -n 1 |
    sed 's/INITED //' || true
}

for n in "${names[@]}"; do
  bin="$out/fuzz/fuzz_$n"
  corpus=fuzz/corpus/$n
  scratch="$out/grow/$n"
  mkdir -p "$corpus" "$out/artifacts"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  cp "$corpus"/* "$scratch"/ 2>/dev/null || true
  before="$(stats "$bin" "$corpus"), $(ls "$corpus" | wc -l) files, $(du -sb "$corpus" | cut -f1) bytes"
  echo "grow: $n for ${secs}s"
  "$bin" "${opts[@]}" -max_total_time="$secs" -artifact_prefix="$out/artifacts/$n-" \
    "$scratch" >"$out/grow/$n.log" 2>&1 || { tail -n 40 "$out/grow/$n.log"; exit 1; }
  "$bin" "${opts[@]}" -merge=1 "$corpus" "$scratch" >"$out/grow/$n.merge.log" 2>&1 ||
    { tail -n 40 "$out/grow/$n.merge.log"; exit 1; }
  after="$(stats "$bin" "$corpus"), $(ls "$corpus" | wc -l) files, $(du -sb "$corpus" | cut -f1) bytes"
  echo "grow: $n before: $before"
  echo "grow: $n after:  $after"
done
