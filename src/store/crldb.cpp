#include "store/crldb.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "pki/common/keymembers.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"
#include "pki/x509/x509ext.h"
#include "store/dbmanager.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

const char* const SRC = "SRC/crldb";
const int32_t ETAL_INV_CRL_FMT = 88;
const char* const MSG_BAD_IDP =
    "Niepoprawny format rozszerzenia ISSUING_DISTRIBUTION_POINT w liście CRL";

// A time of an item in the form it carries (UTCTime or GeneralizedTime).
int decodeTime(X509time& t, GenericFile* in, int available, unsigned char f) {
  const int id = asnPeekIdentifier(in);
  if (id < 0) return EASN_FILE;
  if (id != TAG_UTCT_TIME && id != TAG_GENERAL_TIME) return 0;
  t.setTag(static_cast<unsigned char>(id));
  t.type = static_cast<uint8_t>(id);
  return t.decode(in, available, f);
}

}  // namespace

// ---------------------------------------------------------------------------
// CrlItem, CrlIndex

CrlItem::CrlItem(unsigned char tag) : ASNsequenceF(tag), issuer(0x30) {
  fileNumber.set(0u);
  version.set(0u);
  crlNumber.set(0u);
  hasNextUpdate.set(false);
  flag.set(0u);
  word.set(0u);
}

CrlItem::~CrlItem() = default;

// Every member, listed once for clearing and releasing.
std::array<ASNobject*, 10> CrlItem::members() const {
  CrlItem* self = const_cast<CrlItem*>(this);
  return {&self->fileNumber, &self->version,       &self->crlNumber,  &self->issuer, &self->thisUpdate,
          &self->hasNextUpdate, &self->nextUpdate, &self->flag,       &self->word,   &self->extensions};
}

std::array<const ASNobject*, 6> CrlItem::written() const {
  uint32_t v = 0;
  return {&fileNumber,
          !asnSmallValue(version, &v) || v != 0 ? &version : nullptr,
          &issuer,
          &thisUpdate,
          hasNextUpdate.get() ? &nextUpdate : nullptr,
          extensions->GetCount() > 0 ? &extensions : nullptr};
}

void CrlItem::releaseViews() {
  dropOwnView();
  for (ASNobject* m : members()) m->releaseViews();
}

void CrlItem::clear() {
  releaseViews();
  for (ASNobject* m : members()) m->clear();
}

int CrlItem::decodeContent(GenericFile* in, int length) {
  hasNextUpdate.set(false);
  extensions->clear();
  crlNumber.set(0u);
  flag.set(0u);
  word.set(0u);
  int taken = 0;
  ASNobject* const head[] = {&fileNumber};
  int r = keyasn::decodeMembers(in, length, memberFlags(), head, 1, &taken);
  if (r != 1) return r;
  if (length - taken < 2) return 0;
  int id = asnPeekIdentifier(in);
  if (id < 0) return EASN_FILE;
  uint32_t v = 0;
  if (id == 0x02) {
    ASNobject* const m[] = {&version};
    r = keyasn::decodeMembers(in, length, memberFlags(), m, 1, &taken);
    if (r != 1) return r;
    if (!asnSmallValue(version, &v)) return 0;
  } else {
    version.set(0u);
  }
  ASNobject* const named[] = {&issuer};
  r = keyasn::decodeMembers(in, length, memberFlags(), named, 1, &taken);
  if (r != 1) return r;
  r = decodeTime(thisUpdate, in, length - taken, memberFlags());
  if (r < 1) return r < 0 ? r : 0;
  taken += r;
  bool haveExtensions = false;
  for (int i = 0; i < 2 && length - taken >= 2; ++i) {
    id = asnPeekIdentifier(in);
    if (id < 0) return EASN_FILE;
    if ((id == TAG_UTCT_TIME || id == TAG_GENERAL_TIME) && !hasNextUpdate.get() && !haveExtensions) {
      hasNextUpdate.set(true);
      r = decodeTime(nextUpdate, in, length - taken, memberFlags());
    } else if (id == 0xA0 && !haveExtensions && v > 0) {
      haveExtensions = true;
      r = extensions.decode(in, length - taken, memberFlags());
    } else {
      return 0;
    }
    if (r < 1) return r < 0 ? r : 0;
    taken += r;
  }
  if (!hasNextUpdate.get()) nextUpdate = thisUpdate;
  return taken == length ? 1 : 0;
}

