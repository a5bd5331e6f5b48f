#!/usr/bin/env bash
# Builds everything once with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/clang-build.sh) and runs every test, the crypto ones once more on
# their portable paths, the XML ones once more on the bound's narrow road; then
# a short run of every fuzz target, built from the same objects (fuzz/run.sh);
# last, in a g++ build without sanitizers (scripts/ct.sh), the constant-time
# tests under valgrind, the cost check of the XPointer bound under callgrind
# and the hostile receipts through the example verifier (scripts/hostile-receipts.py),
# whose failures stop nothing before them.
# BUILD_JOBS sets the parallel jobs of the build and of ctest (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
out=build-clang
jobs=${BUILD_JOBS:-$(nproc)}
scripts/clang-build.sh "$out"
(cd "$out" && ctest -j "$jobs" --output-on-failure)
# The crypto tests again with every processor-specific path switched off.
(cd "$out" && TALVORIN_CRYPTO_PORTABLE=1 ctest -j "$jobs" --output-on-failure -R '^(crypto_|ct_)')
# The XML tests again on the narrow road, as a libxml2 other than the one the
# bound was checked on takes it: every test that reaches the bound (found by
# recording its calls) is an xmlsig_ one, the receipts the net stops and the
# enveloped forms, the document account's routes, or a receipt of tests/data/upo (the other hostile
# receipts never reach it and would add half a minute of one core).
(cd "$out" && TALVORIN_XML_NARROW_ROAD=1 ctest -j "$jobs" --output-on-failure \
  -R '^(xmlsig_|api_hostilereceipts\.HostileReceipts\.(TheNet|Enveloped)|api_documentaccount\.|upo_road_)')
FUZZ_BUILD=$out fuzz/run.sh
scripts/ct.sh
