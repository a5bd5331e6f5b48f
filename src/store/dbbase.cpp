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

void toUpperText(std::string& t)
{
  for (size_t i = 0; i < t.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    if (c >= 'a' && c <= 'z') {
      t[i] = static_cast<char>(c - 32);
    } else if ((c == 0xC4 || c == 0xC5) && i + 1 < t.size()) {
      unsigned char d = static_cast<unsigned char>(t[i + 1]);
      if ((c == 0xC4 && (d == 0x85 || d == 0x87 || d == 0x99)) ||
          (c == 0xC5 && (d == 0x82 || d == 0x9B || d == 0xBA || d == 0xBC)))
        t[i + 1] = static_cast<char>(d - 1);
      else if (c == 0xC5 && d == 0xB3)
        t[i + 1] = static_cast<char>(0x93);
      ++i;
    }
  }
}

void addDnField(DbDnFieldList& fields, char tag, std::string value, std::string& email)
{
  toUpperText(value);
  if (tag == 'e')
    email = value;
  for (const DbDnField& f : fields)
    if (f.tag == tag && f.value == value)
      return;
  fields.push_back(DbDnField{tag, value});
}

DbBase::~DbBase()
{
  if (ownsStores) {
    delete crtStore;
    delete crlStore;
    delete srvStore;
  }
}
