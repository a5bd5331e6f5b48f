// The revocation manager: the status of one certificate of a path from a CRL
// or an OCSP response (the choice between them, grading of their freshness,
// the listed entry and its reason), the checks of a CRL's extensions and
// entry extensions, the single response of an OCSP response that answers for
// a certificate, and the verified and pending CRL lists.
#pragma once

#include "base/reportstream.h"
#include "base/workaccount.h"
#include "pki/ocsp/ocspreq.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/common/oids.h"
#include "pki/x509/crl.h"
#include "store/crldb.h"
#include "store/pathclock.h"
#include "store/pathverify.h"

#include <array>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class AuthorityKeyIdentifier;

// A CRL without an authority key identifier is tried against the CA
// certificates of its issuer's name, at most this many (a signature check each).
constexpr int MAX_CRL_ISSUER_CHECKS = 100;

// What the revocation manager needs of its library context: trust points,
// the local stores, path building and verification of responder and CRL
// issuer certificates, and the network. The defaults: none of them.
class RevocationEnvironment {
 public:
  virtual ~RevocationEnvironment() = default;
  // Certificates of the trusted-list services (two lists per service).
  virtual void trustedListCertificates(std::vector<const SignedCertificate*>&) {}
  // The context's first (qualified) or second trust-point list.
  virtual void trustPoints(bool /*qualified*/, std::vector<const SignedCertificate*>&) {}
  // Certificates of the local stores with this subject, or with this issuer.
  virtual void certificatesBySubject(const DistinguishedName&, CertificateList&) {}
  virtual void certificatesByIssuer(const DistinguishedName&, CertificateList&) {}
  // Builds the path of `cert` and verifies it; 0 good, else the failure.
  virtual int verifyCertificatePath(const SignedCertificate& /*cert*/, int32_t /*purpose*/,
                                    const RevocationArgs&) {
    return PATH_RESULT_NO_PATH;
  }
  // Builds a path by issuer name and key identifier and verifies it; on 0
  // `end` is the path's end certificate.
  virtual int verifyPathByKeyId(const DistinguishedName&, const AuthorityKeyIdentifier&,
                                const RevocationArgs&, SignedCertificate& /*end*/) {
    return PATH_RESULT_NO_PATH;
  }
  // The two verifications above, the nested path verification collecting the
  // certificates and revocation data it meets into `collector` (null: none).
  // By default nothing is collected.
  virtual int verifyCertificatePathCollecting(const SignedCertificate& cert, int32_t purpose,
                                              const RevocationArgs& args, PathCollector*) {
    return verifyCertificatePath(cert, purpose, args);
  }
  virtual int verifyPathByKeyIdCollecting(const DistinguishedName& name,
                                          const AuthorityKeyIdentifier& akid,
                                          const RevocationArgs& args, SignedCertificate& end,
                                          PathCollector*) {
    return verifyPathByKeyId(name, akid, args, end);
  }
  // The context's record of certificates met.
  virtual void rememberCertificate(const SignedCertificate&) {}
};

// The network manager's queries the revocation manager makes (0 success).
class RevocationNetwork {
 public:
  virtual ~RevocationNetwork() = default;
  // A query of this kind may go out for the issuer: network on, and for CRLs
  // and OCSP (kinds 2 and 4) fetching on, and a server of the kind configured.
  // Why network work or fetching is off goes into `report` (null: nowhere).
  virtual bool canQueryNetwork(int kind, const DistinguishedName* issuer, ReportStream* report) = 0;
  // OCSP may be fetched at all (network options 18 and 16), servers or not.
  virtual bool ocspFetchAllowed() = 0;
  // The request to the configured OCSP servers of the issuer, the first answer.
  virtual int findOcspServers(const SignedCertificate& cert, const SignedCertificate& issuer,
                              const std::vector<uint8_t>& request, OCSPResponse& response) = 0;
  virtual int queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                           OCSPResponse& response) = 0;
  virtual int queryForCertificatesByDn(const DistinguishedName& name, CertificateList& out) = 0;
  // CRLs at one URI, or from the issuer's configured CRL servers (16: none,
  // fetching off, which is said in `report`).
  virtual int queryForCrl(const std::string&, const DistinguishedName&, CrlList&, ReportStream*) {
    return 16;
  }
  virtual int queryForIssuerCrl(const DistinguishedName&, CrlList&, ReportStream*) { return 16; }
};

