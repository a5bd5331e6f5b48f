#include "api/ctxtimestamp.h"

#include "api/ctxprotect.h"
#include "api/sigverifier.h"
#include "api/talcodes.h"
#include "api/talctx.h"
#include "cms/tsrequest.h"

namespace {

class ContextTimeStampEnv : public TimeStampRequestEnv {
 public:
  ContextTimeStampEnv(talCtx* ctx, talCtx* second) : source(second ? second : ctx), verifier(ctx) {}
  void write(const std::string& text) override { verifier.write(text); }
  void addWarning(uint32_t bits) override { verifier.addWarning(bits); }
  int32_t option(int32_t number) override { return source->configuration.getIntOption(number); }
  // Signed by the key of the context that supplies the options and the network: a bare DER
  // SignedData carrying the request (no key manager's message layer, flag 128), the form a
  // time-stamp server that authenticates its callers takes.
  int32_t protectRequest(const std::vector<uint8_t>& request, std::vector<uint8_t>& out) override {
    MemFile input, output;
    if (!request.empty() && input.write(static_cast<uint32_t>(request.size()), request.data()) != 0) return 100;
    const int32_t r = protectMessage(source, nullptr, &input, &output, PROTECT_SIGN | PROTECT_NO_KEY_MANAGER);
    if (r > 10) return r;
    const uint32_t size = output.size();
    out.assign(size ? output.at(0) : nullptr, size ? output.at(0) + size : nullptr);
    return r;
  }
  std::string resultText(int32_t code) override {
    const char* text = talCodeMessage(code);
    return text ? text : "";
  }
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
