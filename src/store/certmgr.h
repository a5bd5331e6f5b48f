// The certificate manager: lookups of path building over two arrays of
// in-memory stores and the certificate database, and the import of
// certificates into the database, through a query layer that computes the
// database keys the same way at import and at query time.
#pragma once

#include "store/dbbase.h"
#include "store/lcrtstore.h"
#include "pki/x509/crl.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// What the manager needs of its library context: the certificate store of
// the connected database (null when there is none). Throws what the
// database facade throws.
// What the device path check needs of the library context: whether the
// hardware device is the active key device, its key-size limit in bits, and
// its certificate check (the key manager's verifyCrtOnOstra).
class DeviceCertificateCheck {
 public:
  virtual ~DeviceCertificateCheck() = default;
  virtual bool hardwareDeviceActive() const = 0;
  virtual unsigned deviceKeySizeLimit() const = 0;
  virtual int32_t verifyOnDevice(uint32_t sequenceId, const SignedCertificate& certificate,
                                 int32_t mode) = 0;
};

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
  // As findBySubject, the hits handed out as the bodies the cache keeps.
  int findSharedBySubject(SharedCertificateList& out, const DistinguishedName& subject);
  int findByKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                  const DistinguishedName& issuer, bool encryptionOnly);
  int findByAttribute(CertificateList& out, const ASNobjectId& type, const std::string& text,
                      bool encryptionOnly);
  int findByEmail(CertificateList& out, const char* address, bool encryptionOnly);
  // The database a batch of imports holds; null when there is none.
  DbCrtBase* batchTarget() { return source ? source->certificateDb() : nullptr; }

 private:
  // A database hit decoded: the cache's body when the record still holds the
  // octets it was decoded from, else decoded afresh and remembered. False
  // when the octets do not decode. A body handed out stays valid whatever
  // the cache or the database do later.
  bool decodeHit(const DbCertRecord& hit, SharedCertificate& out);
  // Decodes the hits and gives `append` those `accept` takes (a CRTSTORE_
  // code); `append` answers false when it cannot take one.
  template <class Accept, class Append>
  int appendHits(const DbCertList& hits, Accept accept, Append append);
  template <class Accept>
  int appendHits(const DbCertList& hits, CertificateList& out, Accept accept);
  template <class Append>
  int subjectHits(const DistinguishedName& subject, bool encryptionOnly, Append append);

  struct Decoded {
    DbBytes der;
    SharedCertificate certificate;
  };
  static constexpr size_t MAX_DECODED = 1024;  // emptied when full
  std::mutex decodedLock;
  std::map<DbRecId, Decoded> decoded;
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
  // Imports made while one lives are made durable together: finish commits
  // them (0, or 2 when the database cannot); an end without finish (an early
  // return) commits them too. Without a batch (the database failed to start
  // one) each import commits on its own.
  class ImportBatch {
   public:
    explicit ImportBatch(CertificateManager& manager);
    int finish();

   private:
    std::unique_ptr<DbCrtBatch> batch;
  };
  // 0 found, 14 nothing found, 2 database failure, or a store's code.
  int findInStores(CertificateList& out, const DistinguishedName& subject,
                   const DistinguishedName* issuerFilter, bool encryptionOnly,
                   bool temporaryOnly);
  // As findInStores without an issuer filter or the encryption rule; the
  // database's hits are the bodies its cache keeps (no copy, keys prepared
  // once), the memory stores' are copies.
  int findSharedInStores(SharedCertificateList& out, const DistinguishedName& subject,
                         bool temporaryOnly);
  // Candidate issuers of a certificate whose issuer is `issuer`, for path
  // building: certificates whose subject is that name, in the order of
  // findSharedInStores (the temporary stores, the database, the permanent
  // stores), at most `room` of them, so what is taken is what may be tried.
  // With an authority key identifier those that match it
  // (matchesKeyIdentifier) come first, found through the stores' indexes, and
  // the others of the name follow only when `alsoOthers`. Codes as findInStores.
  // With `permanentOnes`, it tells for each candidate appended whether a
  // permanent store gave it.
  int findIssuerCandidates(SharedCertificateList& out, const DistinguishedName& issuer,
                           const AuthorityKeyIdentifier* akid, bool alsoOthers, bool temporaryOnly,
                           size_t room, std::vector<bool>* permanentOnes = nullptr);
  int findByIssuerSerial(SignedCertificate& out, const DistinguishedName& issuer,
                         const ASNinteger& serial, bool temporaryOnly);
  int findByIssuerKeyId(CertificateList& out, const uint8_t* keyId, int keyIdLength,
                        const DistinguishedName& issuer, bool encryptionOnly, bool temporaryOnly);
  int findByEmail(CertificateList& out, const char* address, bool encryptionOnly,
                  bool temporaryOnly);
  // Checks a path on the hardware device, from the trust point (mode 3)
  // towards the end certificate (mode 2): 0 every certificate passed, 44 a
  // key longer than the device takes, 1 the device refused a certificate
  // (its answer 4), 9 the device could not check it (its answer 20); any
  // other device answer is handed back as it is.
  static int buildDevicePath(uint32_t sequenceId, const CertificatePath& path,
                             DeviceCertificateCheck& device);

 private:
  std::unique_ptr<CertificateDbStore> database;
  CertificateDbSource* context = nullptr;
  int tempCount = 0;
  const CertificateStore* temporary[MAX_STORES];
  int permCount = 0;
  const CertificateStore* permanent[MAX_STORES];
};