// Results of the OCSP responder check.
enum : int { OCSP_RESPONDER_OTHER = 0, OCSP_RESPONDER_GOOD = 1, OCSP_RESPONDER_MALFORMED = 48 };

// A copy through its encoding (the response class does not copy); null when
// it does not encode.
std::unique_ptr<BasicOCSPResponse> copyResponse(const BasicOCSPResponse& response);

// Equal CRLs (sameCrl): the same object, or equal signature values and
// digests of their encodings.
bool equalCrls(const SignedCertRevList& a, const SignedCertRevList& b);

// CRLs the revocation manager keeps, shared with the evidence and the checks
// that use them rather than copied (a CRL may hold millions of entries).
using SharedCrlList = std::vector<std::shared_ptr<SignedCertRevList>>;

// What tells one CRL from another exactly as sameCrl does: the SHA-256 of its
// encoding (which holds its signature value). All zero when it does not encode.
using CrlDigest = std::array<unsigned char, 32>;
CrlDigest crlDigest(const SignedCertRevList& crl);

// One of the revocation manager's CRL lists: in the order the CRLs came, and
// indexed by digest (the same CRL) and by issuer name (a certificate's
// candidates), so that no look-up walks what a context gathered over many
// documents. From record() on, every change is journaled: rollback() undoes
// them without needing memory (a refused document's), commit() keeps them.
class HeldCrls {
 public:
  using value_type = std::shared_ptr<SignedCertRevList>;
  struct Entry {
    value_type crl;
    CrlDigest digest{};
    std::string issuer;   // the issuer name's key (empty: a name no key stands for)
    bool proven = false;  // verified at least once in this context
    uint64_t learned = 0;  // the document that brought it first (0: none)
    uint64_t order = 0;    // its place in the list
    uint64_t octets = 0;   // its encoded size
  };

 private:
  using Entries = std::map<uint64_t, Entry>;  // by the order they came
  using ByDigest = std::multimap<CrlDigest, uint64_t>;
  using ByIssuer = std::map<std::string, std::set<uint64_t>>;

 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = HeldCrls::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;
    explicit const_iterator(Entries::const_iterator at) : at(at) {}
    reference operator*() const { return at->second.crl; }
    pointer operator->() const { return &at->second.crl; }
    const_iterator& operator++() {
      ++at;
      return *this;
    }
    bool operator==(const const_iterator& o) const { return at == o.at; }
    bool operator!=(const const_iterator& o) const { return at != o.at; }