int CrlItem::encodeContent(GenericFile* out) const {
  const auto m = written();
  return keyasn::encodeMembers(out, m.data(), static_cast<int>(m.size()));
}

int CrlItem::contentLength() const {
  const auto m = written();
  return keyasn::membersLength(m.data(), static_cast<int>(m.size()));
}

void CrlItem::digestContent(LvHash* hash) const {
  const auto m = written();
  keyasn::digestMembers(hash, m.data(), static_cast<int>(m.size()));
}

CrlIndex::CrlIndex(unsigned char tag) : ASNsequenceF(tag) { lastNumber.set(0u); }
CrlIndex::~CrlIndex() = default;

void CrlIndex::releaseViews() {
  dropOwnView();
  releaseViewsOf({&lastNumber, &items});
}

void CrlIndex::clear() {
  releaseViews();
  lastNumber.clear();
  items.clear();
}

int CrlIndex::decodeContent(GenericFile* in, int length) {
  ASNobject* const m[] = {&lastNumber, &items};
  int taken = 0;
  const int r = keyasn::decodeMembers(in, length, memberFlags(), m, 2, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int CrlIndex::encodeContent(GenericFile* out) const {
  return keyasn::encodeMembers(out, {&lastNumber, &items});
}

int CrlIndex::contentLength() const { return keyasn::membersLength({&lastNumber, &items}); }

void CrlIndex::digestContent(LvHash* hash) const {
  keyasn::digestMembers(hash, {&lastNumber, &items});
}

// ---------------------------------------------------------------------------
// Scope

const Extensions& crlExtensionsOf(const SignedCertRevList& crl) {
  return crl.tbsCertList.crlExtensions.inner;
}

namespace {

// The issuingDistributionPoint among `extensions`, null when absent; throws
// as crlScope does when it does not decode or sets both only-flags.
std::unique_ptr<IssuingDistributionPoint> readIssuingPoint(const Extensions& extensions) {
  const Extension* e = findExtensionByOid(extensions, id_ce_issuingDistributionPoint);
  if (!e) return nullptr;
  auto idp = std::make_unique<IssuingDistributionPoint>();
  if (idp->decodeOctets(e->extnValue) < 1)
    throw TalApiException(MSG_BAD_IDP, ETAL_INV_CRL_FMT);
  if (idp->onlyContainsCACerts.get() && idp->onlyContainsUserCerts.get())
    throw TalApiException(
        "Lista CRL, rozszerzenie ISSUING_DISTRIBUTION_POINT: pola onlyCACerts i onlyUserCerts nie "
        "mogą być jednocześnie ustawione",
        ETAL_INV_CRL_FMT);
  return idp;
}

int scopeOf(const IssuingDistributionPoint* idp) {
  if (!idp) return CRL_SCOPE_ALL;
  return idp->onlyContainsCACerts.get()     ? CRL_SCOPE_CA
         : idp->onlyContainsUserCerts.get() ? CRL_SCOPE_USER
                                            : CRL_SCOPE_ALL;
}

constexpr unsigned char GN_DIRECTORY_NAME = 0xA4;

// One name of a distribution point: a directory name, compared as names are,
// or another GeneralName, compared by its tag and octets.
struct PointName {
  bool directory = false;
  DistinguishedName dn;
  unsigned char tag = 0;
  std::vector<unsigned char> octets;

  bool operator==(const PointName& o) const {
    return directory == o.directory && (directory ? dn == o.dn : tag == o.tag && octets == o.octets);
  }
};

bool addGeneralName(const ASNany& name, std::vector<PointName>& out) {
  const unsigned char* c = name.content();
  const size_t n = c && name.length > 0 ? static_cast<size_t>(name.length) : 0;
  PointName p;
  if (name.getTag() == GN_DIRECTORY_NAME) {
    if (n == 0) return false;
    std::vector<unsigned char> der(c, c + n);
    if (p.dn.decodeVector(der) != static_cast<int>(der.size())) return false;
    p.directory = true;
  } else {
    p.tag = name.getTag();
    if (n) p.octets.assign(c, c + n);
  }
  out.push_back(std::move(p));
  return true;
}

bool addGeneralNames(const GeneralNames& names, std::vector<PointName>& out) {
  for (POSITION pos = names.GetHeadPosition(); pos;)
    if (!addGeneralName(*names.GetNext(pos), out)) return false;
  return true;
}

// The names a distribution point name stands for: its fullName, or `base`
// with nameRelativeToCRLIssuer appended (RFC 5280, 4.2.1.13).
bool pointNames(const DistributionPointName& point, const DistinguishedName& base,
                std::vector<PointName>& out) {
  switch (point.chosenIndex()) {
    case 0:
      return addGeneralNames(point.fullName, out);
    case 1: {
      PointName p;
      p.directory = true;
      p.dn = base;
      auto relative = std::make_unique<RDname>(point.nameRelativeToCRLIssuer);
      if (!p.dn.AddTail(relative.get())) return false;
      relative.release();
      out.push_back(std::move(p));
      return true;
    }
    default:
      return false;
  }
}

bool anyInCommon(const std::vector<PointName>& a, const std::vector<PointName>& b) {
  for (const PointName& x : a)
    for (const PointName& y : b)
      if (x == y) return true;
  return false;
}

// A CRL whose issuingDistributionPoint names its distribution point covers a
// certificate only when that name stands in one of the certificate's CRL
// distribution points, or, for a point without a name, in its cRLIssuer (RFC
// 5280, 6.3.3 (b)(2)(i)). A certificate without the extension has its issuer
// as its only point.
bool distributionPointCovers(const SignedCertificate& cert, const DistinguishedName& crlIssuer,
                             const IssuingDistributionPoint& idp) {
  std::vector<PointName> crlNames;
  if (!pointNames(idp.distributionPoint, crlIssuer, crlNames)) return false;
  const DistinguishedName& issuer = cert.tbsCertificate.issuer;
  const Extension* e =
      findExtensionByOid(cert.tbsCertificate.extensions.inner, id_ce_cRLDistributionPoints);
  if (!e) {
    PointName own;
    own.directory = true;
    own.dn = issuer;
    return anyInCommon(crlNames, {own});
  }
  CRLDistributionPoints points;
  if (points.decodeOctets(e->extnValue) < 1) return false;
  for (POSITION pos = points.GetHeadPosition(); pos;) {
    const DistributionPoint* dp = points.GetNext(pos);
    std::vector<PointName> issuers, names;
    if (dp->cRLIssuerPresent && !addGeneralNames(dp->cRLIssuer, issuers)) continue;
    if (dp->distributionPointPresent) {
      // A relative name extends the point's CRL issuer, else the certificate's issuer.
      const DistinguishedName* base = &issuer;
      for (const PointName& i : issuers)
        if (i.directory) base = &i.dn;
      if (pointNames(dp->distributionPoint, *base, names) && anyInCommon(crlNames, names))
        return true;
    } else if (anyInCommon(crlNames, issuers)) {
      return true;
    }
  }
  return false;
}

}  // namespace

int crlScope(const Extensions& extensions) { return scopeOf(readIssuingPoint(extensions).get()); }

bool checkIssuingDistributionPoint(const SignedCertificate& cert, const DistinguishedName& crlIssuer,
                                   const Extensions& extensions) {
  if (!(cert.tbsCertificate.issuer == crlIssuer)) return false;
  std::unique_ptr<IssuingDistributionPoint> idp;
  try {
    idp = readIssuingPoint(extensions);
  } catch (const TalApiException&) {
    return false;  // a CRL of unreadable scope clears nothing
  }
  // A CRL of some reasons only leaves out those revoked for the others.
  if (idp && idp->onlySomeReasonsPresent) return false;
  const int scope = scopeOf(idp.get());
  const bool ca = cert.isCa();
  if (ca && scope == CRL_SCOPE_USER) return false;
  if (!ca && scope == CRL_SCOPE_CA) return false;
  return !idp || !idp->distributionPointPresent ||
         distributionPointCovers(cert, crlIssuer, *idp);
}

// ---------------------------------------------------------------------------
// Database operations

namespace {

// Reads and decodes the index under `guard`; false on failure or an empty index.
bool readIndex(DbManager& db, DbCrlGuard& guard, CrlIndex& index) {
  DbBytes der;
  if (db.getCrlIndex(der, guard) != 1 || der.empty()) return false;
  return index.decodeVector(der) == static_cast<int>(der.size());
}

bool copyExtensions(const Extensions& from, Extensions& to) {
  std::vector<unsigned char> der;
  if (from.encodeVector(der) < 1) return false;
  return to.decodeVector(der) == static_cast<int>(der.size());
}

std::unique_ptr<SignedCertRevList> decodeCrl(const DbBytes& der) {
  if (der.empty()) return nullptr;
  auto crl = std::make_unique<SignedCertRevList>();
  // Read in place over a private copy: its digests and encodings are then the
  // received octets, not a walk over every entry.
  if (crl->decodeVector(der, static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY)) !=
      static_cast<int>(der.size()))
    return nullptr;
  return crl;
}

int crlNumberOf(const SignedCertRevList& crl, ASNinteger& out) {
  const Extension* e = findExtensionByOid(crlExtensionsOf(crl), id_ce_cRLNumber);
  if (!e) return 0;
  return out.decodeOctets(e->extnValue) > 0 ? 1 : -1;
}

// What a CRL covers of its issuer's certificates: its scope, and the DER of
// the distribution point its issuingDistributionPoint names (empty: none).
// CRLs of other points are no older or newer versions of one another. Throws
// as crlScope does.
struct Coverage {
  int scope = CRL_SCOPE_ALL;
  std::vector<unsigned char> point;
  bool operator==(const Coverage& o) const { return scope == o.scope && point == o.point; }
};

Coverage coverageOf(const Extensions& extensions) {
  Coverage c;
  std::unique_ptr<IssuingDistributionPoint> idp = readIssuingPoint(extensions);
  c.scope = scopeOf(idp.get());
  if (idp && idp->distributionPointPresent && idp->distributionPoint.encodeVector(c.point) < 1)
    throw TalApiException(MSG_BAD_IDP, ETAL_INV_CRL_FMT);
  return c;
}

// Coverage of extensions; scope -1 when they do not give one.
Coverage coverageOrNone(const Extensions& extensions) {
  try {
    return coverageOf(extensions);
  } catch (const TalApiException&) {
    Coverage none;
    none.scope = -1;
    return none;
  }
}

}  // namespace

bool sameCoverage(const Extensions& a, const Extensions& b) {
  return coverageOrNone(a) == coverageOrNone(b);
}

bool fillCrlItem(CrlItem& item, const SignedCertRevList& crl) {
  const TBSCertRevList& tbs = crl.tbsCertList;
  if (crlNumberOf(crl, item.crlNumber) < 0) return false;
  item.issuer = tbs.issuer;
  item.thisUpdate = tbs.thisUpdate;
  item.hasNextUpdate.set(tbs.nextUpdatePresent != 0);
  item.nextUpdate = tbs.nextUpdatePresent ? tbs.nextUpdate : tbs.thisUpdate;
  item.flag.set(static_cast<uint32_t>(tbs.revokedCertificatesPresent));
  item.word.set(static_cast<uint32_t>(tbs.revokedCertificates.GetCount()));
  if (!copyExtensions(crlExtensionsOf(crl), item.extensions.inner)) return false;
  item.version = tbs.version;
  return true;
}

int CrlDatabase::importCrl(const SignedCertRevList& crl) {
  DbCrlGuard guard(1);
  CrlIndex index;
  if (!readIndex(db, guard, index)) return CRLDB_FAILURE;
  const TBSCertRevList& tbs = crl.tbsCertList;
  // A scope that cannot be read throws (88); the lock goes with the guard.
  const Coverage coverage = coverageOf(crlExtensionsOf(crl));

  int32_t removeNumber = -1;
  for (POSITION pos = index.items.GetHeadPosition(); pos;) {
    const POSITION here = pos;
    CrlItem* item = index.items.GetNext(pos);
    if (!(item->issuer == tbs.issuer) || !(coverageOrNone(item->extensions.inner) == coverage))
      continue;
    if (tbs.thisUpdate < item->thisUpdate) return CRLDB_OLDER;
    if (tbs.thisUpdate == item->thisUpdate) return CRLDB_OK;
    removeNumber = static_cast<int32_t>(item->fileNumber.toLong());
    delete index.items.RemoveAt(here);
    break;
  }

  auto item = std::make_unique<CrlItem>();
  const uint32_t number = index.lastNumber.toLong();
  item->fileNumber.set(number);
  index.lastNumber.set(number + 1);
  if (!fillCrlItem(*item, crl)) return CRLDB_FAILURE;
  if (index.items.append(item.release()) != 1) return CRLDB_FAILURE;

  DbBytes crlDer, indexDer;
  checkInvariant(crl.encodeVector(crlDer) >= 1, SRC, 127, "crl.encode >= 1");
  checkInvariant(index.encodeVector(indexDer) >= 1, SRC, 130, "index.encode >= 1");
  const int r = db.insertCrl(indexDer, crlDer, static_cast<int32_t>(number), removeNumber);
  if (r == 0) return CRLDB_FAILURE;
  checkInvariant(r == 1, SRC, 138, "r == 1");
  return CRLDB_OK;
}

namespace {

// The buffer is the start of a longer SEQUENCE: its header is cut, or announces
// more content than is there. (The decoder's codes do not tell a short input
// from a malformed one.)
bool endsEarly(const std::vector<unsigned char>& b) {
  if (b.empty() || b[0] != 0x30) return false;
  if (b.size() < 2) return true;
  uint64_t length = b[1];
  size_t header = 2;
  if (b[1] & 0x80) {
    const size_t n = b[1] & 0x7F;
    if (n == 0 || n > 4) return false;
    if (b.size() < 2 + n) return true;
    length = 0;
    for (size_t i = 0; i < n; ++i) length = (length << 8) | b[2 + i];
    header += n;
  }
  return header + length > b.size();
}

}  // namespace

int CrlDatabase::importCrlBuffer(const std::vector<unsigned char>& buffer) {
  SignedCertRevList crl;
  // In place over a private copy: the database keeps the octets received,
  // not a re-encoding of a TBS that is not DER (whose signature would fail).
  const int r = crl.decodeVector(buffer, static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY));
  if (r == EASN_MEM) return CRLDB_FAILURE;
  if (r < 1 && endsEarly(buffer)) return CRLDB_INCOMPLETE;
  if (r < 1 || r != static_cast<int>(buffer.size())) return CRLDB_UNDECODABLE;
  return importCrl(crl);
}

