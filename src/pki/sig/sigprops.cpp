#include "pki/sig/sigprops.h"

CrlOrOcspValue::~CrlOrOcspValue() {
  if (owns) {
    delete crl;
    delete ocsp;
  }
}

SignedAttributes::~SignedAttributes() = default;

SignatureProperties::SignatureProperties(talCtx* ctx, bool skipDigest)
    : context(ctx), skipDigestVerdict(skipDigest ? 1 : 0) {}

SignatureProperties::~SignatureProperties() = default;
