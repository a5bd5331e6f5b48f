// The registry's calls into the C library, seen by replacing two of them in this program: the
// environment is read with secure_getenv (a set-user-id caller cannot move the tree), and a value
// write syncs the key's folder after its rename.
#include "platform/registry.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {
std::mutex fakeLock;
bool fakeActive = false;
std::map<std::string, std::string> secureValues;  // what secure_getenv answers while active
std::vector<int> syncedFolders;
}  // namespace

extern "C" char* secure_getenv(const char* name) noexcept {
  std::lock_guard<std::mutex> guard(fakeLock);
  if (!fakeActive) return ::getenv(name);
  auto it = secureValues.find(name);
  return it == secureValues.end() ? nullptr : const_cast<char*>(it->second.c_str());
}

extern "C" int fsync(int fd) {
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    std::lock_guard<std::mutex> guard(fakeLock);
    syncedFolders.push_back(static_cast<int>(st.st_ino));
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

struct FakeOn {
  FakeOn() {
    std::lock_guard<std::mutex> guard(fakeLock);
    fakeActive = true;
  }
  ~FakeOn() {
    std::lock_guard<std::mutex> guard(fakeLock);
    fakeActive = false;
    secureValues.clear();
  }
};

// A process with raised privileges sees no variables through secure_getenv: the roots stay where
// they are, whatever getenv says.
TEST(RegistryInterposed, RootsFollowSecureGetenvOnly) {
  SavedVariable a(platform::REGISTRY_ROOT_VARIABLE), b("XDG_CONFIG_HOME"), c("HOME");
  ::setenv(platform::REGISTRY_ROOT_VARIABLE, "/moved-by-caller", 1);
  ::setenv("XDG_CONFIG_HOME", "/xdg-by-caller", 1);
  ::setenv("HOME", "/home/u", 1);
  FakeOn on;
  std::string folder;
  ASSERT_TRUE(platform::registryRootFolder(platform::RegistryRoot::LocalMachine, folder));
  EXPECT_EQ("/etc/TAL-VORIN/registry", folder);
  ASSERT_TRUE(platform::registryRootFolder(platform::RegistryRoot::CurrentUser, folder));
  EXPECT_EQ("/home/u/.config/TAL-VORIN/registry", folder);
  {
    std::lock_guard<std::mutex> guard(fakeLock);
    secureValues[platform::REGISTRY_ROOT_VARIABLE] = "/trusted";
  }
  ASSERT_TRUE(platform::registryRootFolder(platform::RegistryRoot::LocalMachine, folder));
  EXPECT_EQ("/trusted/HKEY_LOCAL_MACHINE", folder);
}

class RegistrySync : public RegistrySandbox {};

TEST_F(RegistrySync, FolderSyncedAfterEveryRename) {
  platform::RegistryKey key;
  {
    std::lock_guard<std::mutex> guard(fakeLock);
    syncedFolders.clear();
  }
  ASSERT_EQ(platform::RegistryStatus::Ok,
            key.create(platform::RegistryRoot::CurrentUser, "Software\\Synced"));
  struct stat parent, own;
  ASSERT_EQ(0, ::stat((root + "/HKEY_CURRENT_USER/k_software").c_str(), &parent));
  ASSERT_EQ(0, ::stat((root + "/HKEY_CURRENT_USER/k_software/k_synced").c_str(), &own));
  std::vector<int> seen;
  {
    std::lock_guard<std::mutex> guard(fakeLock);
    seen.swap(syncedFolders);
  }
  EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), static_cast<int>(parent.st_ino)))
      << "a new key's name is synced in its parent";
  ASSERT_EQ(platform::RegistryStatus::Ok, key.setValue("V", platform::REGISTRY_SZ, "a", 1));
  {
    std::lock_guard<std::mutex> guard(fakeLock);
    seen.swap(syncedFolders);
  }
  EXPECT_EQ(std::vector<int>{static_cast<int>(own.st_ino)}, seen);
}

}  // namespace
