// Montgomery product on four 64-bit limbs for any odd modulus below 2^256,
// with MULX and the two carry chains of ADCX/ADOX (x86-64; the caller checks
// lvcpu::hasBmi2Adx). Straight-line code: the final subtraction of the
// modulus is by conditional move, so neither time nor memory access depends
// on the values (group orders of 256-bit curves, with secret operands).
#pragma once

#include <cstdint>

#if defined(__x86_64__)

namespace lvmont4 {

// The product rows (shared with lvp256field.h): each row goes through two
// carry chains, ADCX the low halves and ADOX the high ones; the accumulator
// T0..T5 rotates through registers, so one macro serves every row.

// T0..T4 := a·b[0]; T5 := 0
#define LV_M4_ROW0(T0, T1, T2, T3, T4, T5)        \
  "movq 0(%[b]), %%rdx\n\t"                       \
  "mulxq 0(%[a]), %%" T0 ", %%" T1 "\n\t"         \
  "mulxq 8(%[a]), %%r14, %%" T2 "\n\t"            \
  "addq %%r14, %%" T1 "\n\t"                      \
  "mulxq 16(%[a]), %%r14, %%" T3 "\n\t"           \
  "adcq %%r14, %%" T2 "\n\t"                      \
  "mulxq 24(%[a]), %%r14, %%" T4 "\n\t"           \
  "adcq %%r14, %%" T3 "\n\t"                      \
  "adcq $0, %%" T4 "\n\t"                         \
  "xorq %%" T5 ", %%" T5 "\n\t"
// T0..T5 += X·rdx (X: a memory operand of four limbs), T5 starting at 0
#define LV_M4_ADDMUL(X, T0, T1, T2, T3, T4, T5)   \
  "mulxq 0(%[" X "]), %%r14, %%r15\n\t"           \
  "adcxq %%r14, %%" T0 "\n\t"                     \
  "adoxq %%r15, %%" T1 "\n\t"                     \
  "mulxq 8(%[" X "]), %%r14, %%r15\n\t"           \
  "adcxq %%r14, %%" T1 "\n\t"                     \
  "adoxq %%r15, %%" T2 "\n\t"                     \
  "mulxq 16(%[" X "]), %%r14, %%r15\n\t"          \
  "adcxq %%r14, %%" T2 "\n\t"                     \
  "adoxq %%r15, %%" T3 "\n\t"                     \
  "mulxq 24(%[" X "]), %%r14, %%r15\n\t"          \
  "adcxq %%r14, %%" T3 "\n\t"                     \
  "adoxq %%r15, %%" T4 "\n\t"                     \
  "movl $0, %%r14d\n\t"                           \
  "adcxq %%r14, %%" T4 "\n\t"                     \
  "adoxq %%r14, %%" T5 "\n\t"                     \
  "adcxq %%r14, %%" T5 "\n\t"
#define LV_M4_ROW(OFF, T0, T1, T2, T3, T4, T5)    \
  "movq " OFF "(%[b]), %%rdx\n\t"                 \
  "xorq %%" T5 ", %%" T5 "\n\t"                   \
  LV_M4_ADDMUL("a", T0, T1, T2, T3, T4, T5)
// One reduction step: T0..T5 += m·mod with m = T0·n0, which clears T0
// (T5 is 0 or 1 before, and stays below 2)
#define LV_M4_RED(T0, T1, T2, T3, T4, T5)         \
  "movq %%" T0 ", %%rdx\n\t"                      \
  "imulq %[n0], %%rdx\n\t"                        \
  "xorl %%r14d, %%r14d\n\t"                       \
  LV_M4_ADDMUL("m", T0, T1, T2, T3, T4, T5)

// (T4 T3 T2 T1 T0), below 2m, minus m unless that borrows, stored to r;
// S is a free register
#define LV_M4_FINAL(T0, T1, T2, T3, T4, S)        \
  "movq %%" T0 ", %%r14\n\t"                      \
  "subq 0(%[m]), %%r14\n\t"                       \
  "movq %%" T1 ", %%r15\n\t"                      \
  "sbbq 8(%[m]), %%r15\n\t"                       \
  "movq %%" T2 ", %%" S "\n\t"                     \
  "sbbq 16(%[m]), %%" S "\n\t"                     \
  "movq %%" T3 ", %%rdx\n\t"                      \
  "sbbq 24(%[m]), %%rdx\n\t"                      \
  "sbbq $0, %%" T4 "\n\t"                         \
  "cmovcq %%" T0 ", %%r14\n\t"                    \
  "cmovcq %%" T1 ", %%r15\n\t"                    \
  "cmovcq %%" T2 ", %%" S "\n\t"                   \
  "cmovcq %%" T3 ", %%rdx\n\t"                    \
  "movq %%r14, 0(%[r])\n\t"                       \
  "movq %%r15, 8(%[r])\n\t"                       \
  "movq %%" S ", 16(%[r])\n\t"                     \
  "movq %%rdx, 24(%[r])\n\t"

// The whole product: rows of a·b[i], each followed by the reduction step
// RED, the final subtraction; the result is stored to %[r].
#define LV_M4_MONT(RED)                                \
  LV_M4_ROW0("r8", "r9", "r10", "r11", "r12", "r13")   \
  RED("r8", "r9", "r10", "r11", "r12", "r13")          \
  LV_M4_ROW("8", "r9", "r10", "r11", "r12", "r13", "r8") \
  RED("r9", "r10", "r11", "r12", "r13", "r8")          \
  LV_M4_ROW("16", "r10", "r11", "r12", "r13", "r8", "r9") \
  RED("r10", "r11", "r12", "r13", "r8", "r9")          \
  LV_M4_ROW("24", "r11", "r12", "r13", "r8", "r9", "r10") \
  RED("r11", "r12", "r13", "r8", "r9", "r10")          \
  LV_M4_FINAL("r12", "r13", "r8", "r9", "r10", "r11")

// The square: the six cross products once (r9..r14), doubled into r9..r15,
// the four squares added, r8..r15 = a^2. The upper half waits in %[r] (a
// is read no more) while RED reduces the lower one, which then stays below
// the modulus; the upper half is added back and the sum (below 2m) brought
// below m. Clobbers rax, rdx, r8..r15.
#define LV_M4_SQR(RED)                            \
  "movq 0(%[a]), %%rdx\n\t"                       \
  "mulxq 8(%[a]), %%r9, %%r10\n\t"                \
  "mulxq 16(%[a]), %%rax, %%r11\n\t"              \
  "addq %%rax, %%r10\n\t"                         \
  "mulxq 24(%[a]), %%rax, %%r12\n\t"              \
  "adcq %%rax, %%r11\n\t"                         \
  "adcq $0, %%r12\n\t"                            \
  "movq 8(%[a]), %%rdx\n\t"                       \
  "mulxq 16(%[a]), %%rax, %%r14\n\t"              \
  "mulxq 24(%[a]), %%r15, %%r13\n\t"              \
  "addq %%rax, %%r11\n\t"                         \
  "adcq %%r14, %%r12\n\t"                         \
  "adcq $0, %%r13\n\t"                            \
  "addq %%r15, %%r12\n\t"                         \
  "adcq $0, %%r13\n\t"                            \
  "movq 16(%[a]), %%rdx\n\t"                      \
  "mulxq 24(%[a]), %%rax, %%r14\n\t"              \
  "addq %%rax, %%r13\n\t"                         \
  "adcq $0, %%r14\n\t"                            \
  "xorq %%r15, %%r15\n\t"                         \
  "addq %%r9, %%r9\n\t"                           \
  "adcq %%r10, %%r10\n\t"                         \
  "adcq %%r11, %%r11\n\t"                         \
  "adcq %%r12, %%r12\n\t"                         \
  "adcq %%r13, %%r13\n\t"                         \
  "adcq %%r14, %%r14\n\t"                         \
  "adcq $0, %%r15\n\t"                            \
  "movq 0(%[a]), %%rdx\n\t"                       \
  "mulxq %%rdx, %%r8, %%rax\n\t"                  \
  "addq %%rax, %%r9\n\t"                          \
  "movq 8(%[a]), %%rdx\n\t"                       \
  "mulxq %%rdx, %%rax, %%rdx\n\t"                 \
  "adcq %%rax, %%r10\n\t"                         \
  "adcq %%rdx, %%r11\n\t"                         \
  "movq 16(%[a]), %%rdx\n\t"                      \
  "mulxq %%rdx, %%rax, %%rdx\n\t"                 \
  "adcq %%rax, %%r12\n\t"                         \
  "adcq %%rdx, %%r13\n\t"                         \
  "movq 24(%[a]), %%rdx\n\t"                      \
  "mulxq %%rdx, %%rax, %%rdx\n\t"                 \
  "adcq %%rax, %%r14\n\t"                         \
  "adcq %%rdx, %%r15\n\t"                         \
  "movq %%r12, 0(%[r])\n\t"                       \
  "movq %%r13, 8(%[r])\n\t"                       \
  "movq %%r14, 16(%[r])\n\t"                      \
  "movq %%r15, 24(%[r])\n\t"                      \
  "xorq %%r12, %%r12\n\t"                         \
  "xorq %%r13, %%r13\n\t"                         \
  RED("r8", "r9", "r10", "r11", "r12", "r13")     \
  "xorq %%r8, %%r8\n\t"                           \
  RED("r9", "r10", "r11", "r12", "r13", "r8")     \
  "xorq %%r9, %%r9\n\t"                           \
  RED("r10", "r11", "r12", "r13", "r8", "r9")     \
  "xorq %%r10, %%r10\n\t"                         \
  RED("r11", "r12", "r13", "r8", "r9", "r10")     \
  "addq 0(%[r]), %%r12\n\t"                       \
  "adcq 8(%[r]), %%r13\n\t"                       \
  "adcq 16(%[r]), %%r8\n\t"                       \
  "adcq 24(%[r]), %%r9\n\t"                       \
  "adcq $0, %%r10\n\t"                            \
  LV_M4_FINAL("r12", "r13", "r8", "r9", "r10", "r11")

// r := a·b·2^-256 mod m for a, b below m; n0 = -m^-1 mod 2^64.
inline void mul(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* b,
                const std::uint64_t* m, std::uint64_t n0) {
  __asm__ volatile(
      LV_M4_MONT(LV_M4_RED)
      :
      : [r] "r"(r), [a] "r"(a), [b] "r"(b), [m] "r"(m), [n0] "m"(n0)
      : "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory");
}

// r := a^2·2^-256 mod m for a below m.
inline void sqr(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* m,
                std::uint64_t n0) {
  __asm__ volatile(LV_M4_SQR(LV_M4_RED)
                   :
                   : [r] "r"(r), [a] "r"(a), [m] "r"(m), [n0] "m"(n0)
                   : "rax", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc",
                     "memory");
}

}  // namespace lvmont4

#endif
