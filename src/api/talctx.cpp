#include "api/talctx.h"

#include "base/talexception.h"

#include <cstring>

const char TAL_CTX_MARKER[17] = "TalVorinCtx3.9#A";

talCtx::talCtx() : dbSettings(configuration), report(&reportBuffer) {
  std::memset(marker, 0, sizeof marker);
  std::memset(errorText, 0, sizeof errorText);
  configuration.setContext(this);
  database.setContext(&dbSettings);
  std::memcpy(marker, TAL_CTX_MARKER, sizeof marker);
}

talCtx::~talCtx() {
  // A freed context must not pass the handle check.
  std::memset(marker, 0, sizeof marker);
}

int32_t checkCtx(const void* handle) {
  if (!handle) return 20;
  const char* bytes = static_cast<const char*>(handle);
  for (size_t i = 0; i < sizeof TAL_CTX_MARKER; ++i)
    if (bytes[i] != TAL_CTX_MARKER[i]) return 21;
  return 0;
}

talCtx* checkCtxAndResetReport(void* handle) {
  int32_t code = checkCtx(handle);
  if (code != 0) throw TalApiException(code);
  talCtx* ctx = static_cast<talCtx*>(handle);
  ctx->reportBuffer.clear();
  ctx->report.sink = &ctx->reportBuffer;
  ctx->warnings = 0;
  return ctx;
}

int32_t endOfOperation(const talCtx* ctx) { return ctx->warnings > 0 ? 10 : 0; }
