#include "api/universalconfmgr.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryStatus;

namespace {

const char* const KEY = "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9";

class ConfTree : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv(platform::REGISTRY_ROOT_VARIABLE);
    if (old) saved = old;
    hadSaved = old != nullptr;
    char pattern[] = "/tmp/tal-conftree-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    root = pattern;
    ::setenv(platform::REGISTRY_ROOT_VARIABLE, root.c_str(), 1);
  }
  void TearDown() override {
    std::filesystem::remove_all(root);
    if (hadSaved)
      ::setenv(platform::REGISTRY_ROOT_VARIABLE, saved.c_str(), 1);
    else
      ::unsetenv(platform::REGISTRY_ROOT_VARIABLE);
  }

  void put(RegistryRoot where, const std::string& key, const std::string& name, uint32_t type,
           const std::string& data) {
    RegistryKey k;
    ASSERT_EQ(RegistryStatus::Ok, k.create(where, key));
    ASSERT_EQ(RegistryStatus::Ok, k.setValue(name, type, data.data(), data.size())) << name;
  }

  std::string root, saved;
  bool hadSaved = false;
};

std::string thrownText(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

TEST_F(ConfTree, LoadReadsEveryTypeOfTheWholeTree) {
  const std::string key = KEY;
  put(RegistryRoot::LocalMachine, key, "LogOutput", platform::REGISTRY_DWORD,
      std::string("\2\0\0\0", 4));
  put(RegistryRoot::LocalMachine, key, "Negative", platform::REGISTRY_DWORD, "\xfe\xff\xff\xff");
  put(RegistryRoot::LocalMachine, key, "LogFileName", platform::REGISTRY_SZ,
      std::string("/var/log/t.log\0", 15));
  put(RegistryRoot::LocalMachine, key, "NoTerminator", platform::REGISTRY_SZ, "abc");
  put(RegistryRoot::LocalMachine, key, "Embedded", platform::REGISTRY_SZ,
      std::string("ab\0cd\0", 6));
  put(RegistryRoot::LocalMachine, key, "Blob", platform::REGISTRY_BINARY,
      std::string("\0\1\xff", 3));
  put(RegistryRoot::LocalMachine, key, "EmptyBlob", platform::REGISTRY_BINARY, "");
  put(RegistryRoot::LocalMachine, key, "Expand", platform::REGISTRY_EXPAND_SZ,
      std::string("%X%\0", 4));
  put(RegistryRoot::LocalMachine, key, "Multi", platform::REGISTRY_MULTI_SZ,
      std::string("a\0b\0\0", 5));
  put(RegistryRoot::LocalMachine, key, "ShortNumber", platform::REGISTRY_DWORD,
      std::string("\7\0", 2));
  put(RegistryRoot::LocalMachine, key + "\\Sub", "Inner", platform::REGISTRY_DWORD,
      std::string("\7\0\0\0", 4));
  put(RegistryRoot::LocalMachine, key + "\\Sub\\Deeper", "Leaf", platform::REGISTRY_SZ, "leaf");
  put(RegistryRoot::LocalMachine, key + "\\Empty", "", platform::REGISTRY_NONE, "");

  UniversalConfMgr tree;
  tree.setDataLong("\\STALE", 1);  // load replaces what was there
  tree.load((std::string("\\") + KEY + "\\").c_str(), true);
  int32_t stale = 0;
  EXPECT_FALSE(tree.getDataLong("\\STALE", stale, false));

  struct Row {
    const char* path;
    int32_t type;
    int32_t number;
    std::string text;
  };
  const Row rows[] = {
      {"\\logoutput", UniversalConfMgr::TYPE_LONG, 2, ""},
      {"\\NEGATIVE", UniversalConfMgr::TYPE_LONG, -2, ""},
      {"\\LogFileName", UniversalConfMgr::TYPE_STRING, 0, "/var/log/t.log"},
      {"\\NoTerminator", UniversalConfMgr::TYPE_STRING, 0, "abc"},
      {"\\Embedded", UniversalConfMgr::TYPE_STRING, 0, "ab"},
      {"\\Blob", UniversalConfMgr::TYPE_BINARY, 0, std::string("\0\1\xff", 3)},
      {"\\EmptyBlob", UniversalConfMgr::TYPE_BINARY, 0, ""},
      {"\\Expand", UniversalConfMgr::TYPE_OTHER, 0, ""},
      {"\\Multi", UniversalConfMgr::TYPE_OTHER, 0, ""},
      {"\\ShortNumber", UniversalConfMgr::TYPE_OTHER, 0, ""},
      {"\\Sub\\", UniversalConfMgr::TYPE_KEY, 0, ""},
      {"\\sub\\inner", UniversalConfMgr::TYPE_LONG, 7, ""},
      {"\\SUB\\DEEPER\\", UniversalConfMgr::TYPE_KEY, 0, ""},
      {"\\Sub\\Deeper\\Leaf", UniversalConfMgr::TYPE_STRING, 0, "leaf"},
      {"\\EMPTY\\", UniversalConfMgr::TYPE_OTHER, 0,
       ""},  // the empty key's unnamed value came first
  };
  EXPECT_EQ(sizeof rows / sizeof rows[0], tree.options().size());
  for (const Row& row : rows) {
    std::string upper;
    for (const char* p = row.path; *p; ++p)
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    ASSERT_EQ(1u, tree.options().count(upper)) << row.path;
    EXPECT_EQ(row.type, tree.options().at(upper).type) << row.path;
    int32_t number = 0;
    std::string text;
    std::vector<uint8_t> blob;
    EXPECT_EQ(row.type == UniversalConfMgr::TYPE_LONG, tree.getDataLong(row.path, number, false))
        << row.path;
    EXPECT_EQ(row.type == UniversalConfMgr::TYPE_STRING, tree.getData(row.path, text, false))
        << row.path;
    EXPECT_EQ(row.type == UniversalConfMgr::TYPE_BINARY, tree.getDataBinary(row.path, blob, false))
        << row.path;
    if (row.type == UniversalConfMgr::TYPE_LONG) {
      EXPECT_EQ(row.number, number) << row.path;
    } else if (row.type == UniversalConfMgr::TYPE_STRING) {
      EXPECT_EQ(row.text, text) << row.path;
    } else if (row.type == UniversalConfMgr::TYPE_BINARY) {
      EXPECT_EQ(row.text, std::string(blob.begin(), blob.end())) << row.path;
    }
  }
}

// Two registry entries can give one path: the one read first stays.
TEST_F(ConfTree, FirstEntryWins) {
  const std::string key = KEY;
  // A value of the key named "Sub\Inner" is read before the subkey Sub and its value Inner.
  put(RegistryRoot::LocalMachine, key, "Sub\\Inner", platform::REGISTRY_DWORD,
      std::string("\1\0\0\0", 4));
  put(RegistryRoot::LocalMachine, key + "\\Sub", "Inner", platform::REGISTRY_SZ, "later");
  // The unnamed value of Sub has the path \SUB\ and comes before the subkey entry itself.
  put(RegistryRoot::LocalMachine, key + "\\Sub", "", platform::REGISTRY_SZ, "unnamed");
  // A value named "Other\" of the key is read before the subkey Other.
  put(RegistryRoot::LocalMachine, key, "Other\\", platform::REGISTRY_BINARY, "b");
  put(RegistryRoot::LocalMachine, key + "\\Other", "x", platform::REGISTRY_SZ, "x");

  UniversalConfMgr tree;
  tree.load(KEY, true);
  int32_t number = 0;
  std::string text;
  std::vector<uint8_t> blob;
  EXPECT_TRUE(tree.getDataLong("\\SUB\\INNER", number, false));
  EXPECT_EQ(1, number);
  EXPECT_TRUE(tree.getData("\\Sub\\", text, false));
  EXPECT_EQ("unnamed", text);
  EXPECT_TRUE(tree.getDataBinary("\\other\\", blob, false));
  EXPECT_TRUE(tree.getData("\\other\\x", text, false));
  EXPECT_EQ(4u, tree.options().size());  // the two subkey entries lost to values read first
}

TEST_F(ConfTree, RootsAndMissingKeys) {
  put(RegistryRoot::LocalMachine, KEY, "Where", platform::REGISTRY_SZ, "machine");
  put(RegistryRoot::CurrentUser, KEY, "Where", platform::REGISTRY_SZ, "user");
  UniversalConfMgr tree;
  std::string text;
  tree.load(KEY, false);
  ASSERT_TRUE(tree.getData("\\where", text, true));
  EXPECT_EQ("user", text);
  tree.load(KEY, true);
  ASSERT_TRUE(tree.getData("\\where", text, true));
  EXPECT_EQ("machine", text);

  tree.load("\\SOFTWARE\\NOWHERE", true);
  EXPECT_TRUE(tree.options().empty());
  EXPECT_FALSE(tree.getData("\\where", text, false));
  EXPECT_EQ("getData(): opcja nie znaleziona: \\Where",
            thrownText([&] { tree.getData("\\Where", text, true); }));
  // A name the registry refuses is a key that does not open.
  tree.load("\\SOFTWARE\\..\\x", true);
  EXPECT_TRUE(tree.options().empty());
  EXPECT_EQ("Parametr regPath nie może być NULL", thrownText([&] { tree.load(nullptr, true); }));
}

TEST_F(ConfTree, TypedQueriesAndSetters) {
  UniversalConfMgr tree;
  const uint8_t blob[] = {0, 1, 2};
  tree.setData("\\Text", "value");
  tree.setData("\\NullText", nullptr);
  tree.setDataLong("\\Number", 42);
  tree.setDataBinary("\\Blob", blob, sizeof blob);
  tree.setDataBinary("\\EmptyBlob", nullptr, 0);

  std::string text = "unchanged";
  int32_t number = -1;
  std::vector<uint8_t> bytes;
  struct Mismatch {
    const char* path;
    std::function<bool(bool)> get;
    const char* message;
  };
  const Mismatch rows[] = {
      {"\\number", [&](bool t) { return tree.getData("\\number", text, t); },
       "getData( string ): niezgodny typ: \\number"},
      {"\\text", [&](bool t) { return tree.getDataLong("\\text", number, t); },
       "getData( long ): niezgodny typ: \\text"},
      {"\\Text", [&](bool t) { return tree.getDataBinary("\\Text", bytes, t); },
       "getData( binary ): niezgodny typ: \\Text"},
      {"\\none", [&](bool t) { return tree.getDataLong("\\none", number, t); },
       "getData(): opcja nie znaleziona: \\none"},
  };
  for (const Mismatch& row : rows) {
    EXPECT_FALSE(row.get(false)) << row.path;
    EXPECT_EQ(row.message, thrownText([&] { row.get(true); })) << row.path;
  }
  EXPECT_EQ("unchanged", text);
  EXPECT_EQ(-1, number);

  EXPECT_TRUE(tree.getData("\\nulltext", text, true));
  EXPECT_EQ("", text);
  EXPECT_TRUE(tree.getDataBinary("\\BLOB", bytes, true));
  EXPECT_EQ(std::vector<uint8_t>(blob, blob + 3), bytes);
  EXPECT_TRUE(tree.getDataBinary("\\EmptyBlob", bytes, true));
  EXPECT_TRUE(bytes.empty());

  // A set overwrites the whole option, whatever type it held.
  tree.setDataLong("\\TEXT", 5);
  EXPECT_FALSE(tree.getData("\\text", text, false));
  EXPECT_TRUE(tree.getDataLong("\\text", number, false));
  EXPECT_EQ(5, number);
  EXPECT_EQ("", tree.options().at("\\TEXT").stringValue);

  EXPECT_EQ("parametr path nie moze byc NULL", thrownText([&] { tree.setData(nullptr, "x"); }));
  EXPECT_EQ("parametr path musi zaczynac sie znakiem \\",
            thrownText([&] { tree.setDataLong("", 1); }));
  EXPECT_EQ("parametr path musi zaczynac sie znakiem \\",
            thrownText([&] { tree.setDataLong("x\\", 1); }));
  EXPECT_NE("(nothing thrown)", thrownText([&] { tree.setDataBinary("\\Number", nullptr, 4); }));
  EXPECT_TRUE(tree.getDataLong("\\Number", number, false));  // the refused set changed nothing
  EXPECT_EQ(42, number);
  EXPECT_FALSE(tree.getData(nullptr, text, false));
}

}  // namespace