   private:
    Entries::const_iterator at;
  };
  using iterator = const_iterator;

  HeldCrls() = default;
  HeldCrls(const HeldCrls&) = delete;
  HeldCrls& operator=(const HeldCrls&) = delete;

  const_iterator begin() const { return const_iterator(entries.begin()); }
  const_iterator end() const { return const_iterator(entries.end()); }
  size_t size() const { return entries.size(); }
  bool empty() const { return entries.empty(); }
  // The i-th CRL in order (a walk).
  const value_type& operator[](size_t i) const { return *std::next(begin(), static_cast<std::ptrdiff_t>(i)); }
  operator SharedCrlList() const { return SharedCrlList(begin(), end()); }
  // The encoded octets of the CRLs held.
  uint64_t octets() const { return heldOctets; }

  // Appends a CRL (its digest and name key made here unless given: a CRL
  // verified again by each path is not digested again). Throws
  // std::bad_alloc, with nothing changed.
  void push_back(value_type crl, bool proven = false, uint64_t learned = 0,
                 const CrlDigest* digest = nullptr, const std::string* issuer = nullptr);
  void emplace_back(SignedCertRevList* crl) { push_back(value_type(crl)); }
  // An entry holding a CRL of this digest, or null.
  const Entry* find(const CrlDigest& digest) const;
  // An entry holding a CRL equal to `crl` (of digest `digest`), or null.
  const Entry* find(const SignedCertRevList& crl, const CrlDigest& digest) const;
  template <class Visit>
  void forEach(Visit visit) const {
    for (const auto& e : entries) visit(e.second);
  }
  // The entries of the issuer's name (and those of names without a key), in order.
  template <class Visit>
  void forIssuer(const DistinguishedName& issuer, Visit visit) const {
    forIssuerKey(issuerKeyOf(issuer), visit);
  }
  template <class Visit>
  void forIssuerKey(const std::string& key, Visit visit) const;
  // Removes the entries of the issuer (all: null) for which drop(entry)
  // holds, their CRLs appended to `out` (null: nowhere), the order of the others kept.
  template <class Drop>
  void removeIf(const DistinguishedName* issuer, Drop drop, SharedCrlList* out);
  void clear() { removeIf(nullptr, [](const Entry&) { return true; }, nullptr); }

  void record();
  void commit();
  // The CRLs added since record() are kept alive until the next record() or
  // commit() (a refused document's records may still point at them).
  void rollback() noexcept;
  // Drops one entry outside the journal (between documents).
  void drop(uint64_t order);
  // The key of a name for the issuer index (empty: none stands for it).
  static std::string issuerKeyOf(const DistinguishedName& name);

 private:
  void remove(Entries::iterator at, SharedCrlList* out);

  Entries entries;
  ByDigest byDigest;
  ByIssuer byIssuer;
  uint64_t next = 0;
  uint64_t heldOctets = 0;
  struct Change {
    uint64_t order = 0;
    bool added = false;
    // A removal keeps the nodes it took out: putting them back needs no memory.
    Entries::node_type entry;
    ByDigest::node_type digest;
    ByIssuer::node_type issuerKey;  // when its set emptied
    std::set<uint64_t>::node_type issuerOrder;
  };
  std::vector<Change> journal;
  bool recording = false;
};

template <class Visit>
void HeldCrls::forIssuerKey(const std::string& key, Visit visit) const {
  // The name's entries and those without a key, merged in their order.
  static const std::set<uint64_t> none;
  auto named = key.empty() ? byIssuer.end() : byIssuer.find(key);
  auto unnamed = byIssuer.find(std::string());
  const std::set<uint64_t>& a = named == byIssuer.end() ? none : named->second;
  const std::set<uint64_t>& b = unnamed == byIssuer.end() ? none : unnamed->second;
  auto x = a.begin(), y = b.begin();
  while (x != a.end() || y != b.end()) {
    const uint64_t order = y == b.end() || (x != a.end() && *x < *y) ? *x++ : *y++;
    if (!visit(entries.find(order)->second)) return;
  }
}

template <class Drop>
void HeldCrls::removeIf(const DistinguishedName* issuer, Drop drop, SharedCrlList* out) {
  std::vector<uint64_t> doomed;
  auto consider = [&](const Entry& e) {
    if (drop(e)) doomed.push_back(e.order);
    return true;
  };
  if (issuer) {
    forIssuer(*issuer, consider);
  } else {
    for (const auto& e : entries) consider(e.second);
  }
  for (uint64_t order : doomed) remove(entries.find(order), out);
}

bool operator==(const HeldCrls& a, const SharedCrlList& b);
inline bool operator==(const SharedCrlList& a, const HeldCrls& b) { return b == a; }
inline bool operator!=(const HeldCrls& a, const SharedCrlList& b) { return !(a == b); }
inline bool operator!=(const SharedCrlList& a, const HeldCrls& b) { return !(b == a); }

