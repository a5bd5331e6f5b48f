#include "keys/talprofile.h"

#include "base/livehandles.h"
#include "base/talexception.h"
#include "keys/secretblock.h"

#include <cstring>

const char TalProfile::MAGIC[TalProfile::MAGIC_LENGTH + 1] = "TalVorinProfile#3.9!";

namespace {
const int32_t ATTR_TYPE = 1;

// Every profile is a live handle, so that a handle check never reads memory behind a
// stranger's pointer.
void enlist(const void* profile) { enlistHandle(profile, HandleKind::Profile); }
const int32_t ATTR_DATABASE_PATH = 16;
const int32_t ATTR_DATABASE_TYPE = 17;
}  // namespace

bool ProfileParameters::get(const std::string& name, std::string& value) const {
  auto it = values.find(name);
  if (it == values.end()) return false;
  value = it->second;
  return true;
}

TalProfile::TalProfile() {
  std::memcpy(magic, MAGIC, sizeof magic);
  enlist(this);
}

TalProfile::TalProfile(const TalProfile& other)
    : params(other.params),
      attributes(other.attributes),
      proxyAddress(other.proxyAddress),
      proxyLogin(other.proxyLogin),
      proxyPassword(other.proxyPassword),
      proxyPort(other.proxyPort),
      extKeyUsages(other.extKeyUsages),
      servers(other.servers) {
  std::memcpy(magic, MAGIC, sizeof magic);
  enlist(this);
}

TalProfile::~TalProfile() {
  // A deleted profile no longer passes the handle check (TalProfileDelete drops it sooner).
  dropHandle(this);
  // The proxy password and any attribute may be a secret.
  SecretBlock::wipe(&proxyPassword[0], proxyPassword.size());
  for (auto& attribute : attributes)
    SecretBlock::wipe(attribute.second.data(), attribute.second.size());
  SecretBlock::wipe(magic, sizeof magic);
}

void TalProfileDelete::operator()(TalProfile* profile) const {
  dropHandle(profile);
  delete profile;
}

HandleHold TalProfile::holdHandle(const void* handle) {
  // Handles are the object's address (single inheritance, no offset).
  HandleHold hold(handle, HandleKind::Profile);
  if (!hold) return hold;
  const char* bytes = static_cast<const char*>(handle) + sizeof(void*);
  // Byte by byte, stopping at the first difference.
  for (size_t i = 0; i < MAGIC_LENGTH; ++i)
    if (bytes[i] != MAGIC[i]) return HandleHold();
  return hold;
}

bool TalProfile::isValidHandle(const void* handle) { return static_cast<bool>(holdHandle(handle)); }

const TalProfile::AttributeRule* TalProfile::commonRule(int32_t number) {
  static const AttributeRule text{Kind::Bytes, Unset::NoValue};
  static const AttributeRule alwaysText{Kind::Bytes, Unset::Empty};
  static const AttributeRule integerDefault{Kind::Integer, Unset::DefaultZero};
  static const AttributeRule integerZero{Kind::Integer, Unset::ZeroAnswered};
  switch (number) {
    case 0:
    case 14:
    case 15:
      return &alwaysText;
    case 1:
    case 37:
      return &integerZero;
    case 16:
    case 17:
      return &text;
    case 21:
    case 22:
      return &integerDefault;
    default:
      return nullptr;
  }
}

const TalProfile::AttributeRule* TalProfile::rule(int32_t number) const {
  return commonRule(number);
}

const TalProfile::AttributeRule* Pkcs12Profile::rule(int32_t number) const {
  static const AttributeRule alwaysBytes{Kind::Bytes, Unset::Empty};
  if (number == 9 || number == 30) return &alwaysBytes;
  return commonRule(number);
}

const TalProfile::AttributeRule* Pkcs11Profile::rule(int32_t number) const {
  static const AttributeRule alwaysText{Kind::Bytes, Unset::Empty};
  static const AttributeRule label{Kind::Bytes, Unset::NoValue};
  static const AttributeRule flag{Kind::Integer, Unset::ZeroAnswered};
  switch (number) {
    case 3:
      return &alwaysText;
    case 5:
    case 6:
      return &label;
    case 27:
    case 32:
    case 34:
      return &flag;
    default:
      return commonRule(number);
  }
}

