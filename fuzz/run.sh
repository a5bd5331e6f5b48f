#!/usr/bin/env bash
# Builds every fuzz target (fuzz/fuzz_<name>.cpp) with clang (libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) in its own build folder and
# runs each for a short fixed time over its committed seed corpus
# (fuzz/corpus/<name>/) after replaying its regression inputs
# (tests/data/fuzz_regress/<name>/). Exits non-zero on a crash.
#   FUZZ_SECONDS  total run time shared by all targets (default 180)
#   FUZZ_BUILD    build folder (default build-fuzz)
#   FUZZ_ONLY     build and run only this target
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${FUZZ_BUILD:-$root/build-fuzz}
total=${FUZZ_SECONDS:-180}
cxx=${FUZZ_CXX:-clang++}
jobs=${FUZZ_JOBS:-$(nproc)}
mkdir -p "$out/obj" "$out/cp1250" "$out/artifacts"

xmlflags=$(pkg-config --cflags libxml-2.0 libxslt 2>/dev/null || echo -I/usr/include/libxml2)
xmllibs=$(pkg-config --libs libxml-2.0 libxslt libexslt 2>/dev/null || echo "-lxslt -lxml2")
flags=(-std=c++17 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -I"$root/src" -I"$root/include" $xmlflags -w)
# Narrow texts are Windows-1250. A clang without that code page compiles
# converted copies of the sources that hold non-ASCII texts instead.
convert=0
if echo 'int x;' | "$cxx" -x c++ -fexec-charset=CP1250 -fsyntax-only - 2>/dev/null; then
  flags+=(-fexec-charset=CP1250)
else
  convert=1
  flags+=(-Wno-invalid-source-encoding)
fi

# Objects are rebuilt only when their source is newer (headers: a clean
# build folder is the safe choice after header changes).
compile() {
  local f=$1 src=$1
  local o="$out/obj/$(echo "$f" | tr / _).o"
  if [ -f "$o" ] && [ "$o" -nt "$f" ] && [ "${FUZZ_REBUILD:-1}" = 0 ]; then return; fi
  if [ "$convert" = 1 ] && LC_ALL=C grep -q $'[\x80-\xff]' "$f"; then
    mkdir -p "$out/cp1250/$(dirname "$f")"
    if iconv -f UTF-8 -t CP1250 "$f" > "$out/cp1250/$f" 2>/dev/null; then src="$out/cp1250/$f"; fi
  fi
  "$cxx" "${flags[@]}" -c "$src" -o "$o" || { echo "fuzz: $f does not compile" >&2; rm -f "$o"; return 1; }
}

srcs=$(find src -name '*.cpp' | sort)
rm -f "$out"/obj/*.o
pids=()
fail=0
for f in $srcs; do
  compile "$f" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then wait "${pids[0]}" || fail=1; pids=("${pids[@]:1}"); fi
done
for p in "${pids[@]}"; do wait "$p" || fail=1; done
[ "$fail" = 0 ] || { echo "fuzz: library sources failed to compile with $cxx" >&2; exit 1; }
rm -f "$out/libtal_fuzz.a"
ar rcs "$out/libtal_fuzz.a" "$out"/obj/*.o

targets=()
for t in fuzz/fuzz_*.cpp; do
  name=$(basename "$t" .cpp); name=${name#fuzz_}
  [ -n "${FUZZ_ONLY:-}" ] && [ "$FUZZ_ONLY" != "$name" ] && continue
  targets+=("$name")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no target" >&2; exit 1; }
secs=$(( total / ${#targets[@]} ))
[ "$secs" -ge 5 ] || secs=5

status=0
for name in "${targets[@]}"; do
  bin="$out/fuzz_$name"
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "fuzz/fuzz_$name.cpp" "$out/libtal_fuzz.a" $xmllibs \
    -lpthread -ldl -o "$bin"
  regress=$(ls tests/data/fuzz_regress/"$name"/* 2>/dev/null || true)
  if [ -n "$regress" ]; then
    "$bin" -rss_limit_mb=2048 $regress >/dev/null 2>&1 || { echo "fuzz: $name regression input failed"; status=1; }
  fi
  mkdir -p "$out/corpus/$name"
  cp -n fuzz/corpus/"$name"/* "$out/corpus/$name/" 2>/dev/null || true
  echo "fuzz: $name for ${secs}s"
  set +e
  "$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/${name}-" "$out/corpus/$name" 2>&1 | tail -n 12
  rc=${PIPESTATUS[0]}
  set -e
  [ "$rc" = 0 ] || { echo "fuzz: $name failed ($rc)"; status=1; }
done
exit "$status"
