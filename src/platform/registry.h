// The registry: a tree of keys holding typed values, kept in files.
//
// Layout: every root is a folder; a key is a folder "k_<name>" holding its subkeys, its values
// (files "v_<name>") and a file "name" with the key's name as it was created. File and folder names
// are the registry names with ASCII letters in lower case, so names match without regard to case and
// one key never holds two values whose names differ only in case. A value file is
//     "TRV1", type (u32 LE), name length (u32 LE), the name as it was written, the data bytes.
// A value is written to a temporary file that then replaces the old one (rename), so a reader sees a
// value whole, old or new, never half-written, even when the writer dies.
//
// Roots: HKEY_LOCAL_MACHINE is /etc/TAL-VORIN/registry, HKEY_CURRENT_USER is
// $XDG_CONFIG_HOME/TAL-VORIN/registry (else ~/.config/TAL-VORIN/registry). When the environment
// variable TALVORIN_REGISTRY_ROOT names an absolute folder, both roots lie in it instead, as
// "HKEY_LOCAL_MACHINE" and "HKEY_CURRENT_USER". The other predefined roots do not exist here.
// Both variables are ignored in a set-user-id or set-group-id process (secure_getenv).
//
// A value write first removes the temporary files that writers killed in mid-write left in the
// key's folder, and syncs the folder after its rename.
#pragma once

#include "platform/registryroot.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Value types, numbered as the registry numbers them; any other number is kept as it is.
const uint32_t REGISTRY_NONE = 0;
const uint32_t REGISTRY_SZ = 1;
const uint32_t REGISTRY_EXPAND_SZ = 2;
const uint32_t REGISTRY_BINARY = 3;
const uint32_t REGISTRY_DWORD = 4;
const uint32_t REGISTRY_MULTI_SZ = 7;
const uint32_t REGISTRY_QWORD = 11;

// The environment variable that moves both roots under one folder (tests, sandboxes).
const char* const REGISTRY_ROOT_VARIABLE = "TALVORIN_REGISTRY_ROOT";

enum class RegistryStatus {
  Ok,
  NotFound,      // the key or value does not exist
  NoMoreItems,   // an enumeration index past the last entry
  AccessDenied,  // a write on a key opened for reading, or the file system refuses
  InvalidName,   // a name with "..", "/" or NUL, an empty key name, or one too long
  TooLarge,      // a value over the size a value may have
  Failed,        // an input/output failure or a damaged value file
};

// Longest key or value name, in bytes.
const size_t REGISTRY_MAX_NAME = 250;
// Largest value, in bytes.
const size_t REGISTRY_MAX_VALUE = 16u * 1024 * 1024;

// The folder of a root; false for the roots that do not exist here.
bool registryRootFolder(RegistryRoot root, std::string& out);

// An open key. Movable, not copyable; closes itself.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key; path is the key names separated by '\' (one trailing '\' and an
  // empty path, the root itself, are allowed).
  RegistryStatus open(RegistryRoot root, const std::string& path, bool writeAccess);
  // Opens a subkey of this key with the same rules.
  RegistryStatus openSubkey(const std::string& path, bool writeAccess, RegistryKey& out) const;
  // Opens a key for writing, creating it and the keys above it when missing.
  RegistryStatus create(RegistryRoot root, const std::string& path);

  bool isOpen() const { return dirFd >= 0; }
  void close();

  // Values and subkeys by index from 0, in a fixed order; index 0 (or the first call) takes a
  // fresh listing, the following indexes walk that listing. NoMoreItems after the last one.
  RegistryStatus enumValue(uint32_t index, std::string& name, uint32_t& type);
  RegistryStatus enumSubkey(uint32_t index, std::string& name);

  RegistryStatus queryValue(const std::string& name, uint32_t& type,
                            std::vector<uint8_t>& data) const;
  RegistryStatus setValue(const std::string& name, uint32_t type, const void* data, size_t length);
  RegistryStatus deleteValue(const std::string& name);
  // Deletes a subkey that has no subkeys of its own (its values go with it).
  RegistryStatus deleteSubkey(const std::string& name);

 private:
  RegistryStatus openPath(int startFd, const std::string& path, bool writeAccess,
                          bool createMissing, RegistryKey& out) const;

  int dirFd = -1;
  bool writable = false;
  bool privateTree = false;  // the current user's tree: files readable by the owner only
  std::vector<std::string> valueListing;
  std::vector<std::string> subkeyListing;
};

}  // namespace platform
