#include "xmlsig/sigpropsxml.h"

#include "base/b64file.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "base/workaccount.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/siganddigoid.h"
#include "xmlsig/sigformxml.h"
#include "xmlsig/xadeswriter.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlwalk.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <unordered_map>

namespace {

const char* const SRC = "XML/libxmlsignature/signaturepropertiesxml";
const char* const MSG_PREFIX = "Błąd podczas weryfikacji podpisu: ";
const char* const MSG_NO_SIGNER =
    "błędny format podpisu XML (nie można ustalić wartości certyfikatu do weryfikacji podpisu).\r\n";
const char* const MSG_CERT_REFS =
    "Błędny format podpisu XML (wartości elementów podanych w etsi:CompleteCertificateRefs i "
    "etsi:CertificateValues są niespójne).\r\n";
const char* const MSG_REV_REFS =
    "Błędny format podpisu XML (wartości elementów podanych w etsi:CompleteRevocationRefs i "
    "etsi:RevocationValues są niespójne).\r\n";
const char* const MSG_NO_DIGEST = "Brak obliczonego skrótu z wiadomości.\r\n";
const char* const MSG_ARCHIVE = "Błąd podczas tworzenia postaci archiwalnej: ";
const char* const MSG_NO_SERVER = "Z żadnego serwera nie udało się pobrać znacznika czasu !!!\r\n";
const char* const MSG_TOKEN_REFUSED = "Błąd dodawania danych archiwalnych !!!\r\n";
const int32_t RC_ADD_ARCHIVE = 156;  // ETAL_ADD_ARCHIVE_ERROR

std::string digestText(const MessageDigestCtx& c) {
  return std::string(reinterpret_cast<const char*>(c.getDigestPtr()), c.getDigestLength());
}

}  // namespace

void digestDataItems(const XmlDataItems& items, const std::string& c14nUri, int32_t hashId,
                     const MessageDigests* running, std::string& out, XmlWorkBudget* budget) {
  const bool comments = c14nUri == xmlc::ALG_C14N_COMMENTS || c14nUri == xmlc::ALG_EXC_C14N_COMMENTS;
  const bool exclusive = c14nUri == xmlc::ALG_EXC_C14N || c14nUri == xmlc::ALG_EXC_C14N_COMMENTS;
  std::unique_ptr<MessageDigestCtx> digest;
  if (running) {
    const MessageDigestCtx* r = running->find(static_cast<uint32_t>(hashId));
    checkInvariant(r != nullptr, SRC, __LINE__, "runningDigest != NULL");
    digest.reset(r->clone());
  }
  if (!digest) digest = std::make_unique<MessageDigestCtx>(static_cast<uint32_t>(hashId));
  XmlWorkBudget own;
  XmlWorkBudget* spend = budget ? budget : &own;
  for (const XmlDataItem& item : items) {
    if (item.reference) {
      if (!running) throw TalApiException(xmlrc::INV_MSG);
      continue;
    }
    XmlC14DocTransform c14n(comments, 1, exclusive);
    c14n.budget = spend;
    c14n.applyToNode(item.node);
    if (c14n.outputLength() > 0) digest->update(c14n.outputBytes(), c14n.outputLength());
  }
  digest->finish();
  out = digestText(*digest);
}

SignaturePropertiesXml::SignaturePropertiesXml(talCtx* ctx, const XmlSignatureSetup& s,
                                               xmlNodePtr sig, xmlNodePtr countersigned, int d)
    : SignatureProperties(ctx, false), setup(s), signature(sig), second(countersigned), depth(d) {
  if (!setup.budget) {
    ownBudget = std::make_unique<XmlWorkBudget>();
    ownBudget->shareAccount(setup.account);
    setup.budget = ownBudget.get();  // copied into every counter-signature's setup
  }
  parser = std::make_unique<XmlSigParser>(setup.root, setup.docs, setup.mode, setup.skipDetached,
                                          setup.configuredDigest);
  parser->makeDnAttribute = setup.makeDnAttribute;
  parser->sharedBudget = setup.budget;
  parser->qualifyingPropertiesReader = [this](XmlSigParser& p, xmlNodePtr qp) {
    readQualifyingProperties(p, xades,
                             [this](xmlNodePtr counter) -> SigInfo* {
                               // Each level is a parser of its own: the nesting is bounded.
                               if (depth + 1 >= XADES_MAX_NESTING) throw TalApiException(xmlrc::INV_MSG);
                               auto info = std::make_unique<SigInfo>();
                               info->setProperties(new SignaturePropertiesXml(
                                   context, setup, counter, signature, depth + 1));
                               return info.release();
                             },
                             qp);
  };
}

