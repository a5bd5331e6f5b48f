#include "api/ctxtimestamp.h"

#include "api/sigverifier.h"
#include "api/talctx.h"
#include "cms/tsrequest.h"

namespace {

const int32_t RC_NOT_IMPL = 137;

class ContextTimeStampEnv : public TimeStampRequestEnv {
 public:
  ContextTimeStampEnv(talCtx* ctx, talCtx* second) : source(second ? second : ctx), verifier(ctx) {}
  void write(const std::string& text) override { verifier.write(text); }
  void addWarning(uint32_t bits) override { verifier.addWarning(bits); }
  int32_t option(int32_t number) override { return source->configuration.getIntOption(number); }
  // Signed requests need the message protection, which the library does not build.
  int32_t protectRequest(const std::vector<uint8_t>&, std::vector<uint8_t>&) override { return RC_NOT_IMPL; }
  int32_t queryForTimeStamp(const uint8_t* request, size_t length, TimeStampResponse& response,
                            uint32_t serverMask) override {
    return source->network.queryForTimeStamp(request, length, response, serverMask);
  }
  TimeStampDriver& driver() override { return verifier; }

 private:
  talCtx* source;
  SignatureVerifier verifier;
};

}  // namespace

int32_t requestContextTimeStamp(talCtx* ctx, talCtx* second, const std::string& digest, int32_t hashId,
                                ArchiveTimeStampTokens& out) {
  ContextTimeStampEnv env(ctx, second);
  return requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), digest.size(), hashId, out);
}

void useContextTimeStamps(XmlSignatureSetup& setup, talCtx* ctx) {
  setup.requestTimeStamp = [ctx](talCtx* second, const std::string& digest, int32_t hashId,
                                 ArchiveTimeStampTokens& out) {
    return requestContextTimeStamp(ctx, second, digest, hashId, out);
  };
}
