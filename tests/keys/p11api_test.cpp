// A PKCS#11 profile through the C API against a SoftHSM2 token (softhsm.h): what talInitEx and
// talAuthenticateEx answer for the module's and the token's failures, and the texts
// talErrorText gives for them.
#include "talvorin.h"

#include "api/talctx.h"
#include "keys/pkcs11lib.h"
#include "platform/registrysandbox.h"
#include "softhsm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class Pkcs11Api : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    ASSERT_TRUE(token.make());
  }

  talProfile* profile(const std::string& module, const char* keyLabel, int32_t flag = 0) {
    talProfile* p = talCreateProfile(TAL_PROFILE_PKCS11);
    EXPECT_NE(nullptr, p);
    EXPECT_EQ(0, talSetProfileAttr(p, 0, "p11-test", 9));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    EXPECT_EQ(0, talSetProfileAttr(p, 3, module.c_str(), static_cast<int32_t>(module.size() + 1)));
    if (keyLabel) {
      EXPECT_EQ(0, talSetProfileAttr(p, 6, keyLabel, static_cast<int32_t>(strlen(keyLabel) + 1)));
    }
    int32_t one = 1;
    if (flag) {
      EXPECT_EQ(0, talSetProfileAttr(p, flag, &one, 4));
    }
    return p;
  }

  softhsm::Token token;
};

TEST_F(Pkcs11Api, OpensSignsAndCloses) {
  talCtx* ctx = nullptr;
  ASSERT_EQ(TAL_OK_NEED_CRYPTO_CARD, talInitEx(&ctx, profile(token.module, "rsa", 34)));
  ctx->setPin(1, softhsm::USER_PIN);
  ASSERT_EQ(0, talAuthenticateEx(ctx, 0));
  EXPECT_EQ(10u, ctx->operationMask & 10) << "sign and decrypt with the one key";
  ASSERT_NE(nullptr, ctx->signerCertificate);
  std::vector<uint8_t> digest(32, 1), signature;
  EXPECT_EQ(0, ctx->keyManager.sign(0, 3, digest.data(), digest.size(), signature));
  EXPECT_EQ(256u, signature.size());
  EXPECT_EQ(0, talDeinit(ctx));
}

