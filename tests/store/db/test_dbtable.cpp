// The data file and the table: updates within the capacity, walks over
// deleted records, find/skip/setRec, duplicates, and damaged ".dta" files.
#include "store/db/dbtable.h"

#include "dbtestutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <sys/resource.h>

namespace {

const IndexDescriptor kDesc[2] = {{9, 4096}, {41, 4096}};

bool put(DbTable& t, const char* k0, const char* k1, const std::string& data, uint32_t* pos)
{
  const char* keys[] = {k0, k1};
  return t.insert(keys, reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size()), pos);
}

TEST(DbTable, UpdateKeepsTheCapacityAndDeletedRecordsAreSkipped)
{
  std::string name = scratchPath("table");
  DbTable t;
  ASSERT_TRUE(t.create(name.c_str(), 2, kDesc));
  ASSERT_TRUE(t.open(name.c_str()));
  uint32_t a, b, c, d;
  ASSERT_TRUE(put(t, "b", "x", "hello", &a));
  ASSERT_TRUE(put(t, "a", "y", "12", &b));
  ASSERT_TRUE(put(t, "b", "z", "dup", &c));
  ASSERT_TRUE(put(t, "c", "w", "last", &d));
  EXPECT_EQ(48u, a);
  std::vector<uint8_t> file = readBytes(name + ".dta");
  EXPECT_EQ(0x12344321u, le32(file, 0));
  EXPECT_EQ(2, le16(file, 4));
  EXPECT_EQ(9u | 4096u << 16, le32(file, 6));
  EXPECT_EQ(5u, le32(file, a + 8));
  EXPECT_EQ(b, a + 16 + 50 + 5);

  t.setIndex(0);
  ASSERT_EQ(1, t.find("b"));
  EXPECT_EQ(int64_t{c}, t.recNo()) << "newest duplicate first";
  EXPECT_EQ(1, t.skip(1));
  EXPECT_EQ(int64_t{a}, t.recNo());
  EXPECT_EQ(4, t.update(reinterpret_cast<const uint8_t*>("toolong"), 7));
  EXPECT_EQ(1, t.update(reinterpret_cast<const uint8_t*>("hi"), 2));
  std::vector<uint8_t> out;
  uint32_t len = 0;
  EXPECT_EQ(1, t.data(nullptr, &out, &len));
  EXPECT_EQ(std::string("hi"), std::string(out.begin(), out.end()));
  uint32_t next = 0;
  EXPECT_EQ(1, t.dataFile().nextPosition(a, &next));
  EXPECT_EQ(b, next) << "the capacity keeps the walk";

  ASSERT_EQ(1, t.setRec(c));
  EXPECT_EQ(1, t.deleteRec());
  ASSERT_EQ(1, t.find("b"));
  EXPECT_EQ(int64_t{a}, t.recNo()) << "a live duplicate after a deleted one is exact";
  EXPECT_EQ(0, t.setRec(c));
  EXPECT_EQ(1, t.skip(1));
  EXPECT_EQ(int64_t{d}, t.recNo());
  EXPECT_EQ(-1, t.skip(1));
  EXPECT_EQ(int64_t{d}, t.recNo()) << "an end puts the cursor back";
  EXPECT_EQ(3, t.find("bb"));
  EXPECT_EQ(-1, t.find("zz"));
  EXPECT_EQ(int64_t{d}, t.recNo());
  for (uint32_t p : {a, b, d}) {
    ASSERT_EQ(1, t.setRec(p));
    ASSERT_EQ(1, t.deleteRec());
  }
  EXPECT_EQ(-1, t.first());
  EXPECT_EQ(-1, t.last());
  ASSERT_TRUE(t.close());
  ASSERT_TRUE(t.open(name.c_str()));
  EXPECT_EQ(-1, t.first());
}

