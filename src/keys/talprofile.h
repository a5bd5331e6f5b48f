// Key profiles: where the keys of a library context come from (a PKCS#12 file, the hardware
// device, a PKCS#11 token or memory) and the settings that go with them, as numbered attributes.
//
// Attributes are stored as the caller's bytes. Answers of the getter:
//   0   the value (or only its length when the buffer is NULL)
//   33  an attribute this profile does not have, or bad arguments
//   34  the buffer is too short; the length needed is stored
//   37  not set: the default value is handed out
//   38  not set and no default
// Numbers: 0 name, 1 type (read only, 4 bytes), 3 PKCS#11 module path, 5 and 6 PKCS#11 token
// and key labels, 9 PKCS#12 file path, 14 and 15 texts, 16 profile path (also the parameter
// "db": the file-backed database's directory), 17 database type (also the parameter "dbtype"),
// 21 and 22 external PIN entry for signing and decryption (4 bytes, default 0), 27, 32, 34
// PKCS#11 flags (4 bytes), 30 PKCS#12 file bytes, 37 a flag (4 bytes).
#pragma once

#include "base/livehandles.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

const int32_t TALPROFILE_PKCS12 = 1;
const int32_t TALPROFILE_OSTRA = 3;
const int32_t TALPROFILE_PKCS11 = 5;
const int32_t TALPROFILE_MEMORY = 7;

const int32_t PROFILE_ATTR_OK = 0;
const int32_t PROFILE_ATTR_INVALID = 33;
const int32_t PROFILE_ATTR_SHORT_BUFFER = 34;
const int32_t PROFILE_ATTR_DEFAULT = 37;
const int32_t PROFILE_ATTR_NO_VALUE = 38;

// Named settings of a profile read by other services (the database's "dbtype", "dbname").
class ProfileParameters {
 public:
  void set(const std::string& name, const std::string& value) { values[name] = value; }
  bool get(const std::string& name, std::string& value) const;
  const std::map<std::string, std::string>& all() const { return values; }

 private:
  std::map<std::string, std::string> values;
};

// One configured server of a profile and the iterator the C API hands out over them.
struct ProfileServer {
  int32_t kind;
  std::string url;
};
struct ServerIterator {
  std::vector<ProfileServer> servers;
  size_t next = 0;
};

class TalProfile {
 public:
  static const size_t MAGIC_LENGTH = 20;
  static const char MAGIC[MAGIC_LENGTH + 1];

  virtual ~TalProfile();
  virtual int32_t type() const = 0;
  // A copy of the same class.
  virtual TalProfile* clone() const = 0;

  // 0, or 33 for an attribute the profile lacks, a read-only one, a NULL value with a length,
  // or a 4-byte attribute given another length.
  int32_t setAttribute(int32_t number, const void* value, size_t length);
  int32_t getAttribute(int32_t number, void* buffer, size_t* length) const;
  // Whether the caller set the attribute (a getter's answer 0 may also be an unset default).
  bool isAttributeSet(int32_t number) const { return attributes.count(number) != 0; }
  // Whether the attribute is one of this profile's 4-byte integers.
  bool isIntegerAttribute(int32_t number) const {
    const AttributeRule* r = rule(number);
    return r && r->kind == Kind::Integer;
  }

  // A handle is a profile when it names a live profile object (every profile is enlisted as a
  // live handle while it lives, so a foreign or freed pointer is never read) whose bytes behind
  // the object header are the magic. holdHandle holds it for the caller's call (empty for
  // anything else): no other thread frees it meanwhile.
  static bool isValidHandle(const void* handle);
  static HandleHold holdHandle(const void* handle);
  // A library context takes the profile (talInitEx): the caller's handle can no longer delete
  // it. False when a context took it already (of two takers at once, one gets it).
  bool markHeldByContext() { return !heldByContext.exchange(true); }
  bool isHeldByContext() const { return heldByContext.load(); }
  // The calls through the caller's handle take turns under callLock until a context takes the
  // profile; from then on under that context's own lock, since the context reads the profile
  // under it. takenBy names that context (its handle, null before); it is set once, under
  // callLock, before the context first reads the profile, and read under callLock.
  std::mutex& callLock() const { return calls; }
  const void* takenBy() const { return takingContext; }
  void setTakenBy(const void* context) { takingContext = context; }

