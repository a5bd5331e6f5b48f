// The CRL logic above the database's CRL store: the index of stored CRLs
// (one item per CRL), importing a CRL in place of an older one of the same
// issuer, scope and distribution point, the newest CRL that covers a
// certificate, the CRLs of an issuer, the scope a CRL's
// issuingDistributionPoint gives it; and the serial index of one CRL, built
// once, so a CRL of millions of entries answers each certificate without a
// scan.
#pragma once

#include "asn1/asnbool.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnseql.h"
#include "pki/common/extension.h"
#include "pki/common/x509time.h"
#include "pki/names/dname.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class DbManager;

// One stored CRL. On disk (DER): SEQUENCE { fileNumber INTEGER, version
// INTEGER OPTIONAL (omitted when 0), issuer Name, thisUpdate Time, nextUpdate
// Time OPTIONAL, extensions [0] EXPLICIT Extensions OPTIONAL }. crlNumber,
// hasNextUpdate's own value, flag and word live in memory only: a decoded item
// has crlNumber, flag and word 0, and hasNextUpdate says whether nextUpdate was there.
class CrlItem : public ASNsequenceF {
 public:
  explicit CrlItem(unsigned char tag = 0);
  ~CrlItem() override;
  CrlItem(const CrlItem&) = delete;
  CrlItem& operator=(const CrlItem&) = delete;

  void clear() override;
  void releaseViews() override;
  // After fileNumber an INTEGER is the version; after thisUpdate at most a
  // time (nextUpdate, once, before the extensions) and a [0] (extensions,
  // only when version > 0); nothing else, and the content consumed exactly.
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger fileNumber;
  ASNinteger version;    // the CRL's version: 0 (v1) or 1 (v2)
  ASNinteger crlNumber;  // 0 when the CRL has none
  DistinguishedName issuer;
  X509time thisUpdate;
  ASNbool hasNextUpdate;
  X509time nextUpdate;  // thisUpdate's value when the CRL has none
  ASNinteger flag;
  ASNinteger word;
  ASNexpl<Extensions> extensions;

 private:
  // The members written, in order (null where one is left out).
  std::array<const ASNobject*, 6> written() const;
  std::array<ASNobject*, 10> members() const;
};

class CrlIndex : public ASNsequenceF {
 public:
  explicit CrlIndex(unsigned char tag = 0);
  ~CrlIndex() override;
  CrlIndex(const CrlIndex&) = delete;
  CrlIndex& operator=(const CrlIndex&) = delete;

  void clear() override;
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger lastNumber;
  ASNsequenceList<CrlItem> items;
};

// Results of the CRL database operations.
enum CrlDbResult : int {
  CRLDB_OK = 0,
  CRLDB_INCOMPLETE = 1,
  CRLDB_FAILURE = 2,
  CRLDB_UNDECODABLE = 4,
  CRLDB_OLDER = 6
};

// Scope of a CRL.
enum CrlScope : int { CRL_SCOPE_ALL = 0, CRL_SCOPE_CA = 1, CRL_SCOPE_USER = 2 };

// The scope given by the issuingDistributionPoint among `extensions`; throws
// TalApiException 88 when it does not decode or sets both only-flags.
int crlScope(const Extensions& extensions);
// The CRL may decide about the certificate: the same issuer, a scope that
// admits the certificate's kind (CA or end entity), and all reasons. A
// malformed scope does not.
bool checkIssuingDistributionPoint(const SignedCertificate& cert, const DistinguishedName& crlIssuer,
                                   const Extensions& extensions);
// Two CRLs of one issuer with these extensions cover the same certificates:
// one scope and one distribution point (or neither names one). Their CRL
// numbers then count in one sequence.
bool sameCoverage(const Extensions& a, const Extensions& b);
// Fills the item's fields from the CRL (all but fileNumber): its CRL number,
// issuer, times, version and extensions, and as flag and word the CRL's own
// flag byte (whether it lists revoked certificates) and the number of entries
// it lists. False when the CRL number or the extensions cannot be copied.
bool fillCrlItem(CrlItem& item, const SignedCertRevList& crl);
// The extensions of a CRL (an empty list when it has none).
const Extensions& crlExtensionsOf(const SignedCertRevList& crl);

class CrlDatabase {
 public:
  explicit CrlDatabase(DbManager& db) : db(db) {}

  // CRLDB_OK, CRLDB_FAILURE, CRLDB_OLDER; TalApiException 88 (crlScope's)
  // when its scope cannot be read.
  int importCrl(const SignedCertRevList& crl);
  int importCrlBuffer(const std::vector<unsigned char>& buffer);
  // CRLDB_OK with the newest covering CRL later than `newerThan` (when given),
  // or with none; CRLDB_FAILURE.
  int findLatestCrl(const SignedCertificate& cert, std::unique_ptr<SignedCertRevList>& out,
                    const X509time* newerThan);
  int listDatabaseCrls(const DistinguishedName& issuer,
                       std::vector<std::unique_ptr<SignedCertRevList>>& out);

 private:
  DbManager& db;
};

// The revoked entries of one CRL ordered by serial number: built once per
// CRL, then each look-up is a binary search. Points into the CRL, which must
// outlive the index and stay unchanged.
class CrlSerialIndex {
 public:
  explicit CrlSerialIndex(const SignedCertRevList& crl);
  // The entry for the serial number, or null.
  const CRLentry* find(const ASNinteger& serial) const;
  size_t size() const { return entries.size(); }

 private:
  struct Key {
    const unsigned char* bytes;
    size_t length;
    const CRLentry* entry;
  };
  std::vector<Key> entries;
};
