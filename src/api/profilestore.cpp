#include "api/profilestore.h"

#include "api/universalconfmgr.h"
#include "base/talexception.h"
#include "keys/secretblock.h"
#include "keys/talprofile.h"
#include "platform/registry.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

const char* const PROFILE_REGISTRY_KEY = "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9\\Profiles";

namespace {

struct Setting {
  const char* name;
  int32_t attribute;
};
const Setting SETTINGS[] = {
    {"ProfileName", 0},         {"PKCS11Library", 3},  {"ReaderName", 5},
    {"KeyLabel", 6},            {"Pkcs12File", 9},     {"Text14", 14},
    {"Text15", 15},             {"ProfilePath", 16},   {"DbType", 17},
    {"ExternalSigningPin", 21}, {"ExternalDecryptionPin", 22},
    {"Pkcs11Flag27", 27},       {"Pkcs12Data", 30},    {"Pkcs11Flag32", 32},
    {"Pkcs11Flag34", 34},       {"Flag37", 37},
};
const char* const TYPE_VALUE = "ProfileType";
const char* const PROXY_ADDRESS = "ProxyAddress";
const char* const PROXY_PORT = "ProxyPort";
const char* const PROXY_LOGIN = "ProxyLogin";
const char* const PROXY_PASSWORD = "ProxyPassword";
const char* const PARAMETERS = "Parameters";
const int32_t ATTR_NAME = 0;
const int32_t ATTR_TYPE = 1;

std::string path(const std::string& name) { return "\\" + name; }
std::string parameterPath(const std::string& name) {
  return path(PARAMETERS) + "\\" + name;
}

// The octets of a text attribute: its text and one terminating zero, as the C API's callers
// pass it.
bool isText(const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || bytes.back() != 0) return false;
  return std::memchr(bytes.data(), 0, bytes.size() - 1) == nullptr;
}

// The attribute's value when the profile holds one (answer 0): false for the others.
bool attributeValue(const TalProfile& profile, int32_t number, std::vector<uint8_t>& out) {
  size_t length = 0;
  if (profile.getAttribute(number, nullptr, &length) != PROFILE_ATTR_OK) return false;
  out.assign(length, 0);
  return profile.getAttribute(number, out.data(), &length) == PROFILE_ATTR_OK;
}

std::string nameOf(const TalProfile& profile) {
  std::vector<uint8_t> bytes;
  if (!attributeValue(profile, ATTR_NAME, bytes)) return std::string();
  std::string name(bytes.begin(), bytes.end());
  return name.substr(0, name.find('\0'));
}

std::string lowerCased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One option of the tree as a registry value of that name: true when written.
bool writeValue(platform::RegistryKey& key, const std::string& name,
                const UniversalConfMgr::Option& option) {
  switch (option.type) {
    case UniversalConfMgr::TYPE_LONG: {
      const uint32_t v = static_cast<uint32_t>(option.longValue);
      const uint8_t le[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                             static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
      return key.setValue(name, platform::REGISTRY_DWORD, le, 4) == platform::RegistryStatus::Ok;
    }
    case UniversalConfMgr::TYPE_STRING:
      return key.setValue(name, platform::REGISTRY_SZ, option.stringValue.c_str(),
                          option.stringValue.size() + 1) == platform::RegistryStatus::Ok;
    case UniversalConfMgr::TYPE_BINARY:
      return key.setValue(name, platform::REGISTRY_BINARY, option.binaryValue.data(),
                          option.binaryValue.size()) == platform::RegistryStatus::Ok;
    default:
      return false;
  }
}

const UniversalConfMgr::Option* optionOf(const UniversalConfMgr& tree, const std::string& p) {
  std::string upper = p;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto it = tree.options().find(upper);
  return it == tree.options().end() ? nullptr : &it->second;
}

// The value named `name` of the key from the tree, or removed when the tree has none.
bool writeOrRemove(platform::RegistryKey& key, const UniversalConfMgr& tree, const char* name) {
  const UniversalConfMgr::Option* option = optionOf(tree, path(name));
  if (option) return writeValue(key, name, *option);
  platform::RegistryStatus s = key.deleteValue(name);
  return s == platform::RegistryStatus::Ok || s == platform::RegistryStatus::NotFound;
}

}  // namespace

void profileToTree(const TalProfile& profile, UniversalConfMgr& tree) {
  tree.clear();
  tree.setDataLong(path(TYPE_VALUE).c_str(), profile.type());
  std::vector<uint8_t> value;
  for (const Setting& s : SETTINGS) {
    if (!profile.isAttributeSet(s.attribute) || !attributeValue(profile, s.attribute, value))
      continue;
    const std::string p = path(s.name);
    if (profile.isIntegerAttribute(s.attribute) && value.size() == 4) {
      int32_t number = 0;
      std::memcpy(&number, value.data(), 4);
      tree.setDataLong(p.c_str(), number);
    } else if (isText(value)) {
      tree.setData(p.c_str(), reinterpret_cast<const char*>(value.data()));
    } else {
      tree.setDataBinary(p.c_str(), value.data(), value.size());
    }
    SecretBlock::wipe(value.data(), value.size());
  }
  std::string address, login, password;
  int32_t port = 0;
  profile.getProxy(address, port, login, password);
  if (!address.empty() || port != 0 || !login.empty() || !password.empty()) {
    tree.setData(path(PROXY_ADDRESS).c_str(), address.c_str());
    tree.setDataLong(path(PROXY_PORT).c_str(), port);
    tree.setData(path(PROXY_LOGIN).c_str(), login.c_str());
    tree.setData(path(PROXY_PASSWORD).c_str(), password.c_str());
  }
  SecretBlock::wipe(&password[0], password.size());
  for (const auto& parameter : profile.parameters().all())
    tree.setData(parameterPath(parameter.first).c_str(), parameter.second.c_str());
}

