// libFuzzer target over OCSP responses: decode an OCSPResponse (private and
// in place), re-encode it, decode the BasicOCSPResponse it carries and check
// its signature with a fixed key. A value read in place must re-encode to
// exactly the octets it took; a private one is written with DER lengths
// around the parts kept as received, and that encoding must read back to
// itself. The signed ResponseData is kept as received in both modes, and
// every answer must be one of the documented codes.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "pki/ocsp/ocspresp.h"

#include "fuzzreuse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

template <class T>
void reencode(const T& o, const unsigned char* data, int n, unsigned char flags) {
  std::vector<unsigned char> out;
  if (o.encodeVector(out) < 1 || o.encodedLength() != static_cast<int>(out.size())) abort();
  if (flags & ASN_FLAG_CONST) {
    if (static_cast<int>(out.size()) != n || std::memcmp(out.data(), data, out.size()) != 0)
      abort();
    return;
  }
  T again;
  std::vector<unsigned char> out2;
  if (again.decodeVector(out) != static_cast<int>(out.size())) abort();
  if (again.encodeVector(out2) < 1 || out2 != out) abort();
}

// The signed part, first member of the response, encodes (and so hashes)
// as the octets received there; the certificates are kept as received too.
void signedAsReceived(const BasicOCSPResponse& basic, const unsigned char* data, int n) {
  if (!basic.tbsResponseData.isConstView()) abort();
  if (basic.certsPresent)
    for (POSITION pos = basic.certs->GetHeadPosition(); pos;)
      if (!basic.certs->GetNext(pos)->isConstView()) abort();
  std::vector<unsigned char> tbs;
  if (basic.tbsResponseData.encodeVector(tbs) < 1) abort();
  const int at = data[1] > 0x80 ? 2 + (data[1] & 0x7F) : 2;
  if (static_cast<int>(tbs.size()) > n - at || std::memcmp(tbs.data(), data + at, tbs.size()) != 0)
    abort();
}

// The P-256 key of the test responder (tests/data/pki/ocsp): its responses
// in the seed corpus verify, so the whole signature path is exercised.
const unsigned char kP256Spki[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a,
    0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04, 0x81, 0x06, 0xdd, 0x12, 0x1c,
    0xfb, 0x4b, 0xa0, 0x8a, 0x50, 0x6c, 0x9b, 0xa3, 0x66, 0x0a, 0x08, 0xb5, 0x7b, 0x99, 0xf1, 0x3b,
    0x15, 0xc8, 0x11, 0xd8, 0x86, 0x67, 0x14, 0x7f, 0xb8, 0x45, 0xc6, 0x95, 0x3a, 0x9e, 0x90, 0x1d,
    0x49, 0x5d, 0x97, 0xdd, 0xa9, 0x42, 0x7f, 0xde, 0xeb, 0x14, 0x2b, 0xf7, 0xf3, 0x35, 0xb6, 0x44,
    0xfd, 0x1d, 0xf7, 0x32, 0x01, 0xdd, 0x31, 0x1f, 0xad, 0x87, 0xc5};

void checkBasic(const ASNoctstr& bytes) {
  if (!bytes.data() || bytes.length < 2) return;
  for (unsigned char flags : {0, 1}) {
    BasicOCSPResponse basic;
    int r = basic.decodeBuffer(bytes.data(), bytes.length, flags);
    if (r < -2) abort();
    if (r <= 0) continue;
    reencode(basic, bytes.data(), r, flags);
    signedAsReceived(basic, bytes.data(), r);
    SubPubKeyInfo key;
    if (key.decodeBuffer(kP256Spki, sizeof kP256Spki) != static_cast<int>(sizeof kP256Spki))
      abort();
    int v = basic.verifySignature(key);
    if (v < -4 || v > 1) abort();
    if (basic.certsPresent && basic.certs->GetCount() > 0) {
      v = basic.verifySignature(*basic.certs->GetHead());
      if (v < -4 || v > 1) abort();
    }
    MemFile text;
    ReportStream report(&text);
    report.writeDateTime(basic.tbsResponseData.producedAt);
    for (POSITION p = basic.tbsResponseData.responses.GetHeadPosition(); p;) {
      SingleResponse* s = basic.tbsResponseData.responses.GetNext(p);
      report.writeInteger(s->certID.serialNumber);
      report.writeDateTime(s->thisUpdate);
    }
    if (basic.certsPresent)
      for (POSITION p = basic.certs->GetHeadPosition(); p;) report.writeCertificate(*basic.certs->GetNext(p));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int n = static_cast<int>(size);
  for (unsigned char flags : {0, 1}) {
    OCSPResponse resp;
    int r = resp.decodeBuffer(data, n, flags);
    if (r < -2) abort();
    if (r > 0) {
      reencode(resp, data, r, flags);
      if (resp.responseBytesPresent) checkBasic(resp.responseBytes->response);
    }
  }
  {
    OCSPResponse fresh;
    reuse<OCSPResponse>(data, n, fresh.decodeBuffer(data, n, 0));
    BasicOCSPResponse basic;
    reuse<BasicOCSPResponse>(data, n, basic.decodeBuffer(data, n, 0));
  }
  // The same octets as a bare BasicOCSPResponse.
  ASNoctstr whole;
  if (n > 0 && whole.set(data, n) == 1) checkBasic(whole);
  return 0;
}
