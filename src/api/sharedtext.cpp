#include "api/sharedtext.h"

#include <cstring>

SharedText lastErrorText;

void SharedText::set(const char* newText) {
  if (!newText || !*newText) return;
  std::string copy(newText);
  std::lock_guard<std::mutex> guard(lock);
  text.swap(copy);
  held = true;
}

bool SharedText::get(char* buffer, size_t size) const {
  if (!buffer || size < 2) return false;
  std::memset(buffer, 0, size);
  std::lock_guard<std::mutex> guard(lock);
  if (!held) return false;
  std::memcpy(buffer, text.data(), text.size() < size - 1 ? text.size() : size - 1);
  return true;
}