// What a context keeps of the CRLs its documents brought, past each document
// (the verified and pending lists together): at most this many of those one
// document added, at most this many of one issuer's never verified, and at
// most this many, of at most these octets, in all. Past a bound the CRLs
// learned longest ago go first, those never verified before those verified.
// A document's own CRLs serve it whole while it is verified.
constexpr size_t MAX_CRLS_KEPT_PER_DOCUMENT = 32;
constexpr size_t MAX_UNPROVEN_CRLS_PER_ISSUER = 4;
constexpr size_t MAX_CRLS_HELD = 256;
constexpr uint64_t MAX_CRL_OCTETS_HELD = 16u << 20;
// One signature value of one issuer: equal CRLs, or a copy of a genuine CRL's
// signature over other contents, which cannot verify. Enough where a pending
// CRL is dropped as a duplicate (never to take a CRL as verified).
bool sameSignatureValue(const SignedCertRevList& a, const SignedCertRevList& b);

class RevocationManager {
 public:
  RevocationManager(const PathClock& clock, ReportStream* report) : clock(clock), report(report) {}
  RevocationManager(const RevocationManager&) = delete;
  RevocationManager& operator=(const RevocationManager&) = delete;

  // The CRL database (none: not asked).
  CrlDatabase* database = nullptr;
  // Option 27: CA certificates are graded strictly too.
  bool strictForCa = false;

  HeldCrls verifiedCrls;
  HeldCrls pendingCrls;
  // CRLs dropped from the two lists during a verification, kept alive until
  // the next releaseLastVerification.
  SharedCrlList retiredCrls;
  // Pending CRLs that failed verification (refuseCrl), until the next
  // releaseLastVerification.
  SharedCrlList refusedCrls;

  // The status of the item's certificate (PathRevocation::checkStatus). A CRL
  // taken from the pending list or the database is handed back in
  // used.crlToVerify.
  int checkStatus(CertificateItem& item, const RevocationArgs& args, const BasicOCSPResponse* ocsp,
                  const SignedCertificate& issuer, const SignedCertRevList* crl,
                  UsedRevocationData& used);

  // Every critical extension of the CRL is one this manager understands.
  bool checkCrlExtensions(const SignedCertRevList& crl);
  // Every critical entry extension is reasonCode, holdInstructionCode or invalidityDate.
  bool checkEntryExtensions(const Extensions& extensions);
  // The single response for the certificate, valid at `time` (null: now); null when none.
  const SingleResponse* findSingleResponse(const BasicOCSPResponse& response,
                                           const SignedCertificate& cert,
                                           const SignedCertificate& issuer, const X509time* time);
  // Moves a verified CRL to the verified list, dropping older CRLs of the
  // same issuer and CRL number there and its equal in the pending list.
  void recordVerifiedCrl(const SignedCertRevList& crl);
  // Every verified CRL back to the pending list (after each path verification),
  // the dropped ones released.
  void demoteVerifiedCrls();
  // Between verifications, when nothing points at them any more: the CRLs the
  // last one retired or refused and the responses it used go (evidence keeps
  // its own share), and a refused CRL may be taken again.
  void releaseLastVerification();
  // A pending CRL that failed verification leaves the pending list, and an
  // equal CRL read from the database is not taken, until the next
  // releaseLastVerification; false when no pending CRL is equal to it.
  bool refuseCrl(const SignedCertRevList& crl);
  void copyRevocationData(const RevocationManager& other);

  // A CRL a document carries: kept pending unless an equal one is held,
  // shared with the document's decoded value (never copied); the document
  // brings it either way.
  // `shared` is the decoded value itself when it can be shared (null: a
  // copy is made when it is kept).
  void offerCarriedCrl(const SignedCertRevList& crl, std::shared_ptr<SignedCertRevList> shared);
  // Neither list holds an equal CRL.
  bool isNewCrl(const SignedCertRevList& crl);
  // A pending CRL an earlier document brought, never verified in this
  // context, and neither this document nor the database: when it fails
  // verification, it is as if it had never been learned (what earlier
  // documents left may complete a verification, never block it).
  bool learnedEarlier(const SignedCertRevList& crl);
  // Empties the OCSP cache (each outermost path verification).
  void clearOcspCache();

