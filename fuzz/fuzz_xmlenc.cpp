// libFuzzer target over xenc:EncryptedData from strangers: the document's
// guarded parse, the EncryptedData and EncryptedKey readers, and decryption in
// place with a key holder that takes every recipient and "decrypts" the
// cipher value to itself (less its IV), so that the input also reaches the
// plaintext's parse in the element's context and the replacement. A refusal
// is a result code with its report line; a crash, a code outside the readers'
// and decryption's, or a tree that no longer walks is a finding.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "store/dnutils.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlencryption.h"
#include "xmlsig/xmlmisc.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct EveryRecipient : XmlDecryptionKeys {
  bool userCertificateKnown() const override { return true; }
  bool isRecipient(const DistinguishedName&, const ASNinteger&) override { return true; }
  int32_t decryptSessionKey(const uint8_t*, size_t) override { return 0; }
  int32_t startContent(int32_t, const uint8_t*, size_t) override { return 0; }
  int32_t continueContent(const uint8_t* in, size_t length, std::vector<uint8_t>& out) override {
    out.assign(in, in + length);
    return 0;
  }
  int32_t finishContent(std::vector<uint8_t>& out) override {
    out.clear();
    return 0;
  }
};

bool expected(int32_t code, bool decrypting) {
  return code == 0 || code == 89 || code == 100 ||
         (decrypting && (code == 20 || code == 77 || code == 95));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XmlDocHolder holder;
  MemFile in(const_cast<uint8_t*>(data), static_cast<int32_t>(size), false);
  if (size > XML_MAX_DOCUMENT_SIZE || parseXmlDocument(&holder, &in) != 0) return 0;
  xmlNodePtr element =
      findElement(holder.root, xmlc::XENC_ENCRYPTED_DATA.data(), xmlc::NS_XENC.data(), -1);
  if (!element) return 0;
  MemFile text;
  ReportStream report(&text);
  XmlEncryptedData read;
  int32_t code = read.read(element, &report, makeDnAttribute);
  if (!expected(code, false) || (code == 0 && read.encryptedKeys.items.empty())) abort();
  if (code != 0 && text.length() == 0) abort();
  EveryRecipient keys;
  code = decryptEncryptedData(keys, &report, element, makeDnAttribute);
  if (!expected(code, true)) abort();
  // Whatever happened, the tree walks and serialises.
  std::string out;
  serializeNode(xmlDocGetRootElement(holder.doc), out, false);
  registerIdAttributes(xmlDocGetRootElement(holder.doc));
  return 0;
}