SignaturePropertiesXml::~SignaturePropertiesXml() {
  carried.reset();
  parser.reset();
}

int32_t SignaturePropertiesXml::analyse() {
  setup.budget->restartClock();
  int32_t rc = parser->parse(setup.report, signature);
  if (rc > 10) return rc;
  scheme = parser->scheme;
  hashId = static_cast<int32_t>(parser->hashId);
  form = SIG_FORM_UNKNOWN;
  if (!parser->signerIdSet) {
    if (setup.report) *setup.report << MSG_PREFIX << MSG_NO_SIGNER;
    return xmlrc::INV_MSG;
  }
  XmlFormFacts facts;
  facts.signedPropertiesReferenced = parser->signedPropertiesReferenced;
  facts.keyInfoReferenced = parser->keyInfoReferenced;
  facts.keyInfoCarriesSigner = keyInfoCarriesSigner();
  facts.signatureTimeStamps = xades.signatureTimeStamps ? xades.signatureTimeStamps->items.size() : 0;
  facts.certificateRefs = parser->certificateRefs.items.size();
  facts.revocationRefs = parser->revocationRefs.items.size();
  facts.certificateValues = parser->certificateValues.items.size();
  facts.revocationValues = parser->revocationValues.items.size();
  facts.archiveTimeStamps = xades.archiveTimeStamps ? xades.archiveTimeStamps->items.size() : 0;
  form = xmlSignatureForm(facts, [this]() {
    if (!certificateRefsConsistent() && setup.report) *setup.report << MSG_PREFIX << MSG_CERT_REFS;
    if (!revocationRefsConsistent() && setup.report) *setup.report << MSG_PREFIX << MSG_REV_REFS;
  });
  return xmlrc::OK;
}

namespace {

// The octets a hash takes, 0 for an id no object digest knows.
size_t hashLength(int32_t hashId) {
  if (hashId < 1 || hashId > 8) return 0;
  std::unique_ptr<LvHash> hash(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
  return hash ? hash->getHashOctets() : 0;
}

// An object's DER digested as the matchers digest it; empty when it cannot be
// encoded (such an object matches no digest).
std::string objectDigest(const ASNobject& object, int32_t hashId) {
  unsigned char out[64];
  try {
    if (object.digest(hashId, out, sizeof out) != 1) return std::string();
  } catch (const std::exception&) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(out), hashLength(hashId));
}

// The values of one list looked up by digest: each value's DER is digested
// once per hash the references name, and a reference's matcher runs only on
// the values its digest names, never on every value the document carries.
// Copies of one value answer alike, so a reference that none of them matches
// ends the check after one run per copy. Every digest and matcher run is paid
// to the document's account before it runs; once it is spent nothing more
// runs and the references are not shown consistent.
template <class Value>
class DigestIndex {
 public:
  // The digests of a value under a hash (an OCSP response has two).
  using Digester = std::function<void(const Value&, int32_t hashId, std::vector<std::string>& out)>;

  // Fills the index for the hashes named; false when the account refused.
  bool build(std::vector<const Value*> list, const std::set<int32_t>& hashIds, const Digester& digester,
             uint64_t octetPrice) {
    values = std::move(list);
    sizes.resize(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      int n = 0;
      try {
        n = values[i]->encodedLength();
      } catch (const std::exception&) {
        // no encoding: no digest either, and nothing to pay for
      }
      sizes[i] = n > 0 ? static_cast<uint64_t>(n) : 0;
    }
    price = octetPrice;
    std::vector<std::string> digests;
    for (int32_t hashId : hashIds) {
      if (hashLength(hashId) == 0) continue;
      for (size_t i = 0; i < values.size(); ++i) {
        if (!workPay(price * sizes[i])) return false;
        digests.clear();
        digester(*values[i], hashId, digests);
        for (const std::string& d : digests)
          if (!d.empty()) buckets[key(hashId, d)].push_back(i);
      }
    }
    return true;
  }

  // Whether `matches` holds for a value whose digest the reference names.
  template <class Matcher>
  bool any(int32_t hashId, const std::string& digest, const Matcher& matches) const {
    const size_t n = hashLength(hashId);
    if (n == 0 || digest.size() < n) return false;
    const auto bucket = buckets.find(key(hashId, digest.substr(0, n)));
    if (bucket == buckets.end()) return false;
    for (size_t i : bucket->second)
      if (!workPay(price * sizes[i]) || matches(*values[i])) return !workOver();
    return false;
  }

