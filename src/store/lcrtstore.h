// Certificate stores held in memory: the certificates carried by a signature,
// an OCSP response or a time-stamp token, those collected by a library
// context and the key manager's own. Every find answers CRTSTORE_FOUND (0),
// CRTSTORE_NOT_FOUND (14) or CRTSTORE_FAILED (1: memory or a copy that
// failed); found certificates are appended to the caller's list as copies.
#pragma once

#include "asn1/asnint.h"
#include "asn1/asnseql.h"
#include "pki/names/dname.h"
#include "pki/x509/cert.h"

#include <cstdint>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

class AuthorityKeyIdentifier;

using CertificateList = ASNsequenceList<SignedCertificate>;
// Certificates handed out as shared read-only bodies: what a store keeps
// decoded is given, not copied, and keeps what was prepared of its key.
using SharedCertificateList = std::vector<SharedCertificate>;

// Moves every certificate of `from` (emptied, nulls dropped) to the end of
// `to` as bodies of their own, no copy made. Throws std::bad_alloc.
void moveToShared(CertificateList& from, SharedCertificateList& to);

// Appends a copy; false when memory runs out or the copy fails.
bool appendCopy(CertificateList& out, const SignedCertificate& cert);

class CertificateStore {
 public:
  virtual ~CertificateStore() = default;
  // The certificate's issuer matcher passes and the SHA-1 of its
  // subjectPublicKey bits has exactly `keyId`'s length and octets.
  virtual int findByIssuerKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                                const DistinguishedName& issuer, bool encryptionOnly) const;
  // A copy of the first certificate with that issuer and serial number.
  virtual int findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                                 const ASNinteger& serial) const;
  // Whether a certificate with that issuer and serial number is held (no copy made).
  virtual bool holdsIssuerSerial(const DistinguishedName& issuer, const ASNinteger& serial) const;
  virtual int findBySubject(CertificateList& out, const DistinguishedName& subject,
                            bool encryptionOnly) const;
  virtual int findByEmail(CertificateList& out, const char* address, bool encryptionOnly) const;
  // Candidate issuers of a certificate whose issuer is `name`: certificates
  // whose subject is that name, appended in the store's order as shared
  // bodies (SharedCertificate::holding), at most `room` of them. With an
  // authority key identifier, MATCHING takes those that match it
  // (matchesKeyIdentifier) and OTHERS the rest; without one, MATCHING takes
  // every one of the name and OTHERS none. A CRTSTORE_ code.
  enum IssuerChoice { MATCHING, OTHERS };
  virtual int findIssuers(SharedCertificateList& out, const DistinguishedName& name,
                          const AuthorityKeyIdentifier* akid, IssuerChoice choice,
                          size_t room) const;

 protected:
  // Calls `visit` for each certificate in order until it returns false.
  using Visitor = std::function<bool(const SignedCertificate&)>;
  virtual void walk(const Visitor& visit) const = 0;

 private:
  // Appends a copy of every certificate `match` accepts (a CRTSTORE_ code).
  int collect(CertificateList& out, const std::function<int(const SignedCertificate&)>& match) const;
};

// A list of certificate pointers filled one by one; the certificates belong
// to the caller and must outlive the store.
class LCertificateStore : public CertificateStore {
 public:
  // Appends the pointer unless that very pointer is listed; false when
  // memory runs out.
  bool addCertificate(const SignedCertificate* cert);
  int size() const { return static_cast<int>(certificates.size()); }

 protected:
  void walk(const Visitor& visit) const override;

 private:
  std::list<const SignedCertificate*> certificates;
  std::unordered_set<const SignedCertificate*> listed;
};

// A view over a certificate list owned elsewhere; it never changes the list.
class ListCertificateStore : public CertificateStore {
 public:
  explicit ListCertificateStore(const CertificateList* list) : list(list) {}

 protected:
  void walk(const Visitor& visit) const override;

 private:
  const CertificateList* list;
};

// A key two names share exactly when they compare equal (DistinguishedName's
// ==: each RDN of a normalised copy compared as a multiset), made in one pass
// over the name: a store finds certificates by it without comparing names
// pairwise. Empty for a name with a null RDN, which equals no name.
std::string distinguishedNameKey(const DistinguishedName& name);
// The same for an issuer and a serial number together (empty as above).
std::string issuerSerialKey(const DistinguishedName& issuer, const ASNinteger& serial);

