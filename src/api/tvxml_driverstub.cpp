// TEMPORARY: stands in for the per-signature driver until it is merged, so the
// unprotect flow can be built and tested. Parses the signature and compares
// the reference digests only; no signature value, path or revocation check.
#include "api/tvxml.h"

#include "base/talexception.h"
#include "pki/sig/sigprops.h"

void verifyXmlSignature(talCtx*, SigInfo* info, SignatureProperties* props, const ASNgenTime*,
                        const ASNgenTime*) {
  int32_t rc = props->analyse();
  if (rc == 89) {
    info->status = SIG_STATUS_NOT_VERIFIABLE;
    info->reason = SIG_REASON_MALFORMED;
    return;
  }
  if (rc > 10) throw TalApiException(rc);
  bool digests = props->checkMessageDigest();
  info->status = digests ? SIG_STATUS_VALID : SIG_STATUS_NEGATIVE;
  info->reason = digests ? SIG_REASON_NONE : SIG_REASON_DIGEST_MISMATCH;
}
