// The certificate manager and its database query layer.
#include "store/certmgr.h"

#include "base/commonerror.h"
#include "crypto/hash/messagedigests.h"
#include "pki/common/oids.h"
#include "store/crtstore.h"
#include "store/dnutils.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

const char* const SRC = "SRC/certmgr";

bool digestOf(const ASNobject& object, DbHash& out) {
  return object.digest(1, out.data(), static_cast<int>(out.size())) == 1;
}

// The digest of the normalised name's encoding (a value that cannot be
// normalised stays as received), made without a copy of the name.
bool subjectHash(const DistinguishedName& subject, DbHash& out) {
  std::vector<unsigned char> der;
  if (!subject.encodeNormalised(der)) return false;
  MessageDigestCtx sha1(1);
  sha1.update(der.data(), static_cast<uint32_t>(der.size()));
  sha1.finish();
  if (sha1.getDigestLength() != out.size()) return false;
  std::memcpy(out.data(), sha1.getDigestPtr(), out.size());
  return true;
}

// The text of a subject attribute as keys hold it; false when its value is
// not text.
bool fieldText(const AttributeValue& attribute, std::string& out) {
  char buffer[1024];
  int32_t length = sizeof buffer;
  uint32_t flags = 0;
  if (dnAttributeValueToText(attribute, buffer, &length, &flags) != 0) return false;
  out.assign(buffer, static_cast<size_t>(length));
  toUpperText(out);
  return true;
}

std::string cut(std::string text, size_t bound) {
  text = text.substr(0, std::min(bound, std::strlen(text.c_str())));
  return text;
}

}  // namespace

// ------------------------------------------------------------- query layer

bool CertificateDbStore::decodeHit(const DbCertRecord& hit, SharedCertificate& out) {
  std::lock_guard<std::mutex> hold(decodedLock);
  auto known = decoded.find(hit.id);
  if (known != decoded.end() && known->second.der == hit.der) {
    out = known->second.certificate;
    return true;
  }
  // Read in place over a private copy of the stored octets, as received: a
  // TBS signed as it stands verifies over those octets, not a re-encoding.
  std::unique_ptr<SignedCertificate> cert(new SignedCertificate());
  if (cert->decodeVector(hit.der, ASN_FLAG_CONST | ASN_FLAG_COPY) !=
      static_cast<int>(hit.der.size()))
    return false;
  out.adopt(std::move(cert));
  if (decoded.size() >= MAX_DECODED) decoded.clear();
  Decoded& entry = decoded[hit.id];
  entry.der = hit.der;
  entry.certificate = out;
  return true;
}

template <class Accept, class Append>
int CertificateDbStore::appendHits(const DbCertList& hits, Accept accept, Append append) {
  int result = CRTDB_NOTHING;
  for (const DbCertRecord& hit : hits) {
    SharedCertificate cert;
    if (!decodeHit(hit, cert)) return CRTDB_FAILED;
    int r = accept(cert.get());
    if (r == CRTSTORE_FAILED) return CRTDB_FAILED;
    if (r != CRTSTORE_FOUND) continue;
    if (!append(cert)) return CRTDB_FAILED;
    result = CRTDB_FOUND;
  }
  return result;
}

// The caller's list owns what it holds: each hit taken is a copy.
template <class Accept>
int CertificateDbStore::appendHits(const DbCertList& hits, CertificateList& out, Accept accept) {
  return appendHits(hits, accept,
                    [&](const SharedCertificate& cert) { return appendCopy(out, cert); });
}