  // Whether `matches` holds for some value, each of them tried (a reference
  // without a digest).
  template <class Matcher>
  bool anyOfAll(const Matcher& matches) const {
    for (size_t i = 0; i < values.size(); ++i)
      if (!workPay(price * sizes[i]) || matches(*values[i])) return !workOver();
    return false;
  }

 private:
  static std::string key(int32_t hashId, const std::string& digest) {
    return std::string(1, static_cast<char>(hashId)) + digest;
  }

  std::vector<const Value*> values;
  std::vector<uint64_t> sizes;
  std::unordered_map<std::string, std::vector<size_t>> buckets;
  uint64_t price = 0;
};

// A digest and the DER walk that feeds it, per octet of the value.
constexpr uint64_t WORK_VALUE_DIGEST = WORK_DER_OCTET + WORK_DIGEST_OCTET;

}  // namespace

bool SignaturePropertiesXml::certificateRefsConsistent() {
  const auto& refs = parser->certificateRefs.items;
  if (refs.empty()) return true;
  if (!setup.matchers.certificate) return false;
  std::set<int32_t> hashIds;
  for (const SignatureCrtRef* ref : refs) hashIds.insert(ref->hashId);
  std::vector<const SignedCertificate*> values(parser->certificateValues.items.begin(),
                                               parser->certificateValues.items.end());
  values.insert(values.end(), parser->certificates.items.begin(), parser->certificates.items.end());
  DigestIndex<SignedCertificate> index;
  const auto digester = [](const SignedCertificate& c, int32_t hashId, std::vector<std::string>& out) {
    out.push_back(objectDigest(c, hashId));
  };
  // The matcher digests its certificate again.
  if (!index.build(std::move(values), hashIds, digester, WORK_VALUE_DIGEST)) return false;
  for (const SignatureCrtRef* ref : refs)
    if (!index.any(ref->hashId, ref->digest,
                   [&](const SignedCertificate& c) { return setup.matchers.certificate(*ref, c); }))
      return false;
  return true;
}

bool SignaturePropertiesXml::revocationRefsConsistent() {
  const auto& refs = parser->revocationRefs.items;
  std::set<int32_t> crlHashes, ocspHashes;
  for (const SignatureCrlOrOcspRef* ref : refs) {
    if (ref->kind == SignatureCrlOrOcspRef::CRL) crlHashes.insert(ref->crl.hashId);
    else if (ref->kind == SignatureCrlOrOcspRef::OCSP && !ref->ocsp.digest.empty())
      ocspHashes.insert(ref->ocsp.hashId);
  }
  std::vector<const SignedCertRevList*> crls;
  std::vector<const BasicOCSPResponse*> responses;
  for (const CrlOrOcspValue* v : parser->revocationValues.items) {
    if (v->crl) crls.push_back(v->crl);
    if (v->ocsp) responses.push_back(v->ocsp);
  }
  DigestIndex<SignedCertRevList> crlIndex;
  if (!crlHashes.empty() && setup.matchers.crl &&
      !crlIndex.build(std::move(crls), crlHashes,
                      [](const SignedCertRevList& crl, int32_t hashId, std::vector<std::string>& out) {
                        out.push_back(objectDigest(crl, hashId));
                      },
                      WORK_VALUE_DIGEST))
    return false;
  // A response is digested as it is and re-wrapped as a whole OCSPResponse
  // (what XAdES signers digest), wrapped once here; the matcher wraps it
  // again and digests both.
  DigestIndex<BasicOCSPResponse> ocspIndex;
  const auto ocspDigests = [](const BasicOCSPResponse& basic, int32_t hashId, std::vector<std::string>& out) {
    out.push_back(objectDigest(basic, hashId));
    try {
      OCSPResponse whole;
      if (wrapBasicOcspResponse(basic, whole)) out.push_back(objectDigest(whole, hashId));
    } catch (const std::exception&) {
      // matched as it is only
    }
  };
  const bool ocspRefs = std::any_of(refs.begin(), refs.end(), [](const SignatureCrlOrOcspRef* r) {
    return r->kind == SignatureCrlOrOcspRef::OCSP;
  });
  if (ocspRefs && setup.matchers.ocsp &&
      !ocspIndex.build(std::move(responses), ocspHashes, ocspDigests, 3 * WORK_VALUE_DIGEST))
    return false;
  for (const SignatureCrlOrOcspRef* ref : refs) {
    bool found = false;
    if (ref->kind == SignatureCrlOrOcspRef::CRL && setup.matchers.crl) {
      found = crlIndex.any(ref->crl.hashId, ref->crl.digest,
                           [&](const SignedCertRevList& crl) { return setup.matchers.crl(ref->crl, crl); });
    } else if (ref->kind == SignatureCrlOrOcspRef::OCSP && setup.matchers.ocsp) {
      const auto matches = [&](const BasicOCSPResponse& r) { return setup.matchers.ocsp(ref->ocsp, r); };
      found = ref->ocsp.digest.empty() ? ocspIndex.anyOfAll(matches)
                                       : ocspIndex.any(ref->ocsp.hashId, ref->ocsp.digest, matches);
    }
    if (!found) return false;
  }
  return true;
}

