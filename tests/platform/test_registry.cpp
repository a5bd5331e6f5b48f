#include "platform/registry.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryStatus;

namespace {

class Registry : public RegistrySandbox {
 protected:
  std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
  }
};

TEST(RegistryRoots, FoldersFromTheEnvironment) {
  SavedVariable a(platform::REGISTRY_ROOT_VARIABLE), b("XDG_CONFIG_HOME"), c("HOME");
  struct Row {
    const char* moved;
    const char* xdg;
    const char* home;
    RegistryRoot root;
    const char* expected;  // null: the root does not exist
  };
  const Row rows[] = {
      {nullptr, nullptr, "/home/u", RegistryRoot::LocalMachine, "/etc/TAL-VORIN/registry"},
      {nullptr, "/cfg", "/home/u", RegistryRoot::CurrentUser, "/cfg/TAL-VORIN/registry"},
      {nullptr, "relative", "/home/u", RegistryRoot::CurrentUser,
       "/home/u/.config/TAL-VORIN/registry"},
      {nullptr, nullptr, "/home/u", RegistryRoot::CurrentUser,
       "/home/u/.config/TAL-VORIN/registry"},
      {"/t", "/cfg", "/home/u", RegistryRoot::LocalMachine, "/t/HKEY_LOCAL_MACHINE"},
      {"/t", "/cfg", "/home/u", RegistryRoot::CurrentUser, "/t/HKEY_CURRENT_USER"},
      {"not-absolute", nullptr, "/home/u", RegistryRoot::LocalMachine, "/etc/TAL-VORIN/registry"},
      {"/t", nullptr, "/home/u", RegistryRoot::ClassesRoot, nullptr},
      {"/t", nullptr, "/home/u", RegistryRoot::Users, nullptr},
  };
  for (const Row& row : rows) {
    SavedVariable::put(platform::REGISTRY_ROOT_VARIABLE, row.moved);
    SavedVariable::put("XDG_CONFIG_HOME", row.xdg);
    SavedVariable::put("HOME", row.home);
    std::string folder;
    EXPECT_EQ(row.expected != nullptr, platform::registryRootFolder(row.root, folder))
        << row.expected;
    if (row.expected) {
      EXPECT_EQ(row.expected, folder);
    }
  }
}

TEST_F(Registry, EveryTypeRoundTrips) {
  struct Row {
    const char* name;
    uint32_t type;
    std::string data;
  };
  const Row rows[] = {
      {"Text", platform::REGISTRY_SZ, std::string("Za\xbf\xf3\xb3\xe6\0", 7)},
      {"EmptyText", platform::REGISTRY_SZ, ""},
      {"Expand", platform::REGISTRY_EXPAND_SZ, std::string("%HOME%\\x\0", 10)},
      {"Multi", platform::REGISTRY_MULTI_SZ, std::string("a\0bc\0\0", 6)},
      {"Number", platform::REGISTRY_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {"Quad", platform::REGISTRY_QWORD, std::string("\1\2\3\4\5\6\7\x08", 8)},
      {"Blob", platform::REGISTRY_BINARY, std::string("\0\xff\0\x80", 4)},
      {"Nothing", platform::REGISTRY_NONE, ""},
      {"Odd", 0x12345678u, "x"},
      {"", platform::REGISTRY_SZ, std::string("default\0", 8)},
      {"With\\Backslash", platform::REGISTRY_DWORD, std::string("\1\0\0\0", 4)},
  };
  RegistryKey writer;
  ASSERT_EQ(RegistryStatus::Ok,
            writer.create(RegistryRoot::LocalMachine, "SOFTWARE\\Mirval KSO\\TalVorin\\3.9"));
  for (const Row& row : rows)
    ASSERT_EQ(RegistryStatus::Ok,
              writer.setValue(row.name, row.type, row.data.data(), row.data.size()))
        << row.name;

  RegistryKey reader;
  ASSERT_EQ(RegistryStatus::Ok, reader.open(RegistryRoot::LocalMachine,
                                            "software\\MIRVAL kso\\talvorin\\3.9\\", false));
  for (const Row& row : rows) {
    uint32_t type = 0xFFFF;
    std::vector<uint8_t> data;
    ASSERT_EQ(RegistryStatus::Ok, reader.queryValue(row.name, type, data)) << row.name;
    EXPECT_EQ(row.type, type) << row.name;
    EXPECT_EQ(bytes(row.data), data) << row.name;
  }
  // Enumeration gives every value once, with the name as it was written.
  std::map<std::string, uint32_t> listed;
  std::string name;
  uint32_t type = 0;
  for (uint32_t i = 0; reader.enumValue(i, name, type) == RegistryStatus::Ok; ++i)
    listed[name] = type;
  ASSERT_EQ(sizeof rows / sizeof rows[0], listed.size());
  for (const Row& row : rows) EXPECT_EQ(row.type, listed[row.name]) << row.name;
  EXPECT_EQ(RegistryStatus::NoMoreItems,
            reader.enumValue(static_cast<uint32_t>(listed.size()), name, type));

  // The current user's tree is a different tree.
  RegistryKey user;
  EXPECT_EQ(RegistryStatus::NotFound, user.open(RegistryRoot::CurrentUser, "SOFTWARE", false));
}

// The current user's keys and values are private to the user.
TEST_F(Registry, CurrentUserTreeIsPrivate) {
  namespace fs = std::filesystem;
  RegistryKey key;
  ASSERT_EQ(RegistryStatus::Ok, key.create(RegistryRoot::CurrentUser, "A"));
  ASSERT_EQ(RegistryStatus::Ok, key.setValue("V", platform::REGISTRY_DWORD, "\2\0\0\0", 4));
  const std::string folder = root + "/HKEY_CURRENT_USER/k_a";
  EXPECT_EQ(fs::perms::owner_all, fs::status(folder).permissions() & fs::perms::all);
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
            fs::status(folder + "/v_v").permissions() & fs::perms::all);
}

