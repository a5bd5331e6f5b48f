// Verification of signature and archive time-stamp tokens and the time at
// which a signature of the T, C, X or A form is verified. A token is checked
// against the digests its signature requires (the message imprint) and then
// verified as a CMS signature by the verification driver; the driver's basic
// form runs at the time a valid token proves.
#pragma once

#include "pki/sig/sigpropspkcs7.h"

#include <cstdint>
#include <string>
#include <vector>

// The lists a token's nested verification takes beside the token's own
// certificates (none owned).
struct TokenExtras {
  SignatureCrtValues* certificates = nullptr;
  SignatureRevValues* revocations = nullptr;
  ASNsequenceList<SignedCertificate>* carried = nullptr;  // the parent signature's
};

// What the time-stamp steps ask of the per-signature verification driver
// and of the library context. The driver implements it; tests use a double.
class TimeStampDriver {
 public:
  virtual ~TimeStampDriver();

  virtual talCtx* context() = 0;
  // Appends `text` to the report as it is (line ends included).
  virtual void write(const std::string& text) = 0;
  virtual int32_t option(int32_t number) = 0;
  virtual void addWarning(uint32_t bits) = 0;
  // The current UTC time of the context's clock.
  virtual void now(ASNgenTime& out) = 0;
  // The context's certificate and revocation lists; null when unset.
  virtual SignatureCrtValues* contextCertificates() = 0;
  virtual SignatureRevValues* contextRevocations() = 0;

  // The signer search of a signature; false sets the SigInfo's status.
  virtual bool findSigner(SigInfo& info, SignatureProperties& props) = 0;
  // The basic form at timemark t and verification time v (either null).
  virtual void verifyBasicForm(SigInfo& info, SignatureProperties& props, const ASNgenTime* t,
                               const ASNgenTime* v) = 0;
  // verifyAt on a token's SigInfo (its properties attached) by a nested
  // driver with `extras`, the archive and collect flags; on status 4 with
  // collect set, the nested driver's collected data go to `target` (when
  // given) and to the token's properties.
  virtual void verifyTokenAt(SigInfo& tokenInfo, SignaturePropertiesPkcs7& props, const TokenExtras& extras,
                             const ASNgenTime* t, const ASNgenTime* v, bool archive, bool collect,
                             SignatureCrtValues* target) = 0;

  bool archive = false;  // archive time-stamps are being verified
  bool collect = false;  // validation data are collected for extension
};

// verifyTimeStampToken: the token's verdict in tokenInfo (status, reason,
// qualification; its CMS properties attached) against `digests`, each of
// which must have the imprint's length, with the expected digest id.
void verifyTimeStampToken(TimeStampDriver& driver, TimeStampToken& token, SigInfo& tokenInfo,
                          SignatureProperties* parent, const std::vector<std::string>& digests,
                          int32_t hashId, const ASNgenTime* t, const ASNgenTime* v, bool archive,
                          bool collect, SignatureCrtValues* target);

// The signature time-stamps of `props`: sorted, verified latest first, the
// chosen one marked used. False when the signer is not found.
bool verifyTimeStampTokens(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                           SignatureTimeStampTokens& tokens, const ASNgenTime* t, const ASNgenTime* v);

// The T form (code 5), the C and X forms (6, 9, 10, 11) and the A form (12).
void verifyTimeStampedForm(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                           const ASNgenTime* t, const ASNgenTime* v);
void verifyCompleteForm(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                        const ASNgenTime* t, const ASNgenTime* v);
void verifyArchiveForm(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                       const ASNgenTime* t, const ASNgenTime* v);

// "YYYY.MM.DD HH:MM:SS" of a time.
std::string reportTimeText(const ASNgenTime& t);
