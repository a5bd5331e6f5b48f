// In-memory certificate stores.
#include "store/lcrtstore.h"

#include "base/commonerror.h"
#include "base/workaccount.h"
#include "pki/common/oids.h"
#include "pki/x509/x509ext.h"
#include "store/crtstore.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
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

int CertificateStore::findIssuers(SharedCertificateList& out, const DistinguishedName& name,
                                  const AuthorityKeyIdentifier* akid, IssuerChoice choice,
                                  size_t room) const {
  if (room == 0 || (!akid && choice == OTHERS)) return CRTSTORE_NOT_FOUND;
  int result = CRTSTORE_NOT_FOUND;
  try {
    walk([&](const SignedCertificate& cert) {
      const int r = matchBySubject(cert, name, false);
      if (r == CRTSTORE_NOT_FOUND) return true;
      if (r != CRTSTORE_FOUND) {
        result = CRTSTORE_FAILED;
        return false;
      }
      if (akid && matchesKeyIdentifier(cert, *akid) != (choice == MATCHING)) return true;
      out.push_back(SharedCertificate::holding(cert));
      result = CRTSTORE_FOUND;
      return --room > 0;
    });
  } catch (const std::exception&) {
    return CRTSTORE_FAILED;
  }
  return result;
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

// Made attribute by attribute: a long name is not copied whole to be keyed.
std::string distinguishedNameKey(const DistinguishedName& name) {
  return 'N' + normalisedNameKey(name);  // an empty name has a key too
}

std::string issuerSerialKey(const DistinguishedName& issuer, const ASNinteger& serial) {
  const std::string name = distinguishedNameKey(issuer);
  if (name.empty()) return name;
  std::string key;
  appendKeyPart(key, serial.data(), serial.length);
  return key + name;
}

namespace {

// A look-up by a name as the comparison makes it: paid by the key's octets,
// and none found once the account is over, as no name is then equal.
bool keyPaid(const std::string& key) {
  return !workOver() && workCharge(WORK_DER_OCTET * static_cast<uint64_t>(key.size()));
}

std::string octetsKey(const unsigned char* octets, size_t n) {
  return n && octets ? std::string(reinterpret_cast<const char*>(octets), n) : std::string();
}

// Every identifier an authority key identifier may name `cert` by: its
// subjectKeyIdentifier, the SHA-1 of its key and that hash's 8-octet form
// (matchesKeyIdentifier decides which of them counts).
std::vector<std::string> keyIdForms(const SignedCertificate& cert) {
  std::vector<std::string> forms;
  ASNoctstr ski;
  const int r = getExtensionValue(*cert.tbsCertificate.extensions, id_ce_subjectKeyIdentifier, ski);
  if (r == 0) throwBadAllocation();
  // An empty one too: an empty identifier names it (the same length and octets).
  if (r == 1) forms.push_back(octetsKey(ski.data(), ski.length > 0 ? static_cast<size_t>(ski.length) : 0));
  unsigned char sha1[20], guid[8];
  if (cert.tbsCertificate.subjectPublicKeyInfo.keyIdentifier(sha1)) {
    forms.push_back(octetsKey(sha1, sizeof sha1));
    std::memcpy(guid, sha1 + 12, sizeof guid);
    guid[0] = static_cast<unsigned char>((guid[0] & 0x0F) | 0x40);
    forms.push_back(octetsKey(guid, sizeof guid));
  }
  return forms;
}


void sortUnique(std::vector<size_t>& places) {
  std::sort(places.begin(), places.end());
  places.erase(std::unique(places.begin(), places.end()), places.end());
}

}  // namespace

uint64_t IndexedCertificateStore::heldSize(const SignedCertificate& cert) {
  const int n = cert.contentLength();
  const TBSCertificate& tbs = cert.tbsCertificate;
  const int attributes = tbs.subject.attributeCount() + tbs.issuer.attributeCount();
  return (n > 0 ? static_cast<uint64_t>(n) : 0) +
         HELD_PER_NAME_ATTRIBUTE * static_cast<uint64_t>(attributes > 0 ? attributes : 0);
}

bool IndexedCertificateStore::admits(uint64_t size) const {
  const size_t inBatch = bodies.size() - batchStart;
  const uint64_t batchOctets = heldOctets - batchStartOctets;
  return bodies.size() < static_cast<size_t>(bounds.count) && size <= bounds.octets - heldOctets &&
         inBatch < static_cast<size_t>(bounds.batchCount) &&
         size <= bounds.batchOctets - std::min(batchOctets, bounds.batchOctets);
}

void IndexedCertificateStore::beginBatch() {
  batchStart = bodies.size();
  batchStartOctets = heldOctets;
  ++batchNumber;
}

bool IndexedCertificateStore::fromEarlierBatch(const SignedCertificate& cert) const {
  const std::string key =
      issuerSerialKey(cert.tbsCertificate.issuer, cert.tbsCertificate.serialNumber);
  auto it = !key.empty() && keyPaid(key) ? byIssuerSerial.find(key) : byIssuerSerial.end();
  if (it == byIssuerSerial.end()) return false;
  ++steps;
  return entries[it->second].batch != batchNumber && bodies[it->second].get() == cert;
}

IndexedCertificateStore::Added IndexedCertificateStore::add(const SharedCertificate& shared) {
  const SignedCertificate& cert = shared.get();
  const uint64_t size = heldSize(cert);
  // The bounds first: a certificate past them costs no key.
  if (!admits(size)) return REFUSED;
  std::string key = issuerSerialKey(cert.tbsCertificate.issuer, cert.tbsCertificate.serialNumber);
  auto held = key.empty() ? byIssuerSerial.end() : byIssuerSerial.find(key);
  if (held != byIssuerSerial.end()) {
    ++steps;
    // Brought again, it is this batch's too (a look-alike of its number is not).
    Entry& entry = entries[held->second];
    if (entry.batch != batchNumber && bodies[held->second].get() == cert) entry.batch = batchNumber;
    return HELD;
  }
  std::string subjectKey = distinguishedNameKey(cert.tbsCertificate.subject);
  std::vector<std::string> ids = keyIdForms(cert);
  const size_t place = bodies.size();
  // Room first, so that the pushes below cannot throw; grown by doubling (a reserve of one
  // more each time would move every body held at every add).
  const size_t room = std::max<size_t>(16, 2 * place);
  if (bodies.capacity() == place) bodies.reserve(room);
  if (entries.capacity() == place) entries.reserve(room);
  Entry entry;
  entry.octets = size;
  entry.batch = batchNumber;
  entry.issuerSerial = byIssuerSerial.end();
  entry.subject = bySubject.end();
  try {
    entry.keyIds.reserve(ids.size());
    if (!key.empty()) entry.issuerSerial = byIssuerSerial.emplace(std::move(key), place).first;
    if (!subjectKey.empty()) entry.subject = bySubject.emplace(std::move(subjectKey), place);
    for (std::string& id : ids) entry.keyIds.push_back(byKeyId.emplace(std::move(id), place));
  } catch (...) {
    unindex(entry);
    throw;
  }
  bodies.push_back(shared);  // room reserved: neither throws
  entries.push_back(std::move(entry));
  heldOctets += size;
  return ADDED;
}

void IndexedCertificateStore::unindex(const Entry& entry) {
  if (entry.issuerSerial != byIssuerSerial.end()) byIssuerSerial.erase(entry.issuerSerial);
  if (entry.subject != bySubject.end()) bySubject.erase(entry.subject);
  for (MultiIndex::iterator id : entry.keyIds) byKeyId.erase(id);
}

void IndexedCertificateStore::truncate(int count) {
  const size_t keep = static_cast<size_t>(std::max(count, 0));
  while (bodies.size() > keep) {
    unindex(entries.back());
    heldOctets -= entries.back().octets;
    entries.pop_back();
    bodies.pop_back();
  }
  if (batchStart > bodies.size()) {
    batchStart = bodies.size();
    batchStartOctets = heldOctets;
  }
}

int IndexedCertificateStore::findByIssuerSerial(SignedCertificate& out,
                                                const DistinguishedName& issuer,
                                                const ASNinteger& serial) const {
  try {
    const std::string key = issuerSerialKey(issuer, serial);
    auto it = keyPaid(key) ? byIssuerSerial.find(key) : byIssuerSerial.end();
    if (it == byIssuerSerial.end()) return CRTSTORE_NOT_FOUND;
    ++steps;
    out = bodies[it->second].get();
    return CRTSTORE_FOUND;
  } catch (const std::exception&) {
    return CRTSTORE_FAILED;
  }
}

bool IndexedCertificateStore::holdsIssuerSerial(const DistinguishedName& issuer,
                                                const ASNinteger& serial) const {
  const std::string key = issuerSerialKey(issuer, serial);
  const bool held = keyPaid(key) && byIssuerSerial.count(key) > 0;
  steps += held ? 1 : 0;
  return held;
}

std::vector<size_t> IndexedCertificateStore::subjectPlaces(const std::string& subjectKey) const {
  std::vector<size_t> places;
  const auto range = bySubject.equal_range(subjectKey);
  for (auto it = range.first; it != range.second; ++it) places.push_back(it->second);
  steps += places.size();
  return places;  // in the order they came: equal keys keep their insertion order
}

std::vector<size_t> IndexedCertificateStore::matchingPlaces(const std::string& subjectKey,
                                                            const AuthorityKeyIdentifier& akid) const {
  std::vector<size_t> places;
  if (akid.authorityCertIssuerPresent)
    forEachDirectoryName(akid.authorityCertIssuer, [&](const DistinguishedName& issuer) {
      const std::string key = issuerSerialKey(issuer, akid.authorityCertSerialNumber);
      auto it = keyPaid(key) ? byIssuerSerial.find(key) : byIssuerSerial.end();
      if (it != byIssuerSerial.end()) places.push_back(it->second);
      return true;
    });
  if (akid.keyIdentifierPresent) {
    const int n = akid.keyIdentifier.length;
    const std::string id = octetsKey(akid.keyIdentifier.data(), n > 0 ? static_cast<size_t>(n) : 0);
    if (keyPaid(id)) {
      const auto range = byKeyId.equal_range(id);
      for (auto it = range.first; it != range.second; ++it) places.push_back(it->second);
    }
  }
  sortUnique(places);
  steps += places.size();
  std::vector<size_t> matching;
  for (size_t place : places) {
    const Entry& entry = entries[place];
    if (entry.subject != bySubject.end() && entry.subject->first == subjectKey &&
        matchesKeyIdentifier(bodies[place].get(), akid))
      matching.push_back(place);
  }
  return matching;
}

int IndexedCertificateStore::findIssuers(SharedCertificateList& out, const DistinguishedName& name,
                                         const AuthorityKeyIdentifier* akid, IssuerChoice choice,
                                         size_t room) const {
  if (room == 0 || (!akid && choice == OTHERS)) return CRTSTORE_NOT_FOUND;
  try {
    const std::string subjectKey = distinguishedNameKey(name);
    if (subjectKey.empty() || !keyPaid(subjectKey)) return CRTSTORE_NOT_FOUND;
    std::vector<size_t> places;
    if (!akid) {
      places = subjectPlaces(subjectKey);
    } else if (choice == MATCHING) {
      places = matchingPlaces(subjectKey, *akid);
    } else {
      const std::vector<size_t> all = subjectPlaces(subjectKey), matching = matchingPlaces(subjectKey, *akid);
      std::set_difference(all.begin(), all.end(), matching.begin(), matching.end(),
                          std::back_inserter(places));
    }
    if (places.size() > room) places.resize(room);
    for (size_t place : places) out.push_back(bodies[place]);
    return places.empty() ? CRTSTORE_NOT_FOUND : CRTSTORE_FOUND;
  } catch (const std::exception&) {
    return CRTSTORE_FAILED;
  }
}

int IndexedCertificateStore::appendCopies(
    CertificateList& out, const std::vector<size_t>& places,
    const std::function<int(const SignedCertificate&)>& match) const {
  int result = CRTSTORE_NOT_FOUND;
  for (size_t place : places) {
    const SignedCertificate& cert = bodies[place].get();
    const int r = match(cert);
    if (r == CRTSTORE_NOT_FOUND) continue;
    if (r != CRTSTORE_FOUND || !appendCopy(out, cert)) return CRTSTORE_FAILED;
    result = CRTSTORE_FOUND;
  }
  return result;
}

int IndexedCertificateStore::findBySubject(CertificateList& out, const DistinguishedName& subject,
                                           bool encryptionOnly) const {
  try {
    const std::string subjectKey = distinguishedNameKey(subject);
    if (subjectKey.empty() || !keyPaid(subjectKey)) return CRTSTORE_NOT_FOUND;
    return appendCopies(out, subjectPlaces(subjectKey), [&](const SignedCertificate& cert) {
      return encryptionOnly ? encryptionKeyRule(cert) : int(CRTSTORE_FOUND);
    });
  } catch (const std::exception&) {
    return CRTSTORE_FAILED;
  }
}

int IndexedCertificateStore::findByIssuerKeyId(CertificateList& out, const uint8_t* keyId,
                                               int keyIdLength, const DistinguishedName& issuer,
                                               bool encryptionOnly) const {
  if (!keyId || keyIdLength != 20) return CRTSTORE_NOT_FOUND;
  try {
    const std::string id = octetsKey(keyId, 20);
    std::vector<size_t> places;
    const auto range = byKeyId.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) places.push_back(it->second);
    sortUnique(places);
    steps += places.size();
    return appendCopies(out, places, [&](const SignedCertificate& cert) {
      return sameKeyId(cert, keyId, keyIdLength) ? matchByIssuer(cert, issuer, encryptionOnly)
                                                 : int(CRTSTORE_NOT_FOUND);
    });
  } catch (const std::exception&) {
    return CRTSTORE_FAILED;
  }
}

void IndexedCertificateStore::walk(const Visitor& visit) const {
  for (const SharedCertificate& cert : bodies) {
    ++steps;
    if (!visit(cert.get())) return;
  }
}
