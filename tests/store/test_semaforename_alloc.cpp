// The lock name of a database where the system asks for global names: "Global\"
// and the SHA-1 of the directory; a failure on the way (here every allocation
// in turn) throws the hashing text with the failure's own.
#include "store/dbtal.h"

#include "../failnth.h"

#include <gtest/gtest.h>

TEST(SemaforeName, GlobalNamesAndTheHashingText)
{
  const std::string dir = "/var/lib/talvorin/db/";
  // SHA-1 of the text, from `printf %s /var/lib/talvorin/db/ | sha1sum`.
  const std::string expected = "Global\\252B3A6F0D0DC589C68D7902D46951B381CCE6BE";
  EXPECT_EQ(dir + "db.lck", DbTal::semaforeNameFor(dir, 5));
  const std::string global = DbTal::semaforeNameFor(dir, 6);
  EXPECT_EQ(expected, global);
  bool failed = false;
  for (long n = 1; n < 40; ++n) {
    g_count = 0;
    g_failAt = n;
    try {
      EXPECT_EQ(global, DbTal::semaforeNameFor(dir, 6));
    } catch (const EnDb_Exception& e) {
      g_failAt = 0;
      failed = true;
      EXPECT_EQ(0u, std::string(e.what()).find("DbTal::createSemaforeName. Blad liczenia skrótu: ")) << e.what();
    }
    g_failAt = 0;
  }
  EXPECT_TRUE(failed) << "no allocation on the way was refused";
}