  // What a document's verification changes here that outlasts it (the
  // verified and pending CRLs, the OCSP cache, the CRLs' serial indexes) is
  // journaled from save(): restore puts it back when the document is refused
  // (needing no memory), commit keeps it and trims what the context holds
  // to its bounds. Either costs what the document changed.
  struct Saved {
    bool open = false;
  };
  Saved save();
  void restore(Saved& saved) noexcept;
  // Needs no memory to keep (trimming waits when there is none).
  void commit(Saved& saved) noexcept;
  // The CRLs whose serial indexes are held (an index is built once per CRL in use).
  std::vector<const SignedCertRevList*> serialIndexes() const {
    std::vector<const SignedCertRevList*> out;
    for (const auto& i : indexes) out.push_back(i.second.crl.get());
    return out;
  }

  // The library context's services (none: no trust point or store) and its
  // network (none: no query).
  RevocationEnvironment* environment = nullptr;
  RevocationNetwork* network = nullptr;
  // The configured digest of OCSP requests.
  const ASNobjectId* ocspDigest = &id_sha1;

  // The signature's revocation values, filled by the signature verification
  // and emptied by clearUsedLists.
  std::vector<const SignedCertRevList*> signatureCrls;
  std::vector<const BasicOCSPResponse*> signatureOcsp;
  // Verified OCSP responses (never changed once verified: shared with the
  // used list and the callers that found them).
  std::vector<std::shared_ptr<const BasicOCSPResponse>> ocspCache;

  // A verified response for the certificate, or null: the signature's
  // responses (those the references admit), then (online) the cache, the configured servers and the
  // certificate's OCSP access locations. A signature's response is copied
  // once, the copy shared with the used list; a cached or fetched one is
  // shared with the cache and the used list.
  // The responder's path verification collects into `collector` (null: none).
  std::shared_ptr<const BasicOCSPResponse> findOcspResponse(const SignedCertificate& cert,
                                                      const SignedCertificate& issuer,
                                                      const RevocationArgs& args,
                                                      PathCollector* collector = nullptr);
  void clearUsedLists();

  // The request for one certificate; false when it cannot be built.
  bool prepareOCSPRequest(const SignedCertificate& cert, const SignedCertificate* issuer,
                          const ASNobjectId& digestAlgorithm, OCSPRequest& request);
  // A successful response whose basic response decodes into `basic`.
  bool checkResponseFormat(const OCSPResponse& response, BasicOCSPResponse& basic);
  // The response may be used for the certificate at `time` (null: now). A
  // response verified here joins usedResponses: a copy of one held by
  // reference, the response itself when it comes shared.
  bool verifyOcspResponse(const BasicOCSPResponse& response, const SignedCertificate& cert,
                          const SignedCertificate& issuer, const X509time* time,
                          const std::vector<const BasicOCSPResponse*>* alreadyVerified = nullptr);
  bool verifyOcspResponse(const std::shared_ptr<const BasicOCSPResponse>& response,
                          const SignedCertificate& cert, const SignedCertificate& issuer,
                          const X509time* time,
                          const std::vector<const BasicOCSPResponse*>* alreadyVerified = nullptr);
  // OCSP_RESPONDER_GOOD: `candidate` is the responder named and its key
  // verifies the response; OTHER otherwise; MALFORMED responderID.
  int checkResponder(const SignedCertificate& candidate, const BasicOCSPResponse& response);
  // Finds the responder and verifies it: 0 good, 10 none authorised, 48
  // malformed, else the responder path's failure.
  int verifyResponder(const BasicOCSPResponse& response, const SignedCertificate& cert,
                      const SignedCertificate& issuer, const X509time* time);

  // Verifies a CRL: 0 verified (and moved to the verified list); 1 its
  // signature does not verify with its issuer's key; 4 unsupported
  // extensions or a signature check error; 7 a trust point's check failed;
  // 10 no issuer; else the issuer path's failure. `expired`, when given, is
  // set when nextUpdate passed (that alone does not fail it). The issuer's
  // path verification collects into `collector` (null: none).
  int verifyCrl(const SignedCertRevList& crl, const RevocationArgs& args, bool* expired = nullptr,
                PathCollector* collector = nullptr);

