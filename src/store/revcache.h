// What a library context has already verified: certification paths by their
// end certificate, and the time up to which a checked revocation object's
// result holds. Both tables answer only while the cache option is on; an
// entry leaves when a look-up finds it expired.
#pragma once

#include "asn1/asnbase.h"
#include "pki/common/x509time.h"
#include "pki/x509/crl.h"
#include "store/pathclock.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

struct VerifiedPathEntry {
  std::unique_ptr<CertificatePath> path;  // with its two status words
  const SignedCertificate* certificate = nullptr;  // the path's first, inside `path`
  X509time validUntil;  // the earliest notAfter of the path
  uint32_t qualification = 0;
};

class VerifiedRevocationCache {
 public:
  // `enabled` answers the cache option (23); `clock` gives "now".
  VerifiedRevocationCache(std::function<bool()> enabled, const PathClock& clock)
      : enabled(std::move(enabled)), clock(clock) {}
  VerifiedRevocationCache(const VerifiedRevocationCache&) = delete;
  VerifiedRevocationCache& operator=(const VerifiedRevocationCache&) = delete;

  // An entry for the issuer and serial that is still valid; an expired one is dropped.
  bool hasValidEntry(const IssuerAndSerialNumber& issuerSerial) {
    return hasValidEntry(issuerSerial.issuer, issuerSerial.serialNumber);
  }
  bool hasValidEntry(const DistinguishedName& issuer, const ASNinteger& serial);
  // The entry for the issuer and serial, valid or not; null when none.
  const VerifiedPathEntry* findEntry(const IssuerAndSerialNumber& issuerSerial) {
    return findEntry(issuerSerial.issuer, issuerSerial.serialNumber);
  }
  const VerifiedPathEntry* findEntry(const DistinguishedName& issuer, const ASNinteger& serial);
  // False when the option is off (nothing stored).
  bool insertEntry(const CertificatePath& path, uint32_t qualification);

  // The object's result still holds; an expired one is dropped. Throws
  // TalApiException 100 when the object cannot be encoded.
  bool matchesEntry(const ASNobject& object);
  void storeRevocationResult(const ASNobject& object, const X509time& validUntil);

  // From begin(), every change is recorded: rollback() undoes them (a refused
  // document's), commit() keeps them. Either ends the recording.
  void begin();
  void commit();
  // Empties the cache when a change cannot be undone.
  void rollback() noexcept;

 private:
  using Key = std::vector<unsigned char>;
  std::vector<std::unique_ptr<VerifiedPathEntry>>* listFor(const DistinguishedName& issuer, const ASNinteger& serial,
                                                           size_t& at);
  static Key encode(const ASNobject& object);

  std::function<bool()> enabled;
  const PathClock& clock;
  std::map<Key, std::vector<std::unique_ptr<VerifiedPathEntry>>> paths;
  std::map<Key, X509time> results;

  // One change, with what undoes it.
  struct Change {
    enum Kind { PATH_ADDED, PATH_DROPPED, RESULT_SET, RESULT_DROPPED } kind;
    Change(Kind kind, Key key) : kind(kind), key(std::move(key)) {}
    Key key;
    size_t at = 0;                             // PATH_DROPPED: where it was
    std::unique_ptr<VerifiedPathEntry> entry;  // PATH_DROPPED: the entry
    bool had = false;                          // RESULT_SET: a result was there
    X509time previous;                         // RESULT_SET, RESULT_DROPPED
  };
  void record(Change change) noexcept;
  void undo();
  bool recording = false;
  bool lost = false;  // a change went unrecorded
  std::vector<Change> changes;
};
