// Exceptions of the library's services that carry a result code of the C API's
// table: the entry points catch them and return the code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class TalException : public std::runtime_error {
 public:
  explicit TalException(int32_t code) : std::runtime_error(std::string()), code(code) {}
  TalException(const std::string& text, int32_t code) : std::runtime_error(text), code(code) {}
  int32_t getCode() const { return code; }

 private:
  int32_t code;
};

class TalApiException : public TalException {
 public:
  explicit TalApiException(int32_t code) : TalException(code) {}
  TalApiException(const std::string& text, int32_t code) : TalException(text, code) {}
};