int32_t TalProfile::setAttribute(int32_t number, const void* value, size_t length) {
  const AttributeRule* r = rule(number);
  if (!r || number == ATTR_TYPE || (!value && length > 0)) return PROFILE_ATTR_INVALID;
  if (r->kind == Kind::Integer && length != 4) return PROFILE_ATTR_INVALID;
  const uint8_t* bytes = static_cast<const uint8_t*>(value);
  std::vector<uint8_t>& slot = attributes[number];
  SecretBlock::wipe(slot.data(), slot.size());
  slot.assign(bytes, bytes + length);
  // The profile's path is where its file-backed database lives, as its database type chooses
  // the database: the C caller's way to both parameters.
  if (number == ATTR_DATABASE_TYPE || number == ATTR_DATABASE_PATH) {
    std::string text(slot.begin(), slot.end());
    params.set(number == ATTR_DATABASE_TYPE ? "dbtype" : "db", text.substr(0, text.find('\0')));
  }
  return PROFILE_ATTR_OK;
}

int32_t TalProfile::getAttribute(int32_t number, void* buffer, size_t* length) const {
  const AttributeRule* r = rule(number);
  if (!r || !length) return PROFILE_ATTR_INVALID;
  std::vector<uint8_t> value;
  int32_t answer = PROFILE_ATTR_OK;
  auto it = attributes.find(number);
  if (number == ATTR_TYPE) {
    int32_t t = type();
    value.assign(reinterpret_cast<const uint8_t*>(&t), reinterpret_cast<const uint8_t*>(&t) + 4);
  } else if (it != attributes.end()) {
    value = it->second;
  } else {
    switch (r->unset) {
      case Unset::NoValue:
        return PROFILE_ATTR_NO_VALUE;
      case Unset::Empty:
        break;
      case Unset::DefaultZero:
        answer = PROFILE_ATTR_DEFAULT;
        value.assign(4, 0);
        break;
      case Unset::ZeroAnswered:
        value.assign(4, 0);
        break;
    }
  }
  if (buffer) {
    if (*length < value.size()) {
      *length = value.size();
      return PROFILE_ATTR_SHORT_BUFFER;
    }
    if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
  }
  *length = value.size();
  SecretBlock::wipe(value.data(), value.size());
  return answer;
}

void TalProfile::setProxy(const char* address, int32_t port, const char* login,
                          const char* password) {
  SecretBlock::wipe(&proxyPassword[0], proxyPassword.size());
  proxyAddress = address ? address : "";
  proxyPort = port;
  proxyLogin = login ? login : "";
  proxyPassword = password ? password : "";
}

void TalProfile::getProxy(std::string& address, int32_t& port, std::string& login,
                          std::string& password) const {
  address = proxyAddress;
  port = proxyPort;
  login = proxyLogin;
  password = proxyPassword;
}

void TalProfile::addExtKeyUsage(const std::string& oid, const std::string& name) {
  extKeyUsages.emplace_back(oid, name);
}

void TalProfile::getExtKeyUsage(size_t index, std::string& oid, std::string& name) const {
  if (index >= extKeyUsages.size()) throw TalException("Niepoprawny indeks", 20);
  oid = extKeyUsages[index].first;
  name = extKeyUsages[index].second;
}

void TalProfile::addServer(int32_t kind, const std::string& url) {
  servers.push_back(ProfileServer{kind, url});
}

ServerIterator* TalProfile::createServerIterator(int32_t kind) const {
  std::unique_ptr<ServerIterator> iterator(new ServerIterator);
  for (const ProfileServer& server : servers)
    if (kind == 0 || server.kind == kind) iterator->servers.push_back(server);
  enlistHandle(iterator.get(), HandleKind::ServerIterator);
  return iterator.release();
}

bool TalProfile::destroyServerList(ServerIterator* iterator) {
  // Taken off the live list in one step: of two deletes of one list, one frees it.
  if (!takeHandle(iterator, HandleKind::ServerIterator)) return false;
  delete iterator;
  return true;
}

TalProfile* createProfile(int32_t type) {
  switch (type) {
    case TALPROFILE_PKCS12:
      return new Pkcs12Profile;
    case TALPROFILE_OSTRA:
      return new Ostra23Profile;
    case TALPROFILE_PKCS11:
      return new Pkcs11Profile;
    case TALPROFILE_MEMORY:
      return new MemoryProfile;
    default:
      return nullptr;
  }
}