int CertificateDbStore::importCertificate(const SignedCertificate& cert) {
  try {
    DbCrtBase* db = source ? source->certificateDb() : nullptr;
    if (!db) return CRTDB_FAILED;
    const TBSCertificate& tbs = cert.tbsCertificate;
    DbHash serial, subject, whole, keyId;
    if (!digestOf(tbs.serialNumber, serial) || !subjectHash(tbs.subject, subject) ||
        !digestOf(cert, whole) || !tbs.subjectPublicKeyInfo.keyIdentifier(keyId.data()))
      return CRTDB_FAILED;
    DbDnFieldList fields;
    std::string email, text;
    // Values are cut before they are compared, so a long duplicate is dropped;
    // the e-mail bound equals the field bound.
    static_assert(DB_EMAIL_MAX == DB_FIELD_VALUE_MAX, "one cut serves both");
    auto addField = [&](char tag, const std::string& value) {
      addDnField(fields, tag, cut(value, DB_FIELD_VALUE_MAX), email);
    };
    tbs.subject.forEachAttribute([&](const AttributeValue* a) {
      char code = a ? findDnAttributeType(a->type) : 0;
      if (code && fieldText(*a, text)) addField(code, text);
      return true;
    });
    // Subject addresses again (dropped as duplicates), then subjectAltName's.
    std::vector<std::string> addresses;
    if (!getCertEmailAddresses(cert, addresses, false)) return CRTDB_FAILED;
    for (std::string& address : addresses) {
      toUpperText(address);
      addField('e', address);
    }
    DbBytes der;
    if (cert.encodeVector(der) <= 0) return CRTDB_FAILED;
    db->insertCert(serial, subject, whole, keyId, email, der, fields, cert.isCa());
    return CRTDB_FOUND;  // a certificate there already counts as stored
  } catch (const std::exception&) {
    return CRTDB_FAILED;
  }
}

int CertificateDbStore::findBySerial(CertificateList& out, const ASNinteger& serial) {
  try {
    DbCrtBase* db = source ? source->certificateDb() : nullptr;
    DbHash key;
    if (!db || !digestOf(serial, key)) return CRTDB_FAILED;
    DbCertList hits;
    db->findBySerNumHash(hits, key);
    return appendHits(hits, out, [&](const SignedCertificate& c) {
      return c.tbsCertificate.serialNumber.equals(serial) ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND;
    });
  } catch (const std::exception&) {
    return CRTDB_FAILED;
  }
}

int CertificateDbStore::findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                                           const ASNinteger& serial) {
  CertificateList hits;
  int r = findBySerial(hits, serial);
  if (r != CRTDB_FOUND) return r;
  for (POSITION pos = hits.GetHeadPosition(); pos;) {
    const SignedCertificate* c = hits.GetNext(pos);
    if (c && c->tbsCertificate.issuer == issuer) {
      try {
        out = *c;
      } catch (const std::exception&) {
        return CRTDB_FAILED;
      }
      return CRTDB_FOUND;
    }
  }
  return CRTDB_NOTHING;
}

template <class Append>
int CertificateDbStore::subjectHits(const DistinguishedName& subject, bool encryptionOnly,
                                    Append append) {
  try {
    DbCrtBase* db = source ? source->certificateDb() : nullptr;
    DbHash key;
    if (!db || !subjectHash(subject, key)) return CRTDB_FAILED;
    DbCertList hits;
    db->findBySbjDnHash(hits, key);
    return appendHits(
        hits,
        [&](const SignedCertificate& c) { return matchBySubject(c, subject, encryptionOnly); },
        append);
  } catch (const std::exception&) {
    return CRTDB_FAILED;
  }
}

int CertificateDbStore::findBySubject(CertificateList& out, const DistinguishedName& subject,
                                      bool encryptionOnly) {
  return subjectHits(subject, encryptionOnly,
                     [&](const SharedCertificate& c) { return appendCopy(out, c); });
}

int CertificateDbStore::findSharedBySubject(SharedCertificateList& out,
                                            const DistinguishedName& subject) {
  return subjectHits(subject, false, [&](const SharedCertificate& c) {
    out.push_back(c);
    return true;
  });
}

