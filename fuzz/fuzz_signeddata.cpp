// libFuzzer target over signed messages: decode a ContentInfo with its
// SignedData whole (private and in place) and streamed in pieces of
// pseudo-random sizes. Both decoders must accept the same inputs with the
// same values (the streamed one passing the content through); a value read
// in place must re-encode to exactly the octets it took; every answer must
// be one of the documented codes. One object is also decoded again and
// cleared, and the signers are copied.
#include "fuzzstream.h"
#include "base/memfile.h"
#include "pki/cms/sgndata.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encoding(const ASNobject& o) {
  Bytes out;
  const int n = o.encodeVector(out);
  if (n < 0 && n != EASN_FILE && n != EASN_MEM) abort();
  if (n > 0 && n != o.encodedLength()) abort();
  return n > 0 ? out : Bytes();
}

void reencode(const ASNobject& o, const unsigned char* data, int n) {
  const Bytes out = encoding(o);
  if (static_cast<int>(out.size()) != n || std::memcmp(out.data(), data, n) != 0) abort();
}

void same(const ASNobject& a, const ASNobject& b) {
  if (encoding(a) != encoding(b)) abort();
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 17) return 0;
  const int n = static_cast<int>(size);
  SignedMessage whole;
  const int w = whole.decodeBuffer(data, n, 0);
  if (w < -2) abort();
  SignedMessage view;
  const int v = view.decodeBuffer(data, n, ASN_FLAG_CONST);
  if (v < -2) abort();
  if ((v > 0) != (w > 0) || (v > 0 && v != w)) abort();
  if (v > 0) reencode(view, data, v);
  if (w > 0) encoding(whole);

  // One object read in place from octets then released, privately again,
  // then in place and cleared: nothing may keep viewing released octets.
  {
    SignedMessage reused;
    {
      const Bytes copy(data, data + n);
      const int r = reused.decodeBuffer(copy.data(), n, ASN_FLAG_CONST | ASN_FLAG_COPY);
      if ((r > 0) != (w > 0) || (r > 0 && r != w)) abort();
    }
    const int r = reused.decodeBuffer(data, n, 0);
    if ((r > 0) != (w > 0) || (r > 0 && r != w)) abort();
    if (r > 0) same(reused, whole);
    reused.decodeBuffer(data, n, ASN_FLAG_CONST);
    reused.value().clear();
    if (reused.value().isConstView()) abort();
    const int again = reused.decodeBuffer(data, n, 0);
    if ((again > 0) != (w > 0) || (again > 0 && again != w)) abort();
  }
  // A copied signer keeps the signed attributes as received.
  if (v > 0)
    for (POSITION p = view.value().signerInfos.GetHeadPosition(); p;) {
      const SignerInfo* si = TypedPointerList<SignerInfo>::GetNext(p);
      if (!si) continue;
      const SignerInfo copy(*si);
      encoding(copy);
      same(copy.signedAttrs, si->signedAttrs);
    }

  // Streamed: only whole messages (the stream decoder has no length bound).
  SignedMessage streamed;
  MemFile passed;
  const int s = streamIn(streamed, data, w > 0 ? w : n, &passed);
  if (s < -3) abort();
  if (w <= 0) return 0;
  if (s != w) abort();
  const SignedData& a = whole.value();
  const SignedData& b = streamed.value();
  same(a.version, b.version);
  same(a.digestAlgorithms, b.digestAlgorithms);
  same(a.encapContentInfo.contentType, b.encapContentInfo.contentType);
  if (a.encapContentInfo.contentPresent != b.encapContentInfo.contentPresent) abort();
  const ASNoctstr& content = a.encapContentInfo.value();
  if (passed.length() != (a.encapContentInfo.contentPresent ? content.length : 0)) abort();
  if (passed.length() > 0 && std::memcmp(passed.data(), content.data(), passed.length()) != 0) abort();
  if (a.certificatesPresent != b.certificatesPresent || a.crlsPresent != b.crlsPresent) abort();
  if (a.certificatesPresent) same(a.certificates, b.certificates);
  if (a.crlsPresent) same(a.crls, b.crls);
  same(a.signerInfos, b.signerInfos);
  return 0;
}
