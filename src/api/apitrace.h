// The wrapper of every traced entry point and the two ways its body turns exceptions into
// result codes. No exception leaves an entry point.
//
//   int32_t talFoo(talCtx* ctx) {
//     return traceCode("talFoo", [&] { return catchAll([&] { return fooBody(ctx); }); });
//   }
#pragma once

#include "api/sharedtext.h"
#include "base/talexception.h"

#include <cstdint>
#include <exception>
#include <string>

const int32_t TAL_RESULT_INTERNAL_ERROR = 141;
const int32_t TAL_RESULT_UNKNOWN_EXCEPTION = 161;

namespace apitrace {
// The BEGIN line, with an optional parameter text.
void begin(const char* function, const char* parameters) noexcept;
// The BEGIN line with `label` and the path (or "NULL"), written only while the log is enabled.
void beginWithPath(const char* function, const char* label, const char* path) noexcept;
// Whether the log writes anything: the END line is written and formatted only then.
bool enabled() noexcept;
void endCode(const char* function, int32_t code) noexcept;
void endPointer(const char* function, bool present) noexcept;
}  // namespace apitrace

// Integer result: BEGIN, the body, END with the code (INFO below 11, ERROR from 11).
template <class Body>
int32_t traceCode(const char* function, Body body, const char* parameters = nullptr) noexcept {
  apitrace::begin(function, parameters);
  int32_t code = body();
  if (apitrace::enabled()) apitrace::endCode(function, code);
  return code;
}

// As traceCode for the two entry points that name their file in the BEGIN line
// ("crtFile: ", "inFile: "); with the log disabled they write no BEGIN line at all.
template <class Body>
int32_t traceCodeWithPath(const char* function, const char* label, const char* path,
                          Body body) noexcept {
  apitrace::beginWithPath(function, label, path);
  int32_t code = body();
  if (apitrace::enabled()) apitrace::endCode(function, code);
  return code;
}

// Pointer result: END says "!= NULL" (INFO) or "NULL" (ERROR).
template <class Body>
auto tracePointer(const char* function, Body body, const char* parameters = nullptr) noexcept
    -> decltype(body()) {
  apitrace::begin(function, parameters);
  auto result = body();
  if (apitrace::enabled()) apitrace::endPointer(function, result != nullptr);
  return result;
}

// The profile functions and talInstallRoot: a TalApiException gives its code, another
// std::exception 141, anything else 161; the exception's text becomes the last-error text.
template <class Body>
int32_t catchWithText(Body body) noexcept {
  try {
    return body();
  } catch (const TalApiException& e) {
    lastErrorText.set(e.what());
    return e.getCode();
  } catch (const std::exception& e) {
    lastErrorText.set(e.what());
    return TAL_RESULT_INTERNAL_ERROR;
  } catch (...) {
    return TAL_RESULT_UNKNOWN_EXCEPTION;
  }
}

// Every other body: anything thrown gives `failure` (161 for codes; "" or NULL for texts).
template <class Result, class Body>
Result catchAll(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}
