// libFuzzer target over the algorithm and carrier structures of the PKI
// layer: AlgorithmIdentifier (with the RSASSA-PSS reading), DigestInfo,
// RSASSA-PSS-params, Extension and its list, InfoTypeAndValue,
// PolicyIdAndNote and the Diffie-Hellman parameters. The first input octet
// chooses the structure.
// Besides crashes, the quick RSASSA-PSS reader answering unlike the full
// decoder, or a decoded value whose encoding does not decode again to
// the same octets, or whose announced length differs, stops the run.
#include "pki/common/algid.h"
#include "pki/keys/dhparams.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

void use(const AlgorithmIdentifier& a) {
  int h, s, m, mh, t;
  bool present;
  a.getDigestType(&h, &s);
  a.getRsaPssParams(&h, &s, &m, &mh, &t, &present);
  a.getRsaPssParams(&h, nullptr, nullptr, nullptr, nullptr, nullptr);
  std::string text;
  oidToText(a.algorithm, text);
  keyAlgorithmKind(a.algorithm);
  digestOidToType(a.algorithm, &h, &s);
  // The quick reader of RSASSA-PSS parameters answers only as the full decoder does.
  if (a.parametersPresent && a.parameters.tag == 0x30 &&
      RsaPssParams::readUsual(a.parameters.content(), a.parameters.length, &h, &mh, &s, &t)) {
    RsaPssParams p;
    int fullMh = 0;
    if (p.assignFromAny(a.parameters) != 1 || p.getDigestType() != h || p.getMgf(&fullMh) != 0 ||
        fullMh != mh || p.getSaltLength() != s || p.getTrailerField() != t)
      abort();
  }
}

void use(ASNobject& o) {
  if (auto* a = dynamic_cast<AlgorithmIdentifier*>(&o)) {
    use(*a);
  } else if (auto* d = dynamic_cast<DigestInfo*>(&o)) {
    use(d->digestAlgorithm);
  } else if (auto* p = dynamic_cast<RsaPssParams*>(&o)) {
    int mh;
    p->getDigestType();
    p->getMgf(&mh);
    p->getMgf(nullptr);
    p->getSaltLength();
    p->getTrailerField();
  } else if (auto* l = dynamic_cast<Extensions*>(&o)) {
    findExtensionByOid(*l, id_ce_basicConstraints);
    findExtensionByOidText(*l, "2.5.29.19");
  }
}

std::unique_ptr<ASNobject> make(unsigned char which) {
  switch (which % 9) {
    case 0:
      return std::unique_ptr<ASNobject>(new AlgorithmIdentifier());
    case 1:
      return std::unique_ptr<ASNobject>(new DigestInfo());
    case 2:
      return std::unique_ptr<ASNobject>(new RsaPssParams());
    case 3:
      return std::unique_ptr<ASNobject>(new Extension());
    case 4:
      return std::unique_ptr<ASNobject>(new Extensions());
    case 5:
      return std::unique_ptr<ASNobject>(new InfoTypeAndValue());
    case 6:
      return std::unique_ptr<ASNobject>(new Pkcs3DHParameter());
    case 7:
      return std::unique_ptr<ASNobject>(new X942DomainParameters());
    default:
      return std::unique_ptr<ASNobject>(new PolicyIdAndNote());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 65536) return 0;
  const unsigned char which = data[0];
  const std::vector<unsigned char> der(data + 1, data + size);
  for (unsigned char flags : {static_cast<unsigned char>(0),
                              static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY)}) {
    std::unique_ptr<ASNobject> o = make(which);
    int r = o->decodeVector(der, flags);
    if (r < 1) continue;
    use(*o);
    std::vector<unsigned char> out;
    int w = o->encodeVector(out);
    if (w < 1 || static_cast<size_t>(w) != out.size() || o->encodedLength() != w) abort();
    if (flags) {
      // A value read in place re-encodes what it was read from.
      if (out.size() != static_cast<size_t>(r) || !std::equal(out.begin(), out.end(), der.begin()))
        abort();
      // The same object read once more, now into its own memory.
      if (o->decodeVector(der, 0) != r) abort();
      continue;
    }
    // The encoding of a decoded value decodes again to the same octets.
    std::unique_ptr<ASNobject> again = make(which);
    if (again->decodeVector(out) != w) abort();
    std::vector<unsigned char> out2;
    if (again->encodeVector(out2) != w || out2 != out) abort();
  }
  return 0;
}
