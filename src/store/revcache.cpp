#include "store/revcache.h"

#include "base/talexception.h"

#include <algorithm>

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
    const DistinguishedName& issuer, const ASNinteger& serial, size_t& at) {
  if (!enabled()) return nullptr;
  auto it = paths.find(serialKey(serial));
  if (it == paths.end()) return nullptr;
  for (at = 0; at < it->second.size(); ++at)
    if (it->second[at]->certificate->tbsCertificate.issuer == issuer) return &it->second;
  return nullptr;
}

const VerifiedPathEntry* VerifiedRevocationCache::findEntry(const DistinguishedName& issuer,
                                                            const ASNinteger& serial) {
  size_t at = 0;
  auto* list = listFor(issuer, serial, at);
  return list ? (*list)[at].get() : nullptr;
}

bool VerifiedRevocationCache::hasValidEntry(const DistinguishedName& issuer, const ASNinteger& serial) {
  size_t at = 0;
  auto* list = listFor(issuer, serial, at);
  if (!list) return false;
  if (!(*list)[at]->validUntil.isBeforeTime64(clock.now())) return true;
  const auto where = list->begin() + static_cast<std::ptrdiff_t>(at);
  if (recording) {
    Change dropped(Change::PATH_DROPPED, serialKey(serial));
    dropped.at = at;
    dropped.entry = std::move(*where);
    record(std::move(dropped));
  }
  list->erase(where);
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
  Key key = serialKey(entry->certificate->tbsCertificate.serialNumber);
  paths[key].push_back(std::move(entry));
  if (recording) record(Change(Change::PATH_ADDED, std::move(key)));
  return true;
}

bool VerifiedRevocationCache::matchesEntry(const ASNobject& object) {
  if (!enabled()) return false;
  auto it = results.find(encode(object));
  if (it == results.end()) return false;
  if (!it->second.isBeforeTime64(clock.now())) return true;
  if (recording) {
    Change dropped(Change::RESULT_DROPPED, it->first);
    dropped.previous = it->second;
    record(std::move(dropped));
  }
  results.erase(it);
  return false;
}

void VerifiedRevocationCache::storeRevocationResult(const ASNobject& object,
                                                    const X509time& validUntil) {
  if (!enabled()) return;
  Key key = encode(object);
  if (recording) {
    Change set(Change::RESULT_SET, key);
    auto it = results.find(key);
    set.had = it != results.end();
    if (set.had) set.previous = it->second;
    record(std::move(set));
  }
  results[std::move(key)] = validUntil;
}

void VerifiedRevocationCache::record(Change change) noexcept {
  try {
    changes.push_back(std::move(change));
  } catch (const std::bad_alloc&) {
    // A change that cannot be undone: a rollback empties the cache instead.
    changes.clear();
    recording = false;
    lost = true;
  }
}

void VerifiedRevocationCache::begin() {
  changes.clear();
  recording = true;
  lost = false;
}

void VerifiedRevocationCache::commit() {
  changes.clear();
  recording = false;
  lost = false;
}

void VerifiedRevocationCache::rollback() noexcept {
  recording = false;
  if (lost) {
    paths.clear();
    results.clear();
    lost = false;
  }
  try {
    undo();
  } catch (const std::bad_alloc&) {
    // Changes before the one that failed would stay: a refused document's
    // paths must not, so the cache starts again empty.
    paths.clear();
    results.clear();
  }
  changes.clear();
}

void VerifiedRevocationCache::undo() {
  // Undone in reverse, each change then meets the state it was made in.
  for (auto c = changes.rbegin(); c != changes.rend(); ++c) {
    switch (c->kind) {
      case Change::PATH_ADDED: {
        auto it = paths.find(c->key);
        if (it == paths.end() || it->second.empty()) break;
        it->second.pop_back();
        if (it->second.empty()) paths.erase(it);
        break;
      }
      case Change::PATH_DROPPED: {
        auto& list = paths[c->key];
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(c->at, list.size())),
                    std::move(c->entry));
        break;
      }
      case Change::RESULT_SET:
        if (c->had)
          results[c->key] = c->previous;
        else
          results.erase(c->key);
        break;
      case Change::RESULT_DROPPED:
        results[c->key] = c->previous;
        break;
    }
  }
}
