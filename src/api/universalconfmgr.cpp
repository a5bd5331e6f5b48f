#include "api/universalconfmgr.h"

#include "platform/registry.h"

#include <stdexcept>

namespace {

// Deeper trees than the registry itself allows are not followed.
const int MAX_KEY_DEPTH = 512;

// toupper of the C locale: ASCII letters only, whatever locale the process has set.
std::string upperCased(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

[[noreturn]] void fail(const std::string& text) { throw std::runtime_error(text); }

void checkSetPath(const char* path) {
  if (!path) fail("parametr path nie moze byc NULL");
  if (path[0] != '\\') fail("parametr path musi zaczynac sie znakiem \\");
}

}  // namespace

UniversalConfMgr::UniversalConfMgr() = default;

UniversalConfMgr::~UniversalConfMgr() { clear(); }

void UniversalConfMgr::clear() { m_options.clear(); }

void UniversalConfMgr::load(const char* regPath, bool fromLocalMachine) {
  if (!regPath) fail("Parametr regPath nie może być NULL");
  if (regPath[0] == '\\') ++regPath;
  clear();
  platform::RegistryKey key;
  if (key.open(fromLocalMachine ? platform::RegistryRoot::LocalMachine
                                : platform::RegistryRoot::CurrentUser,
               regPath, false) != platform::RegistryStatus::Ok)
    return;
  readKey(key, std::string(), 0);
}

void UniversalConfMgr::insertFirst(const std::string& path, Option&& option) {
  // The first entry of a path wins.
  m_options.emplace(upperCased(path), std::move(option));
}

void UniversalConfMgr::readKey(platform::RegistryKey& key, const std::string& prefix, int depth) {
  for (uint32_t index = 0;; ++index) {
    std::string name;
    uint32_t type = platform::REGISTRY_NONE;
    platform::RegistryStatus status = key.enumValue(index, name, type);
    if (status == platform::RegistryStatus::NoMoreItems) break;
    if (status != platform::RegistryStatus::Ok) fail("RegEnumValue");
    Option option;
    std::vector<uint8_t> data;
    uint32_t readType = platform::REGISTRY_NONE;
    bool read = (type == platform::REGISTRY_SZ || type == platform::REGISTRY_BINARY ||
                 type == platform::REGISTRY_DWORD) &&
                key.queryValue(name, readType, data) == platform::RegistryStatus::Ok &&
                readType == type;
    if (read && type == platform::REGISTRY_SZ) {
      // The text up to its first NUL; a text stored without one is taken whole.
      size_t end = 0;
      while (end < data.size() && data[end] != 0) ++end;
      option.type = TYPE_STRING;
      option.stringValue.assign(reinterpret_cast<const char*>(data.data()), end);
    } else if (read && type == platform::REGISTRY_BINARY) {
      option.type = TYPE_BINARY;
      option.binaryValue = std::move(data);
    } else if (read && type == platform::REGISTRY_DWORD && data.size() == 4) {
      // A number is four bytes; any other length is not a number the tree can keep.
      option.type = TYPE_LONG;
      option.longValue = static_cast<int32_t>(
          static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
          static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24);
    }
    insertFirst(prefix + "\\" + name, std::move(option));
  }
  if (depth >= MAX_KEY_DEPTH) return;
  for (uint32_t index = 0;; ++index) {
    std::string name;
    if (key.enumSubkey(index, name) != platform::RegistryStatus::Ok) break;
    platform::RegistryKey subkey;
    if (key.openSubkey(name, false, subkey) != platform::RegistryStatus::Ok) continue;
    std::string path = prefix + "\\" + name;
    readKey(subkey, path, depth + 1);
    Option option;
    option.type = TYPE_KEY;
    insertFirst(path + "\\", std::move(option));
  }
}

const UniversalConfMgr::Option* UniversalConfMgr::find(const char* path) const {
  if (!path) return nullptr;
  auto it = m_options.find(upperCased(path));
  return it == m_options.end() ? nullptr : &it->second;
}

bool UniversalConfMgr::getData(const char* path, std::string& out, bool throwOnError) const {
  const Option* option = find(path);
  if (option && option->type == TYPE_STRING) {
    out = option->stringValue;
    return true;
  }
  if (throwOnError)
    fail(std::string(option ? "getData( string ): niezgodny typ: "
                            : "getData(): opcja nie znaleziona: ") +
         (path ? path : ""));
  return false;
}

bool UniversalConfMgr::getDataLong(const char* path, int32_t& out, bool throwOnError) const {
  const Option* option = find(path);
  if (option && option->type == TYPE_LONG) {
    out = option->longValue;
    return true;
  }
  if (throwOnError)
    fail(std::string(option ? "getData( long ): niezgodny typ: "
                            : "getData(): opcja nie znaleziona: ") +
         (path ? path : ""));
  return false;
}

bool UniversalConfMgr::getDataBinary(const char* path, std::vector<uint8_t>& out,
                                     bool throwOnError) const {
  const Option* option = find(path);
  if (option && option->type == TYPE_BINARY) {
    out = option->binaryValue;
    return true;
  }
  if (throwOnError)
    fail(std::string(option ? "getData( binary ): niezgodny typ: "
                            : "getData(): opcja nie znaleziona: ") +
         (path ? path : ""));
  return false;
}

UniversalConfMgr::Option& UniversalConfMgr::slotForSet(const char* path) {
  checkSetPath(path);
  Option& option = m_options[upperCased(path)];
  option = Option();
  return option;
}

void UniversalConfMgr::setData(const char* path, const char* text) {
  Option& option = slotForSet(path);
  option.type = TYPE_STRING;
  if (text) option.stringValue = text;
}

void UniversalConfMgr::setDataLong(const char* path, int32_t value) {
  Option& option = slotForSet(path);
  option.type = TYPE_LONG;
  option.longValue = value;
}

void UniversalConfMgr::setDataBinary(const char* path, const uint8_t* bytes, size_t length) {
  // Checked before the option is touched, so a refused call changes nothing.
  checkSetPath(path);
  // No system text exists for this caller error; it is refused instead of read through NULL.
  if (length > 0 && !bytes)
    throw std::invalid_argument("UniversalConfMgr::setDataBinary: NULL bytes, nonzero length");
  std::vector<uint8_t> copy;
  if (length > 0) copy.assign(bytes, bytes + length);
  Option& option = slotForSet(path);
  option.type = TYPE_BINARY;
  option.binaryValue = std::move(copy);
}
