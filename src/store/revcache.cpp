#include "store/revcache.h"

#include "base/talexception.h"

namespace {
const int32_t ETAL_MEM = 100;

std::vector<unsigned char> serialKey(const ASNinteger& serial) {
  const unsigned char* p = serial.data();
  return p ? std::vector<unsigned char>(p, p + serial.contentLength())
           : std::vector<unsigned char>();
}
}  // namespace

VerifiedRevocationCache::Key VerifiedRevocationCache::encode(const ASNobject& object) {
  Key der;
  if (object.encodeVector(der) < 1) throw TalApiException(ETAL_MEM);
  return der;
}

std::vector<std::unique_ptr<VerifiedPathEntry>>* VerifiedRevocationCache::listFor(
    const IssuerAndSerialNumber& is, size_t& at) {
  if (!enabled()) return nullptr;
  auto it = paths.find(serialKey(is.serialNumber));
  if (it == paths.end()) return nullptr;
  for (at = 0; at < it->second.size(); ++at)
    if (it->second[at]->certificate->tbsCertificate.issuer == is.issuer) return &it->second;
  return nullptr;
}

const VerifiedPathEntry* VerifiedRevocationCache::findEntry(const IssuerAndSerialNumber& is) {
  size_t at = 0;
  auto* list = listFor(is, at);
  return list ? (*list)[at].get() : nullptr;
}

bool VerifiedRevocationCache::hasValidEntry(const IssuerAndSerialNumber& is) {
  size_t at = 0;
  auto* list = listFor(is, at);
  if (!list) return false;
  if (!(*list)[at]->validUntil.isBeforeTime64(clock.now())) return true;
  list->erase(list->begin() + static_cast<std::ptrdiff_t>(at));
  return false;
}

bool VerifiedRevocationCache::insertEntry(const CertificatePath& path, uint32_t qualification) {
  if (!enabled()) return false;
  if (path.GetCount() == 0) return false;
  auto entry = std::make_unique<VerifiedPathEntry>();
  entry->path.reset(new CertificatePath(path));
  entry->qualification = qualification;
  POSITION pos = entry->path->GetHeadPosition();
  entry->certificate = &entry->path->GetAt(pos)->certificate.get();
  entry->validUntil = entry->certificate->tbsCertificate.validity.notAfter;
  while (pos) {
    const CertificateItem* item = entry->path->GetNext(pos);
    const X509time& t = item->certificate->tbsCertificate.validity.notAfter;
    if (t < entry->validUntil) entry->validUntil = t;
  }
  paths[serialKey(entry->certificate->tbsCertificate.serialNumber)].push_back(std::move(entry));
  return true;
}

bool VerifiedRevocationCache::matchesEntry(const ASNobject& object) {
  if (!enabled()) return false;
  auto it = results.find(encode(object));
  if (it == results.end()) return false;
  if (!it->second.isBeforeTime64(clock.now())) return true;
  results.erase(it);
  return false;
}

void VerifiedRevocationCache::storeRevocationResult(const ASNobject& object,
                                                    const X509time& validUntil) {
  if (!enabled()) return;
  results[encode(object)] = validUntil;
}
