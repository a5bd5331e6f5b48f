// The certificate manager: lookups of path building over two arrays of
// in-memory stores and the certificate database, and the import of
// certificates into the database, through a query layer that computes the
// database keys the same way at import and at query time.
#pragma once

#include "store/dbbase.h"
#include "store/lcrtstore.h"

#include <cstdint>
#include <memory>
#include <string>

// What the manager needs of its library context: the certificate store of
// the connected database (null when there is none). Throws what the
// database facade throws.
class CertificateDbSource {
 public:
  virtual ~CertificateDbSource() = default;
  virtual DbCrtBase* certificateDb() = 0;
};

// Answers of the query layer (the database's codes).
enum { CRTDB_FAILED = 0, CRTDB_FOUND = 1, CRTDB_NOTHING = 3, CRTDB_REFUSED = 5 };

// The database query layer. Index keys: SHA-1 of the serialNumber's DER, of
// the normalised subject's DER, of the certificate's DER and of the
// subjectPublicKey bits; one field per subject attribute of the attribute
// table whose value is text, and one "e" field per e-mail address, upper-cased
// with toUpperText and cut to the database's bound. Every hit is decoded and
// re-checked against the whole query, so a cut key never yields another
// certificate.
class CertificateDbStore {
 public:
  void setSource(CertificateDbSource* s) { source = s; }
  // 1 stored (also when it was there already), 0 failure.
  int importCertificate(const SignedCertificate& cert);
  int findBySerial(CertificateList& out, const ASNinteger& serial);
  int findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                         const ASNinteger& serial);
  int findBySubject(CertificateList& out, const DistinguishedName& subject, bool encryptionOnly);
  int findByKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                  const DistinguishedName& issuer, bool encryptionOnly);
  int findByAttribute(CertificateList& out, const ASNobjectId& type, const std::string& text,
                      bool encryptionOnly);
  int findByEmail(CertificateList& out, const char* address, bool encryptionOnly);

 private:
  CertificateDbSource* source = nullptr;
};

class CertificateManager {
 public:
  static constexpr int MAX_STORES = 256;
  CertificateManager();
  virtual ~CertificateManager();
  CertificateManager(const CertificateManager&) = delete;
  CertificateManager& operator=(const CertificateManager&) = delete;

  void setContext(CertificateDbSource* context);
  void reapplyContext();

  // Callers keep each array within MAX_STORES; a store past it is not added.
  void addTemporaryStore(const CertificateStore* store);
  void addPermanentStore(const CertificateStore* store);
  // Removes the last occurrence from the temporary array.
  void removeStore(const CertificateStore* store);
  int temporaryCount() const { return tempCount; }
  int permanentCount() const { return permCount; }

  // 0 stored, 2 database failure, 13 refused by the database.
  int importCertificate(const SignedCertificate& cert);
  // 0 found, 14 nothing found, 2 database failure, or a store's code.
  int findInStores(CertificateList& out, const DistinguishedName& subject,
                   const DistinguishedName* issuerFilter, bool encryptionOnly,
                   bool temporaryOnly);
  int findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                         const ASNinteger& serial, bool temporaryOnly);
  int findByIssuerKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                        const DistinguishedName& issuer, bool encryptionOnly, bool temporaryOnly);
  int findByEmail(CertificateList& out, const char* address, bool encryptionOnly,
                  bool temporaryOnly);

 private:
  std::unique_ptr<CertificateDbStore> database;
  CertificateDbSource* context = nullptr;
  int tempCount = 0;
  const CertificateStore* temporary[MAX_STORES];
  int permCount = 0;
  const CertificateStore* permanent[MAX_STORES];
};