int CertificateDbStore::findByKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                                    const DistinguishedName& issuer, bool encryptionOnly) {
  DbHash key;
  if (!keyId || keyIdLength != static_cast<int>(key.size())) return CRTDB_NOTHING;
  std::memcpy(key.data(), keyId, key.size());
  try {
    DbCrtBase* db = source ? source->certificateDb() : nullptr;
    if (!db) return CRTDB_FAILED;
    DbCertList hits;
    db->findByKeyIdHash(hits, key);
    return appendHits(hits, out, [&](const SignedCertificate& c) {
      DbHash own;
      if (!c.tbsCertificate.subjectPublicKeyInfo.keyIdentifier(own.data()) || own != key)
        return int(CRTSTORE_NOT_FOUND);
      return matchByIssuer(c, issuer, encryptionOnly);
    });
  } catch (const std::exception&) {
    return CRTDB_FAILED;
  }
}

int CertificateDbStore::findByAttribute(CertificateList& out, const ASNobjectId& type,
                                        const std::string& text, bool encryptionOnly) {
  const char code = findDnAttributeType(type);
  if (!code) return CRTDB_NOTHING;
  std::string wanted = text;
  toUpperText(wanted);
  const bool email = type == pkcs_9_at_emailAddress;
  try {
    DbCrtBase* db = source ? source->certificateDb() : nullptr;
    if (!db) return CRTDB_FAILED;
    DbCertList hits;
    db->findBySbjDnFld(hits, code, cut(wanted, DB_FIELD_VALUE_MAX));
    return appendHits(hits, out, [&](const SignedCertificate& c) {
      bool match = email && certHasEmailAddress(c, text.c_str(), false);
      const DistinguishedName& subject = c.tbsCertificate.subject;
      std::string value;
      if (!match)
        subject.forEachAttribute([&](const AttributeValue* a) {
          match = a && a->type == type && fieldText(*a, value) && value == wanted;
          return !match;
        });
      if (!match) return int(CRTSTORE_NOT_FOUND);
      return encryptionOnly ? encryptionKeyRule(c) : int(CRTSTORE_FOUND);
    });
  } catch (const std::exception&) {
    return CRTDB_FAILED;
  }
}

int CertificateDbStore::findByEmail(CertificateList& out, const char* address,
                                    bool encryptionOnly) {
  if (!address) return CRTDB_NOTHING;
  return findByAttribute(out, pkcs_9_at_emailAddress, address, encryptionOnly);
}

// ------------------------------------------------------------- manager

CertificateManager::CertificateManager() : database(new CertificateDbStore()) {}

CertificateManager::~CertificateManager() = default;

void CertificateManager::setContext(CertificateDbSource* c) {
  context = c;
  database->setSource(c);
}

void CertificateManager::reapplyContext() { database->setSource(context); }

void CertificateManager::addTemporaryStore(const CertificateStore* store) {
  if (tempCount < MAX_STORES) temporary[tempCount++] = store;
}

void CertificateManager::addPermanentStore(const CertificateStore* store) {
  if (permCount < MAX_STORES) permanent[permCount++] = store;
}

void CertificateManager::removeStore(const CertificateStore* store) {
  for (int i = tempCount - 1; i >= 0; --i)
    if (temporary[i] == store) {
      std::copy(temporary + i + 1, temporary + tempCount, temporary + i);
      --tempCount;
      return;
    }
}

namespace {

int fromDatabase(int r) {
  checkInvariant(r == CRTDB_FOUND || r == CRTDB_NOTHING || r == CRTDB_FAILED, SRC, __LINE__,
                 "false");
  return r == CRTDB_FOUND ? CRTSTORE_FOUND : r == CRTDB_NOTHING ? CRTSTORE_NOT_FOUND : 2;
}

// Runs `ask` over the temporary stores, then, unless temporaryOnly, the
// database and the permanent stores; the first answer other than found and
// nothing ends the walk.
template <class Ask, class AskDb>
int walkStores(const CertificateStore* const* temporary, int tempCount,
               const CertificateStore* const* permanent, int permCount, bool temporaryOnly,
               Ask ask, AskDb askDb) {
  for (int i = 0; i < tempCount; ++i) {
    int r = ask(*temporary[i]);
    if (r != CRTSTORE_FOUND && r != CRTSTORE_NOT_FOUND) return r;
  }
  if (temporaryOnly) return CRTSTORE_NOT_FOUND;
  int r = fromDatabase(askDb());
  if (r != CRTSTORE_FOUND && r != CRTSTORE_NOT_FOUND) return r;
  for (int i = 0; i < permCount; ++i) {
    r = ask(*permanent[i]);
    if (r != CRTSTORE_FOUND && r != CRTSTORE_NOT_FOUND) return r;
  }
  return CRTSTORE_NOT_FOUND;
}

}  // namespace