TEST(DataFile, DamagedRecordsAnswerAnError)
{
  std::string name = scratchPath("damaged");
  uint32_t pos;
  {
    DbTable t;
    ASSERT_TRUE(t.create(name.c_str(), 2, kDesc));
    ASSERT_TRUE(t.open(name.c_str()));
    ASSERT_TRUE(put(t, "a", "b", "payload", &pos));
  }
  const std::vector<uint8_t> good = readBytes(name + ".dta");
  struct Row {
    const char* what;
    size_t at;
    uint32_t value;
    bool opens;
  };
  const Row rows[] = {
      {"header magic", 0, 1, false},
      {"record magic", 48 + 4, 7, true},
      {"deleted flag", 48, 5, true},
      {"length above capacity", 48 + 8, 8, true},
      {"capacity past the end", 48 + 12, 0x7FFFFFF0, true},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> b = good;
    setLe32(b, row.at, row.value);
    std::string bad = scratchPath("bad.dta");
    writeBytes(bad, b);
    DataFile f;
    ASSERT_EQ(row.opens, f.open(bad.c_str())) << row.what;
    if (!row.opens) continue;
    std::vector<uint8_t> out;
    uint32_t next;
    EXPECT_EQ(0, f.read(pos, nullptr, &out, nullptr)) << row.what;
    EXPECT_EQ(DTA_ERR_DAMAGED, f.error()) << row.what;
    EXPECT_EQ(0, f.nextPosition(pos, &next)) << row.what;
  }
  std::vector<uint8_t> cut(good.begin(), good.end() - 3);
  std::string bad = scratchPath("cut.dta");
  writeBytes(bad, cut);
  DataFile f;
  ASSERT_TRUE(f.open(bad.c_str()));
  EXPECT_EQ(0, f.read(pos, nullptr, nullptr, nullptr));
}

// Random inserts (many equal keys), deletes, finds and walks both ways over
// live records, checked against a model of the live entries of each index in
// the table's order: keys ascending, the newest of equal keys first. Small
// pages give deep trees; TALVORIN_DB_OPS sets the count (1000000 for the long run).
TEST(DbTable, AgreesWithAModelUnderInsertsAndDeletes)
{
  const char* env = std::getenv("TALVORIN_DB_OPS");
  const long ops = env ? std::atol(env) : 8000;
  const IndexDescriptor desc[2] = {{6, 64}, {12, 256}};  // orders 2 and 12
  std::string name = scratchPath("modeltable");
  DbTable t;
  ASSERT_TRUE(t.create(name.c_str(), 2, desc));
  ASSERT_TRUE(t.open(name.c_str()));
  struct Order {
    bool operator()(const std::pair<std::string, uint32_t>& a, const std::pair<std::string, uint32_t>& b) const
    {
      return a.first != b.first ? a.first < b.first : a.second > b.second;
    }
  };
  std::set<std::pair<std::string, uint32_t>, Order> live[2];
  std::map<uint32_t, std::pair<std::string, std::string>> keysOf;
  std::vector<uint32_t> livePositions;
  std::mt19937 rng(29);
  auto randomKey = [&](int len) {
    std::string k;
    for (int n = 1 + rng() % len; n > 0; --n) k += static_cast<char>('a' + rng() % 4);
    return k;
  };
  auto expectAt = [&](int i, const std::pair<std::string, uint32_t>& entry) {
    ASSERT_EQ(int64_t{entry.second}, t.recNo());
    KeyBufferArray keys(2);
    ASSERT_EQ(1, t.data(&keys, nullptr, nullptr));
    ASSERT_EQ(entry.first, std::string(keys[i]));
  };
  for (long op = 0; op < ops; ++op) {
    unsigned what = rng() % 10;
    if (what < 5 || livePositions.empty()) {
      std::string k0 = randomKey(5), k1 = randomKey(11);
      uint32_t position;
      ASSERT_TRUE(put(t, k0.c_str(), k1.c_str(), "", &position));
      live[0].insert({k0, position});
      live[1].insert({k1, position});
      keysOf[position] = {k0, k1};
      livePositions.push_back(position);
      continue;
    }
    int i = rng() % 2;
    t.setIndex(i);
    if (what < 7) {
      size_t victim = rng() % livePositions.size();
      uint32_t position = livePositions[victim];
      livePositions[victim] = livePositions.back();
      livePositions.pop_back();
      ASSERT_EQ(1, t.setRec(position)) << op;
      ASSERT_EQ(1, t.deleteRec());
      live[0].erase({keysOf[position].first, position});
      live[1].erase({keysOf[position].second, position});
      continue;
    }
    std::string k = randomKey(i ? 11 : 5);
    int r = t.find(k.c_str());
    auto it = live[i].lower_bound({k, UINT32_MAX});
    if (it == live[i].end()) {
      ASSERT_EQ(-1, r) << op;
      if (!live[i].empty()) expectAt(i, *live[i].rbegin());
      continue;
    }
    ASSERT_EQ(it->first == k ? 1 : 3, r) << op << " " << k;
    expectAt(i, *it);
    int direction = what < 9 ? 1 : -1;
    for (int step = 0; step < 20; ++step) {
      bool atEnd = direction > 0 ? std::next(it) == live[i].end() : it == live[i].begin();
      int moved = t.skip(direction);
      if (atEnd) {
        ASSERT_EQ(-1, moved) << op;
        expectAt(i, *it);
        break;
      }
      ASSERT_EQ(1, moved) << op;
      direction > 0 ? ++it : --it;
      expectAt(i, *it);
    }
  }
  // Whole walks from either end meet every live record once, in order.
  for (int i = 0; i < 2; ++i) {
    t.setIndex(i);
    for (int direction : {1, -1}) {
      std::vector<std::pair<std::string, uint32_t>> want(live[i].begin(), live[i].end());
      if (direction < 0) std::reverse(want.begin(), want.end());
      int r = direction > 0 ? t.first() : t.last();
      for (const auto& entry : want) {
        ASSERT_EQ(1, r);
        expectAt(i, entry);
        r = t.skip(direction);
      }
      EXPECT_EQ(-1, r);
    }
  }
}

