// Montgomery product on eight 64-bit limbs for any odd modulus below 2^512
// (brainpoolP512r1 and the other 512-bit primes), with MULX and the two carry
// chains of ADCX/ADOX (x86-64; the caller checks lvcpu::hasBmi2Adx). The
// product and the reduction are two passes over a scratch block: the
// interleaved form needs ten accumulators, more than the registers left
// beside the pointers. Straight-line code: the final subtraction of the
// modulus is undone by conditional moves, so neither time nor memory access
// depends on the values.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)

namespace lvmont8 {

// Every general register but the two pointers and the stack's.
#define LV_M8_CLOBBERS \
  "rax", "rbx", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory"

// Scratch block: the 16-limb product, then b, n0 and the result's address.
struct Scratch {
  std::uint64_t t[16];
  std::uint64_t b[8];
  std::uint64_t n0;
  std::uint64_t r;
};

// T0..T8 += X·rdx with T8 starting at 0 (the sum fits nine limbs, so
// nothing carries out); rax, rcx scratch. ADCX carries the low halves, ADOX
// the high ones.
#define LV_M8_MULS(X, T0, T1, T2, T3, T4, T5, T6, T7, T8) \
  "mulxq 0(%[" X "]), %%rax, %%rcx\n\t"                   \
  "adcxq %%rax, %%" T0 "\n\t"                             \
  "adoxq %%rcx, %%" T1 "\n\t"                             \
  "mulxq 8(%[" X "]), %%rax, %%rcx\n\t"                   \
  "adcxq %%rax, %%" T1 "\n\t"                             \
  "adoxq %%rcx, %%" T2 "\n\t"                             \
  "mulxq 16(%[" X "]), %%rax, %%rcx\n\t"                  \
  "adcxq %%rax, %%" T2 "\n\t"                             \
  "adoxq %%rcx, %%" T3 "\n\t"                             \
  "mulxq 24(%[" X "]), %%rax, %%rcx\n\t"                  \
  "adcxq %%rax, %%" T3 "\n\t"                             \
  "adoxq %%rcx, %%" T4 "\n\t"                             \
  "mulxq 32(%[" X "]), %%rax, %%rcx\n\t"                  \
  "adcxq %%rax, %%" T4 "\n\t"                             \
  "adoxq %%rcx, %%" T5 "\n\t"                             \
  "mulxq 40(%[" X "]), %%rax, %%rcx\n\t"                  \
  "adcxq %%rax, %%" T5 "\n\t"                             \
  "adoxq %%rcx, %%" T6 "\n\t"                             \
  "mulxq 48(%[" X "]), %%rax, %%rcx\n\t"                  \
  "adcxq %%rax, %%" T6 "\n\t"                             \
  "adoxq %%rcx, %%" T7 "\n\t"                             \
  "mulxq 56(%[" X "]), %%rax, %%rcx\n\t"                  \
  "adcxq %%rax, %%" T7 "\n\t"                             \
  "adoxq %%rcx, %%" T8 "\n\t"                             \
  "movl $0, %%eax\n\t"                                    \
  "adcxq %%rax, %%" T8 "\n\t"

// One row of the product: T0..T8 += a·b[OFF / 8] with T8 (the limb stored
// last) cleared first, which clears both carry flags too; then T0, final,
// stored.
#define LV_M8_ROW(OFF, T0, T1, T2, T3, T4, T5, T6, T7, T8)      \
  "movq 128+" OFF "(%[s]), %%rdx\n\t"                           \
  "xorq %%" T8 ", %%" T8 "\n\t"                                 \
  LV_M8_MULS("a", T0, T1, T2, T3, T4, T5, T6, T7, T8)          \
  "movq %%" T0 ", " OFF "(%[s])\n\t"

// One reduction step: T0..T8 += q·m with q = T0·n0, which clears T0; what
// carries out of T8 (possible for a modulus near 2^512) goes to T0, the top
// limb of the next step.
#define LV_M8_RED(T0, T1, T2, T3, T4, T5, T6, T7, T8)  \
  "movq %%" T0 ", %%rdx\n\t"                           \
  "imulq 192(%[s]), %%rdx\n\t"                         \
  "xorl %%eax, %%eax\n\t"                              \
  LV_M8_MULS("m", T0, T1, T2, T3, T4, T5, T6, T7, T8) \
  "adoxq %%rax, %%" T0 "\n\t"                          \
  "adcxq %%rax, %%" T0 "\n\t"

// s->t := a·s->b (16 limbs)
__attribute__((always_inline)) inline void product(Scratch* s, const void* a) {
  __asm__ volatile(
      // row 0 on its own: one carry chain into fresh limbs
      "movq 128(%[s]), %%rdx\n\t"
      "mulxq 0(%[a]), %%r8, %%r9\n\t"
      "mulxq 8(%[a]), %%rax, %%r10\n\t"
      "addq %%rax, %%r9\n\t"
      "mulxq 16(%[a]), %%rax, %%r11\n\t"
      "adcq %%rax, %%r10\n\t"
      "mulxq 24(%[a]), %%rax, %%r12\n\t"
      "adcq %%rax, %%r11\n\t"
      "mulxq 32(%[a]), %%rax, %%r13\n\t"
      "adcq %%rax, %%r12\n\t"
      "mulxq 40(%[a]), %%rax, %%r14\n\t"
      "adcq %%rax, %%r13\n\t"
      "mulxq 48(%[a]), %%rax, %%r15\n\t"
      "adcq %%rax, %%r14\n\t"
      "mulxq 56(%[a]), %%rax, %%rbx\n\t"
      "adcq %%rax, %%r15\n\t"
      "adcq $0, %%rbx\n\t"
      "movq %%r8, 0(%[s])\n\t"
      LV_M8_ROW("8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "rbx", "r8")
      LV_M8_ROW("16", "r10", "r11", "r12", "r13", "r14", "r15", "rbx", "r8", "r9")
      LV_M8_ROW("24", "r11", "r12", "r13", "r14", "r15", "rbx", "r8", "r9", "r10")
      LV_M8_ROW("32", "r12", "r13", "r14", "r15", "rbx", "r8", "r9", "r10", "r11")
      LV_M8_ROW("40", "r13", "r14", "r15", "rbx", "r8", "r9", "r10", "r11", "r12")
      LV_M8_ROW("48", "r14", "r15", "rbx", "r8", "r9", "r10", "r11", "r12", "r13")
      LV_M8_ROW("56", "r15", "rbx", "r8", "r9", "r10", "r11", "r12", "r13", "r14")
      // limbs 8..15
      "movq %%rbx, 64(%[s])\n\t"
      "movq %%r8, 72(%[s])\n\t"
      "movq %%r9, 80(%[s])\n\t"
      "movq %%r10, 88(%[s])\n\t"
      "movq %%r11, 96(%[s])\n\t"
      "movq %%r12, 104(%[s])\n\t"
      "movq %%r13, 112(%[s])\n\t"
      "movq %%r14, 120(%[s])\n\t"
      :
      : [a] "r"(a), [s] "r"(s)
      : LV_M8_CLOBBERS);
}

// s->t := a^2 (16 limbs): each of the 28 cross products once (rows a_i·a_j,
// j > i, in two carry chains; each row leaves two limbs final), then doubled
// and the eight squares added in one pass: 36 products where the general one
// takes 64.
__attribute__((always_inline)) inline void square(Scratch* s, const void* a) {
  __asm__ volatile(
      // row a0: positions 1..8 in r8..r15
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
      "mulxq 48(%[a]), %%rax, %%r14\n\t"
      "adcq %%rax, %%r13\n\t"
      "mulxq 56(%[a]), %%rax, %%r15\n\t"
      "adcq %%rax, %%r14\n\t"
      "adcq $0, %%r15\n\t"
      "movq %%r8, 8(%[s])\n\t"
      "movq %%r9, 16(%[s])\n\t"
      // row a1: positions 3..9
      "movq 8(%[a]), %%rdx\n\t"
      "xorq %%rbx, %%rbx\n\t"
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
      "mulxq 48(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r14\n\t"
      "adoxq %%rcx, %%r15\n\t"
      "mulxq 56(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r15\n\t"
      "adoxq %%rcx, %%rbx\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%rbx\n\t"
      "movq %%r10, 24(%[s])\n\t"
      "movq %%r11, 32(%[s])\n\t"
      // row a2: positions 5..10
      "movq 16(%[a]), %%rdx\n\t"
      "xorq %%r8, %%r8\n\t"
      "mulxq 24(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r12\n\t"
      "adoxq %%rcx, %%r13\n\t"
      "mulxq 32(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r13\n\t"
      "adoxq %%rcx, %%r14\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r14\n\t"
      "adoxq %%rcx, %%r15\n\t"
      "mulxq 48(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r15\n\t"
      "adoxq %%rcx, %%rbx\n\t"
      "mulxq 56(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%rbx\n\t"
      "adoxq %%rcx, %%r8\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r12, 40(%[s])\n\t"
      "movq %%r13, 48(%[s])\n\t"
      // row a3: positions 7..11
      "movq 24(%[a]), %%rdx\n\t"
      "xorq %%r9, %%r9\n\t"
      "mulxq 32(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r14\n\t"
      "adoxq %%rcx, %%r15\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r15\n\t"
      "adoxq %%rcx, %%rbx\n\t"
      "mulxq 48(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%rbx\n\t"
      "adoxq %%rcx, %%r8\n\t"
      "mulxq 56(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r8\n\t"
      "adoxq %%rcx, %%r9\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%r9\n\t"
      "movq %%r14, 56(%[s])\n\t"
      "movq %%r15, 64(%[s])\n\t"
      // row a4: positions 9..12
      "movq 32(%[a]), %%rdx\n\t"
      "xorq %%r10, %%r10\n\t"
      "mulxq 40(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%rbx\n\t"
      "adoxq %%rcx, %%r8\n\t"
      "mulxq 48(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r8\n\t"
      "adoxq %%rcx, %%r9\n\t"
      "mulxq 56(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r9\n\t"
      "adoxq %%rcx, %%r10\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%r10\n\t"
      "movq %%rbx, 72(%[s])\n\t"
      "movq %%r8, 80(%[s])\n\t"
      // row a5: positions 11..13
      "movq 40(%[a]), %%rdx\n\t"
      "xorq %%r11, %%r11\n\t"
      "mulxq 48(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r9\n\t"
      "adoxq %%rcx, %%r10\n\t"
      "mulxq 56(%[a]), %%rax, %%rcx\n\t"
      "adcxq %%rax, %%r10\n\t"
      "adoxq %%rcx, %%r11\n\t"
      "movl $0, %%eax\n\t"
      "adcxq %%rax, %%r11\n\t"
      "movq %%r9, 88(%[s])\n\t"
      "movq %%r10, 96(%[s])\n\t"
      // row a6: positions 13, 14
      "movq 48(%[a]), %%rdx\n\t"
      "mulxq 56(%[a]), %%rax, %%r12\n\t"
      "addq %%rax, %%r11\n\t"
      "adcq $0, %%r12\n\t"
      "movq %%r11, 104(%[s])\n\t"
      "movq %%r12, 112(%[s])\n\t"
      // twice the cross products plus the squares: ADOX doubles, ADCX adds
      "movq 0(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq %%rax, 0(%[s])\n\t"
      "xorl %%eax, %%eax\n\t"
      "movq 8(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rdx, %%r8\n\t"
      "movq %%r8, 8(%[s])\n\t"
      "movq 8(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 16(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 16(%[s])\n\t"
      "movq 24(%[s]), %%r9\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rdx, %%r9\n\t"
      "movq %%r9, 24(%[s])\n\t"
      "movq 16(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 32(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 32(%[s])\n\t"
      "movq 40(%[s]), %%r9\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rdx, %%r9\n\t"
      "movq %%r9, 40(%[s])\n\t"
      "movq 24(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 48(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 48(%[s])\n\t"
      "movq 56(%[s]), %%r9\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rdx, %%r9\n\t"
      "movq %%r9, 56(%[s])\n\t"
      "movq 32(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 64(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 64(%[s])\n\t"
      "movq 72(%[s]), %%r9\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rdx, %%r9\n\t"
      "movq %%r9, 72(%[s])\n\t"
      "movq 40(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 80(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 80(%[s])\n\t"
      "movq 88(%[s]), %%r9\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rdx, %%r9\n\t"
      "movq %%r9, 88(%[s])\n\t"
      "movq 48(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 96(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 96(%[s])\n\t"
      "movq 104(%[s]), %%r9\n\t"
      "adoxq %%r9, %%r9\n\t"
      "adcxq %%rdx, %%r9\n\t"
      "movq %%r9, 104(%[s])\n\t"
      "movq 56(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %%rax, %%rdx\n\t"
      "movq 112(%[s]), %%r8\n\t"
      "adoxq %%r8, %%r8\n\t"
      "adcxq %%rax, %%r8\n\t"
      "movq %%r8, 112(%[s])\n\t"
      "movl $0, %%eax\n\t"
      "adoxq %%rax, %%rdx\n\t"
      "adcxq %%rax, %%rdx\n\t"
      "movq %%rdx, 120(%[s])\n\t"
      :
      : [a] "r"(a), [s] "r"(s)
      : LV_M8_CLOBBERS);
}

// *s->r := s->t·2^-512 mod m for s->t below m·2^512: the eight reduction
// steps over the low half, then the high half added. (low + q·m)/2^512 is at
// most m and the high half below m, so the sum is below 2m and one
// subtraction of m, kept unless it borrows, ends it.
__attribute__((always_inline)) inline void reduce(Scratch* s, const void* m) {
  __asm__ volatile(
      "movq 0(%[s]), %%r8\n\t"
      "movq 8(%[s]), %%r9\n\t"
      "movq 16(%[s]), %%r10\n\t"
      "movq 24(%[s]), %%r11\n\t"
      "movq 32(%[s]), %%r12\n\t"
      "movq 40(%[s]), %%r13\n\t"
      "movq 48(%[s]), %%r14\n\t"
      "movq 56(%[s]), %%r15\n\t"
      "xorl %%ebx, %%ebx\n\t"
      LV_M8_RED("r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "rbx")
      LV_M8_RED("r9", "r10", "r11", "r12", "r13", "r14", "r15", "rbx", "r8")
      LV_M8_RED("r10", "r11", "r12", "r13", "r14", "r15", "rbx", "r8", "r9")
      LV_M8_RED("r11", "r12", "r13", "r14", "r15", "rbx", "r8", "r9", "r10")
      LV_M8_RED("r12", "r13", "r14", "r15", "rbx", "r8", "r9", "r10", "r11")
      LV_M8_RED("r13", "r14", "r15", "rbx", "r8", "r9", "r10", "r11", "r12")
      LV_M8_RED("r14", "r15", "rbx", "r8", "r9", "r10", "r11", "r12", "r13")
      LV_M8_RED("r15", "rbx", "r8", "r9", "r10", "r11", "r12", "r13", "r14")
      // the value in (r15 r14 r13 r12 r11 r10 r9 r8 rbx), plus the high half
      "addq 64(%[s]), %%rbx\n\t"
      "adcq 72(%[s]), %%r8\n\t"
      "adcq 80(%[s]), %%r9\n\t"
      "adcq 88(%[s]), %%r10\n\t"
      "adcq 96(%[s]), %%r11\n\t"
      "adcq 104(%[s]), %%r12\n\t"
      "adcq 112(%[s]), %%r13\n\t"
      "adcq 120(%[s]), %%r14\n\t"
      "adcq $0, %%r15\n\t"
      // stored, then minus m, then taken back from the store where that borrows
      "movq 200(%[s]), %%rdx\n\t"
      "movq %%rbx, 0(%%rdx)\n\t"
      "movq %%r8, 8(%%rdx)\n\t"
      "movq %%r9, 16(%%rdx)\n\t"
      "movq %%r10, 24(%%rdx)\n\t"
      "movq %%r11, 32(%%rdx)\n\t"
      "movq %%r12, 40(%%rdx)\n\t"
      "movq %%r13, 48(%%rdx)\n\t"
      "movq %%r14, 56(%%rdx)\n\t"
      "subq 0(%[m]), %%rbx\n\t"
      "sbbq 8(%[m]), %%r8\n\t"
      "sbbq 16(%[m]), %%r9\n\t"
      "sbbq 24(%[m]), %%r10\n\t"
      "sbbq 32(%[m]), %%r11\n\t"
      "sbbq 40(%[m]), %%r12\n\t"
      "sbbq 48(%[m]), %%r13\n\t"
      "sbbq 56(%[m]), %%r14\n\t"
      "sbbq $0, %%r15\n\t"
      "cmovcq 0(%%rdx), %%rbx\n\t"
      "cmovcq 8(%%rdx), %%r8\n\t"
      "cmovcq 16(%%rdx), %%r9\n\t"
      "cmovcq 24(%%rdx), %%r10\n\t"
      "cmovcq 32(%%rdx), %%r11\n\t"
      "cmovcq 40(%%rdx), %%r12\n\t"
      "cmovcq 48(%%rdx), %%r13\n\t"
      "cmovcq 56(%%rdx), %%r14\n\t"
      "movq %%rbx, 0(%%rdx)\n\t"
      "movq %%r8, 8(%%rdx)\n\t"
      "movq %%r9, 16(%%rdx)\n\t"
      "movq %%r10, 24(%%rdx)\n\t"
      "movq %%r11, 32(%%rdx)\n\t"
      "movq %%r12, 40(%%rdx)\n\t"
      "movq %%r13, 48(%%rdx)\n\t"
      "movq %%r14, 56(%%rdx)\n\t"
      :
      : [m] "r"(m), [s] "r"(s)
      : LV_M8_CLOBBERS);
}

#undef LV_M8_CLOBBERS
#undef LV_M8_MULS
#undef LV_M8_ROW
#undef LV_M8_RED

// r := a·b·2^-512 mod m for a, b below m; n0 = -m^-1 mod 2^64. r may be a or b. The
// operands are eight little-endian limbs at any alignment (the RSA kernels pass 32-bit words).
inline void mul(void* r, const void* a, const void* b, const void* m, std::uint64_t n0) {
  Scratch s;
  std::memcpy(s.b, b, sizeof(s.b));
  s.n0 = n0;
  s.r = reinterpret_cast<std::uintptr_t>(r);
  product(&s, a);
  reduce(&s, m);
  // the product of secrets is secret: no copy stays on the stack
  volatile std::uint64_t* v = s.t;
  for (int i = 0; i < 24; i++) v[i] = 0;
}

// r := a^2·2^-512 mod m for a below m. r may be a.
inline void sqr(void* r, const void* a, const void* m, std::uint64_t n0) {
  Scratch s;
  s.n0 = n0;
  s.r = reinterpret_cast<std::uintptr_t>(r);
  square(&s, a);
  reduce(&s, m);
  volatile std::uint64_t* v = s.t;
  for (int i = 0; i < 16; i++) v[i] = 0;
}

}  // namespace lvmont8

#endif
