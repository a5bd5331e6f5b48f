#include "api/universalconfmgr.h"
#include "platform/registry.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryStatus;

namespace {

const char* const KEY = "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9";

class ConfTree : public RegistrySandbox {};

std::string thrownText(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

// Each row: a value written below KEY, then what the loaded tree answers for a path.
TEST_F(ConfTree, LoadReadsEveryTypeOfTheWholeTree) {
  using T = UniversalConfMgr;
  struct Row {
    const char* subkey;  // null: no value written (the row checks a subkey entry)
    const char* name;
    uint32_t regType;
    std::string data;
    const char* path;
    int32_t type;
    std::string expected;  // text, bytes, or the number as little-endian bytes
  };
  const std::string two("\2\0\0\0", 4);
  const Row rows[] = {
      {"", "LogOutput", platform::REGISTRY_DWORD, two, "\\logoutput", T::TYPE_LONG, two},
      {"", "Negative", platform::REGISTRY_DWORD, "\xfe\xff\xff\xff", "\\NEGATIVE", T::TYPE_LONG,
       "\xfe\xff\xff\xff"},
      {"", "Name", platform::REGISTRY_SZ, std::string("/l\0", 3), "\\Name", T::TYPE_STRING, "/l"},
      {"", "NoNul", platform::REGISTRY_SZ, "abc", "\\NoNul", T::TYPE_STRING, "abc"},
      {"", "Embedded", platform::REGISTRY_SZ, std::string("ab\0cd\0", 6), "\\Embedded",
       T::TYPE_STRING, "ab"},
      {"", "Blob", platform::REGISTRY_BINARY, std::string("\0\1\xff", 3), "\\Blob", T::TYPE_BINARY,
       std::string("\0\1\xff", 3)},
      {"", "EmptyBlob", platform::REGISTRY_BINARY, "", "\\EmptyBlob", T::TYPE_BINARY, ""},
      {"", "Expand", platform::REGISTRY_EXPAND_SZ, std::string("%X%\0", 4), "\\Expand",
       T::TYPE_OTHER, ""},
      {"", "Multi", platform::REGISTRY_MULTI_SZ, std::string("a\0\0", 3), "\\Multi", T::TYPE_OTHER,
       ""},
      {"", "Short", platform::REGISTRY_DWORD, std::string("\7\0", 2), "\\Short", T::TYPE_OTHER, ""},
      {"\\Sub", "Inner", platform::REGISTRY_DWORD, two, "\\sub\\inner", T::TYPE_LONG, two},
      {nullptr, nullptr, 0, "", "\\Sub\\", T::TYPE_KEY, ""},
      {"\\Sub\\Deeper", "Leaf", platform::REGISTRY_SZ, "leaf", "\\Sub\\Deeper\\Leaf",
       T::TYPE_STRING, "leaf"},
      {nullptr, nullptr, 0, "", "\\SUB\\DEEPER\\", T::TYPE_KEY, ""},
      // The empty key's unnamed value is read before the key's own entry.
      {"\\Empty", "", platform::REGISTRY_NONE, "", "\\EMPTY\\", T::TYPE_OTHER, ""},
  };
  for (const Row& row : rows)
    if (row.subkey)
      put(RegistryRoot::LocalMachine, std::string(KEY) + row.subkey, row.name, row.regType,
          row.data);

  UniversalConfMgr tree;
  tree.setDataLong("\\STALE", 1);  // load replaces what was there
  tree.load((std::string("\\") + KEY + "\\").c_str(), true);
  EXPECT_EQ(sizeof rows / sizeof rows[0], tree.options().size());
  for (const Row& row : rows) {
    int32_t number = 0;
    std::string text;
    std::vector<uint8_t> blob;
    EXPECT_EQ(row.type == T::TYPE_LONG, tree.getDataLong(row.path, number, false)) << row.path;
    EXPECT_EQ(row.type == T::TYPE_STRING, tree.getData(row.path, text, false)) << row.path;
    EXPECT_EQ(row.type == T::TYPE_BINARY, tree.getDataBinary(row.path, blob, false)) << row.path;
    if (row.type == T::TYPE_LONG)
      for (int i = 0; i < 32; i += 8) text += static_cast<char>(static_cast<uint32_t>(number) >> i);
    if (row.type == T::TYPE_BINARY) text.assign(blob.begin(), blob.end());
    EXPECT_EQ(row.expected, text) << row.path;
    std::string upper;
    for (const char* p = row.path; *p; ++p)
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    ASSERT_EQ(1u, tree.options().count(upper)) << row.path;
    EXPECT_EQ(row.type, tree.options().at(upper).type) << row.path;
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
  EXPECT_THROW(tree.setDataBinary("\\Number", nullptr, 4), std::invalid_argument);
  EXPECT_TRUE(tree.getDataLong("\\Number", number, false));  // the refused set changed nothing
  EXPECT_EQ(42, number);
  EXPECT_FALSE(tree.getData(nullptr, text, false));
}

}  // namespace
