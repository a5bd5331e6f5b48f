#include "api/apitrace.h"

#include "api/logserviceclient.h"

#include <cstdio>

namespace apitrace {

void begin(const char* function, const char* parameters) noexcept {
  LogServiceClient* log = LogServiceClient::instance();
  if (log) log->log(LOG_LEVEL_INFO, "BEGIN", function, parameters, nullptr, nullptr, 0);
}

void beginWithPath(const char* function, const char* label, const char* path) noexcept {
  if (!enabled()) return;
  try {
    const std::string text = std::string(label) + (path ? path : "NULL");
    begin(function, text.c_str());
  } catch (...) {
    begin(function, nullptr);  // no memory for the text: the line without it
  }
}

bool enabled() noexcept {
  LogServiceClient* log = LogServiceClient::instance();
  return log && log->enabled();
}

void endCode(const char* function, int32_t code) noexcept {
  char text[32];
  std::snprintf(text, sizeof text, "END. Wynik: %d", static_cast<int>(code));
  LogServiceClient::instance()->log(code < 11 ? LOG_LEVEL_INFO : LOG_LEVEL_ERROR, text, function,
                                    nullptr, nullptr, nullptr, 0);
}

void endPointer(const char* function, bool present) noexcept {
  LogServiceClient::instance()->log(present ? LOG_LEVEL_INFO : LOG_LEVEL_ERROR,
                                    present ? "END. Wynik: != NULL" : "END. Wynik: NULL", function,
                                    nullptr, nullptr, nullptr, 0);
}

}  // namespace apitrace
