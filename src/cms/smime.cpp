#include "cms/smime.h"

#include "asn1/asnseql.h"
#include "pki/x509/cert.h"

namespace {
const int32_t RC_NOT_IMPL = 137;
}

struct SMIMEctx::State {};

SMIMEctx::SMIMEctx(GenericFile* report) : report(report) {}
SMIMEctx::SMIMEctx(GenericFile* report, SmimeKeys* keys, const SmimeSettings& settings)
    : report(report), keys(keys), settings(settings) {}
SMIMEctx::~SMIMEctx() = default;

int32_t SMIMEctx::encrypt(const ASNsequenceList<SignedCertificate>*) { return RC_NOT_IMPL; }
int32_t SMIMEctx::encrypt(const std::vector<const SignedCertificate*>&) { return RC_NOT_IMPL; }
int32_t SMIMEctx::sign(uint32_t, GenericFile*) { return keys ? RC_NOT_IMPL : RC_NOT_IMPL; }
int32_t SMIMEctx::copyStream(GenericFile*, GenericFile*) { return RC_NOT_IMPL; }
int32_t SMIMEctx::encryptMimeBody(GenericFile*) { return RC_NOT_IMPL; }

bool isSMimeMessage(GenericFile*, int32_t* type) {
  if (type)
    *type = 0;
  return false;
}
