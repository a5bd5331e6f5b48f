#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "crypto/basic/lvcpu.h"

// CI runs the crypto tests a second time with TALVORIN_CRYPTO_PORTABLE=1: then
// no processor-specific path may be chosen, whatever the processor has.
TEST(CpuFeatures, PortableSwitchTurnsEveryPathOff) {
  const char* env = std::getenv("TALVORIN_CRYPTO_PORTABLE");
  const bool wanted = env != nullptr && env[0] != '\0' && std::strcmp(env, "0") != 0;
#ifdef TAL_CRYPTO_PORTABLE
  EXPECT_TRUE(lvcpu::portableOnly());
#else
  EXPECT_EQ(wanted, lvcpu::portableOnly());
#endif
  if (lvcpu::portableOnly()) {
    EXPECT_FALSE(lvcpu::hasShaNi());
    EXPECT_FALSE(lvcpu::hasAesNi());
    EXPECT_FALSE(lvcpu::hasPclmul());
    EXPECT_FALSE(lvcpu::hasBmi2Adx());
    EXPECT_FALSE(lvcpu::hasAvx2());
    EXPECT_FALSE(lvcpu::hasAvx512Ifma());
  }
}
