// The entry points that hand out texts: messages of result codes, the report, reasons and
// statuses.
#include "talvorin.h"

#include "api/apitrace.h"
#include "api/talcodes.h"
#include "api/talctx.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

const size_t TEXT_SIZE = 256;

// Texts formatted for a handle that is not a context. One buffer per thread: a text obtained
// by one thread is never overwritten by another thread's call.
thread_local char invalidContextText[TEXT_SIZE];

const char* errorTextBody(talCtx* ctx, int32_t code) {
  static std::mutex formatting;
  // The context's text buffer, which a clone taken on another thread copies.
  CtxUse use(ctx);
  const bool valid = use.code() == 0;
  char* out = valid ? ctx->errorText : invalidContextText;
  const char* message = talCodeMessage(code);
  if (!message) {
    std::lock_guard<std::mutex> guard(formatting);
    std::snprintf(out, TEXT_SIZE, talUnknownCodeFormat(), static_cast<int>(code));
    return out;
  }
  switch (code) {
    case 20:
    case 24:
    case 141: {
      std::lock_guard<std::mutex> guard(formatting);
      std::snprintf(out, TEXT_SIZE, "%s ", message);
      size_t used = std::strlen(out);
      lastErrorText.get(out + used, TEXT_SIZE - used);
      return out;
    }
    case 37:
    case 145: {
      std::lock_guard<std::mutex> guard(formatting);
      if (!lastErrorText.get(out, TEXT_SIZE)) out[0] = '\0';
      return out;
    }
    case 39: {
      if (!valid) return talDeviceErrorConstant();
      std::lock_guard<std::mutex> guard(formatting);
      std::snprintf(out, TEXT_SIZE, message, static_cast<unsigned>(ctx->deviceError));
      return out;
    }
    case 44: {
      // With a PKCS#11 token the text names what its library answered last.
      if (!valid || ctx->configuration.deviceType() != 4) return message;
      std::lock_guard<std::mutex> guard(formatting);
      std::snprintf(out, TEXT_SIZE, talCardErrorFormat(), getCkrErrorText(ctx->keyManager.lastCkr));
      return out;
    }
    default:
      return message;
  }
}

const char* reportTextBody(talCtx* ctx) {
  CtxUse use(ctx);  // the report is ended in place
  if (use.code() != 0) return "";
  const char* text = ctx->reportBuffer.text();
  return text ? text : "";
}

}  // namespace

extern "C" {

const char* talErrorText(talCtx* ctx, int32_t code) {
  return tracePointer("talErrorText", [&] {
    return catchAll<const char*>(nullptr, [&] { return errorTextBody(ctx, code); });
  });
}

const char* talReportText(talCtx* ctx) {
  return tracePointer("talReportText", [&] {
    return catchAll<const char*>("", [&] { return reportTextBody(ctx); });
  });
}

const char* talReasonText(int32_t reason) {
  return tracePointer("talReasonText", [&] {
    return catchAll<const char*>(nullptr, [&] { return talReasonMessage(reason); });
  });
}

const char* signatureStatusText(int32_t status) {
  return catchAll<const char*>(nullptr, [&] { return talStatusText(status); });
}

}  // extern "C"
