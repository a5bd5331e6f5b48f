// libFuzzer target over a time-stamp token read as a CMS signature: decode
// a signed message, then analyse each signer with the CMS signature
// properties and ask them for the message-digest check, the signed digest,
// the signature value, the signer and the carried certificates. Every
// answer must be one of the documented codes and nothing may crash or leak.
#include "pki/sig/sigpropspkcs7.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void analyseAll(const uint8_t* data, size_t size, unsigned char flags) {
  SignedMessage msg;
  if (msg.decodeBuffer(data, int(size), flags) <= 0) return;
  int signers = 0;
  for (POSITION pos = msg.value().signerInfos.GetHeadPosition(); pos && signers < 4; ++signers) {
    const SignerInfo* si = msg.value().signerInfos.GetNext(pos);
    if (!si) continue;
    for (bool timeStamp : {true, false}) {
      SignaturePropertiesPkcs7 props(nullptr, &msg.value(), si, timeStamp, false);
      const int32_t r = props.analyse();
      if (r != 0 && r != 89 && r != 92 && r != 100) abort();
      if (r != 0) continue;
      props.checkMessageDigest();
      std::string digest;
      props.signedDigest(props.hashId, digest);
      int32_t n = 0;
      if (props.signatureValue(nullptr, &n) != 0 || n < 0) abort();
      std::vector<unsigned char> value(static_cast<size_t>(n) + 1);
      if (props.signatureValue(value.data(), &n) != 0) abort();
      props.signerIdentifier();
      props.carriedCertificates();
      if (props.signerCertificate) props.signingCertificateMatches(*props.signerCertificate);
    }
  }
}

}  // namespace

// Read privately and in place (as the XAdES reader reads tokens).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  analyseAll(data, size, 0);
  analyseAll(data, size, ASN_FLAG_CONST | ASN_FLAG_COPY);
  return 0;
}