// An update in place goes through the data file's journal, disarmed once the
// bytes are in place. Armed again over a value torn in half, the next open
// writes the whole value; a journal that does not hold up is disarmed and
// nothing is written; one that exists but cannot be opened answers damaged.
TEST(DataFile, AnArmedUpdateRestoresATornValueAndABadOneIsDropped)
{
  std::string name = scratchPath("updjournal");
  std::remove((name + ".dta.jnl").c_str());
  uint32_t pos = 0;
  {
    DbTable t;
    ASSERT_TRUE(t.create(name.c_str(), 2, kDesc));
    ASSERT_TRUE(t.open(name.c_str()));
    ASSERT_TRUE(put(t, "00000001", "k", "AAAAAAAA", &pos));
    t.setIndex(1);
    ASSERT_EQ(1, t.find("k"));
    ASSERT_EQ(1, t.update(reinterpret_cast<const uint8_t*>("BBBBBBBB"), 8));
  }
  const std::vector<uint8_t> good = readBytes(name + ".dta");
  const std::vector<uint8_t> journal = readBytes(name + ".dta.jnl");
  ASSERT_EQ(16u + 8 + 8 + 8 + 4, journal.size());
  ASSERT_EQ(0u, le32(journal, 0)) << "disarmed after the update";
  const uint32_t valueAt = pos + 16 + 9 + 41;
  ASSERT_EQ(valueAt, le32(journal, 16));
  ASSERT_EQ(std::string("BBBBBBBB"), std::string(good.begin() + valueAt, good.begin() + valueAt + 8));
  struct Row {
    const char* what;
    std::function<void(std::vector<uint8_t>& jnl)> alter;
    bool restored;
  };
  const Row rows[] = {
      {"armed", [](auto&) {}, true},
      {"journal cut short", [](auto& j) { j.resize(j.size() - 3); }, false},
      {"value altered", [](auto& j) { j[26] ^= 1; }, false},
      {"offset past the end", [](auto& j) { setLe32(j, 16, 0x10000000); }, false},
      {"offset in the header", [](auto& j) { setLe32(j, 16, 4); }, false},
      {"count of three", [](auto& j) { j[4] = 3; }, false},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> dta = good, jnl = journal;
    setLe32(jnl, 0, 0x4A445431u);
    row.alter(jnl);
    std::fill(dta.begin() + valueAt + 4, dta.begin() + valueAt + 8, 'A');  // torn
    writeBytes(name + ".dta", dta);
    writeBytes(name + ".dta.jnl", jnl);
    DbTable t;
    ASSERT_TRUE(t.open(name.c_str())) << row.what;
    t.close();
    EXPECT_EQ(0u, le32(readBytes(name + ".dta.jnl"), 0)) << row.what << ": disarmed";
    EXPECT_EQ(row.restored ? good : dta, readBytes(name + ".dta")) << row.what;
  }
  std::remove((name + ".dta.jnl").c_str());
  ASSERT_EQ(0, ::mkdir((name + ".dta.jnl").c_str(), 0700));
  DbTable t;
  EXPECT_FALSE(t.open(name.c_str()));
  EXPECT_EQ(DTA_ERR_DAMAGED, t.dataError());
  ::rmdir((name + ".dta.jnl").c_str());
}