CertificateManager::ImportBatch::ImportBatch(CertificateManager& manager) {
  try {
    batch.reset(new DbCrtBatch(manager.database->batchTarget()));
  } catch (const std::exception&) {
    // The imports report what fails.
  }
}

int CertificateManager::ImportBatch::finish() {
  try {
    if (batch) batch->commit();
    return 0;
  } catch (const std::exception&) {
    return 2;
  }
}

int CertificateManager::importCertificate(const SignedCertificate& cert) {
  int r = database->importCertificate(cert);
  checkInvariant(r == CRTDB_FOUND || r == CRTDB_FAILED || r == CRTDB_REFUSED, SRC, __LINE__,
                 "false");
  return r == CRTDB_FOUND ? 0 : r == CRTDB_REFUSED ? 13 : 2;
}

int CertificateManager::findInStores(CertificateList& out, const DistinguishedName& subject,
                                     const DistinguishedName* issuerFilter, bool encryptionOnly,
                                     bool temporaryOnly) {
  int r = walkStores(
      temporary, tempCount, permanent, permCount, temporaryOnly,
      [&](const CertificateStore& s) { return s.findBySubject(out, subject, encryptionOnly); },
      [&] { return database->findBySubject(out, subject, encryptionOnly); });
  if (r != CRTSTORE_NOT_FOUND) return r;
  if (issuerFilter)
    for (POSITION pos = out.GetHeadPosition(); pos;) {
      POSITION here = pos;
      SignedCertificate* c = out.GetNext(pos);
      if (c && !(c->tbsCertificate.issuer == *issuerFilter)) delete out.RemoveAt(here);
    }
  return out.GetCount() > 0 ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND;
}

int CertificateManager::findSharedInStores(SharedCertificateList& out,
                                           const DistinguishedName& subject, bool temporaryOnly) {
  return findIssuerCandidates(out, subject, nullptr, false, temporaryOnly, SIZE_MAX);
}

int CertificateManager::findIssuerCandidates(SharedCertificateList& out,
                                             const DistinguishedName& issuer,
                                             const AuthorityKeyIdentifier* akid, bool alsoOthers,
                                             bool temporaryOnly, size_t room,
                                             std::vector<bool>* permanentOnes) {
  const size_t start = out.size();
  auto left = [&] { return room - std::min(room, out.size() - start); };
  if (permanentOnes) permanentOnes->clear();
  // Flags what the last source appended.
  auto mark = [&](bool fromPermanent) {
    if (permanentOnes) permanentOnes->resize(out.size() - start, fromPermanent);
  };
  // The database's hits of the name, asked once for both rounds.
  SharedCertificateList hits;
  int asked = -1;
  try {
    for (CertificateStore::IssuerChoice choice : {CertificateStore::MATCHING, CertificateStore::OTHERS}) {
      if (choice == CertificateStore::OTHERS && (!akid || !alsoOthers)) break;
      const bool matching = choice == CertificateStore::MATCHING;
      int r = walkStores(
          temporary, tempCount, permanent, permCount, temporaryOnly,
          [&](const CertificateStore& s) {
            const int found = left() ? s.findIssuers(out, issuer, akid, choice, left())
                                     : int(CRTSTORE_NOT_FOUND);
            mark(std::find(permanent, permanent + permCount, &s) != permanent + permCount);
            return found;
          },
          [&] {
            if (asked < 0) asked = database->findSharedBySubject(hits, issuer);
            if (asked != CRTDB_FOUND) return asked;
            int taken = CRTDB_NOTHING;
            for (const SharedCertificate& hit : hits) {
              if (!left()) break;
              if (akid && matchesKeyIdentifier(hit, *akid) != matching) continue;
              out.push_back(hit);
              taken = CRTDB_FOUND;
            }
            mark(false);
            return taken;
          });
      if (r != CRTSTORE_NOT_FOUND) return r;
    }
  } catch (const std::bad_alloc&) {
    return CRTSTORE_FAILED;
  }
  return out.size() > start ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND;
}

