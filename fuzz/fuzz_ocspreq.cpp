// libFuzzer target over OCSP requests and the CA message-service frames:
// decode (private and in place) and re-encode. A value read in place must
// re-encode to exactly the octets it took. A private value is written with
// DER lengths (and TBSRequest's members in schema order), so its encoding
// must read back to itself; the signed TBSRequest of a request is kept as
// received in both modes.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "pki/keys/algtext.h"
#include "pki/ocsp/ocspreq.h"
#include "pki/ocsp/vessikreq.h"

#include "fuzzreuse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> encodeOf(const ASNobject& o) {
  std::vector<unsigned char> out;
  int r = o.encodeVector(out);
  if (r < 1 || r != o.encodedLength()) abort();
  return out;
}

// Octets of the outer header at the start of an encoding.
int headerSize(const uint8_t* data) { return data[1] > 0x80 ? 2 + (data[1] & 0x7F) : 2; }

void keptAsReceived(const ASNobject&, const uint8_t*, int) {}

void print(const ASNobject&) {}

// What a request shows in a report: serials, hash names, the requestor's certificates.
void print(const OCSPRequest& r) {
  MemFile text;
  ReportStream report(&text);
  std::string h;
  for (POSITION p = r.tbsRequest.requestList.GetHeadPosition(); p;) {
    Request* q = r.tbsRequest.requestList.GetNext(p);
    report.writeInteger(q->reqCert.serialNumber);
    hashAlgorithmName(q->reqCert.hashAlgorithm.algorithm, nullptr, &h);
  }
  if (r.optionalSignaturePresent && r.optionalSignature->certsPresent)
    for (POSITION p = r.optionalSignature->certs->GetHeadPosition(); p;)
      report.writeCertificate(*r.optionalSignature->certs->GetNext(p));
}

// The signed part is the first member: its encoding is the received octets.
// The requestor's certificates are kept as received too.
void keptAsReceived(const OCSPRequest& req, const uint8_t* data, int n) {
  if (!req.tbsRequest.isConstView()) abort();
  const Signature& sig = *req.optionalSignature;
  if (req.optionalSignaturePresent && sig.certsPresent)
    for (POSITION pos = sig.certs->GetHeadPosition(); pos;)
      if (!sig.certs->GetNext(pos)->isConstView()) abort();
  std::vector<unsigned char> tbs = encodeOf(req.tbsRequest);
  const int at = headerSize(data);
  if (static_cast<int>(tbs.size()) > n - at || std::memcmp(tbs.data(), data + at, tbs.size()) != 0)
    abort();
}

template <class T>
void check(const uint8_t* data, int n) {
  {
    T fresh;
    reuse<T>(data, n, fresh.decodeBuffer(data, n, 0));
  }
  for (unsigned char flags : {0, 1}) {
    T v;
    int r = v.decodeBuffer(data, n, flags);
    if (r < -2) abort();
    if (r <= 0) continue;
    keptAsReceived(v, data, r);
    print(v);
    std::vector<unsigned char> out = encodeOf(v);
    if (flags & ASN_FLAG_CONST) {
      if (static_cast<int>(out.size()) != r || std::memcmp(out.data(), data, out.size()) != 0)
        abort();
      continue;
    }
    T again;
    if (again.decodeVector(out) != static_cast<int>(out.size())) abort();
    if (encodeOf(again) != out) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const int n = static_cast<int>(size) - 1;
  const uint8_t* p = data + 1;
  switch (data[0] % 4) {
    case 0:
      check<OCSPRequest>(p, n);
      break;
    case 1:
      check<ASNVessikRequestFrame>(p, n);
      break;
    case 2:
      check<ASNCrlRequest>(p, n);
      check<ASNCertificateRequest>(p, n);
      break;
    default:
      check<ASNCertificateID>(p, n);
      check<Request>(p, n);
      break;
  }
  return 0;
}