int CrlDatabase::findLatestCrl(const SignedCertificate& cert,
                               std::unique_ptr<SignedCertRevList>& out, const X509time* newerThan) {
  out.reset();
  // The lock is held until the CRL is read: an import in between may remove its file.
  DbCrlGuard guard(0);
  int32_t fileNumber = -1;
  {
    CrlIndex index;
    if (!readIndex(db, guard, index)) return CRLDB_FAILURE;
    const CrlItem* best = nullptr;
    for (POSITION pos = index.items.GetHeadPosition(); pos;) {
      const CrlItem* item = index.items.GetNext(pos);
      if (!checkIssuingDistributionPoint(cert, item->issuer, item->extensions.inner)) continue;
      if (!best || best->thisUpdate < item->thisUpdate) best = item;
    }
    if (!best || (newerThan && !(*newerThan < best->thisUpdate))) return CRLDB_OK;
    fileNumber = static_cast<int32_t>(best->fileNumber.toLong());
  }
  DbBytes der;
  if (db.getCrlByFileNum(fileNumber, der) != 1) return CRLDB_FAILURE;
  out = decodeCrl(der);
  // A file that is not the CRL its item describes (a damaged or altered
  // store) must not decide for a certificate it does not cover.
  if (out && !checkIssuingDistributionPoint(cert, out->tbsCertList.issuer, crlExtensionsOf(*out)))
    out.reset();
  return out ? CRLDB_OK : CRLDB_FAILURE;
}

