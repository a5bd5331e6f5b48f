// Allocation failure on demand for a test program: on the arming thread only,
// allocation number `failAt` (counted from arming) fails; 0 never. Include from
// exactly one source file of a program (it replaces the global operator new).
#pragma once

#include <cstddef>
#include <cstdlib>

namespace {

thread_local long failAt = 0;
thread_local long counted = 0;
thread_local bool failed = false;

// Runs `step` with allocation number `n` of it failing (0: none); whether one failed.
template <class Step>
bool failingOnce(long n, Step step) {
  counted = 0;
  failed = false;
  failAt = n;
  step();
  failAt = 0;
  return failed;
}

}  // namespace

// Out of line: inlined into the replaced operator new, g++ sees malloc's block reach operator
// delete and warns of a mismatch that is none.
__attribute__((noinline)) void* testAllocate(std::size_t n) {
  if (failAt && ++counted == failAt) {
    failed = true;
    return nullptr;
  }
  return std::malloc(n ? n : 1);
}

#include "failingnew.h"
