// The process-wide last-error text: the newest non-empty text of an exception caught by an entry
// point (or of the device library loader), read back by talErrorText.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class SharedText {
 public:
  // A NULL or empty text changes nothing.
  void set(const char* text);
  // false without change for a NULL buffer or a size below 2; otherwise the buffer is zeroed and
  // receives at most size - 1 characters; true when a text is held.
  bool get(char* buffer, size_t size) const;

 private:
  mutable std::mutex lock;
  std::string text;
  bool held = false;
};

// The one holder, built before main.
extern SharedText lastErrorText;
