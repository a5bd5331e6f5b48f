// Montgomery product and square on six 64-bit limbs for any odd modulus below 2^384
// (P-384 and the other 384-bit primes), with MULX and the two carry chains of
// ADCX/ADOX (x86-64; the caller checks lvcpu::hasBmi2Adx). Straight-line
// code: the final subtraction of the modulus is undone by conditional moves,
// so neither time nor memory access depends on the values.
#pragma once

#include <cstdint>

#if defined(__x86_64__)

namespace lvmont6 {

// T0..T7 += X·rdx (X: six limbs in memory), T7 starting at 0 or 1; rax, rcx
// scratch. ADCX carries the low halves, ADOX the high ones.
#define LV_M6_ADDMUL(X, T0, T1, T2, T3, T4, T5, T6, T7) \
  "mulxq 0(%[" X "]), %%rax, %%rcx\n\t"                 \
  "adcxq %%rax, %%" T0 "\n\t"                           \
  "adoxq %%rcx, %%" T1 "\n\t"                           \
  "mulxq 8(%[" X "]), %%rax, %%rcx\n\t"                 \
  "adcxq %%rax, %%" T1 "\n\t"                           \
  "adoxq %%rcx, %%" T2 "\n\t"                           \
  "mulxq 16(%[" X "]), %%rax, %%rcx\n\t"                \
  "adcxq %%rax, %%" T2 "\n\t"                           \
  "adoxq %%rcx, %%" T3 "\n\t"                           \
  "mulxq 24(%[" X "]), %%rax, %%rcx\n\t"                \
  "adcxq %%rax, %%" T3 "\n\t"                           \
  "adoxq %%rcx, %%" T4 "\n\t"                           \
  "mulxq 32(%[" X "]), %%rax, %%rcx\n\t"                \
  "adcxq %%rax, %%" T4 "\n\t"                           \
  "adoxq %%rcx, %%" T5 "\n\t"                           \
  "mulxq 40(%[" X "]), %%rax, %%rcx\n\t"                \
  "adcxq %%rax, %%" T5 "\n\t"                           \
  "adoxq %%rcx, %%" T6 "\n\t"                           \
  "movl $0, %%eax\n\t"                                  \
  "adcxq %%rax, %%" T6 "\n\t"                           \
  "adoxq %%rax, %%" T7 "\n\t"                           \
  "adcxq %%rax, %%" T7 "\n\t"

// T0..T6 := a·b[0]; T7 := 0
#define LV_M6_ROW0(T0, T1, T2, T3, T4, T5, T6, T7) \
  "movq 0(%[c]), %%rdx\n\t"                          \
  "movq 0(%%rdx), %%rdx\n\t"                       \
  "mulxq 0(%[a]), %%" T0 ", %%" T1 "\n\t"          \
  "mulxq 8(%[a]), %%rax, %%" T2 "\n\t"             \
  "addq %%rax, %%" T1 "\n\t"                       \
  "mulxq 16(%[a]), %%rax, %%" T3 "\n\t"            \
  "adcq %%rax, %%" T2 "\n\t"                       \
  "mulxq 24(%[a]), %%rax, %%" T4 "\n\t"            \
  "adcq %%rax, %%" T3 "\n\t"                       \
  "mulxq 32(%[a]), %%rax, %%" T5 "\n\t"            \
  "adcq %%rax, %%" T4 "\n\t"                       \
  "mulxq 40(%[a]), %%rax, %%" T6 "\n\t"            \
  "adcq %%rax, %%" T5 "\n\t"                       \
  "adcq $0, %%" T6 "\n\t"                          \
  "xorq %%" T7 ", %%" T7 "\n\t"

// T0..T7 += a·b[OFF / 8], T7 (the limb the last step dropped) set to 0
#define LV_M6_ROW(OFF, T0, T1, T2, T3, T4, T5, T6, T7) \
  "movq 0(%[c]), %%rdx\n\t"                              \
  "movq " OFF "(%%rdx), %%rdx\n\t"                     \
  "xorq %%" T7 ", %%" T7 "\n\t"                        \
  LV_M6_ADDMUL("a", T0, T1, T2, T3, T4, T5, T6, T7)

// One reduction step: T0..T7 += m·mod with m = T0·n0, which clears T0
#define LV_M6_RED(T0, T1, T2, T3, T4, T5, T6, T7) \
  "movq %%" T0 ", %%rdx\n\t"                      \
  "imulq 16(%[c]), %%rdx\n\t"                        \
  "xorl %%eax, %%eax\n\t"                         \
  LV_M6_ADDMUL("m", T0, T1, T2, T3, T4, T5, T6, T7)

// the six limbs of the result, from r14, r15, r8..r11 to the words at rdx
#define LV_M6_STORE                \
  "movq %%r14, 0(%%rdx)\n\t"       \
  "movq %%r15, 8(%%rdx)\n\t"       \
  "movq %%r8, 16(%%rdx)\n\t"       \
  "movq %%r9, 24(%%rdx)\n\t"       \
  "movq %%r10, 32(%%rdx)\n\t"      \
  "movq %%r11, 40(%%rdx)\n\t"

// (r12 r11 r10 r9 r8 r15 r14), below 2m, to r (at 8(%[c])): kept there,
// minus m unless that borrows, else taken back from r
#define LV_M6_FINAL                \
  "movq 8(%[c]), %%rdx\n\t"       \
  LV_M6_STORE                      \
  "subq 0(%[m]), %%r14\n\t"       \
  "sbbq 8(%[m]), %%r15\n\t"       \
  "sbbq 16(%[m]), %%r8\n\t"       \
  "sbbq 24(%[m]), %%r9\n\t"       \
  "sbbq 32(%[m]), %%r10\n\t"      \
  "sbbq 40(%[m]), %%r11\n\t"      \
  "sbbq $0, %%r12\n\t"            \
  "cmovcq 0(%%rdx), %%r14\n\t"    \
  "cmovcq 8(%%rdx), %%r15\n\t"    \
  "cmovcq 16(%%rdx), %%r8\n\t"    \
  "cmovcq 24(%%rdx), %%r9\n\t"    \
  "cmovcq 32(%%rdx), %%r10\n\t"   \
  "cmovcq 40(%%rdx), %%r11\n\t"   \
  LV_M6_STORE

// r := a·b·2^-384 mod m for a, b below m; n0 = -m^-1 mod 2^64. The
// registers are all taken: b, r and n0 wait in memory, reached through one.
inline void mul(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* b,
                const std::uint64_t* m, std::uint64_t n0) {
  const std::uint64_t c[3] = {(std::uint64_t)b, (std::uint64_t)r, n0};
  __asm__ volatile(
      LV_M6_ROW0("r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15")
      LV_M6_RED("r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15")
      LV_M6_ROW("8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "r8")
      LV_M6_RED("r9", "r10", "r11", "r12", "r13", "r14", "r15", "r8")
      LV_M6_ROW("16", "r10", "r11", "r12", "r13", "r14", "r15", "r8", "r9")
      LV_M6_RED("r10", "r11", "r12", "r13", "r14", "r15", "r8", "r9")
      LV_M6_ROW("24", "r11", "r12", "r13", "r14", "r15", "r8", "r9", "r10")
      LV_M6_RED("r11", "r12", "r13", "r14", "r15", "r8", "r9", "r10")
      LV_M6_ROW("32", "r12", "r13", "r14", "r15", "r8", "r9", "r10", "r11")
      LV_M6_RED("r12", "r13", "r14", "r15", "r8", "r9", "r10", "r11")
      LV_M6_ROW("40", "r13", "r14", "r15", "r8", "r9", "r10", "r11", "r12")
      LV_M6_RED("r13", "r14", "r15", "r8", "r9", "r10", "r11", "r12")
      LV_M6_FINAL
      :
      : [a] "r"(a), [m] "r"(m), [c] "r"(c)
      : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc",
        "memory");
}

// T0..T5 += the high half of the square at %[t] (limbs 6..11), carry in T6
#define LV_M6_ADDHIGH(T0, T1, T2, T3, T4, T5, T6) \
  "addq 48(%[t]), %%" T0 "\n\t"                  \
  "adcq 56(%[t]), %%" T1 "\n\t"                  \
  "adcq 64(%[t]), %%" T2 "\n\t"                  \
  "adcq 72(%[t]), %%" T3 "\n\t"                  \
  "adcq 80(%[t]), %%" T4 "\n\t"                  \
  "adcq 88(%[t]), %%" T5 "\n\t"                  \
  "adcq $0, %%" T6 "\n\t"

// r := a^2·2^-384 mod m for a below m. The square first, with each of the
// 15 cross products once (rows a_i·a_j, j > i, in two carry chains), then
// doubled and the six squares added in one pass (ADOX doubles, ADCX adds);
// then the six reduction steps over its low half and the high half added:
// 21 products and 36 for the reduction, where the product takes 36 and 36.
inline void sqr(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* m,
                std::uint64_t n0) {
  std::uint64_t t[12];
  __asm__ volatile(
      // row a0: t1..t6 in r8..r13
      "movq 0(%[a]), %%rdx\n\t"
      "mulxq 8(%[a]), %%r8, %%r9\n\t"
      "mulxq 16(%[a]), %%rax, %%r10\n\t"
      "addq %%rax, %%r9\n\t"
      "mulxq 24(%[a]), %%rax, %%r11\n\t"
      "adcq %%rax, %%r10\n\t"
      "mulxq 32(%[a]), %%rax, %%r12\n\t"
      "adcq %%rax, %%r11\n\t"
      "mulxq 40(%[a]), %%rax, %%r13\n\t"
      "adcq %%rax, %%r12\n\t"
      "adcq $0, %%r13\n\t"
      // row a1 into t3..t7 (r14)
      "movq 8(%[a]), %%rdx\n\t"
      "xorl %%r14d, %%r14d\n\t"
      "mulxq 16(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r10\n\t"
      "adoxq %%rcx, %%r11\n\t"
      "mulxq 24(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r11\n\t"
      "adoxq %%rcx, %%r12\n\t"
      "mulxq 32(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r12\n\t"
      "adoxq %%rcx, %%r13\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r13\n\t"
      "adoxq %%rcx, %%r14\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%r14\n\t"
      // row a2 into t5..t8 (r15)
      "movq 16(%[a]), %%rdx\n\t"
      "xorl %%r15d, %%r15d\n\t"
      "mulxq 24(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r12\n\t"
      "adoxq %%rcx, %%r13\n\t"
      "mulxq 32(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r13\n\t"
      "adoxq %%rcx, %%r14\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r14\n\t"
      "adoxq %%rcx, %%r15\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%r15\n\t"
      // row a3 into t7..t9 (rbx)
      "movq 24(%[a]), %%rdx\n\t"
      "xorl %%ebx, %%ebx\n\t"
      "mulxq 32(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r14\n\t"
      "adoxq %%rcx, %%r15\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r15\n\t"
      "adoxq %%rcx, %%rbx\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%rbx\n\t"
      // row a4 into t9..t10 (rcx)
      "movq 32(%[a]), %%rdx\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "addq %%rax, %%rbx\n\t"
      "adcq $0, %%rcx\n\t"
      // 2·(t1..t10) + the squares, into t[0..11]
      "movq 0(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq %%rax, 0(%[t])\n\t"
      "xorl %%eax, %%eax\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rdx, %%r8\n\t"
      "movq %%r8, 8(%[t])\n\t"
      "movq 8(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rax, %%r9\n\t"
      "movq %%r9, 16(%[t])\n\t"
      "adoxq %%r10, %%r10\n\t"
      "adcxq %%rdx, %%r10\n\t"
      "movq %%r10, 24(%[t])\n\t"
      "movq 16(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "adoxq %%r11, %%r11\n\t"
      "adcxq %%rax, %%r11\n\t"
      "movq %%r11, 32(%[t])\n\t"
      "adoxq %%r12, %%r12\n\t"
      "adcxq %%rdx, %%r12\n\t"
      "movq %%r12, 40(%[t])\n\t"
      "movq 24(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "adoxq %%r13, %%r13\n\t"
      "adcxq %%rax, %%r13\n\t"
      "movq %%r13, 48(%[t])\n\t"
      "adoxq %%r14, %%r14\n\t"
      "adcxq %%rdx, %%r14\n\t"
      "movq %%r14, 56(%[t])\n\t"
      "movq 32(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "adoxq %%r15, %%r15\n\t"
      "adcxq %%rax, %%r15\n\t"
      "movq %%r15, 64(%[t])\n\t"
      "adoxq %%rbx, %%rbx\n\t"
      "adcxq %%rdx, %%rbx\n\t"
      "movq %%rbx, 72(%[t])\n\t"
      "movq 40(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "adoxq %%rcx, %%rcx\n\t"
      "adcxq %%rax, %%rcx\n\t"
      "movq %%rcx, 80(%[t])\n\t"
      "movl $0, %%eax\n\t"
      "adoxq %%rax, %%rdx\n\t"
      "adcxq %%rax, %%rdx\n\t"
      "movq %%rdx, 88(%[t])\n\t"
      :
      : [a] "r"(a), [t] "r"(t)
      : "rax", "rbx", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc",
        "memory");
  const std::uint64_t c[3] = {0, (std::uint64_t)r, n0};
  __asm__ volatile(
      "movq 0(%[t]), %%r8\n\t"
      "movq 8(%[t]), %%r9\n\t"
      "movq 16(%[t]), %%r10\n\t"
      "movq 24(%[t]), %%r11\n\t"
      "movq 32(%[t]), %%r12\n\t"
      "movq 40(%[t]), %%r13\n\t"
      "xorl %%r14d, %%r14d\n\t"
      "xorl %%r15d, %%r15d\n\t"
      LV_M6_RED("r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15")
      LV_M6_RED("r9", "r10", "r11", "r12", "r13", "r14", "r15", "r8")
      LV_M6_RED("r10", "r11", "r12", "r13", "r14", "r15", "r8", "r9")
      LV_M6_RED("r11", "r12", "r13", "r14", "r15", "r8", "r9", "r10")
      LV_M6_RED("r12", "r13", "r14", "r15", "r8", "r9", "r10", "r11")
      LV_M6_RED("r13", "r14", "r15", "r8", "r9", "r10", "r11", "r12")
      // (low half + q·m)/2^384 is at most m, the high half below m: the sum
      // (r12 r11 r10 r9 r8 r15 r14) is below 2m
      LV_M6_ADDHIGH("r14", "r15", "r8", "r9", "r10", "r11", "r12")
      LV_M6_FINAL
      :
      : [t] "r"(t), [m] "r"(m), [c] "r"(c)
      : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc",
        "memory");
  // the square of a secret is secret: no copy stays on the stack
  volatile std::uint64_t* v = t;
  for (int i = 0; i < 12; i++) v[i] = 0;
}

#undef LV_M6_ADDHIGH
#undef LV_M6_ADDMUL
#undef LV_M6_ROW0
#undef LV_M6_ROW
#undef LV_M6_RED
#undef LV_M6_STORE
#undef LV_M6_FINAL

}  // namespace lvmont6

#endif