bool SignaturePropertiesXml::checkMessageDigest() {
  // Each reference against its own digest; one never computed fails (a
  // verification never passes on digests nobody computed).
  if (parser->references.items.empty()) return false;
  for (const XmlRef* ref : parser->references.items) {
    if (!ref->digest || !ref->digest->computed) {
      if (setup.report) *setup.report << MSG_PREFIX << MSG_NO_DIGEST;
      return false;
    }
    if (!ref->digest->matches()) return false;
  }
  return true;
}

SignedAttributes* SignaturePropertiesXml::signedAttributes() {
  return parser->signedPropertiesReferenced ? &xades.signedAttributes : nullptr;
}

int32_t SignaturePropertiesXml::signatureValue(unsigned char* buffer, int32_t* length) {
  if (!length) return 33;
  const std::string& v = parser->signatureValue;
  if (!buffer) {
    *length = static_cast<int32_t>(v.size());
    return 0;
  }
  if (*length < static_cast<int32_t>(v.size())) return 34;
  if (!v.empty()) std::memcpy(buffer, v.data(), v.size());
  *length = static_cast<int32_t>(v.size());
  return 0;
}

int32_t SignaturePropertiesXml::counterSignatureCount() const {
  return static_cast<int32_t>(xades.counterSignatures.items.size());
}

SigInfo* SignaturePropertiesXml::counterSignature(int32_t index) {
  if (index < 0 || index >= counterSignatureCount()) return nullptr;
  auto it = xades.counterSignatures.items.begin();
  std::advance(it, index);
  return *it;
}

void SignaturePropertiesXml::signedDigest(int32_t hash, std::string& out) {
  MessageDigestCtx digest(static_cast<uint32_t>(hash));
  const std::string& si = parser->canonicalSignedInfo;
  if (!si.empty()) digest.update(si.data(), static_cast<uint32_t>(si.size()));
  digest.finish();
  out = digestText(digest);
}

void SignaturePropertiesXml::timeStampImprintData(const TimeStampToken& token, int32_t hash,
                                                  std::vector<std::string>& out) {
  const auto* t = dynamic_cast<const XmlSignatureTimeStampToken*>(&token);
  std::string digest;
  setup.budget->restartClock();
  digestDataItems(xades.signatureTimeStampItems, t ? t->c14nUri : std::string(), hash, nullptr,
                  digest, setup.budget);
  out.push_back(digest);
}

void SignaturePropertiesXml::archiveImprintData(const TimeStampToken& token, int32_t hash,
                                                std::vector<std::string>& out) {
  const auto* t = dynamic_cast<const XmlArchiveTimeStampToken*>(&token);
  checkInvariant(t != nullptr, SRC, __LINE__, "archive token");
  // The elements of the archive time-stamps this object embedded have
  // tokens too (later than the one checked, so they are not covered).
  ArchiveTimeStampTokens tokens;
  tokens.owns = 0;
  for (const ArchiveTimeStampTokens* list : {xades.archiveTimeStamps.get(), &addedArchiveTimeStamps})
    if (list) tokens.items.insert(tokens.items.end(), list->items.begin(), list->items.end());
  XmlDataItems items;
  buildArchiveItems(signature, &tokens, t, items);
  std::string digest;
  setup.budget->restartClock();
  digestDataItems(items, t->c14nUri, hash, &parser->combinedDigests, digest, setup.budget);
  out.push_back(digest);
}

