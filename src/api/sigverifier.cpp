#include "api/sigverifier.h"

#include "api/ctxrevocation.h"
#include "api/talcodes.h"
#include "api/talctx.h"
#include "base/commonerror.h"
#include "base/talexception.h"
#include "base/workaccount.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "pki/sig/sigpropspkcs7.h"
#include "pki/x509/x509ext.h"
#include "store/crtstore.h"

#include <memory>
#include <new>
#include <vector>

namespace {

const char* const SRC = "API/signatureproperties";
const char* const CRLF = "\r\n";
const char* const KEY_USAGE_LINE = "Niepoprawne zastosowanie klucza w certyfikacie do weryfikacji podpisu";
const char* const NO_PATH_LINE = "Brak możliwości zbudowania ścieżki certyfikatów";
const char* const DIGEST_REGULATION_LINE =
    "Wykryto algorytm funkcji skrótu niewymieniony w Rozporządzeniu Rady Ministrów !!!";

const int32_t OPTION_COMPLETE_REFS = 34;

// Result codes of the exceptions.
const int32_t RC_BAD_ARGUMENT = 20;
const int32_t RC_BAD_CERTIFICATE = 73;
const int32_t RC_MALFORMED = 89;
const int32_t RC_WRONG_VALUE = 94;
const int32_t RC_UNKNOWN_DIGEST = 92;
const int32_t RC_MEM = 100;
const int32_t RC_UNSUPPORTED = 137;
const int32_t RC_DB = 158;
const int32_t RC_WORK_REFUSED = 140;  // the document's work account spent

std::string prefix(bool token) {
  return token ? std::string("Błąd weryfikacji znacznika czasu") + CRLF
               : std::string("Błąd podczas weryfikacji podpisu: ");
}

X509time asX509(const ASNgenTime& g) {
  X509time x(TAG_GENERAL_TIME);
  x.set(g.year, g.month, g.day, g.hour, g.minute, g.second);
  return x;
}

// The digest of a certificate's DER with hash `hashId`; empty when the hash
// is unknown or the certificate does not encode.
std::string certificateDigest(const SignedCertificate& certificate, int32_t hashId) {
  std::unique_ptr<LvHash> h(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
  std::vector<unsigned char> der;
  if (!h || h->getHashOctets() > 64 || certificate.encodeVector(der) < 1) return std::string();
  h->hash(der.data(), static_cast<unsigned int>(der.size()));
  std::string out(h->getHashOctets(), '\0');
  h->getHash(static_cast<unsigned int>(out.size()), reinterpret_cast<unsigned char*>(&out[0]));
  return out;
}

// The certificate is the one the signer committed to in its signed
// attributes (or the signature names none): issuer and serial alone can be
// copied into another certificate.
bool committedTo(SignatureProperties& props, const SignedCertificate& certificate) {
  if (auto* cms = dynamic_cast<SignaturePropertiesPkcs7*>(&props))
    return cms->signingCertificateMatches(certificate);
  SignedAttributes* attributes = props.signedAttributes();
  if (!attributes || attributes->signingCertificateDigestAlgorithm() == 0) return true;
  const std::string* reference = attributes->signingCertificateDigest();
  const std::string digest =
      certificateDigest(certificate, attributes->signingCertificateDigestAlgorithm());
  return reference && !digest.empty() && digest == *reference;
}

// The digest algorithm of a certificate's signature; false when unreadable.
bool certificateSignatureDigest(const SignedCertificate& certificate, int& hashId) {
  const AlgorithmIdentifier& alg = certificate.signatureAlgorithm;
  const ASNobjectId& oid = alg.algorithm;
  int length = 0;
  if (rsaSignatureOidToDigest(oid, &length, &hashId) || dsaSignatureOidToDigest(oid, &length, &hashId) ||
      ecdsaSignatureOidToDigest(oid, &length, &hashId))
    return true;
  int salt = 0, mgf = 0, mgfHash = 0, trailer = 0;
  return isRsaPssOid(oid) && alg.getRsaPssParams(&hashId, &salt, &mgf, &mgfHash, &trailer, nullptr);
}

// The signature algorithm for the value check: the properties' own, or one
// made from the scheme and digest (an XML signature names its method by URI).
bool signatureAlgorithmOf(const SignatureProperties& props, AlgorithmIdentifier& out) {
  if (props.signatureAlgorithm.algorithm.contentLength() > 0) {
    out = props.signatureAlgorithm;
    return true;
  }
  switch (props.scheme) {
    case SIG_SCHEME_RSA_PKCS1: return out.setRsaSignature(props.hashId);
    case SIG_SCHEME_DSA: return out.setDsaSignature(props.hashId);
    case SIG_SCHEME_ECDSA: return out.setEcdsaSignature(props.hashId);
    default: return false;
  }
}

// The key-usage extension forbids signing: present without digitalSignature
// and nonRepudiation, or present but unreadable (a key whose permitted uses
// cannot be read is not taken as a signing key).
bool keyUsageForbidsSigning(const SignedCertificate& certificate) {
  ASNbitstr keyUsage;
  const int r = getExtensionValue(*certificate.tbsCertificate.extensions, id_ce_keyUsage, keyUsage);
  if (r == 0) throw std::bad_alloc();
  if (r == -1) return false;
  if (r == -2) return true;
  return keyUsage.getBit(0) != 1 && keyUsage.getBit(1) != 1;
}

// Registers a store with the certificate manager for one scope.
class TemporaryStore {
 public:
  TemporaryStore(CertificateManager& manager, const CertificateStore& store)
      : manager(manager), store(store) {
    manager.addTemporaryStore(&store);
  }
  ~TemporaryStore() { manager.removeStore(&store); }
  TemporaryStore(const TemporaryStore&) = delete;
  TemporaryStore& operator=(const TemporaryStore&) = delete;

 private:
  CertificateManager& manager;
  const CertificateStore& store;
};

// The signature's revocation lists of the revocation manager live for one
// basic form.
class SignatureListsScope {
 public:
  explicit SignatureListsScope(RevocationManager& manager) : manager(manager) {}
  ~SignatureListsScope() { manager.clearUsedLists(); }
  SignatureListsScope(const SignatureListsScope&) = delete;
  SignatureListsScope& operator=(const SignatureListsScope&) = delete;

 private:
  RevocationManager& manager;
};

}  // namespace

SignatureVerifier::SignatureVerifier(talCtx* context) : ctx(context) {
  if (!ctx) throw TalApiException(RC_BAD_ARGUMENT);
}

SignatureVerifier::~SignatureVerifier() = default;

// ---- the context's services ----

void SignatureVerifier::write(const std::string& text) { ctx->report << text.c_str(); }

int32_t SignatureVerifier::option(int32_t number) { return ctx->configuration.getIntOption(number); }

void SignatureVerifier::addWarning(uint32_t bits) {
  ctx->warningFlags |= bits;
  ++ctx->warnings;
}

void SignatureVerifier::now(ASNgenTime& out) {
  X509time t;
  if (!ctx->clock.nowAsTime(t)) throw TalApiException(RC_MEM);
  out.set(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void SignatureVerifier::writeTimeLine(const char* label, const ASNgenTime* time, bool emptyLineAfter) {
  std::string line = label;
  line += time ? reportTimeText(*time) + " UTC" : std::string("brak");
  line += CRLF;
  if (emptyLineAfter) line += CRLF;
  write(line);
}

// ---- verifyAt ----

void SignatureVerifier::verifyAt(SigInfo* info, SignatureProperties* props, const ASNgenTime* t,
                                 const ASNgenTime* v) {
  if (!info || !props) throw TalApiException(RC_BAD_ARGUMENT);
  info->status = SIG_STATUS_VALID;
  info->qualification = SIG_QUALIFICATION_UNKNOWN;
  info->reason = SIG_REASON_NONE;
  const bool token = props->isTimeStamp != 0;

  const int32_t analysed = props->analyse();
  switch (analysed) {
    case 0:
      break;
    case RC_WRONG_VALUE:
      write(prefix(token) + signatureReasonText(SIG_REASON_VALUE_MATH) + CRLF);
      info->status = SIG_STATUS_NEGATIVE;
      info->reason = SIG_REASON_VALUE_MATH;
      return;
    case RC_MALFORMED:
      write(prefix(token) + signatureReasonText(SIG_REASON_MALFORMED) + CRLF);
      info->status = SIG_STATUS_NOT_VERIFIABLE;
      info->reason = SIG_REASON_MALFORMED;
      return;
    case RC_UNKNOWN_DIGEST: {
      const char* message = talCodeMessage(RC_UNKNOWN_DIGEST);
      write(prefix(token) + (message ? message : "") + CRLF);
      info->status = SIG_STATUS_NOT_VERIFIABLE;
      info->reason = SIG_REASON_MALFORMED;
      return;
    }
    default:
      throw TalApiException(analysed);
  }

  writeTimeLine("Timemark: ", t, false);
  writeTimeLine("Podany czas weryfikacji: ", v, false);
  write(std::string("Forma podpisu: ") + signatureFormName(props->form, props->isXml()) + CRLF);

  switch (props->form) {
    case SIG_FORM_PLAIN:
    case SIG_FORM_BES:
      verifyBasicForm(*info, *props, t, v);
      break;
    case SIG_FORM_T:
      verifyTimeStampedForm(*this, *info, *props, t, v);
      break;
    case 6:
    case 9:
    case 10:
    case 11:
      verifyCompleteForm(*this, *info, *props, t, v);
      break;
    case SIG_FORM_A:
      verifyArchiveForm(*this, *info, *props, t, v);
      break;
    default:
      throw TalApiException(RC_MALFORMED);
  }
  info->form = props->form;
  // Work the document's account refused leaves no verdict: the document is
  // refused as a whole (140), and nothing of this signature is kept.
  if (workOver()) throw TalApiException(RC_WORK_REFUSED);

  const char* statusLine = signatureStatusReportLine(info->status, token);
  checkInvariant(statusLine != nullptr, SRC, __LINE__, "status line");
  std::string lines = std::string(statusLine) + CRLF;
  if (info->status != SIG_STATUS_VALID) {
    const char* reason = signatureReasonText(info->reason);
    checkInvariant(reason != nullptr, SRC, __LINE__, "reason text");
    lines += std::string("Powód: ") + reason + CRLF;
  }
  write(lines + CRLF);

  if (info->status == SIG_STATUS_INCOMPLETE || info->status == SIG_STATUS_VALID) {
    if (ASNsequenceList<SignedCertificate>* carried = props->carriedCertificates())
      for (POSITION pos = carried->GetHeadPosition(); pos;)
        if (const SignedCertificate* c = carried->GetNext(pos)) ctx->rememberCertificate(*c);
  }
}

// ---- the signer ----

bool SignatureVerifier::buildPath(CertificatePath& path, const DistinguishedName& issuer,
                                  const ASNinteger& serial, const SignedCertificate* start, bool token,
                                  int32_t& qualification, bool& found) {
  ReportStream& report = ctx->report;
  report << "Poszukiwanie certyfikatu do weryfikacji podpisu, certyfikat nr: ";
  report.writeInteger(serial);
  report << CRLF << "Wystawiony przez: \"" << issuer << "\"" << CRLF << CRLF;

  ContextRevocation& services = contextServices(*ctx);
  services.refreshSettings();
  const int32_t purpose = token ? PATH_PURPOSE_TSA : PATH_PURPOSE_SIGNER;
  PathBuilder builder = services.builder(report);
  found = start != nullptr;
  const int r = start ? builder.buildPathForCertificate(path, *start, purpose, archive)
                      : builder.buildPathForIssuerSerial(path, issuer, serial, purpose, archive, found);
  switch (r) {
    case PATH_BUILT:
      break;
    case PATH_DATABASE_FAILED:
      throw TalApiException(RC_DB);
    case PATH_SIGNATURE_MISMATCH:
      // A certificate its issuer's key does not verify (altered, forged) is
      // data from outside, not a lack of memory: no path, and the next
      // signature is still verified.
      found = true;
      write(prefix(token) + NO_PATH_LINE + CRLF);
      return false;
    case PATH_NOT_FOUND:
      write(prefix(token) + NO_PATH_LINE + CRLF);
      return false;
    default:
      checkInvariant(false, SRC, __LINE__, "false");
  }
  // A built path that is empty names no signer.
  if (path.GetCount() == 0) {
    write(prefix(token) + NO_PATH_LINE + CRLF);
    return false;
  }
  found = true;

  const SignedCertificate& end = path.elementAt(0)->certificate;
  report << "Budowanie ścieżki certyfikacji powiodło się" << CRLF
         << "Odnaleziono certyfikat do weryfikacji podpisu, certyfikat nr: ";
  report.writeInteger(end.tbsCertificate.serialNumber);
  report << CRLF << "Wystawiony dla: \"" << end.tbsCertificate.subject << "\"" << CRLF << CRLF;

  int32_t state = 0;
  const int q = PathVerification::qualifiedKeyUsage(path, !token, state);
  if (q == 1) throw TalApiException(RC_MEM);
  if (q != 0) throw TalApiException(RC_BAD_CERTIFICATE);
  qualification = state == 0 ? SIG_QUALIFICATION_QUALIFIED
                  : state == 1 ? SIG_QUALIFICATION_ORDINARY
                               : SIG_QUALIFICATION_UNKNOWN;
  write(std::string(signerQualificationText(qualification, token)) + CRLF + CRLF);
  return true;
}

bool SignatureVerifier::buildSignerPath(SigInfo& info, SignatureProperties& props, bool& found) {
  const bool token = props.isTimeStamp != 0;
  const DistinguishedName* idIssuer = nullptr;
  const ASNinteger* idSerial = nullptr;
  const bool id = props.signerIssuerSerial(idIssuer, idSerial);
  // A certificate the signature itself names and commits to starts the
  // path; else one of the candidates with the signer's issuer and serial that
  // passes the same commitment; else the stores are searched by the two.
  const SignedCertificate* start = props.signerCertificate;
  if (!start && id)
    for (const SignedCertificate* c : candidateList)
      if (c->tbsCertificate.serialNumber.equals(*idSerial) && c->tbsCertificate.issuer == *idIssuer &&
          committedTo(props, *c)) {
        start = c;
        break;
      }
  if (!start && !id) {
    found = false;
    return false;
  }
  CertificatePath path;
  int32_t qualification = SIG_QUALIFICATION_UNKNOWN;
  const DistinguishedName& issuer = start ? start->tbsCertificate.issuer : *idIssuer;
  const ASNinteger& serial = start ? start->tbsCertificate.serialNumber : *idSerial;
  if (!buildPath(path, issuer, serial, start, token, qualification, found)) return false;
  if (!committedTo(props, path.elementAt(0)->certificate)) {
    write(prefix(token) + signatureReasonText(SIG_REASON_NO_PATH) + CRLF);
    found = false;
    return false;
  }
  static_cast<CertificatePath&>(info).takeFrom(path);
  info.qualification = qualification;
  return true;
}

bool SignatureVerifier::findSigner(SigInfo& info, SignatureProperties& props) {
  if (signerFound) return true;

  auto add = [this](const SignedCertificate* c) {
    if (!c) return;
    if (!candidates.addCertificate(c)) throw std::bad_alloc();
    candidateList.push_back(c);
  };
  auto gather = [&add](const std::list<SignedCertificate*>& list) {
    for (const SignedCertificate* c : list) add(c);
  };
  auto gatherSequence = [&add](ASNsequenceList<SignedCertificate>* list) {
    if (!list) return;
    for (POSITION pos = list->GetHeadPosition(); pos;) add(list->GetNext(pos));
  };
  gatherSequence(props.carriedCertificates());
  gatherSequence(extraCarried);
  if (SignatureCrtValues* values = props.certificateValues()) gather(values->items);
  if (extraCertificates) gather(extraCertificates->items);

  const DistinguishedName* idIssuer = nullptr;
  const ASNinteger* idSerial = nullptr;
  if (props.signerIssuerSerial(idIssuer, idSerial)) {
    if (ctx->verifiedCache.hasValidEntry(*idIssuer, *idSerial)) {
      const VerifiedPathEntry* entry = ctx->verifiedCache.findEntry(*idIssuer, *idSerial);
      // The cached path serves only the certificate this signature names:
      // the one it carries, else the one its signed attributes commit to.
      const SignedCertificate* cached =
          entry && entry->path && entry->path->GetCount() > 0 ? &entry->path->elementAt(0)->certificate.get() : nullptr;
      if (cached && (!props.signerCertificate || *props.signerCertificate == *cached) &&
          committedTo(props, *cached)) {
        static_cast<CertificatePath&>(info) = *entry->path;
        info.qualification = static_cast<int32_t>(entry->qualification);
        info.status = SIG_STATUS_VALID;
        signerFromCache = true;
        signerFound = true;
        props.signerCertificate = &info.elementAt(0)->certificate.get();
        return true;
      }
    }
  }

  TemporaryStore registered(ctx->certificates, candidates);
  bool found = false;
  if (!buildSignerPath(info, props, found)) {
    info.status = SIG_STATUS_NOT_VERIFIABLE;
    info.reason = found ? SIG_REASON_NO_PATH : SIG_REASON_NO_SIGNER_CERTIFICATE;
    return false;
  }
  props.signerCertificate = &info.elementAt(0)->certificate.get();
  signerFound = true;
  return true;
}

// ---- the basic form ----

void SignatureVerifier::digestRegulation(int32_t hashId) {
  if (hashId == 1 || hashId == 7) return;
  std::string line = DIGEST_REGULATION_LINE;
  if (const char* name = digestTypeToOid(hashId, nullptr, nullptr)) line += std::string(": ") + name;
  write(line + CRLF);
  addWarning(WARN_DIGEST_NOT_SHA1_RIPEMD160);
}

bool SignatureVerifier::checkSignatureValue(SigInfo& info, SignatureProperties& props) {
  const SubPubKeyInfo& key = props.signerCertificate->tbsCertificate.subjectPublicKeyInfo;
  const ASNobjectId& keyOid = key.algorithm.algorithm;
  auto fail = [&info](int32_t status, int32_t reason) {
    info.status = status;
    info.reason = reason;
    return false;
  };
  switch (props.scheme) {
    case SIG_SCHEME_RSA_PKCS1:
      if (!(keyOid == id_ea_rsa || keyOid == rsaEncryption))
        return fail(SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_NO_SIGNER_CERTIFICATE);
      break;
    case SIG_SCHEME_DSA:
      if (!(keyOid == id_dsa)) return fail(SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_NO_SIGNER_CERTIFICATE);
      break;
    case SIG_SCHEME_ECDSA:
      if (!(keyOid == id_ecPublicKey)) return fail(SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_NO_SIGNER_CERTIFICATE);
      break;
    case SIG_SCHEME_RSA_PSS:
      if (!(keyOid == rsaEncryption || keyOid == id_RSASSA_PSS)) {
        write(std::string(KEY_USAGE_LINE) + CRLF);
        return fail(SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_SYNTAX);
      }
      break;
    default:
      // A value no scheme here checks proves nothing (a CMS signer may name any
      // algorithm): the signature cannot be verified, never passes unchecked.
      write(prefix(props.isTimeStamp != 0) + signatureReasonText(SIG_REASON_MALFORMED) + CRLF);
      return fail(SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_MALFORMED);
  }

  std::string digest;
  props.signedDigest(props.hashId, digest);
  int32_t length = 0;
  if (props.signatureValue(nullptr, &length) != 0 || length < 0) throw TalApiException(RC_MALFORMED);
  std::vector<unsigned char> value(static_cast<size_t>(length) + 1);
  if (props.signatureValue(value.data(), &length) != 0) throw TalApiException(RC_MALFORMED);
  AlgorithmIdentifier algorithm;
  // A digest or algorithm we cannot use comes from the signature, not from a fault here: 137.
  if (digest.empty() || !signatureAlgorithmOf(props, algorithm)) throw TalApiException(RC_UNSUPPORTED);
  if (props.scheme == SIG_SCHEME_RSA_PSS) {
    int h = 0, s = 0, m = 0, mh = 0, tr = 0;
    // Parameters that do not read are the value's fault, not the key's: no key-usage line.
    if (!algorithm.getRsaPssParams(&h, &s, &m, &mh, &tr, nullptr))
      return fail(SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_SYNTAX);
    // A key's own parameters that do not read agree with none: a verdict on
    // this signature, not an unsupported feature ending the whole verification.
    if (keyOid == id_RSASSA_PSS && key.algorithm.parametersPresent &&
        !key.algorithm.getRsaPssParams(&h, &s, &m, &mh, &tr, nullptr)) {
      write(std::string(KEY_USAGE_LINE) + CRLF);
      return fail(SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_SYNTAX);
    }
  }

  const int r = verifyDigestWithSharedKey(key, algorithm,
                                          reinterpret_cast<const unsigned char*>(digest.data()),
                                          static_cast<int>(digest.size()), value.data(), length);
  const bool rsa = props.scheme == SIG_SCHEME_RSA_PKCS1 || props.scheme == SIG_SCHEME_RSA_PSS;
  const std::string head = "Błąd podczas weryfikacji podpisu: ";
  switch (r) {
    case SubPubKeyInfo::SIG_VALID:
      return true;
    case SubPubKeyInfo::SIG_MALFORMED:
      if (rsa) {
        write(head + signatureReasonText(SIG_REASON_VALUE_SYNTAX) + CRLF);
        return fail(SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_SYNTAX);
      }
      break;
    case SubPubKeyInfo::SIG_KEY_MISMATCH:
      // A key's own PSS parameters the signature does not honour.
      if (props.scheme == SIG_SCHEME_RSA_PSS) {
        write(std::string(KEY_USAGE_LINE) + CRLF);
        return fail(SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_SYNTAX);
      }
      break;
    case SubPubKeyInfo::SIG_UNSUPPORTED:
      // An EC key answers so for a point off its curve and a digest of another length than
      // its algorithm's: a stranger's key or value, a verdict like a wrong value.
      if (props.scheme == SIG_SCHEME_ECDSA) break;
      throw TalApiException(RC_UNSUPPORTED);  // as above: the signature's, not an invariant
    default:
      // A wrong value, and a key that cannot verify anything (a stranger's
      // key off its curve): the value is not shown to be the signer's.
      break;
  }
  write(head + signatureReasonText(SIG_REASON_VALUE_MATH) + CRLF);
  return fail(SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_MATH);
}

bool SignatureVerifier::checkSignedAttributes(SigInfo& info, SignatureProperties& props) {
  SignedAttributes* attributes = props.signedAttributes();
  checkInvariant(attributes != nullptr, SRC, __LINE__, "signedAttributes != NULL");
  const bool token = props.isTimeStamp != 0;
  const int32_t hashId = attributes->signingCertificateDigestAlgorithm();
  if (hashId != 0) {
    const std::string* reference = attributes->signingCertificateDigest();
    const std::string digest = certificateDigest(*props.signerCertificate, hashId);
    if (!reference || digest.empty() || digest != *reference) {
      write(prefix(token) + signatureReasonText(SIG_REASON_NO_PATH) + CRLF);
      info.status = SIG_STATUS_NOT_VERIFIABLE;
      info.reason = SIG_REASON_NO_SIGNER_CERTIFICATE;
      return false;
    }
  }
  return checkDigest(info, props);
}

bool SignatureVerifier::checkDigest(SigInfo& info, SignatureProperties& props) {
  if (props.checkMessageDigest() || props.skipDigestVerdict) return true;
  write(prefix(props.isTimeStamp != 0) + signatureReasonText(SIG_REASON_DIGEST_MISMATCH) + CRLF);
  info.status = SIG_STATUS_NEGATIVE;
  info.reason = SIG_REASON_DIGEST_MISMATCH;
  return false;
}

namespace {

// The carried CRL as a share the revocation manager may keep: a value the
// signature owns becomes shared with it (one decoded copy, not two); a
// borrowed one (null) is copied only when it is kept.
std::shared_ptr<SignedCertRevList> sharedCrlOf(CrlOrOcspValue& value) {
  if (value.sharedCrl) return std::const_pointer_cast<SignedCertRevList>(value.sharedCrl);
  if (!value.owns) return nullptr;
  // Holders made first, so that nothing changes hands when one cannot be had;
  // the value's other half, when it has one, is shared too (it owns nothing then).
  auto crl = std::make_shared<std::unique_ptr<SignedCertRevList>>();
  auto ocsp = value.ocsp ? std::make_shared<std::unique_ptr<const BasicOCSPResponse>>() : nullptr;
  crl->reset(value.crl);
  if (ocsp) {
    ocsp->reset(value.ocsp);
    value.sharedOcsp = std::shared_ptr<const BasicOCSPResponse>(ocsp, ocsp->get());
  }
  value.owns = 0;
  std::shared_ptr<SignedCertRevList> shared(crl, crl->get());
  value.sharedCrl = shared;
  return shared;
}

}  // namespace

void SignatureVerifier::offerRevocationValues(SignatureRevValues* values) {
  if (!values) return;
  RevocationManager& manager = contextServices(*ctx).manager;
  for (CrlOrOcspValue* value : values->items) {
    if (!value) continue;
    if (value->crl) {
      manager.signatureCrls.push_back(value->crl);
      manager.offerCarriedCrl(*value->crl, sharedCrlOf(*value));
    }
    if (value->ocsp) manager.signatureOcsp.push_back(value->ocsp);
  }
}

void SignatureVerifier::verifyBasicForm(SigInfo& info, SignatureProperties& props, const ASNgenTime* t,
                                        const ASNgenTime* v) {
  const bool token = props.isTimeStamp != 0;
  if (!token) {
    write(std::string("Weryfikacja podstawowej formy podpisu.") + CRLF);
    writeTimeLine("Podany czas weryfikacji: ", v, false);
    writeTimeLine("Timemark: ", t, true);
  }
  if (t) {
    info.verificationTime = asX509(*t);
  } else {
    ASNgenTime current;
    now(current);
    info.verificationTime = asX509(current);
  }

  if (!findSigner(info, props)) return;
  checkInvariant(props.signerCertificate != nullptr, SRC, __LINE__, "signerCertificate != NULL");

  if (keyUsageForbidsSigning(*props.signerCertificate)) {
    info.status = SIG_STATUS_NOT_VERIFIABLE;
    info.reason = SIG_REASON_NO_PATH;
    write(std::string(KEY_USAGE_LINE) + CRLF + prefix(token) +
          " znaleziony certyfikat nie posiada zastosowania do podpisywania lub niezaprzeczalnosci." + CRLF);
    return;
  }
  // A time-stamp is only a time-stamping authority's word: any other certificate with a valid
  // path could otherwise date a signature as it liked.
  if (token && !extensionsGrantPurpose(*props.signerCertificate->tbsCertificate.extensions,
                                       id_kp_timeStamping)) {
    info.status = SIG_STATUS_NOT_VERIFIABLE;
    info.reason = SIG_REASON_NO_PATH;
    write(std::string(KEY_USAGE_LINE) + CRLF);
    return;
  }

  if (info.qualification != SIG_QUALIFICATION_ORDINARY) digestRegulation(props.hashId);
  if (!checkSignatureValue(info, props)) return;

  SignedAttributes* attributes = props.signedAttributes();
  if (attributes && !checkSignedAttributes(info, props)) return;
  // An XML signature value covers SignedInfo only: the references' digests are what bind the
  // signed data, and without signed properties nothing above has compared them.
  if (!attributes && props.isXml() && !checkDigest(info, props)) return;
  if (info.qualification != SIG_QUALIFICATION_ORDINARY &&
      (!attributes || attributes->signingCertificateDigestAlgorithm() == 0)) {
    write(std::string("Brak w podpisie elektronicznym atrybutu: wskazanie certyfikatu (SigningCertificate) !!!") +
          CRLF);
    addWarning(WARN_NO_SIGNING_CERTIFICATE);
  }

  SignatureListsScope lists(contextServices(*ctx).manager);
  offerRevocationValues(props.revocationValues());
  offerRevocationValues(extraRevocations);
  // A cached path is a signer's path found valid as of now: it stands for the
  // check only of a signature verified as of now, and only such a verdict is
  // cached. A path valid at a timemark may have been revoked since, and a
  // time-stamping authority's path was checked for another purpose.
  const bool asOfNow = !token && !t && !v;
  if (signerFromCache && asOfNow) return;

  PathOutcome outcome;
  outcome.status = info.status;
  outcome.reason = info.reason;
  pathAndRevocation(info, outcome, info.qualification, t, v, token);
  info.status = outcome.status;
  info.reason = outcome.reason;

  const bool valid = info.status == SIG_STATUS_VALID;
  if (!token && t && valid) {
    ASNgenTime at;
    if (v)
      at = *v;
    else
      now(at);
    const TBSCertificate& tbs = props.signerCertificate->tbsCertificate;
    if (tbs.validity.notAfter < asX509(at)) {
      const CertificateItem* signer = info.elementAt(0);
      const bool recorded = signer->revocationSource != REVSOURCE_NONE;
      const bool insideValidity = recorded && !(signer->time1 < tbs.validity.notBefore) &&
                                  !(tbs.validity.notAfter < signer->time1);
      if (!insideValidity) {
        info.status = SIG_STATUS_INCOMPLETE;
        info.reason = SIG_REASON_NO_CRL_FOR_EXPIRED_SIGNER;
      }
    }
  }
  if (valid && asOfNow && !workOver())
    ctx->verifiedCache.insertEntry(info, static_cast<uint32_t>(info.qualification));
}

// ---- path and revocation ----

void SignatureVerifier::writePathReport(const CertificatePath& path) {
  ReportStream& report = ctx->report;
  report << "Ścieżka certyfikacji:" << CRLF;
  for (int i = 0; i < path.GetCount(); ++i) {
    const TBSCertificate& tbs = path.elementAt(i)->certificate->tbsCertificate;
    report << "Certyfikat nr: ";
    report.writeInteger(tbs.serialNumber);
    report << CRLF << "Wystawiony dla: \"" << tbs.subject << "\"" << CRLF << "Wystawiony przez: \""
           << tbs.issuer << "\"" << CRLF;
  }
  report << CRLF;
}

void SignatureVerifier::pathAndRevocation(CertificatePath& path, PathOutcome& outcome,
                                          int32_t qualification, const ASNgenTime* t, const ASNgenTime* v,
                                          bool token) {
  TemporaryStore registered(ctx->certificates, candidates);
  ContextRevocation& services = contextServices(*ctx);
  services.refreshSettings();
  const bool fresh = !(qualification == SIG_QUALIFICATION_ORDINARY || noFreshCrl);

  X509time timemark, time;
  RevocationArgs args;
  if (t) {
    timemark = asX509(*t);
    args.timemark = &timemark;
  }
  if (v) {
    time = asX509(*v);
    args.time = &time;
  }
  // The signature's own CRLs are not handed over as known: a CRL a stranger
  // carries is evidence only once it verifies.
  const int r = services.verification.verifyPath(path, args, fresh,
                                                 token ? PATH_PURPOSE_TSA : PATH_PURPOSE_SIGNER, archive,
                                                 token ? nullptr : &ctx->report,
                                                 collect ? &validationData : nullptr);

  if (fresh) {
    for (int i = 0; i < path.GetCount(); ++i) {
      int hashId = 0;
      // A trust point may be signed with an algorithm nobody reads; it is
      // taken by name and key, so its digest is not graded.
      if (certificateSignatureDigest(path.elementAt(i)->certificate, hashId)) digestRegulation(hashId);
    }
  }
  if (!token) writePathReport(path);

  switch (r) {
    case PATH_RESULT_OK: {
      if (collect && path.GetCount() > 0)
        validationData.path.certificates.items.push_back(new SignedCertificate(path.elementAt(0)->certificate));
      for (int i = 0; i < path.GetCount(); ++i)
        checkInvariant(path.elementAt(i)->wwc == WWC_OK, SRC, __LINE__, "ci->wwc == WWC_OK");
      for (int i = 0; i < path.GetCount(); ++i) {
        const bool signer = i == 0;
        int32_t candidate = 0;
        switch (path.elementAt(i)->revocationState) {
          case REVSTATE_NO_DATA:
            candidate = signer ? SIG_REASON_NO_CRL_OR_OCSP : SIG_REASON_NO_ARL_OR_OCSP;
            break;
          case REVSTATE_STALE:
            candidate = signer ? SIG_REASON_STALE_CRL_OR_OCSP : SIG_REASON_STALE_ARL_OR_OCSP;
            break;
          case REVSTATE_OLDER:
            if (!token) candidate = signer ? SIG_REASON_CRL_OR_OCSP_EARLIER : SIG_REASON_ARL_OR_OCSP_EARLIER;
            break;
          case REVSTATE_STALE_AND_OLDER:
            if (token)
              candidate = signer ? SIG_REASON_STALE_CRL_OR_OCSP : SIG_REASON_STALE_ARL_OR_OCSP;
            else
              candidate = signer ? SIG_REASON_CRL_OR_OCSP_EARLIER : SIG_REASON_ARL_OR_OCSP_EARLIER;
            break;
          default:
            break;
        }
        if (candidate && (outcome.reason == SIG_REASON_NONE || reasonOutranks(candidate, outcome.reason))) {
          outcome.reason = candidate;
          outcome.status = SIG_STATUS_INCOMPLETE;
        }
      }
      return;
    }
    case PATH_RESULT_SIGNATURE_MISMATCH:
      throw TalApiException(RC_MEM);
    case PATH_RESULT_DATABASE_FAILURE:
      throw TalApiException(RC_DB);
    case 9:
      throw TalApiException(ctx->deviceFailure());
    case PATH_RESULT_FAILED:
      break;
    default:
      checkInvariant(false, SRC, __LINE__, "false");
  }

  if (token) {
    write(std::string("Błąd weryfikacji znacznika czasu") + CRLF + CRLF);
    writePathReport(path);
  }
  for (int i = 0; i < path.GetCount(); ++i) {
    const CertificateItem* item = path.elementAt(i);
    const bool signer = i == 0;
    if (item->wwc == WWC_UNCHECKED && item->revocationState == REVSTATE_CRL_UNOBTAINABLE) {
      outcome.status = SIG_STATUS_NOT_VERIFIABLE;
      outcome.reason = signer ? SIG_REASON_CRL_FETCH_FAILED : SIG_REASON_ARL_FETCH_FAILED;
      return;
    }
    if (item->wwc == WWC_REVOKED) {
      outcome.status = SIG_STATUS_NEGATIVE;
      outcome.reason = SIG_REASON_REVOKED;
      return;
    }
    if (item->wwc == WWC_EXPIRED || item->wwc == WWC_NOT_YET_VALID) {
      outcome.status = SIG_STATUS_NEGATIVE;
      outcome.reason = SIG_REASON_OUTSIDE_VALIDITY;
      return;
    }
    if (item->wwc == WWC_SUSPENDED) {
      outcome.status = SIG_STATUS_INCOMPLETE;
      outcome.reason = SIG_REASON_SUSPENDED;
    }
    checkInvariant(item->wwc <= WWC_SUSPENDED, SRC, __LINE__, "ci->wwc <= WWC_SUSPENDED");
  }
  if (path.policyResult == 1) {
    outcome.status = SIG_STATUS_NEGATIVE;
    outcome.reason = SIG_REASON_POLICIES;
  } else if (path.policyResult == 2) {
    outcome.status = SIG_STATUS_NEGATIVE;
    outcome.reason = SIG_REASON_PATH_FAILED;
  } else if (outcome.status != SIG_STATUS_INCOMPLETE || outcome.reason != SIG_REASON_SUSPENDED) {
    // The path failed for a cause none of the above names (a certificate
    // left unchecked, say): a failed path never passes as a valid one.
    outcome.status = SIG_STATUS_NEGATIVE;
    outcome.reason = SIG_REASON_PATH_FAILED;
  }
}

// ---- time-stamp tokens ----

void SignatureVerifier::verifyTokenAt(SigInfo& tokenInfo, SignaturePropertiesPkcs7& props,
                                      const TokenExtras& extras, const ASNgenTime* t, const ASNgenTime* v,
                                      bool archiveFlag, bool collectFlag, SignatureCrtValues* target) {
  SignatureVerifier nested(ctx);
  nested.archive = archiveFlag;
  nested.collect = collectFlag;
  nested.extraCertificates = extras.certificates;
  nested.extraRevocations = extras.revocations;
  nested.extraCarried = extras.carried;
  nested.verifyAt(&tokenInfo, &props, t, v);
  if (tokenInfo.status != SIG_STATUS_VALID || !collectFlag) return;
  if (target) {
    if (props.signerCertificate) target->items.push_back(new SignedCertificate(*props.signerCertificate));
    for (CrtAndRevValues* pair : {&nested.validationData.path, &nested.validationData.other})
      for (const SignedCertificate* c : pair->certificates.items)
        if (c) target->items.push_back(new SignedCertificate(*c));
  }
  nested.exportValidationDataNoFinish(props);
}

// ---- certificates and validation data ----

void SignatureVerifier::verifyCertificate(CertificateVerdict* verdict, const SignedCertificate* certificate) {
  if (!verdict || !certificate) throw TalApiException(RC_BAD_ARGUMENT);
  verdict->status = SIG_STATUS_VALID;
  verdict->qualification = SIG_QUALIFICATION_UNKNOWN;
  verdict->reason = SIG_REASON_NONE;

  const DistinguishedName& issuer = certificate->tbsCertificate.issuer;
  const ASNinteger& serial = certificate->tbsCertificate.serialNumber;
  if (ctx->verifiedCache.hasValidEntry(issuer, serial)) {
    const VerifiedPathEntry* entry = ctx->verifiedCache.findEntry(issuer, serial);
    // The cached path is this certificate's, not another with its issuer and serial.
    if (entry && entry->path && entry->certificate && *entry->certificate == *certificate) {
      verdict->path = *entry->path;
      verdict->pathWords[0] = entry->path->qualifiedRoot;
      verdict->pathWords[1] = entry->path->policyResult;
      verdict->qualification = static_cast<int32_t>(entry->qualification);
      return;
    }
  }

  TemporaryStore registered(ctx->certificates, candidates);
  bool found = false;
  int32_t qualification = SIG_QUALIFICATION_UNKNOWN;
  verdict->path = CertificatePath();
  if (!buildPath(verdict->path, certificate->tbsCertificate.issuer, certificate->tbsCertificate.serialNumber,
                 certificate, false, qualification, found)) {
    verdict->status = SIG_STATUS_NOT_VERIFIABLE;
    verdict->reason = SIG_REASON_NO_PATH;
    return;
  }
  verdict->qualification = qualification;
  PathOutcome outcome;
  pathAndRevocation(verdict->path, outcome, qualification, nullptr, nullptr, false);
  verdict->status = outcome.status;
  verdict->reason = outcome.reason;
  verdict->pathWords[0] = verdict->path.qualifiedRoot;
  verdict->pathWords[1] = verdict->path.policyResult;

  std::string lines = std::string(signatureStatusReportLine(verdict->status, false)) + CRLF;
  if (verdict->status == SIG_STATUS_VALID) {
    ctx->verifiedCache.insertEntry(verdict->path, static_cast<uint32_t>(qualification));
  } else {
    const char* reason = signatureReasonText(verdict->reason);
    checkInvariant(reason != nullptr, SRC, __LINE__, "reason text");
    lines += std::string("Powód: ") + reason + CRLF;
  }
  write(lines + CRLF);
}

int32_t SignatureVerifier::exportValidationDataNoFinish(SignatureProperties& target) {
  if (option(OPTION_COMPLETE_REFS) != 0 && target.form < SIG_FORM_C) {
    const int32_t r = target.addCompleteRefs(validationData);
    if (r != 0) return r;
  }
  if (target.form < SIG_FORM_X) {
    const int32_t r = target.addValues(validationData);
    if (r != 0) return r;
  }
  return 0;
}

int32_t SignatureVerifier::exportValidationData(SignatureProperties& target, talCtx* argument) {
  const int32_t r = exportValidationDataNoFinish(target);
  return r != 0 ? r : target.makeArchiveForm(argument);
}
