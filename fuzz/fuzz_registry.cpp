// libFuzzer target over the registry files and the option tree: the first octet chooses whether the
// rest is a value file found on disk (read by a query, an enumeration and a whole-tree load) or a
// key path and value name handed to the registry (which must refuse what would leave the tree).
// Besides crashes, a value that does not read back as written, or a file made outside the tree,
// stops the run. The loaded tree is also read as a stored key profile (of its own type and of
// each profile type), which may refuse it but must not fail otherwise.
#include "api/profilestore.h"
#include "api/universalconfmgr.h"
#include "base/talexception.h"
#include "keys/talprofile.h"
#include "platform/registry.h"

#include "removedatexit.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string root;

void require(bool ok) {
  if (!ok) std::abort();
}

void setUp() {
  if (!root.empty()) return;
  char pattern[] = "/tmp/tal-fuzz-registry-XXXXXX";
  require(::mkdtemp(pattern) != nullptr);
  root = scratchfiles::removedAtExit(pattern);
  ::setenv(platform::REGISTRY_ROOT_VARIABLE, root.c_str(), 1);
}

void readWholeTree() {
  UniversalConfMgr tree;
  try {
    tree.load("\\A\\", true);
  } catch (const std::exception&) {
  }
  std::string text;
  int32_t number = 0;
  tree.getData("\\X", text, false);
  tree.getDataLong("\\X", number, false);
  for (int32_t type : {0, TALPROFILE_PKCS12, TALPROFILE_OSTRA, TALPROFILE_PKCS11, TALPROFILE_MEMORY}) {
    if (type != 0) tree.setDataLong("\\ProfileType", type);
    try {
      delete profileFromTree(tree);
    } catch (const TalException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setUp();
  if (size < 1) return 0;
  std::filesystem::remove_all(root + "/HKEY_LOCAL_MACHINE");
  platform::RegistryKey key;
  require(key.create(platform::RegistryRoot::LocalMachine, "A") == platform::RegistryStatus::Ok);
  const uint8_t* rest = data + 1;
  size_t length = size - 1;

  if (data[0] % 2 == 0) {
    // A value file as a stranger left it.
    std::string path = root + "/HKEY_LOCAL_MACHINE/k_a/v_x";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    require(fd >= 0);
    require(::write(fd, rest, length) == static_cast<ssize_t>(length));
    ::close(fd);
    uint32_t type = 0;
    std::vector<uint8_t> value;
    key.queryValue("X", type, value);
    std::string name;
    for (uint32_t i = 0; key.enumValue(i, name, type) == platform::RegistryStatus::Ok; ++i) {
    }
    readWholeTree();
    return 0;
  }

  // A key path, then a value name, separated by the first NUL.
  const char* text = reinterpret_cast<const char*>(rest);
  const void* nul = std::memchr(rest, 0, length);
  size_t pathLength = nul ? static_cast<const uint8_t*>(nul) - rest : length;
  std::string path(text, pathLength);
  std::string valueName =
      nul ? std::string(text + pathLength + 1, length - pathLength - 1) : std::string("v");
  platform::RegistryKey sub;
  if (sub.create(platform::RegistryRoot::LocalMachine, "A\\" + path) ==
      platform::RegistryStatus::Ok) {
    const char payload[] = "payload";
    if (sub.setValue(valueName, platform::REGISTRY_SZ, payload, sizeof payload) ==
        platform::RegistryStatus::Ok) {
      uint32_t type = 0;
      std::vector<uint8_t> value;
      require(sub.queryValue(valueName, type, value) == platform::RegistryStatus::Ok);
      require(type == platform::REGISTRY_SZ && value.size() == sizeof payload &&
              std::memcmp(value.data(), payload, sizeof payload) == 0);
    }
  }
  readWholeTree();
  // Nothing appears beside the roots.
  for (const auto& entry : std::filesystem::directory_iterator(root))
    require(entry.path().filename() == "HKEY_LOCAL_MACHINE");
  return 0;
}