int CrlDatabase::listDatabaseCrls(const DistinguishedName& issuer,
                                  std::vector<std::unique_ptr<SignedCertRevList>>& out) {
  std::vector<int32_t> numbers;
  DbCrlGuard guard(0);  // held until the CRLs are read
  {
    CrlIndex index;
    if (!readIndex(db, guard, index)) return CRLDB_FAILURE;
    for (POSITION pos = index.items.GetHeadPosition(); pos;) {
      const CrlItem* item = index.items.GetNext(pos);
      if (item->issuer == issuer) numbers.push_back(static_cast<int32_t>(item->fileNumber.toLong()));
    }
  }
  for (int32_t n : numbers) {
    DbBytes der;
    if (db.getCrlByFileNum(n, der) != 1) return CRLDB_FAILURE;
    auto crl = decodeCrl(der);
    if (!crl) return CRLDB_FAILURE;
    out.push_back(std::move(crl));
  }
  return CRLDB_OK;
}

// ---------------------------------------------------------------------------
// Serial index

namespace {

// The magnitude octets of a serial: leading zero octets dropped, so BER and
// DER forms of one number meet.
void serialBytes(const ASNinteger& serial, const unsigned char*& bytes, size_t& length) {
  bytes = serial.data();
  length = bytes ? static_cast<size_t>(serial.contentLength()) : 0;
  // Redundant sign octets only: 00 FF (255) stays apart from FF (-1).
  while (length > 1 && ((bytes[0] == 0 && !(bytes[1] & 0x80)) ||
                        (bytes[0] == 0xFF && (bytes[1] & 0x80)))) {
    ++bytes;
    --length;
  }
}

bool keyLess(const unsigned char* a, size_t an, const unsigned char* b, size_t bn) {
  if (an != bn) return an < bn;
  return an && std::memcmp(a, b, an) < 0;
}

}  // namespace

CrlSerialIndex::CrlSerialIndex(const SignedCertRevList& crl) {
  const auto& list = crl.tbsCertList.revokedCertificates;
  entries.reserve(static_cast<size_t>(list.GetCount()));
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const CRLentry* e = list.GetNext(pos);
    Key k{nullptr, 0, e};
    serialBytes(e->userCertificate, k.bytes, k.length);
    entries.push_back(k);
  }
  // Stable, so of two entries for one serial the first listed is found.
  std::stable_sort(entries.begin(), entries.end(), [](const Key& a, const Key& b) {
    return keyLess(a.bytes, a.length, b.bytes, b.length);
  });
}

const CRLentry* CrlSerialIndex::find(const ASNinteger& serial) const {
  Key k{nullptr, 0, nullptr};
  serialBytes(serial, k.bytes, k.length);
  auto it = std::lower_bound(entries.begin(), entries.end(), k, [](const Key& a, const Key& b) {
    return keyLess(a.bytes, a.length, b.bytes, b.length);
  });
  if (it == entries.end() || keyLess(k.bytes, k.length, it->bytes, it->length)) return nullptr;
  return it->entry;
}