TalProfile* profileFromTree(const UniversalConfMgr& tree) {
  int32_t type = 0;
  if (!tree.getDataLong(path(TYPE_VALUE).c_str(), type, false)) return nullptr;
  std::unique_ptr<TalProfile> profile(createProfile(type));
  if (!profile) return nullptr;
  for (const Setting& s : SETTINGS) {
    const UniversalConfMgr::Option* option = optionOf(tree, path(s.name));
    if (!option || s.attribute == ATTR_TYPE) continue;
    std::vector<uint8_t> bytes;
    if (option->type == UniversalConfMgr::TYPE_LONG) {
      bytes.resize(4);
      std::memcpy(bytes.data(), &option->longValue, 4);
    } else if (option->type == UniversalConfMgr::TYPE_STRING) {
      bytes.assign(option->stringValue.begin(), option->stringValue.end());
      bytes.push_back(0);
    } else if (option->type == UniversalConfMgr::TYPE_BINARY) {
      bytes = option->binaryValue;
    } else {
      throw TalException(std::string("Niepoprawny typ wartości profilu: ") + s.name, 24);
    }
    const int32_t answer = profile->setAttribute(s.attribute, bytes.data(), bytes.size());
    SecretBlock::wipe(bytes.data(), bytes.size());
    if (answer != PROFILE_ATTR_OK)
      throw TalException(std::string("Niepoprawna wartość profilu: ") + s.name, 24);
  }
  std::string address, login, password;
  int32_t port = 0;
  // Each read on its own: any of the four makes a proxy.
  const bool proxy[] = {tree.getData(path(PROXY_ADDRESS).c_str(), address, false),
                        tree.getDataLong(path(PROXY_PORT).c_str(), port, false),
                        tree.getData(path(PROXY_LOGIN).c_str(), login, false),
                        tree.getData(path(PROXY_PASSWORD).c_str(), password, false)};
  if (proxy[0] || proxy[1] || proxy[2] || proxy[3])
    profile->setProxy(address.c_str(), port, login.c_str(), password.c_str());
  SecretBlock::wipe(&password[0], password.size());
  const std::string prefix = lowerCased(parameterPath(""));
  for (const auto& option : tree.options()) {
    const std::string p = lowerCased(option.first);
    if (p.size() > prefix.size() && p.compare(0, prefix.size(), prefix) == 0 &&
        option.second.type == UniversalConfMgr::TYPE_STRING)
      profile->parameters().set(p.substr(prefix.size()), option.second.stringValue);
  }
  return profile.release();
}

int32_t storeProfile(const TalProfile& profile) {
  try {
    const std::string name = nameOf(profile);
    if (name.empty() || name.find('\\') != std::string::npos) return 20;
    UniversalConfMgr tree;
    profileToTree(profile, tree);
    platform::RegistryKey key;
    platform::RegistryStatus s = key.create(platform::RegistryRoot::CurrentUser,
                                            std::string(PROFILE_REGISTRY_KEY) + "\\" + name);
    if (s == platform::RegistryStatus::InvalidName) return 20;
    if (s != platform::RegistryStatus::Ok) return 24;
    if (!writeOrRemove(key, tree, TYPE_VALUE)) return 24;
    for (const Setting& setting : SETTINGS)
      if (!writeOrRemove(key, tree, setting.name)) return 24;
    for (const char* proxy : {PROXY_ADDRESS, PROXY_PORT, PROXY_LOGIN, PROXY_PASSWORD})
      if (!writeOrRemove(key, tree, proxy)) return 24;
    // The parameters: the subkey written anew.
    s = key.deleteSubkey(PARAMETERS);
    if (s != platform::RegistryStatus::Ok && s != platform::RegistryStatus::NotFound) return 24;
    const std::string prefix = lowerCased(parameterPath(""));
    platform::RegistryKey parameters;
    for (const auto& option : tree.options()) {
      const std::string p = lowerCased(option.first);
      if (p.size() <= prefix.size() || p.compare(0, prefix.size(), prefix) != 0) continue;
      if (!parameters.isOpen() &&
          parameters.create(platform::RegistryRoot::CurrentUser,
                            std::string(PROFILE_REGISTRY_KEY) + "\\" + name + "\\" + PARAMETERS) !=
              platform::RegistryStatus::Ok)
        return 24;
      if (!writeValue(parameters, p.substr(prefix.size()), option.second)) return 24;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return 100;
  }
}

TalProfile* loadStoredProfile(const std::string& name) {
  if (name.empty() || name.find('\\') != std::string::npos) return nullptr;
  UniversalConfMgr tree;
  tree.load((std::string(PROFILE_REGISTRY_KEY) + "\\" + name).c_str(), false);
  return profileFromTree(tree);
}