// A batch changes when the inserts reach the disk, not what they write: the
// files equal those of the same inserts committed one by one (but for the
// header's count of its own writes), and the batch's records read back
// before and after its commit.
TEST(DbTable, ABatchWritesTheFilesSingleInsertsWrite)
{
  const IndexDescriptor small[2] = {{9, 256}, {41, 1024}};
  std::vector<std::string> names;
  for (const char* what : {"single", "batch"}) names.push_back(scratchPath(std::string("same-") + what));
  std::mt19937 random(3);
  std::vector<uint32_t> order(240);
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (int mode = 0; mode < 2; ++mode) {
    DbTable t;
    ASSERT_TRUE(t.create(names[mode].c_str(), 2, small));
    ASSERT_TRUE(t.open(names[mode].c_str()));
    if (mode == 1) { ASSERT_TRUE(t.beginBatch()); }
    for (uint32_t i : order) {
      char k0[16], k1[48];
      std::snprintf(k0, sizeof k0, "%08u", i * 7919 % 1000);
      std::snprintf(k1, sizeof k1, "key-%u-%u", i % 13, i);
      uint32_t pos;
      ASSERT_TRUE(put(t, k0, k1, "data " + std::to_string(i), &pos));
      if (mode == 1 && i % 40 == 0) {
        t.setIndex(1);
        ASSERT_EQ(1, t.find(k1)) << "a record of the batch is found before the commit";
        std::vector<uint8_t> out;
        ASSERT_EQ(1, t.data(nullptr, &out, nullptr));
        EXPECT_EQ("data " + std::to_string(i), std::string(out.begin(), out.end()));
      }
    }
    if (mode == 1) { ASSERT_TRUE(t.endBatch()); }
  }
  for (const char* ext : {".idx", ".dta"}) {
    std::vector<uint8_t> single = readBytes(names[0] + ext), batch = readBytes(names[1] + ext);
    ASSERT_GT(single.size(), 4096u) << ext;
    if (std::string(ext) == ".idx") {
      // The header's count of its writes and the journal record after it lie
      // where the layout leaves room.
      for (std::vector<uint8_t>* f : {&single, &batch}) {
        (*f)[2] = (*f)[3] = 0;
        std::fill(f->begin() + IDX_PENDING_AT, f->begin() + IDX_HEADER_AREA, 0);
      }
    }
    ASSERT_EQ(single.size(), batch.size()) << ext;
    size_t differ = std::mismatch(single.begin(), single.end(), batch.begin()).first - single.begin();
    EXPECT_EQ(single.size(), differ) << ext << ": the first difference";
  }
  DbTable t;
  ASSERT_TRUE(t.open(names[1].c_str()));
  t.setIndex(0);
  int n = 0;
  for (int r = t.first(); r == 1; r = t.skip(1)) ++n;
  EXPECT_EQ(240, n);
}

// A batch's records go to the file in large writes while it runs; one that
// fails (here the file may not grow: as on a full disk) leaves those records
// waiting, so the commit writes them or fails, and never commits entries
// naming records that are not in the file.
TEST(DbTable, ABatchWhoseRecordsCannotBeWrittenNeverCommitsEntriesNamingThem)
{
  std::string name = scratchPath("fullbatch");
  DbTable t;
  ASSERT_TRUE(t.create(name.c_str(), 2, kDesc));
  ASSERT_TRUE(t.open(name.c_str()));
  ASSERT_TRUE(t.beginBatch());
  rlimit old{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &old));
  rlimit small = old;
  small.rlim_cur = 600000;
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
  std::vector<std::string> stored;
  for (int i = 0; i < 300; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%08d", i);
    uint32_t pos;
    if (!put(t, key, key, std::string(10000, static_cast<char>('a' + i % 26)), &pos)) break;
    stored.push_back(key);
  }
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &old));
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_LT(stored.size(), 300u) << "a write of the batch failed";
  bool committed = t.endBatch();
  // A batch that cannot be written at its end fails, and the table goes on.
  ASSERT_TRUE(t.beginBatch());
  ASSERT_TRUE(put(t, "late0", "late0", std::string(2000000, 'L'), nullptr));
  oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
  EXPECT_FALSE(t.endBatch());
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &old));
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(put(t, "late1", "late1", "after", nullptr));
  t.setIndex(0);
  ASSERT_EQ(1, t.find("late1"));
  std::vector<uint8_t> after;
  ASSERT_EQ(1, t.data(nullptr, &after, nullptr));
  EXPECT_TRUE(std::string(after.begin(), after.end()) == "after") << after.size() << " bytes read";
  t.close();
  ASSERT_TRUE(t.open(name.c_str()));
  t.setIndex(0);
  for (size_t i = 0; i < stored.size(); ++i) {
    int r = t.find(stored[i].c_str());
    ASSERT_NE(0, r) << stored[i];
    if (r != 1) {
      EXPECT_FALSE(committed) << stored[i];
      continue;
    }
    std::vector<uint8_t> data;
    ASSERT_EQ(1, t.data(nullptr, &data, nullptr)) << stored[i];
    EXPECT_EQ(std::string(10000, static_cast<char>('a' + i % 26)), std::string(data.begin(), data.end()));
  }
}

}  // namespace
