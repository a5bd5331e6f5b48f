#include "crypto/basic/lvcpu.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define LVCPU_X86 1
#endif

namespace lvcpu {
namespace {

struct Features {
  bool portable = false;
  bool shaNi = false, aesNi = false, pclmul = false, bmi2Adx = false, bmi1 = false, bmi2 = false, avx2 = false,
       ifma = false, avx512vl = false;
};

// The OS must save the wider registers too (XGETBV), or AVX code faults.
#ifdef LVCPU_X86
unsigned long long xcr0() {
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
}
#endif

// Read with secure_getenv: a set-uid caller's environment picks no code path.
bool envSet(const char* name) {
  const char* env = secure_getenv(name);
  return env != nullptr && env[0] != '\0' && std::strcmp(env, "0") != 0;
}

Features probe() {
  Features f;
#ifdef TAL_CRYPTO_PORTABLE
  f.portable = true;
#endif
  if (envSet("TALVORIN_CRYPTO_PORTABLE")) f.portable = true;
  if (f.portable) return f;
#ifdef LVCPU_X86
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  const bool sse2 = (d & (1u << 26)) != 0, ssse3 = (c & (1u << 9)) != 0,
             sse41 = (c & (1u << 19)) != 0, pclmul = (c & (1u << 1)) != 0,
             aes = (c & (1u << 25)) != 0, osxsave = (c & (1u << 27)) != 0,
             avx = (c & (1u << 28)) != 0;
  const unsigned long long x = osxsave ? xcr0() : 0;
  const bool ymm = (x & 0x6) == 0x6, zmm = (x & 0xE6) == 0xE6;
  f.aesNi = aes && sse2;
  f.pclmul = pclmul && sse41;
  unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
  if (__get_cpuid_count(7, 0, &a7, &b7, &c7, &d7)) {
    f.shaNi = (b7 & (1u << 29)) != 0 && ssse3 && sse41 && !envSet("TALVORIN_CRYPTO_NO_SHANI");
    f.bmi1 = (b7 & (1u << 3)) != 0;
    f.bmi2 = (b7 & (1u << 8)) != 0;
    f.bmi2Adx = f.bmi2 && (b7 & (1u << 19)) != 0;
    f.avx2 = avx && ymm && (b7 & (1u << 5)) != 0;
    f.ifma = zmm && (b7 & (1u << 16)) != 0 && (b7 & (1u << 21)) != 0;
    f.avx512vl = zmm && (b7 & (1u << 16)) != 0 && (b7 & (1u << 31)) != 0;
  }
#endif
  return f;
}

const Features& features() {
  static const Features f = probe();
  return f;
}

}  // namespace

bool portableOnly() { return features().portable; }
bool hasShaNi() { return features().shaNi; }
bool hasAesNi() { return features().aesNi; }
bool hasPclmul() { return features().pclmul; }
bool hasBmi2Adx() { return features().bmi2Adx; }
bool hasBmi1() { return features().bmi1; }
bool hasBmi2() { return features().bmi2; }
bool hasAvx2() { return features().avx2; }
bool hasAvx512Ifma() { return features().ifma; }
bool hasAvx512Vl() { return features().avx512vl; }

}  // namespace lvcpu