TEST_F(Pkcs11Api, AnswersOfTheModuleAndTheToken) {
  struct Row {
    const char* what;
    std::string module;
    const char* keyLabel;
    int32_t flag;
    const char* pin;  // NULL: none cached
    int32_t init;
    int32_t authenticate;
    const char* text;  // a part of talErrorText of the failing answer
  };
  const Row rows[] = {
      {"missing module", token.dir + "/missing.so", "rsa", 0, "1234", 37, 0, "missing.so"},
      {"not a module", P11_EMPTY_MODULE, "rsa", 0, "1234", 145, 0, "C_GetFunctionList"},
      {"no module named", "", "rsa", 0, "1234", 2, 41, ""},
      {"wrong PIN", token.module, "rsa", 0, "0000", 2, 46, "Błędne hasło/PIN"},
      {"no PIN", token.module, "rsa", 0, nullptr, 2, 35, ""},
      {"no such key", token.module, "none", 0, "1234", 2, 131, "Brak klucza"},
      {"two signing keys", token.module, nullptr, 27, "1234", 2, 33, ""},
      {"no decryption key", token.module, "ec", 0, "1234", 2, 29, ""},
      {"signs only", token.module, "ec", 27, "1234", 2, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    talCtx* ctx = nullptr;
    ASSERT_EQ(row.init, talInitEx(&ctx, profile(row.module, row.keyLabel, row.flag)));
    if (row.init != TAL_OK_NEED_CRYPTO_CARD) {
      EXPECT_EQ(nullptr, ctx);
      EXPECT_NE(std::string::npos, std::string(talErrorText(nullptr, row.init)).find(row.text));
      continue;
    }
    if (row.pin) ctx->setPin(1, row.pin);
    EXPECT_EQ(row.authenticate, talAuthenticateEx(ctx, 0));
    EXPECT_NE(std::string::npos,
              std::string(talErrorText(ctx, row.authenticate)).find(row.text));
    EXPECT_EQ(0, talDeinit(ctx));
  }
}

TEST_F(Pkcs11Api, CardErrorTextNamesTheTokensAnswer) {
  // The token's refusal of the PIN is kept, and the card error's text names it.
  talCtx* ctx = nullptr;
  ASSERT_EQ(TAL_OK_NEED_CRYPTO_CARD, talInitEx(&ctx, profile(token.module, "rsa")));
  ctx->setPin(1, "9999");
  EXPECT_EQ(46, talAuthenticateEx(ctx, 0));
  EXPECT_EQ(std::string("Błąd komunikacji z kartą, biblioteka PKCS#11 zwróciła błąd: ") +
                getCkrErrorText(CKR_PIN_INCORRECT) + " !!!",
            talErrorText(ctx, 44));
  EXPECT_EQ(0, talDeinit(ctx));
}

// The token forgets the login (another program logs the process out): the protection logs in
// again with the PIN the C caller gives, and maps what the token answers.
TEST_F(Pkcs11Api, ProtectionLogsInAgainWhenTheTokenForgotTheLogin) {
  talCtx* ctx = nullptr;
  ASSERT_EQ(TAL_OK_NEED_CRYPTO_CARD, talInitEx(&ctx, profile(token.module, "rsa", 34)));
  ASSERT_EQ(0, talSetPin(ctx, 1, softhsm::USER_PIN));
  ASSERT_EQ(0, talAuthenticateEx(ctx, 0));
  std::shared_ptr<Pkcs11Library> library;
  std::string text;
  CK_RV ckr = CKR_OK;
  ASSERT_EQ(0, Pkcs11Library::load(token.module, library, text, ckr));
  CK_FUNCTION_LIST* fn = library->functions();
  auto logout = [&] {
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    ASSERT_EQ(CKR_OK, fn->C_GetSlotList(CK_TRUE, slots, &count));
    for (CK_ULONG i = 0; i < count; ++i) {
      CK_TOKEN_INFO info;
      if (fn->C_GetTokenInfo(slots[i], &info) != CKR_OK ||
          std::string(reinterpret_cast<char*>(info.label), 9) != softhsm::TOKEN_LABEL)
        continue;
      CK_SESSION_HANDLE session = 0;
      ASSERT_EQ(CKR_OK, fn->C_OpenSession(slots[i], CKF_SERIAL_SESSION, nullptr, nullptr, &session));
      EXPECT_EQ(CKR_OK, fn->C_Logout(session));
      fn->C_CloseSession(session);
      return;
    }
    ADD_FAILURE() << "no token";
  };
  const struct {
    const char* pin;  // given before the protection (NULL: none)
    int32_t result;
  } rows[] = {{nullptr, 35}, {"0000", 46}, {softhsm::USER_PIN, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.pin ? row.pin : "no PIN");
    logout();
    if (row.pin) { ASSERT_EQ(0, talSetPin(ctx, 1, row.pin)); }
    talStream* in = nullptr;
    talStream* out = nullptr;
    ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("data"), 4, &in));
    ASSERT_EQ(0, talCreateMemStream(nullptr, 0, &out));
    EXPECT_EQ(row.result, talProtectMessageGF(ctx, nullptr, in, out, 2)) << talReportText(ctx);
    if (row.result == 0) {
      // Signed on the token: openssl verifies it with the token's certificate.
      uint8_t* data = nullptr;
      int32_t length = 0;
      ASSERT_EQ(0, talGetMemStreamData(out, &data, &length));
      softhsm::writeFile(token.dir + "/signed.msg", std::vector<uint8_t>(data, data + length));
      EXPECT_EQ(0, talDeleteBuffer(data, length));
      EXPECT_TRUE(token.run("openssl x509 -inform DER -in '" + softhsm::dataPath("rsa.crt.der") + "' -out '" +
                            token.dir + "/rsa.pem'"));
      EXPECT_TRUE(token.run("openssl cms -verify -binary -in '" + token.dir + "/signed.msg' -CAfile '" + token.dir +
                            "/rsa.pem' -purpose any -out '" + token.dir + "/content'"));
    }
    // A refused PIN is forgotten, so the next try asks again.
    EXPECT_EQ(nullptr, ctx->pins[0].pin);
    EXPECT_EQ(0, talDeleteStream(in));
    EXPECT_EQ(0, talDeleteStream(out));
  }

  // The token deleted under the open session: the card error, naming the module's answer.
  ASSERT_TRUE(token.run("softhsm2-util --delete-token --token " + std::string(softhsm::TOKEN_LABEL)));
  talStream* in = nullptr;
  talStream* out = nullptr;
  ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("data"), 4, &in));
  ASSERT_EQ(0, talCreateMemStream(nullptr, 0, &out));
  EXPECT_EQ(44, talProtectMessageGF(ctx, nullptr, in, out, 2)) << talReportText(ctx);
  EXPECT_NE(std::string::npos, std::string(talErrorText(ctx, 44)).find(getCkrErrorText(ctx->keyManager.lastCkr)));
  EXPECT_NE(0u, ctx->keyManager.lastCkr);
  EXPECT_EQ(0, talDeleteStream(in));
  EXPECT_EQ(0, talDeleteStream(out));
  EXPECT_EQ(0, talDeinit(ctx));
}

}  // namespace
