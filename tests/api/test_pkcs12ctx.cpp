// A library context over a PKCS#12 profile (files made by openssl and keytool,
// tests/data/keys/p12/make_p12.sh): the PIN cached in the context reaches the key manager, and
// talAuthenticateEx answers with the codes of the key manager's statuses.
#include "talvorin.h"

#include "api/talctx.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

const std::string P12 = std::string(TAL_TEST_DATA_DIR) + "/keys/p12/";

class Pkcs12Ctx : public RegistrySandbox {
 protected:
  talCtx* openProfile(const std::string& file) {
    static int serial = 0;
    talProfile* p = talCreateProfile(TAL_PROFILE_PKCS12);
    std::string name = "p12-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    std::string path = P12 + file;
    EXPECT_EQ(0, talSetProfileAttr(p, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    EXPECT_EQ(0, talSetProfileAttr(p, 9, path.c_str(), static_cast<int32_t>(path.size() + 1)));
    talCtx* ctx = nullptr;
    EXPECT_EQ(0, talInitEx(&ctx, p));
    return ctx;
  }
};

TEST_F(Pkcs12Ctx, AuthenticationAnswersAndWhatTheKeysAllow) {
  struct Row {
    const char* file;
    const char* pin;  // NULL: none given
    int32_t usage;    // the PIN's usage
    int32_t result;
    uint32_t keyOperations;  // bits 2 and 8 of the operation mask
    bool signer;
  };
  const Row rows[] = {
      {"both-legacy.p12", "vorin-PIN", 1, 0, 10, true},
      {"sign-dec.p12", "vorin-PIN", 2, 0, 10, true},
      {"dec.p12", "vorin-PIN", 1, 0, 8, false},
      {"ec.p12", "vorin-PIN", 1, 0, 2, true},
      {"both-legacy.p12", "vorin-pin", 1, 46, 0, false},
      {"both-legacy.p12", nullptr, 1, 35, 0, false},
      {"missing.p12", "vorin-PIN", 1, 83, 0, false},
      {"both-aes.p12", "vorin-PIN", 1, 0, 10, true},
      {"garbage.p12", "vorin-PIN", 1, 84, 0, false},
      {"sign-ec.p12", "vorin-PIN", 1, 33, 0, false},
      // A PIN of 39 characters: openssl's file takes it whole, the other file's MAC and key
      // took its first 64 octets (tests/data/pki/pkcs/make_longpw.sh); both open.
      {"../../pki/pkcs/long_rfc.p12", "a password of forty characters, or more", 1, 0, 10, true},
      {"../../pki/pkcs/long_cut.p12", "a password of forty characters, or more", 1, 0, 10, true},
      // Past the 32nd character the cut reads nothing: only a difference before it is wrong.
      {"../../pki/pkcs/long_cut.p12", "a password of forty characters, or less", 1, 0, 10, true},
      {"../../pki/pkcs/long_cut.p12", "A password of forty characters, or more", 1, 46, 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + " " + (row.pin ? row.pin : "(no PIN)"));
    talCtx* ctx = openProfile(row.file);
    ASSERT_NE(nullptr, ctx);
    if (row.pin) ctx->setPin(row.usage, row.pin);
    EXPECT_EQ(row.result, talAuthenticateEx(ctx, 0));
    EXPECT_EQ(row.keyOperations, ctx->operationMask & 10);
    EXPECT_EQ(row.signer, ctx->signerCertificate != nullptr);
    // A wrong PIN is not kept for another try.
    if (row.result == 46) { EXPECT_EQ(nullptr, ctx->pins[0].pin); }
    EXPECT_EQ(0, talDeinit(ctx));
  }
}

}  // namespace
