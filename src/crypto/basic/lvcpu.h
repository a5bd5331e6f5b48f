// Processor features for the crypto library's run-time dispatch, read once.
// Every processor-specific path asks here, so one switch turns them all off:
// the environment variable TALVORIN_CRYPTO_PORTABLE (any value but "" or "0")
// or the build option TAL_CRYPTO_PORTABLE. Then the portable paths run and can
// be measured and tested on any machine. TALVORIN_CRYPTO_NO_SHANI turns off
// the SHA instructions alone, for the paths of processors without them.
#ifndef TAL_CRYPTO_BASIC_LVCPU_H
#define TAL_CRYPTO_BASIC_LVCPU_H

namespace lvcpu {

// True when processor-specific paths are switched off.
bool portableOnly();

// Each is false when portableOnly() is true or the processor lacks it.
bool hasShaNi();      // SHA, SSSE3, SSE4.1
bool hasAesNi();      // AES-NI, SSE2
bool hasPclmul();     // PCLMULQDQ, SSE4.1
bool hasBmi2Adx();    // BMI2 (mulx) and ADX (adcx, adox)
bool hasBmi1();       // BMI1 (andn)
bool hasBmi2();       // BMI2 (rorx, mulx)
bool hasAvx2();
bool hasAvx512Ifma(); // AVX-512F and AVX-512 IFMA
bool hasAvx512Vl();   // AVX-512F and AVX-512VL

}  // namespace lvcpu

#endif