// Certificates shared with their other holders (one decoded body each: the
// signature's KeyInfo that brought one keeps the same body), kept in the
// order they came, each issuer and serial number once, and found by issuer
// and serial number, by subject, and by key identifier through indexes: a
// look-up costs the key of what is sought and the certificates it finds,
// never a walk of all that are held.
//
// Bounds: a batch (one document's verification, begun by beginBatch) adds at
// most `batchCount` certificates of `batchOctets` octets in all, and the store
// holds at most `count` certificates of `octets` octets (each counted by
// heldSize). A certificate past a
// bound is not added (the store keeps what it holds: nothing is dropped for
// it), so what one document brings neither crowds out what earlier ones
// brought nor grows without end.
class IndexedCertificateStore : public CertificateStore {
 public:
  struct Bounds {
    int count;
    uint64_t octets;
    int batchCount;
    uint64_t batchOctets;
  };
  static constexpr Bounds UNBOUNDED = {INT32_MAX, UINT64_MAX, INT32_MAX, UINT64_MAX};
  // Answers of add.
  enum Added { ADDED, HELD, REFUSED };

  explicit IndexedCertificateStore(const Bounds& bounds = UNBOUNDED) : bounds(bounds) {}
  IndexedCertificateStore(const IndexedCertificateStore&) = delete;
  IndexedCertificateStore& operator=(const IndexedCertificateStore&) = delete;
  // Takes the body unless a certificate of that issuer and serial number is
  // held (HELD) or a bound forbids it (REFUSED). Throws std::bad_alloc.
  Added add(const SharedCertificate& cert);
  // A read-only body some holder keeps is shared, else a copy is made.
  Added add(const SignedCertificate& cert) { return add(SharedCertificate::holding(cert)); }
  // What a certificate counts against the octet bounds: its encoded octets, and for each
  // attribute of its subject and issuer what a decoded attribute keeps (some two hundred
  // octets where its encoding took a dozen): a name of thousands of attributes is held at
  // many times its encoding.
  static constexpr uint64_t HELD_PER_NAME_ATTRIBUTE = 256;
  static uint64_t heldSize(const SignedCertificate& cert);
  // Whether a certificate of heldSize `octets` would pass the bounds now.
  bool admits(uint64_t octets) const;
  // A new batch: its bounds count from here.
  void beginBatch();
  // Whether this very certificate (same encoding) is held and no add of the
  // current batch brought it: only earlier batches did.
  bool fromEarlierBatch(const SignedCertificate& cert) const;
  // The certificates held, in the order they came.
  const SharedCertificateList& list() const { return bodies; }
  int size() const { return static_cast<int>(bodies.size()); }
  uint64_t octets() const { return heldOctets; }  // the heldSize of those held
  // Keeps the first `count` certificates, dropping those added after them.
  void truncate(int count);
  void clear() { truncate(0); }
  // Certificates a look-up examined since the store was made (test hook):
  // each index hit, and each certificate a walk visits.
  uint64_t examined() const { return steps; }

  int findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                         const ASNinteger& serial) const override;
  bool holdsIssuerSerial(const DistinguishedName& issuer, const ASNinteger& serial) const override;
  int findBySubject(CertificateList& out, const DistinguishedName& subject,
                    bool encryptionOnly) const override;
  int findByIssuerKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                        const DistinguishedName& issuer, bool encryptionOnly) const override;
  int findIssuers(SharedCertificateList& out, const DistinguishedName& name,
                  const AuthorityKeyIdentifier* akid, IssuerChoice choice,
                  size_t room) const override;

 protected:
  void walk(const Visitor& visit) const override;

 private:
  using Index = std::map<std::string, size_t>;
  using MultiIndex = std::multimap<std::string, size_t>;
  struct Entry {
    uint64_t octets = 0;
    Index::iterator issuerSerial;  // end: not indexed (a null RDN)
    MultiIndex::iterator subject;  // end: not indexed
    std::vector<MultiIndex::iterator> keyIds;
    uint64_t batch = 0;  // the last batch that brought it
  };
  // The places of the certificates `akid` names among those of subject key
  // `subjectKey`, in the order they came, matched as matchesKeyIdentifier does.
  std::vector<size_t> matchingPlaces(const std::string& subjectKey,
                                     const AuthorityKeyIdentifier& akid) const;
  std::vector<size_t> subjectPlaces(const std::string& subjectKey) const;
  void unindex(const Entry& entry);
  // Appends a copy of each certificate at `places` that `match` accepts (a CRTSTORE_ code).
  int appendCopies(CertificateList& out, const std::vector<size_t>& places,
                   const std::function<int(const SignedCertificate&)>& match) const;

  Bounds bounds;
  SharedCertificateList bodies;
  std::vector<Entry> entries;
  Index byIssuerSerial;
  MultiIndex bySubject;
  // By every identifier an authority key identifier may name a certificate
  // by (its subjectKeyIdentifier, the SHA-1 of its key and the short form),
  // a superset of those matchesKeyIdentifier takes: each hit is checked.
  MultiIndex byKeyId;
  uint64_t heldOctets = 0;
  size_t batchStart = 0;
  uint64_t batchStartOctets = 0;
  uint64_t batchNumber = 0;
  mutable uint64_t steps = 0;
};
