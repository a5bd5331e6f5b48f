#include "api/ctxprotect.h"

#include "api/ctxsmime.h"
#include "api/talapi.h"
#include "api/talctx.h"
#include "base/commonerror.h"
#include "base/livehandles.h"
#include "cms/smime.h"

#include <ctime>
#include <utility>
#include <vector>

#define PROTECT_UNIT "API/talprofile"

// The key manager's answers to a protection's preparation, as result codes. A wrong PIN also
// forgets the cached ones, so the next try asks again. The rows after 61 are what a token opened
// again may answer besides, mapped as when the keys load (initProfile's rows): a device error
// (20) is 39 with the device's number kept, as everywhere else.
const AnswerRow OPEN_SESSION_ANSWERS[] = {
    {0, 0, false},    {13, 46, true},  {23, 40, false}, {24, 43, false}, {25, 44, false},
    {31, 42, false},  {36, 42, false}, {37, 131, false}, {49, 35, false}, {50, 35, false},
    {51, 144, false}, {61, 165, false}, {4, 100, false}, {20, 39, false}, {27, 45, false},
    {42, 33, false},  {43, 147, false}};
const size_t OPEN_SESSION_ANSWER_COUNT = sizeof OPEN_SESSION_ANSWERS / sizeof(AnswerRow);

namespace {

// The recipients a C caller hands over: a NULL-terminated array of talCert handles, each held
// in `holds` so no other thread frees one while the message is made. A pointer that is not a
// live certificate handle refuses the list.
bool recipientList(const void* recipients, std::vector<HandleHold>& holds,
                   std::vector<const SignedCertificate*>& out) {
  const void* const* handles = static_cast<const void* const*>(recipients);
  if (!handles || !handles[0]) return false;
  for (; *handles; ++handles) {
    HandleHold hold(*handles, HandleKind::Certificate);
    if (!hold) return false;
    out.push_back(hold.as<const SignedCertificate>());
    holds.push_back(std::move(hold));
  }
  return true;
}

// The S/MIME modes of the options: option 7 alone, else each of 8, 9 and 10 its own. A message
// without the key manager's layer (flag 128) is for a machine, not a mail reader: the bare DER.
uint32_t smimeModes(const ConfigurationManager& configuration, int32_t flags) {
  if ((flags & PROTECT_NO_KEY_MANAGER) || configuration.getIntOption(7) != 0) return SMIME_MODE_DER;
  uint32_t modes = 0;
  if (configuration.getIntOption(8) != 0) modes |= SMIME_MODE_DETACHED;
  if (configuration.getIntOption(9) != 0) modes |= SMIME_MODE_ENTITY;
  if (configuration.getIntOption(10) != 0) modes |= SMIME_MODE_TEXT;
  return modes;
}

}  // namespace

int32_t protectMessage(talCtx* ctx, const void* recipients, GenericFile* input,
                       GenericFile* output, int32_t flags, const std::function<void()>& begin) {
  if (!ctx->ready) return 22;
  if (ctx->operationMask == 0) return 25;
  if (flags & PROTECT_REFUSED) return 20;
  const bool encrypts = (flags & PROTECT_ENCRYPT) != 0;
  if (ctx->configuration.deviceType() == 2 && encrypts && (flags & PROTECT_SIGN)) return 20;
  const uint32_t km = ctx->keyManager.flags;
  if (!(km & KM_FLAG_CONFIGURATION)) return 32;
  if (encrypts && !(km & KM_FLAG_OWN_RANDOM)) return 31;
  const bool signs = (flags & PROTECT_SIGN) ||
                     ((flags & PROTECT_SIGN_BY_OPTION_3) && ctx->configuration.getIntOption(3) != 0);
  if (signs && (km & (KM_FLAG_SIGNING_REQUIRED | KM_FLAG_SIGNING_LOADED)) !=
                   (KM_FLAG_SIGNING_REQUIRED | KM_FLAG_SIGNING_LOADED))
    return 30;
  if (!input || !output || input == output) return 20;

  if (input->seek(0) != 0 || output->seek(0) != 0) return 20;

  if (encrypts && !signs && ctx->configuration.getIntOption(20) != 0) {
    if (ctx->configuration.getIntOption(7) != 0) return 20;
    int32_t type = 0;
    if (!isSMimeMessage(input, &type) || type != 2) return 89;
    if (input->seek(0) != 0) return 20;
  }

  SmimeSettings settings = smimeSettingsFromConfiguration(ctx->configuration);
  settings.modes = smimeModes(ctx->configuration, flags);
  settings.now = static_cast<time_t>(ctx->clock.now());
  // Flag 64 signs only as option 3 says: the S/MIME context sees flag 2 when the message is
  // signed and neither flag when it is not.
  const uint32_t effective = static_cast<uint32_t>(flags & ~(PROTECT_SIGN | PROTECT_SIGN_BY_OPTION_3)) |
                             (signs ? PROTECT_SIGN : 0);

  const int32_t prepared =
      mapAnswer(ctx, OPEN_SESSION_ANSWERS, OPEN_SESSION_ANSWER_COUNT,
                ctx->keyManager.openSession(effective), PROTECT_UNIT, __LINE__);
  if (prepared != 0) return prepared;

  // The signer's issuers travel with its certificate (option 2), looked up once the keys are
  // ready: a token opened again may hold another certificate.
  std::vector<SharedCertificate> issuers;
  const SignedCertificate* signer = ctx->keyManager.currentCertificate();
  if (signs && settings.includeCertificates && signer) issuers = signerIssuers(*ctx, *signer);
  std::vector<const SignedCertificate*> chain;
  for (const SharedCertificate& issuer : issuers) chain.push_back(&issuer.get());
  // The context's signing key signs whatever the flags say of the key manager: a time-stamp
  // request (flags 130) is signed by the key that option 3 asks for.
  KeyManagerSmimeKeys keys(ctx->keyManager, chain);
  // The recipients' certificates, held while the S/MIME context (made after, gone before) may
  // read them.
  std::vector<HandleHold> recipientHolds;
  SMIMEctx smime(&ctx->reportBuffer, &keys, settings);

  if (begin) begin();
  int32_t r = 0;
  if (encrypts) {
    // The recipients are set up here, after the input and the keys: a list that is not one of
    // certificates answers as the S/MIME context answers an empty one.
    std::vector<const SignedCertificate*> recipientCerts;
    r = recipientList(recipients, recipientHolds, recipientCerts) ? smime.encrypt(recipientCerts)
                                                                  : 20;
    if (r > 10) return r;
  }
  r = smime.sign(effective, output);
  if (r > 10) return r;
  r = smime.copyStream(input, output);
  if (r > 10) return r;
  return smime.encryptMimeBody(output);
}
