// Replaces the global allocation functions of a test program with ones that call
// `testAllocate`, which the including file defines: it returns nullptr to make one
// allocation fail; testAllocate's blocks come from malloc. Include from exactly one source
// file of a program.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

void* testAllocate(std::size_t n);

void* operator new(std::size_t n) {
  void* p = testAllocate(n);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return testAllocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return testAllocate(n); }
// Out of line: inlined where a `new` is in sight, GCC sees free() on a pointer from operator new
// and warns of a mismatch (-Wmismatched-new-delete) that is none, testAllocate's blocks being
// malloc's.
#define TAL_FAILINGNEW_DELETE __attribute__((noinline))
TAL_FAILINGNEW_DELETE void operator delete(void* p) noexcept { std::free(p); }
TAL_FAILINGNEW_DELETE void operator delete[](void* p) noexcept { std::free(p); }
TAL_FAILINGNEW_DELETE void operator delete(void* p, std::size_t) noexcept { std::free(p); }
TAL_FAILINGNEW_DELETE void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
TAL_FAILINGNEW_DELETE void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
TAL_FAILINGNEW_DELETE void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#undef TAL_FAILINGNEW_DELETE
