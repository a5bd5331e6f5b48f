// Replaces the global allocation functions of a test program with ones that call
// `testAllocate`, which the including file defines: it returns nullptr to make one
// allocation fail. Include from exactly one source file of a program.
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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