TEST_F(Registry, NamesIgnoreCase) {
  RegistryKey key;
  ASSERT_EQ(RegistryStatus::Ok, key.create(RegistryRoot::LocalMachine, "Software\\Mirval"));
  ASSERT_EQ(RegistryStatus::Ok, key.setValue("LogOutput", platform::REGISTRY_DWORD, "\1\0\0\0", 4));
  ASSERT_EQ(RegistryStatus::Ok, key.setValue("LOGOUTPUT", platform::REGISTRY_DWORD, "\3\0\0\0", 4));
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(RegistryStatus::Ok, key.queryValue("logoutput", type, data));
  EXPECT_EQ(bytes(std::string("\3\0\0\0", 4)), data);
  std::string name;
  ASSERT_EQ(RegistryStatus::Ok, key.enumValue(0, name, type));
  EXPECT_EQ(RegistryStatus::NoMoreItems, key.enumValue(1, name, type));

  // A second create under another spelling reaches the same key and keeps its first spelling.
  RegistryKey again;
  ASSERT_EQ(RegistryStatus::Ok, again.create(RegistryRoot::LocalMachine, "SOFTWARE\\MIRVAL"));
  EXPECT_EQ(RegistryStatus::Ok, again.queryValue("LogOutput", type, data));
  RegistryKey software;
  ASSERT_EQ(RegistryStatus::Ok, software.open(RegistryRoot::LocalMachine, "software", false));
  ASSERT_EQ(RegistryStatus::Ok, software.enumSubkey(0, name));
  EXPECT_EQ("Mirval", name);
  EXPECT_EQ(RegistryStatus::NoMoreItems, software.enumSubkey(1, name));
}

TEST_F(Registry, RefusedNamesNeverLeaveTheTree) {
  RegistryKey key;
  ASSERT_EQ(RegistryStatus::Ok, key.create(RegistryRoot::LocalMachine, "Software"));
  const std::string values[] = {
      "..", "a..b", "a/b", "/etc", std::string("a\0b", 3), std::string(251, 'x')};
  for (const std::string& name : values) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_EQ(RegistryStatus::InvalidName, key.setValue(name, platform::REGISTRY_SZ, "x", 1))
        << name;
    EXPECT_EQ(RegistryStatus::InvalidName, key.queryValue(name, type, data)) << name;
    EXPECT_EQ(RegistryStatus::InvalidName, key.deleteValue(name)) << name;
  }
  EXPECT_EQ(RegistryStatus::Ok, key.setValue(std::string(250, 'x'), platform::REGISTRY_SZ, "x", 1));
  const std::string keys[] = {"..",  "Software\\..\\..",     "a/b",      "a\\\\b",
                              "\\a", std::string("a\0b", 3), "a\\..\\b", std::string(251, 'k')};
  for (const std::string& path : keys) {
    RegistryKey other;
    EXPECT_EQ(RegistryStatus::InvalidName, other.create(RegistryRoot::LocalMachine, path)) << path;
    EXPECT_EQ(RegistryStatus::InvalidName, other.open(RegistryRoot::LocalMachine, path, false))
        << path;
  }
  // A link planted in the tree is not followed.
  std::filesystem::create_directory(root + "/outside");
  std::filesystem::create_directory_symlink(root + "/outside",
                                            root + "/HKEY_LOCAL_MACHINE/k_software/k_evil");
  RegistryKey evil;
  EXPECT_NE(RegistryStatus::Ok, evil.create(RegistryRoot::LocalMachine, "Software\\Evil\\Deeper"));
  EXPECT_NE(RegistryStatus::Ok, evil.open(RegistryRoot::LocalMachine, "Software\\Evil", false));
  EXPECT_TRUE(std::filesystem::is_empty(root + "/outside"));
}