void SignaturePropertiesXml::newArchiveItems(XmlDataItems& out) const {
  buildArchiveItems(signature, xades.archiveTimeStamps.get(), nullptr, out);
}

const IssuerAndSerialNumber* SignaturePropertiesXml::signerIdentifier() {
  if (!parser->signerIdSet) return nullptr;
  // A carried signer's pair is copied only when asked for as one object:
  // verification reads it in place (signerIssuerSerial).
  if (parser->signer && signerIdCopiedFrom != parser->signer) {
    parser->signerId.issuer = parser->signer->tbsCertificate.issuer;
    parser->signerId.serialNumber = parser->signer->tbsCertificate.serialNumber;
    signerIdCopiedFrom = parser->signer;
  }
  return &parser->signerId;
}

bool SignaturePropertiesXml::signerIssuerSerial(const DistinguishedName*& issuer, const ASNinteger*& serial) {
  if (!parser->signerIdSet) return false;
  if (parser->signer) {
    issuer = &parser->signer->tbsCertificate.issuer;
    serial = &parser->signer->tbsCertificate.serialNumber;
  } else {
    issuer = &parser->signerId.issuer;
    serial = &parser->signerId.serialNumber;
  }
  return true;
}

int32_t SignaturePropertiesXml::storeTimeStampToken(TimeStampToken& token, int32_t kind) {
  checkInvariant(kind == TIMESTAMP_KIND_SIGNATURE || kind == TIMESTAMP_KIND_ARCHIVE, SRC, __LINE__,
                 "kind");
  xmlNodePtr element = nullptr;
  if (const auto* s = dynamic_cast<const XmlSignatureTimeStampToken*>(&token)) element = s->element;
  if (const auto* a = dynamic_cast<const XmlArchiveTimeStampToken*>(&token)) element = a->element;
  xmlNodePtr target = element ? findElement(element->children, xmlc::XADES_ENCAPSULATED_TIME_STAMP.data(),
                                            xmlc::NS_XADES.data(), -1)
                              : nullptr;
  checkInvariant(target != nullptr, SRC, __LINE__, "EncapsulatedTimeStamp");
  MemFile der;
  if (token.token.encode(&der) <= 0) throw TalApiException(xmlrc::MEM);
  std::string text(static_cast<size_t>(der.length()) / 3 * 4 + 8, '\0');
  int32_t n = encodeBase64Buffer(der.data(), static_cast<int32_t>(der.length()), &text[0]);
  if (n <= 0) throw TalApiException(xmlrc::MEM);
  text.resize(static_cast<size_t>(n));
  xmlNodeSetContent(target, nullptr);
  xmlNodeAddContentLen(target, BAD_CAST text.data(), n);
  return 0;
}

ASNsequenceList<SignedCertificate>* SignaturePropertiesXml::carriedCertificates() {
  if (parser->certificates.items.empty()) return nullptr;
  if (!carried) {
    // A view of the parser's own certificates (they live as long as it does,
    // and the list goes first): copying each cost a decode per signature.
    auto list = std::make_unique<ASNsequenceList<SignedCertificate>>();
    list->owns = false;
    for (SignedCertificate* c : parser->certificates.items)
      if (list->append(c) != 1) throw TalApiException(xmlrc::MEM);
    carried = std::move(list);
  }
  return carried.get();
}

SignatureCrtRefs* SignaturePropertiesXml::certificateRefs() {
  return parser->certificateRefs.items.empty() ? nullptr : &parser->certificateRefs;
}

bool SignaturePropertiesXml::keyInfoCarriesSigner() const {
  // KeyInfo carries the signer when the chosen certificate came from it.
  for (const SignedCertificate* c : parser->certificates.items)
    if (c == parser->signer) return true;
  return false;
}

namespace {

// An extension step: 0, or the code of what stopped it (the undo record
// then takes back what the step created).
int32_t extension(const std::function<void()>& step) {
  try {
    step();
  } catch (const TalApiException& e) {
    return e.getCode();
  } catch (const std::bad_alloc&) {
    return xmlrc::MEM;
  }
  return xmlrc::OK;
}

// The token's imprint is `digest` under hash `hashId`.
bool imprintIs(const TimeStampToken& token, const std::string& digest, int32_t hashId) {
  const ASNobjectId* oid = nullptr;
  int length = 0;
  const MessageImprint& imprint = token.tstInfo.messageImprint;
  return digestTypeToOid(hashId, &oid, &length) && oid && imprint.digestAlgorithm.algorithm == *oid &&
         imprint.digest.length == static_cast<int32_t>(digest.size()) && !digest.empty() &&
         std::memcmp(imprint.digest.data(), digest.data(), digest.size()) == 0;
}

}  // namespace

