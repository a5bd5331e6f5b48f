#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/fuzz_<name>.cpp; CMake targets of the clang
# build of scripts/clang-build.sh, which the unit tests share, so unchanged
# objects are reused) and runs each for a share of a fixed time over its
# committed corpus (fuzz/corpus/<name>/, copied into the build folder), after
# replaying its regression inputs (tests/data/fuzz_regress/<name>/).
# Exits non-zero on a crash, a hang or a failing regression input; never on a
# machine's load, so both limits below are hang guards, far beyond what any
# input takes on a busy machine.
#   FUZZ_SECONDS  total run time shared by all targets (default 180)
#   FUZZ_TIMEOUT  seconds one input may take while fuzzing (default 300);
#                 fuzz/grow.sh, run by hand, keeps a tight limit that finds
#                 slow inputs
#   FUZZ_REPLAY_TIMEOUT  seconds one regression input may take (default 600).
#                 A replay checks that the input ends without a crash before
#                 this guard, and nothing more: no replay checks a speed. The
#                 Id index that xmldoc's refs-1000-ids-10k was made for is
#                 guarded by the unit test FindNodeById.IndexedLookupsCostOneWalk
#                 (the replay passes without the index too). The slowest input,
#                 xmldoc's 08e-refs-1000-ids-200k, takes some 30 s under the
#                 sanitizers on an idle core; the 05* beside it some 5 s each.
#   FUZZ_BUILD    build folder (default build-clang)
#   FUZZ_ONLY     build and run only this target
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${FUZZ_BUILD:-$root/build-clang}
total=${FUZZ_SECONDS:-180}
timeout=${FUZZ_TIMEOUT:-300}
replay_timeout=${FUZZ_REPLAY_TIMEOUT:-600}

targets=()
for t in fuzz/fuzz_*.cpp; do
  name=$(basename "$t" .cpp)
  name=${name#fuzz_}
  [ -n "${FUZZ_ONLY:-}" ] && [ "$FUZZ_ONLY" != "$name" ] && continue
  targets+=("$name")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no target ${FUZZ_ONLY:-}" >&2; exit 1; }
if [ -n "${FUZZ_ONLY:-}" ]; then
  scripts/clang-build.sh "$out" "fuzz_$FUZZ_ONLY"
else
  scripts/clang-build.sh "$out" fuzz_all
fi
mkdir -p "$out/artifacts" "$out/logs"
secs=$(( total / ${#targets[@]} ))
[ "$secs" -ge 5 ] || secs=5
opts=(-timeout="$timeout" -rss_limit_mb=2048)
replay_opts=(-timeout="$replay_timeout" -rss_limit_mb=2048)

status=0
for name in "${targets[@]}"; do
  bin="$out/fuzz/fuzz_$name"
  log="$out/logs/$name.log"
  for f in tests/data/fuzz_regress/"$name"/*; do
    [ -f "$f" ] || continue
    if ! "$bin" "${replay_opts[@]}" "$f" >"$log" 2>&1; then
      echo "fuzz: $name regression input $f failed:"
      tail -n 60 "$log"
      status=1
    fi
  done
  mkdir -p "$out/corpus/$name"
  cp -n fuzz/corpus/"$name"/* "$out/corpus/$name/" 2>/dev/null || true
  echo "fuzz: $name for ${secs}s"
  rc=0
  "$bin" "${opts[@]}" -max_total_time="$secs" -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/${name}-" "$out/corpus/$name" >"$log" 2>&1 || rc=$?
  if [ "$rc" = 0 ]; then
    tail -n 12 "$log"
  else
    tail -n 80 "$log"
    echo "fuzz: $name failed ($rc)"
    status=1
  fi
done
exit "$status"