  // NULL texts are kept as empty ones.
  void setProxy(const char* address, int32_t port, const char* login, const char* password);
  void getProxy(std::string& address, int32_t& port, std::string& login,
                std::string& password) const;

  void addExtKeyUsage(const std::string& oid, const std::string& name);
  size_t getExtKeyUsageCount() const { return extKeyUsages.size(); }
  // TalException "Niepoprawny indeks" (code 20) for an index out of range.
  void getExtKeyUsage(size_t index, std::string& oid, std::string& name) const;

  ProfileParameters& parameters() { return params; }
  const ProfileParameters& parameters() const { return params; }

  void addServer(int32_t kind, const std::string& url);
  // A new iterator over the servers of the kind (0: all), released with destroyServerList.
  ServerIterator* createServerIterator(int32_t kind) const;
  // False, freeing nothing, for a pointer that is no live iterator.
  static bool destroyServerList(ServerIterator* iterator);

 protected:
  TalProfile();
  TalProfile(const TalProfile& other);
  TalProfile& operator=(const TalProfile&) = delete;

  enum class Kind { Bytes, Integer };
  enum class Unset { NoValue, Empty, DefaultZero, ZeroAnswered };
  struct AttributeRule {
    Kind kind;
    Unset unset;
  };
  // The rule of an attribute of this class, NULL when it has none.
  virtual const AttributeRule* rule(int32_t number) const;
  static const AttributeRule* commonRule(int32_t number);

 private:
  // First data member: right behind the object header, where isValidHandle looks.
  char magic[MAGIC_LENGTH + 1];
  ProfileParameters params;
  std::map<int32_t, std::vector<uint8_t>> attributes;
  std::string proxyAddress, proxyLogin, proxyPassword;
  int32_t proxyPort = 0;
  std::vector<std::pair<std::string, std::string>> extKeyUsages;
  std::vector<ProfileServer> servers;
  std::atomic<bool> heldByContext{false};
  mutable std::mutex calls;
  const void* takingContext = nullptr;
};

// Deletes a profile once no call of another thread reads it: the handle is dropped before the
// object starts to go.
struct TalProfileDelete {
  void operator()(TalProfile* profile) const;
};
using TalProfilePtr = std::unique_ptr<TalProfile, TalProfileDelete>;

// Keys in memory: no device and no file; what a verifier without keys uses.
class MemoryProfile : public TalProfile {
 public:
  MemoryProfile() = default;
  MemoryProfile(const MemoryProfile& other) = default;
  int32_t type() const override { return TALPROFILE_MEMORY; }
  TalProfile* clone() const override { return new MemoryProfile(*this); }
};

// A PKCS#12 file (its path, or its bytes held in memory).
class Pkcs12Profile : public TalProfile {
 public:
  Pkcs12Profile() = default;
  Pkcs12Profile(const Pkcs12Profile& other) = default;
  int32_t type() const override { return TALPROFILE_PKCS12; }
  TalProfile* clone() const override { return new Pkcs12Profile(*this); }

 protected:
  const AttributeRule* rule(int32_t number) const override;
};

// A PKCS#11 token through its module.
class Pkcs11Profile : public TalProfile {
 public:
  Pkcs11Profile() = default;
  Pkcs11Profile(const Pkcs11Profile& other) = default;
  int32_t type() const override { return TALPROFILE_PKCS11; }
  TalProfile* clone() const override { return new Pkcs11Profile(*this); }

 protected:
  const AttributeRule* rule(int32_t number) const override;
};

// The hardware device (absent on this system).
class Ostra23Profile : public TalProfile {
 public:
  Ostra23Profile() = default;
  Ostra23Profile(const Ostra23Profile& other) = default;
  int32_t type() const override { return TALPROFILE_OSTRA; }
  TalProfile* clone() const override { return new Ostra23Profile(*this); }
};

// A new profile of a type (1, 3, 5, 7); NULL for any other.
TalProfile* createProfile(int32_t type);