bool SignaturePropertiesXml::laterThanEveryArchiveTimeStamp(const ASNgenTime& time) const {
  // A reader covers only archive time-stamps made strictly before a token:
  // one of the same time is in the data digested here but not in the data
  // the token is checked against, so such a token would never verify.
  const ArchiveTimeStampTokens* lists[] = {xades.archiveTimeStamps.get(), &addedArchiveTimeStamps};
  for (const ArchiveTimeStampTokens* list : lists)
    if (list)
      for (const ArchiveTimeStampToken* t : list->items)
        if (!genTimeEarlier(t->tstInfo.genTime, time)) return false;
  return true;
}

XmlUniqueIds& SignaturePropertiesXml::uniqueIds() {
  if (setup.ids) return *setup.ids;
  if (!ownIds) ownIds = std::make_unique<XmlUniqueIds>();
  return *ownIds;
}

int32_t SignaturePropertiesXml::makeArchiveForm(talCtx* secondContext) {
  const int32_t hash = static_cast<int32_t>(parser->configuredDigestId());
  const ASNobjectId* oid = nullptr;
  int length = 0;
  if (!setup.requestTimeStamp || !digestTypeToOid(hash, &oid, &length) || !oid)
    return xmlrc::NOT_IMPL;
  // The analysis digests the references with the configured hash whenever it
  // has an identifier: without that digest nothing was analysed.
  checkInvariant(parser->combinedDigests.find(static_cast<uint32_t>(hash)) != nullptr, SRC,
                 __LINE__, "runningDigest != NULL");
  XadesUndo undo;
  return extension([&]() {
    xmlNodePtr usp = findOrCreateUnsignedSignatureProperties(uniqueIds(), signature, undo);
    XmlDataItems items;
    newArchiveItems(items);
    std::string digest;
    setup.budget->restartClock();
    digestDataItems(items, std::string(xmlc::ALG_C14N), hash, &parser->combinedDigests, digest, setup.budget);
    ArchiveTimeStampTokens tokens;
    const int32_t r = setup.requestTimeStamp(secondContext, digest, hash, tokens);
    if (r > 10) throw TalApiException(r);
    const char* refused = nullptr;
    if (tokens.items.size() != 1) {
      refused = MSG_NO_SERVER;
    } else {
      // The request keeps a token it could not check (status 1) under option
      // 4; one proven wrong, or over other data, is never embedded.
      const TimeStampToken& token = *tokens.items.front();
      if (!token.checked || token.status == SIG_STATUS_NEGATIVE || !imprintIs(token, digest, hash) ||
          !laterThanEveryArchiveTimeStamp(token.tstInfo.genTime))
        refused = MSG_TOKEN_REFUSED;
    }
    if (refused) {
      if (setup.report) *setup.report << MSG_ARCHIVE << refused;
      throw TalApiException(RC_ADD_ARCHIVE);
    }
    writeArchiveTimeStamp(usp, uniqueIds(), *tokens.items.front(), undo);
    // Handed over without allocating: nothing can fail once it is in the document.
    addedArchiveTimeStamps.items.splice(addedArchiveTimeStamps.items.end(), tokens.items, tokens.items.begin());
    undo.commit();
  });
}

int32_t SignaturePropertiesXml::addCompleteRefs(const ValidationData& data) {
  XadesUndo undo;
  return extension([&]() {
    xmlNodePtr usp = unsignedSignaturePropertiesOfExisting(signature, undo);
    writeCompleteRefs(usp, uniqueIds(), parser->configuredDigestId(), data, undo);
    undo.commit();
  });
}

int32_t SignaturePropertiesXml::addValues(const ValidationData& data) {
  // The signer's certificate is the one the verification found, never
  // another; without it the values would not let the signature be checked.
  const SignedCertificate* signer = keyInfoCarriesSigner() ? nullptr : signerCertificate;
  if (!keyInfoCarriesSigner() && !signer) return xmlrc::INV_MSG;
  XadesUndo undo;
  return extension([&]() {
    xmlNodePtr usp = unsignedSignaturePropertiesOfExisting(signature, undo);
    writeValues(usp, uniqueIds(), signer, data, undo);
    undo.commit();
  });
}
