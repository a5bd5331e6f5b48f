// XML decryption in a library context: the key manager as the holder of the
// user's decryption key, and the unprotect flow's step that decrypts one
// xenc:EncryptedData with it (the hook of tvxml.h).
#pragma once

#include "keys/keymanager.h"
#include "xmlsig/xmlencryption.h"

#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <vector>

struct talCtx;
class XmlSigContext;
class LvCbc;

// The key manager's decryption key and message steps. When the session key
// cannot be had (a block that does not unwrap, a key of another length than
// the cipher's), the content steps still decrypt every octet, under a decoy
// key, and finish as bad padding does: how long decryption takes does not
// tell which of them failed.
class KeyManagerDecryption : public XmlDecryptionKeys {
 public:
  explicit KeyManagerDecryption(KeyManager& keys);
  ~KeyManagerDecryption() override;

  bool userCertificateKnown() const override;
  bool isRecipient(const DistinguishedName& issuer, const ASNinteger& serial) override;
  int32_t decryptSessionKey(const uint8_t* encrypted, size_t length) override;
  int32_t startContent(int32_t cipher, const uint8_t* iv, size_t ivLength) override;
  int32_t continueContent(const uint8_t* in, size_t length, std::vector<uint8_t>& out) override;
  int32_t finishContent(std::vector<uint8_t>& out) override;

 private:
  int32_t startDecoy(int32_t cipher, const uint8_t* iv, size_t ivLength);

  KeyManager& keys;
  bool noSessionKey = false;
  std::unique_ptr<LvCbc> decoy;
};

// Decrypts one xenc:EncryptedData in place with the user's decryption key and
// writes its lines into the context's report: decryptEncryptedData's codes
// (39 with the device's error number kept in the context), or 25 when the key
// manager holds no decryption key.
int32_t decryptWithUserKey(talCtx* ctx, XmlSigContext* context, xmlNodePtr element);