  // Responses this manager verified for the used-data record (never changed
  // once verified, so shared with whoever handed them in shared), until the
  // next releaseLastVerification.
  std::vector<std::shared_ptr<const BasicOCSPResponse>> usedResponses;

 private:
  ReportStream& out();
  // Moves the CRLs of `list` (of the issuer; null: all) for which `drop`
  // holds to the retired list: a status evaluation of an enclosing
  // verification may still point at them.
  template <class Drop>
  void retire(HeldCrls& list, const DistinguishedName* issuer, Drop drop);
  void writeTime(const X509time& t);
  void reportCrl(const SignedCertRevList& crl);
  void reportResponse(const BasicOCSPResponse& response, const SingleResponse& single);
  void writeWindow(const char* head, const char* endLabel, const SingleResponse& s);
  // The digest of the issuer's key for a CertID; false when it cannot be had.
  bool issuerKeyHash(const SignedCertificate& cert, const SignedCertificate* issuer, int hashId,
                     int length, std::vector<unsigned char>& hash);
  // 0 the CA certificate `issuer` signed the CRL, whose path verifies; 1
  // bad signature, 4 check error, -1 the key does not fit; else the path's failure.
  int crlIssuerCandidate(const SignedCertRevList& crl, const SignedCertificate& issuer,
                         const RevocationArgs& args, bool pathKnown);
  // Null when no answer passes (`stop` set when the format check failed).
  std::shared_ptr<const BasicOCSPResponse> acceptAnswer(const OCSPResponse& answer,
                                                  const SignedCertificate& cert,
                                                  const SignedCertificate& issuer,
                                                  const X509time* time, bool& stop);
  // verifyOcspResponse without recording the response.
  bool checkOcspResponse(const BasicOCSPResponse& response, const SignedCertificate& cert,
                         const SignedCertificate& issuer, const X509time* time,
                         const std::vector<const BasicOCSPResponse*>* alreadyVerified);
  bool delegatedResponder(const SignedCertificate& candidate, const SignedCertificate& cert,
                          const SignedCertificate& issuer);
  // The CRL's entry for the serial through its index (built once per CRL);
  // `owner`, when given, keeps the CRL alive for its index (no copy).
  const CRLentry* findEntry(const SignedCertRevList& crl,
                            const std::shared_ptr<SignedCertRevList>* owner,
                            const ASNinteger& serial);
  const std::shared_ptr<SignedCertRevList>* chooseFromList(const HeldCrls& list,
                                                           const SignedCertificate& cert,
                                                           const RevocationReferences* refs,
                                                           const X509time& now);

  const PathClock& clock;
  ReportStream* report;
  // The collector of the OCSP search or CRL verification under way.
  PathCollector* collecting = nullptr;
  // Serial indexes of the CRLs met, by their signature value: built once per
  // CRL, which the index keeps alive (shared with the lists, or a copy).
  struct IndexedCrl {
    std::shared_ptr<const SignedCertRevList> crl;
    std::unique_ptr<CrlSerialIndex> index;
  };
  using Indexes = std::map<std::vector<unsigned char>, IndexedCrl>;
  Indexes indexes;

  // The document under way: the digests of the CRLs it brought, the journal
  // of the OCSP cache and of the serial indexes.
  uint64_t document = 0;  // counts the documents begun (save)
  std::set<CrlDigest> brought;
  bool journaling = false;
  bool ocspCleared = false;
  size_t ocspSizeAtSave = 0;
  std::vector<std::shared_ptr<const BasicOCSPResponse>> ocspAtSave;
  struct IndexChange {
    std::vector<unsigned char> key;
    Indexes::node_type previous;
  };
  std::vector<IndexChange> indexJournal;
  // Trims the lists to the context's bounds once a document is kept.
  void trimHeld();
  void markBrought(const CrlDigest& digest);
};
