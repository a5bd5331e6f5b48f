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
#include <functional>
#include <list>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

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

// A key two certificates share exactly when their issuers compare equal
// (DistinguishedName's ==: each RDN of a normalised copy compared as a
// multiset) and their serial numbers are equal, made in one pass over the
// name: a store finds a certificate by them without comparing names pairwise.
// Empty for a name with a null RDN, which equals no name.
std::string issuerSerialKey(const DistinguishedName& issuer, const ASNinteger& serial);

// Certificates copied in, kept in the order they came and each issuer and
// serial number once, found by them through an index: keeping n certificates
// costs n log n, where a search of every one held before each cost n squared
// name comparisons.
class IndexedCertificateStore : public CertificateStore {
 public:
  IndexedCertificateStore() = default;
  IndexedCertificateStore(const IndexedCertificateStore&) = delete;
  IndexedCertificateStore& operator=(const IndexedCertificateStore&) = delete;
  // Appends a copy unless a certificate of that issuer and serial number is
  // held: true when it was added. Throws std::bad_alloc.
  bool add(const SignedCertificate& cert);
  const CertificateList& list() const { return certificates; }
  int size() const { return static_cast<int>(order.size()); }
  // Keeps the first `count` certificates, dropping those added after them.
  void truncate(int count);
  void clear() { truncate(0); }

  int findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                         const ASNinteger& serial) const override;
  bool holdsIssuerSerial(const DistinguishedName& issuer, const ASNinteger& serial) const override;

 protected:
  void walk(const Visitor& visit) const override;

 private:
  using Index = std::map<std::string, const SignedCertificate*>;
  CertificateList certificates;
  Index index;
  // Each certificate's place in the index, in the list's order (end: not
  // indexed): a key of a stranger's long issuer is held once.
  std::vector<Index::iterator> order;
};
