// A registry key read whole, with all its subkeys, into a case-insensitive map from option paths to
// typed values. A snapshot: the set operations change the map, never the registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {
class RegistryKey;
}

class UniversalConfMgr {
 public:
  enum OptionType : int32_t {
    TYPE_OTHER = 0,   // a value of a type the tree does not keep: no data
    TYPE_KEY = 1,     // a subkey
    TYPE_LONG = 2,    // REG_DWORD
    TYPE_STRING = 4,  // REG_SZ
    TYPE_BINARY = 8,  // REG_BINARY
  };

  struct Option {
    int32_t type = TYPE_OTHER;
    int32_t longValue = 0;
    std::string stringValue;
    std::vector<uint8_t> binaryValue;
  };

  // Paths begin with '\': "\V" is a value of the key itself, "\S\V" a value of subkey S, "\S\"
  // the subkey S. Stored upper-cased (ASCII letters).
  using OptionMap = std::map<std::string, Option>;

  UniversalConfMgr();
  virtual ~UniversalConfMgr();

  // Replaces the contents by the tree of the key regPath (one leading '\' skipped) under
  // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER. A key that does not open leaves the tree empty.
  // Throws std::runtime_error for a NULL path or a failed enumeration.
  void load(const char* regPath, bool fromLocalMachine);

  // Typed queries: true and out set when the path holds that type; otherwise false, or with
  // throwOnError a std::runtime_error naming the mismatch or the missing option.
  bool getData(const char* path, std::string& out, bool throwOnError) const;
  bool getDataLong(const char* path, int32_t& out, bool throwOnError) const;
  bool getDataBinary(const char* path, std::vector<uint8_t>& out, bool throwOnError) const;

  // Overwrite (or add) an option; the path must begin with '\' (std::runtime_error otherwise).
  void setData(const char* path, const char* text);
  void setDataLong(const char* path, int32_t value);
  // NULL bytes with a nonzero length: std::invalid_argument, nothing changed.
  void setDataBinary(const char* path, const uint8_t* bytes, size_t length);

  void clear();
  // The whole tree, for the users that write it back to the registry.
  const OptionMap& options() const { return m_options; }

 private:
  void readKey(platform::RegistryKey& key, const std::string& prefix, int depth);
  void insertFirst(const std::string& path, Option&& option);
  const Option* find(const char* path) const;
  Option& slotForSet(const char* path);

  OptionMap m_options;
};
