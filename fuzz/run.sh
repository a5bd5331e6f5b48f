#!/usr/bin/env bash
# Builds the ASN.1 fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in its own build folder and runs it for a short
# fixed time over the committed seed corpus. Exits non-zero on a crash.
#   FUZZ_SECONDS  run time (default 30)
#   FUZZ_BUILD    build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${FUZZ_BUILD:-$root/build-fuzz}
secs=${FUZZ_SECONDS:-30}
cxx=${FUZZ_CXX:-clang++}
jobs=${FUZZ_JOBS:-3}
mkdir -p "$out/obj" "$out/cp1250" "$out/corpus" "$out/artifacts"

flags=(-std=c++17 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -I"$root/src" -I"$root/include" -w)
# Narrow texts are Windows-1250. A clang without that code page compiles
# converted copies of the sources that hold non-ASCII texts instead.
convert=0
if echo 'int x;' | "$cxx" -x c++ -fexec-charset=CP1250 -fsyntax-only - 2>/dev/null; then
  flags+=(-fexec-charset=CP1250)
else
  convert=1
  flags+=(-Wno-invalid-source-encoding)
fi

compile() {
  local f=$1 src=$1
  local o="$out/obj/$(echo "$f" | tr / _).o"
  if [ "$convert" = 1 ] && LC_ALL=C grep -q $'[\x80-\xff]' "$f"; then
    mkdir -p "$out/cp1250/$(dirname "$f")"
    if iconv -f UTF-8 -t CP1250 "$f" > "$out/cp1250/$f" 2>/dev/null; then src="$out/cp1250/$f"; fi
  fi
  "$cxx" "${flags[@]}" -c "$src" -o "$o" || { echo "fuzz: skipped $f (does not compile)" >&2; rm -f "$o"; }
}

srcs=$(ls src/platform/*.cpp src/base/*.cpp src/crypto/basic/*.cpp src/crypto/hash/*.cpp src/asn1/*.cpp 2>/dev/null || true)
rm -f "$out"/obj/*.o
pids=()
for f in $srcs; do
  compile "$f" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
wait
rm -f "$out/libtal_fuzz.a"
ar rcs "$out/libtal_fuzz.a" "$out"/obj/*.o
"$cxx" "${flags[@]}" -fsanitize=fuzzer fuzz/fuzz_asn1.cpp "$out/libtal_fuzz.a" -lpthread -ldl -o "$out/fuzz_asn1"

# The regression inputs kept in tests/ run first; then a fixed-time run
# over a working copy of the seed corpus.
regress=$(ls tests/data/asn1/fuzz_regress/* 2>/dev/null || true)
if [ -n "$regress" ]; then
  "$out/fuzz_asn1" $regress
fi
cp -n fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
"$out/fuzz_asn1" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$out/artifacts/" "$out/corpus" fuzz/corpus 2>&1 | tail -n 25
exit "${PIPESTATUS[0]}"
