// In-memory certificate stores.
#include "store/lcrtstore.h"

#include "base/commonerror.h"
#include "store/crtstore.h"

#include <algorithm>
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
  if (std::find(certificates.begin(), certificates.end(), cert) != certificates.end()) return true;
  try {
    certificates.push_back(cert);
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
