// In-memory certificate stores.
#include "store/lcrtstore.h"

#include "base/commonerror.h"
#include "base/workaccount.h"
#include "store/crtstore.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

bool appendCopy(CertificateList& out, const SignedCertificate& cert) {
  try {
    std::unique_ptr<SignedCertificate> copy(new SignedCertificate(cert));
    if (out.append(copy.get()) != 1) return false;
    copy.release();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void moveToShared(CertificateList& from, SharedCertificateList& to) {
  to.reserve(to.size() + static_cast<size_t>(from.GetCount()));
  while (from.GetCount() > 0) {
    std::unique_ptr<SignedCertificate> taken(from.RemoveHead());
    if (!taken) continue;
    to.emplace_back();
    to.back().adopt(std::move(taken));
  }
}

namespace {

const char* const SRC = "SRC/lcrtstore";

bool sameKeyId(const SignedCertificate& cert, const uint8_t* keyId, int keyIdLength) {
  unsigned char own[20];
  if (!keyId || keyIdLength != static_cast<int>(sizeof own)) return false;
  if (!cert.tbsCertificate.subjectPublicKeyInfo.keyIdentifier(own)) return false;
  return std::memcmp(own, keyId, sizeof own) == 0;
}

}  // namespace

int CertificateStore::collect(CertificateList& out,
                              const std::function<int(const SignedCertificate&)>& match) const {
  int result = CRTSTORE_NOT_FOUND;
  walk([&](const SignedCertificate& cert) {
    int r = match(cert);
    if (r == CRTSTORE_NOT_FOUND) return true;
    if (r == CRTSTORE_FOUND && appendCopy(out, cert)) {
      result = CRTSTORE_FOUND;
      return true;
    }
    result = CRTSTORE_FAILED;
    return false;
  });
  return result;
}

int CertificateStore::findByIssuerKeyId(CertificateList& out, const uint8_t* keyId,
                                        int keyIdLength, const DistinguishedName& issuer,
                                        bool encryptionOnly) const {
  return collect(out, [&](const SignedCertificate& cert) -> int {
    int r = matchByIssuer(cert, issuer, encryptionOnly);
    checkInvariant(r == CRTSTORE_FOUND || r == CRTSTORE_FAILED || r == CRTSTORE_NOT_FOUND, SRC,
                   __LINE__, "false");
    if (r != CRTSTORE_FOUND) return r;
    return sameKeyId(cert, keyId, keyIdLength) ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND;
  });
}

namespace {
bool hasIssuerSerial(const SignedCertificate& cert, const DistinguishedName& issuer,
                     const ASNinteger& serial) {
  return cert.tbsCertificate.serialNumber.equals(serial) && cert.tbsCertificate.issuer == issuer;
}
}  // namespace

bool CertificateStore::holdsIssuerSerial(const DistinguishedName& issuer,
                                         const ASNinteger& serial) const {
  bool held = false;
  walk([&](const SignedCertificate& cert) {
    held = hasIssuerSerial(cert, issuer, serial);
    return !held;
  });
  return held;
}

int CertificateStore::findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                                         const ASNinteger& serial) const {
  int result = CRTSTORE_NOT_FOUND;
  walk([&](const SignedCertificate& cert) {
    if (!hasIssuerSerial(cert, issuer, serial)) return true;
    try {
      out = cert;
      result = CRTSTORE_FOUND;
    } catch (const std::exception&) {
      result = CRTSTORE_FAILED;
    }
    return false;
  });
  return result;
}

int CertificateStore::findBySubject(CertificateList& out, const DistinguishedName& subject,
                                    bool encryptionOnly) const {
  return collect(out, [&](const SignedCertificate& cert) -> int {
    return matchBySubject(cert, subject, encryptionOnly);
  });
}

int CertificateStore::findByEmail(CertificateList& out, const char* address,
                                  bool encryptionOnly) const {
  return collect(out, [&](const SignedCertificate& cert) -> int {
    return matchByEmail(cert, address, encryptionOnly);
  });
}

bool LCertificateStore::addCertificate(const SignedCertificate* cert) {
  if (!cert) return false;
  // Known by a set, not by a search of the list: a time-stamp token may carry
  // thousands of certificates, each added after all before it.
  try {
    if (!listed.insert(cert).second) return true;
    try {
      certificates.push_back(cert);
    } catch (const std::bad_alloc&) {
      listed.erase(cert);
      throw;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void LCertificateStore::walk(const Visitor& visit) const {
  for (const SignedCertificate* cert : certificates)
    if (cert && !visit(*cert)) return;
}

void ListCertificateStore::walk(const Visitor& visit) const {
  if (!list) return;
  for (POSITION pos = list->GetHeadPosition(); pos;) {
    const SignedCertificate* cert = list->GetNext(pos);
    if (cert && !visit(*cert)) return;
  }
}

namespace {

// Length-prefixed, so that no two different sequences of parts run together alike.
void appendPart(std::string& key, const unsigned char* octets, int length) {
  const uint32_t n = length > 0 && octets ? static_cast<uint32_t>(length) : 0;
  const char size[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                        static_cast<char>(n >> 8), static_cast<char>(n)};
  key.append(size, sizeof size);
  if (n) key.append(reinterpret_cast<const char*>(octets), n);
}

// What AttributeValue's == compares: the type's octets, the value's tag and content.
std::string attributeKey(const AttributeValue* attribute) {
  std::string key;
  if (!attribute) return std::string(1, '\0');  // a null attribute equals only a null one
  key.push_back('\1');
  appendPart(key, attribute->type.data(), attribute->type.length);
  key.push_back(static_cast<char>(attribute->value.tag));
  appendPart(key, attribute->value.content(), attribute->value.length);
  return key;
}

}  // namespace

std::string issuerSerialKey(const DistinguishedName& issuer, const ASNinteger& serial) {
  std::string key;
  appendPart(key, serial.data(), serial.length);
  // Normalised as the name comparison normalises its copies: RDN by RDN, a
  // failing one ending it.
  DistinguishedName copy(issuer);
  for (POSITION pos = copy.GetHeadPosition(); pos;) {
    RDname* rdn = copy.GetNext(pos);
    if (rdn && !rdn->normalise()) break;
  }
  std::vector<std::string> attributes;
  for (POSITION pos = copy.GetHeadPosition(); pos;) {
    const RDname* rdn = copy.GetNext(pos);
    if (!rdn) return std::string();
    attributes.clear();
    for (POSITION q = rdn->GetHeadPosition(); q;) attributes.push_back(attributeKey(rdn->GetNext(q)));
    // An RDN is a set: its attributes in any order are the same RDN.
    std::sort(attributes.begin(), attributes.end());
    const uint32_t count = static_cast<uint32_t>(attributes.size());
    appendPart(key, nullptr, 0);
    appendPart(key, reinterpret_cast<const unsigned char*>(&count), sizeof count);
    for (const std::string& a : attributes)
      appendPart(key, reinterpret_cast<const unsigned char*>(a.data()), static_cast<int>(a.size()));
  }
  return key;
}

bool IndexedCertificateStore::add(const SignedCertificate& cert) {
  std::string key = issuerSerialKey(cert.tbsCertificate.issuer, cert.tbsCertificate.serialNumber);
  if (!key.empty() && index.count(key)) return false;
  std::unique_ptr<SignedCertificate> copy(new SignedCertificate(cert));
  order.reserve(order.size() + 1);
  const Index::iterator at = key.empty() ? index.end() : index.emplace(std::move(key), copy.get()).first;
  if (certificates.append(copy.get()) < 1) {
    if (at != index.end()) index.erase(at);
    throw std::bad_alloc();
  }
  copy.release();
  order.push_back(at);
  return true;
}

void IndexedCertificateStore::truncate(int count) {
  while (size() > std::max(count, 0)) {
    if (order.back() != index.end()) index.erase(order.back());
    order.pop_back();
    certificates.deleteTail();
  }
}

namespace {

// A look-up by a name as the comparison makes it: paid by the key's octets,
// and none found once the account is over, as no name is then equal.
bool keyPaid(const std::string& key) {
  return !workOver() && workCharge(WORK_DER_OCTET * static_cast<uint64_t>(key.size()));
}

}  // namespace

int IndexedCertificateStore::findByIssuerSerial(SignedCertificate& out,
                                                const DistinguishedName& issuer,
                                                const ASNinteger& serial) const {
  try {
    const std::string key = issuerSerialKey(issuer, serial);
    auto it = keyPaid(key) ? index.find(key) : index.end();
    if (it == index.end()) return CRTSTORE_NOT_FOUND;
    out = *it->second;
    return CRTSTORE_FOUND;
  } catch (const std::exception&) {
    return CRTSTORE_FAILED;
  }
}

bool IndexedCertificateStore::holdsIssuerSerial(const DistinguishedName& issuer,
                                                const ASNinteger& serial) const {
  const std::string key = issuerSerialKey(issuer, serial);
  return keyPaid(key) && index.count(key) > 0;
}

void IndexedCertificateStore::walk(const Visitor& visit) const {
  for (POSITION pos = certificates.GetHeadPosition(); pos;) {
    const SignedCertificate* cert = certificates.GetNext(pos);
    if (cert && !visit(*cert)) return;
  }
}