int CertificateManager::findByIssuerSerial(SignedCertificate& out,
                                           const DistinguishedName& issuer,
                                           const ASNinteger& serial, bool temporaryOnly) {
  auto ask = [&](const CertificateStore& s) { return s.findByIssuerSerial(out, issuer, serial); };
  for (int i = 0; i < tempCount; ++i) {
    int r = ask(*temporary[i]);
    if (r != CRTSTORE_NOT_FOUND) return r;
  }
  if (temporaryOnly) return CRTSTORE_NOT_FOUND;
  for (int i = 0; i < permCount; ++i) {
    int r = ask(*permanent[i]);
    if (r != CRTSTORE_NOT_FOUND) return r;
  }
  return fromDatabase(database->findByIssuerSerial(out, issuer, serial));
}

int CertificateManager::findByIssuerKeyId(CertificateList& out, const uint8_t* keyId,
                                          int keyIdLength, const DistinguishedName& issuer,
                                          bool encryptionOnly, bool temporaryOnly) {
  int r = walkStores(
      temporary, tempCount, permanent, permCount, temporaryOnly,
      [&](const CertificateStore& s) {
        return s.findByIssuerKeyId(out, keyId, keyIdLength, issuer, encryptionOnly);
      },
      [&] { return database->findByKeyId(out, keyId, keyIdLength, issuer, encryptionOnly); });
  if (r != CRTSTORE_NOT_FOUND) return r;
  return out.GetCount() > 0 ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND;
}

int CertificateManager::findByEmail(CertificateList& out, const char* address,
                                    bool encryptionOnly, bool temporaryOnly) {
  int r = walkStores(
      temporary, tempCount, permanent, permCount, temporaryOnly,
      [&](const CertificateStore& s) { return s.findByEmail(out, address, encryptionOnly); },
      [&] { return database->findByEmail(out, address, encryptionOnly); });
  if (r != CRTSTORE_NOT_FOUND) return r;
  return out.GetCount() > 0 ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND;
}

int CertificateManager::buildDevicePath(uint32_t sequenceId, const CertificatePath& path,
                                        DeviceCertificateCheck& device) {
  checkInvariant(device.hardwareDeviceActive(), SRC, __LINE__,
                 "talCtx->cfgManager.getDevType() == KDEV_OSTRA");
  checkInvariant(path.GetCount() > 0, SRC, __LINE__, "path.GetCount() > 0");
  checkInvariant(sequenceId != 0, SRC, __LINE__, "ostraSeqId != 0");
  bool first = true;
  for (POSITION pos = path.GetTailPosition(); pos;) {
    const CertificateItem* item = path.GetPrev(pos);
    if (!item) continue;
    const SignedCertificate& certificate = item->certificate;
    // The size is in octets; the device's limit is in bits.
    if (uint64_t(certificate.tbsCertificate.publicKeySize()) * 8 > device.deviceKeySizeLimit())
      return 44;
    const int32_t answer = device.verifyOnDevice(sequenceId, certificate, first ? 3 : 2);
    first = false;
    if (answer == 4) return 1;
    if (answer == 20) return 9;
    if (answer != 0) return answer;
  }
  return 0;
}