TEST_F(Registry, AccessAndDeletion) {
  RegistryKey writer;
  ASSERT_EQ(RegistryStatus::Ok, writer.create(RegistryRoot::LocalMachine, "A\\B\\C"));
  ASSERT_EQ(RegistryStatus::Ok, writer.setValue("v", platform::REGISTRY_SZ, "x", 1));
  RegistryKey reader;
  ASSERT_EQ(RegistryStatus::Ok, reader.open(RegistryRoot::LocalMachine, "A\\B", false));
  EXPECT_EQ(RegistryStatus::AccessDenied, reader.setValue("v", platform::REGISTRY_SZ, "y", 1));
  EXPECT_EQ(RegistryStatus::AccessDenied, reader.deleteSubkey("C"));
  RegistryKey a;
  ASSERT_EQ(RegistryStatus::Ok, a.create(RegistryRoot::LocalMachine, "A"));
  EXPECT_EQ(RegistryStatus::AccessDenied, a.deleteSubkey("B"));  // B still has a subkey
  RegistryKey b;
  ASSERT_EQ(RegistryStatus::Ok, a.openSubkey("b", true, b));
  EXPECT_EQ(RegistryStatus::Ok, b.deleteSubkey("c"));
  EXPECT_EQ(RegistryStatus::NotFound, b.deleteSubkey("c"));
  RegistryKey gone;
  EXPECT_EQ(RegistryStatus::NotFound, gone.open(RegistryRoot::LocalMachine, "A\\B\\C", false));
  EXPECT_EQ(RegistryStatus::NotFound, b.deleteValue("v"));
  // A writer that died before its rename leaves a temporary file that is no value.
  std::ofstream(root + "/HKEY_LOCAL_MACHINE/k_a/k_b/.tmpv-1-1") << "TRV1 half";
  std::string name;
  uint32_t type = 0;
  EXPECT_EQ(RegistryStatus::NoMoreItems, b.enumValue(0, name, type));
  // A damaged value file reads as a failure and lists as a value without a type.
  std::ofstream(root + "/HKEY_LOCAL_MACHINE/k_a/k_b/v_broken") << "TR";
  std::vector<uint8_t> data;
  EXPECT_EQ(RegistryStatus::Failed, b.queryValue("Broken", type, data));
  ASSERT_EQ(RegistryStatus::Ok, b.enumValue(0, name, type));
  EXPECT_EQ("broken", name);
  EXPECT_EQ(platform::REGISTRY_NONE, type);
}

// Creating keys, new or existing, and closing them leaves no descriptor open: a
// long-running process creates keys without end.
TEST_F(Registry, CreatedKeysLeaveNoDescriptorOpen) {
  auto openDescriptors = [] {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      (void)entry;
      ++n;
    }
    return n;
  };
  size_t before = openDescriptors();
  for (int i = 0; i < 50; ++i) {
    RegistryKey key;
    ASSERT_EQ(RegistryStatus::Ok,
              key.create(RegistryRoot::LocalMachine, "A\\B" + std::to_string(i % 5) + "\\C"));
    RegistryKey again;
    ASSERT_EQ(RegistryStatus::Ok, key.openSubkey("", false, again));
  }
  EXPECT_EQ(before, openDescriptors());
}

// A value rewritten again and again by another process is always read whole: old or new.
TEST_F(Registry, ConcurrentRewriteIsSeenWhole) {
  const std::string first(100000, 'A');
  const std::string second(50001, 'B');
  RegistryKey key;
  ASSERT_EQ(RegistryStatus::Ok, key.create(RegistryRoot::CurrentUser, "Software\\Race"));
  ASSERT_EQ(RegistryStatus::Ok,
            key.setValue("V", platform::REGISTRY_BINARY, first.data(), first.size()));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RegistryKey own;
    if (own.create(RegistryRoot::CurrentUser, "Software\\Race") != RegistryStatus::Ok) ::_exit(2);
    for (int i = 0; i < 200; ++i) {
      const std::string& text = (i % 2) ? first : second;
      if (own.setValue("v", platform::REGISTRY_BINARY, text.data(), text.size()) !=
          RegistryStatus::Ok)
        ::_exit(3);
    }
    ::_exit(0);
  }
  int status = 0;
  for (bool done = false; !done;) {
    done = ::waitpid(child, &status, WNOHANG) == child;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_EQ(RegistryStatus::Ok, key.queryValue("V", type, data));
    ASSERT_EQ(platform::REGISTRY_BINARY, type);
    std::string text(data.begin(), data.end());
    ASSERT_TRUE(text == first || text == second) << "read half-written: " << text.size();
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
