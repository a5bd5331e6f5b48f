#include "store/dbbase.h"

#include <algorithm>
#include <cstring>

std::string dbFieldKey(char tag, const std::string& value)
{
  size_t n = std::min(value.size(), DB_FIELD_VALUE_MAX);
  const void* zero = std::memchr(value.data(), 0, n);
  if (zero)
    n = static_cast<size_t>(static_cast<const char*>(zero) - value.data());
  std::string key(1, tag);
  key.append(value, 0, n);
  return key;
}

DbBase::~DbBase()
{
  if (ownsStores) {
    delete crtStore;
    delete crlStore;
    delete srvStore;
  }
}
