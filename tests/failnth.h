// Makes allocation number `g_failAt` of a test program fail (counted in `g_count` from when
// the test arms it; 0 never fails), through failingnew.h. Include from exactly one source
// file of a program.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>

namespace {
// Atomic: code under test may allocate on threads of its own (the self-tests do).
std::atomic<long> g_failAt{0}, g_count{0};
}  // namespace

void* testAllocate(std::size_t n) {
  if (g_failAt && ++g_count == g_failAt) return nullptr;
  return std::malloc(n ? n : 1);
}

#include "failingnew.h"
