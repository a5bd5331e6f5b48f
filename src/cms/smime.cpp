#include "cms/smime.h"

namespace {
const int32_t RC_NOT_IMPL = 137;
}

int32_t SMIMEctx::encrypt(const ASNsequenceList<SignedCertificate>*) { return RC_NOT_IMPL; }
int32_t SMIMEctx::sign(uint32_t, GenericFile*) { return RC_NOT_IMPL; }
int32_t SMIMEctx::copyStream(GenericFile*, GenericFile*) { return RC_NOT_IMPL; }
int32_t SMIMEctx::encryptMimeBody(GenericFile*) { return RC_NOT_IMPL; }

bool isSMimeMessage(GenericFile*, int32_t* type) {
  if (type)
    *type = 0;
  return false;
}
