// The self-test driver, its report writer, the hash group and the symmetric
// group with the reader of the .vec texts.
#include "crypto/selftest/lvselftest.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "crypto/selftest/lvselftest_text.h"
#include "crypto/sym/lvdes.h"
#include "crypto/sym/lvrc2.h"
#include "crypto/sym/lvrijndael.h"

namespace lvselftest {

void reportf(std::ostream& report, const char* format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0)
    return;
  std::size_t len = static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n)
                                                                  : sizeof buffer - 1;
  report.write(buffer, static_cast<std::streamsize>(len));
}

void groupEnd(std::ostream& report) {
  reportf(report, "\r\n");
  reportf(report, "Koniec testów\r\n");
  reportf(report, "=============\r\n\r\n");
}

namespace {

// ---------------------------------------------------------------- hashes

const unsigned int kMillion = 1000000;

struct Message {
  const char* text;  // null: the million octets of 0x61
};

const Message kMessages[11] = {
    {""},
    {"a"},
    {"abc"},
    {"message digest"},
    {"abcdefghijklmnopqrstuvwxyz"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"},
    {nullptr},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmno"
     "pqrsmnopqrstnopqrstu"},
    {"abcdbcdecdefdefgefghfghighijhijk"},
};
// SHA-224's own list (indices into kMessages); its ninth test is 00..FF.
const unsigned int kSha224Messages[8] = {0, 1, 2, 3, 5, 6, 7, 8};

bool digestMatches(const LvGenericHash& hash, const char* expectedHex) {
  LvOctMem expected(expectedHex);
  return expected.getLength() == hash.getHashOctets() &&
         std::memcmp(expected.ptr(), hash.getHashPtr(), expected.getLength()) == 0;
}

// The million octets of 0x61, allocated by the first hash test that asks and read by all:
// six fresh megabytes cost the process more in page faults than a hash over them. A failed
// allocation throws in every test that asks.
class MillionOctets {
 public:
  const LvOctet* get() {
    std::call_once(once, [this] {
      octets.reset(new (std::nothrow) LvOctet[kMillion]);
      if (octets) std::memset(octets.get(), 0x61, kMillion);
    });
    if (!octets)
      LV_THROW_MEM(kMillion);
    return octets.get();
  }

 private:
  std::once_flag once;
  std::unique_ptr<LvOctet[]> octets;
};

int messageTest(std::ostream& report, LvGenericHash& hash, const char* const* expected,
                MillionOctets& octets) {
  reportf(report, "%s: ", hash.getSelected().getName());
  const bool sha224 = hash.getHashAlgo() == LV_HASH_SHA224;
  const unsigned int tests = sha224 ? 9 : 11;
  const LvOctet* million = octets.get();
  for (unsigned int t = 0; t < tests; ++t) {
    if (sha224 && t == 8) {
      hash.init();
      for (unsigned int i = 0; i < 256; ++i) {
        LvOctet octet = static_cast<LvOctet>(i);
        hash.step(&octet, 1);
      }
      hash.finish();
    } else {
      const Message& m = kMessages[sha224 ? kSha224Messages[t] : t];
      if (m.text)
        hash.hash(reinterpret_cast<const LvOctet*>(m.text),
                  static_cast<unsigned int>(std::strlen(m.text)));
      else
        hash.hash(million, kMillion);
    }
    if (!digestMatches(hash, expected[t])) {
      reportf(report, "BLAD - test nr %u\r\n", t + 1);
      return 1;
    }
  }
  reportf(report, "% 4u wektorów OK\r\n", tests);
  return 0;
}

// ---------------------------------------------------------------- .vec texts

const std::size_t kMaxLine = 132;
const unsigned int kMaxKey = 128, kMaxBlock = 32;

bool hexValue(char c, unsigned int& v) {
  if (c >= '0' && c <= '9')
    v = static_cast<unsigned int>(c - '0');
  else if (c >= 'a' && c <= 'f')
    v = static_cast<unsigned int>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F')
    v = static_cast<unsigned int>(c - 'A' + 10);
  else
    return false;
  return true;
}

// n octets as pairs of hexadecimal digits from the start of the value.
bool readOctets(const char* value, unsigned int n, LvOctet* out) {
  for (unsigned int i = 0; i < n; ++i) {
    unsigned int hi, lo;
    if (!hexValue(value[2 * i], hi) || !hexValue(value[2 * i + 1], lo))
      return false;
    out[i] = static_cast<LvOctet>(hi << 4 | lo);
  }
  return true;
}

// A decimal number, blanks and the line end allowed after it.
bool readDecimal(const char* value, unsigned int& out) {
  unsigned long long v = 0;
  const char* p = value;
  if (*p < '0' || *p > '9')
    return false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + static_cast<unsigned int>(*p - '0');
    if (v > 0xFFFFFFFFull)
      return false;
  }
  for (; *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
      return false;
  out = static_cast<unsigned int>(v);
  return true;
}

}  // namespace

int runVectorFile(std::ostream& report, LvBc& cipher, const char* fileName, const char* text,
                  unsigned int textLength) {
  const unsigned int block = cipher.getBlockOctets();
  reportf(report, "%s/%u: ", cipher.getName(), 8 * block);
  TextReader reader(text, textLength);
  bool keyLenKnown = false, keyKnown = false, ptKnown = false, effKnown = false;
  unsigned int keyLen = 0, effBits = 0, lineNo = 0, vectors = 0;
  LvOctet key[kMaxKey] = {}, pt[kMaxBlock] = {}, ct[kMaxBlock] = {};
  LvOctet enc[kMaxBlock], dec[kMaxBlock];
  std::string line;
  while (reader.readLine(line, kMaxLine)) {
    ++lineNo;
    if (line[0] == '\0')
      continue;
    std::size_t eq = line.find_first_of("#\n=");
    if (eq == std::string::npos || line[eq] != '=')
      continue;
    std::size_t start = line.find_first_not_of(" \t");
    std::string name = line.substr(start, eq - start);
    const char* value = line.c_str() + eq + 1;
    if (name == "VECTORS" || name == "KEYBYTES" || name == "KEYBITS" || name == "EFFKEYBITS") {
      unsigned int v;
      // A key longer than the key buffer is a format error, not an overrun.
      if (!readDecimal(value, v) || (name == "KEYBYTES" && v > kMaxKey) ||
          (name == "KEYBITS" && v > 8 * kMaxKey)) {
        reportf(report, "Zly format pliku z wektorami testowymi (%u).\r\n", lineNo);
        return 1;
      }
      if (name == "KEYBYTES" || name == "KEYBITS") {
        keyLen = name == "KEYBYTES" ? v : (v + 7) / 8;
        keyLenKnown = true;
      } else if (name == "EFFKEYBITS") {
        effBits = v;
        effKnown = true;
      }
    } else if (name == "KEY") {
      if (!keyLenKnown) {
        reportf(report, "Brak okreslenia dlugosci klucza (%u).\r\n", lineNo);
        return 1;
      }
      if (!readOctets(value, keyLen, key)) {
        reportf(report, "Zly format pliku z wektorami testowymi (%u).\r\n", lineNo);
        return 1;
      }
      keyKnown = true;
    } else if (name == "PT" || name == "CT") {
      if (!readOctets(value, block, name == "PT" ? pt : ct)) {
        reportf(report, "Zly format pliku z wektorami testowymi (%u).\r\n", lineNo);
        return 1;
      }
      if (name == "PT") {
        ptKnown = true;
        continue;
      }
      if (cipher.getAlgo() == LV_BC_RC2 && !effKnown) {
        reportf(report, "Brak okreslenia efektywnej dlugosci klucza (%u).\r\n", lineNo);
        return 1;
      }
      if (!keyLenKnown) {
        reportf(report, "Brak okreslenia dlugosci klucza (%u).\r\n", lineNo);
        return 1;
      }
      if (!keyKnown) {
        reportf(report, "Brak okreslenia klucza (%u).\r\n", lineNo);
        return 1;
      }
      if (!ptKnown) {
        reportf(report, "Brak okreslenia tekstu jawnego (%u).\r\n", lineNo);
        return 1;
      }
      ++vectors;
      if (cipher.getAlgo() == LV_BC_RC2)
        static_cast<LvRc2&>(cipher).setKey(key, keyLen, effBits, LV_KEY_EXPAND_BOTH);
      else
        cipher.setKey(key, keyLen, LV_KEY_EXPAND_BOTH);
      cipher.encryptBlock(pt, enc);
      cipher.decryptBlock(enc, dec);
      if (std::memcmp(enc, ct, block) != 0) {
        reportf(report, "Blad szyfrowania - wektor nr %u.\r\n", vectors);
        return 1;
      }
      if (std::memcmp(dec, pt, block) != 0) {
        reportf(report, "Blad deszyfrowania - wektor nr %u.\r\n", vectors);
        return 1;
      }
    }
  }
  if (reader.failed()) {
    reportf(report, "Blad odczytu lub zly format pliku z wektorami testowymi (%u).\r\n", lineNo);
    return 1;
  }
  reportf(report, "%s (wektorów: %u)\tOK\r\n", fileName, vectors);
  return 0;
}

bool threadsAllowed() {
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit;
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY)
      return false;
  }
  return true;
}

// Caught, not passed on: the report names the test and why, and the run still ends in a verdict.
int guardedTest(std::ostream& report, const char* name, const std::function<int()>& test) {
  std::string reason;
  try {
    return test();
  } catch (const std::bad_alloc&) {
    throw;  // no memory is no failed test: the caller answers out of memory
  } catch (const LvMemException&) {
    throw;
  } catch (const std::exception& e) {
    // The library's exceptions carry their reason on a "REASON: " line.
    reason = e.what();
    std::size_t at = reason.find("REASON: ");
    if (at != std::string::npos) reason = reason.substr(at + 8);
    reason = reason.substr(0, reason.find_first_of("\r\n"));
  } catch (...) {
    reason = "?";
  }
  reportf(report, "BLAD - wyjątek w teście %s: %s\r\n", name, reason.c_str());
  return kThrew;
}

namespace {
// Folds one test's answer into its group's: 1 stops the group at once.
bool stopsGroup(int result, int& group) {
  if (result == kThrew) group = kThrew;
  return result != 0 && result != kThrew;
}

// Runs every test of the groups side by side (this thread among the workers; the longest
// first), each into its own text, then writes the groups in order as a run one test after
// the other writes them: a group's head, its tests up to the first that fails, its end.
// The first group that fails ends the writing (what later groups did is dropped). Answers
// the groups' results, -1 for a group not written.
// On threads: the library's start-up waits for the whole run.
std::vector<int> runGroups(std::ostream& report, const std::vector<Group>& groups) {
  struct Done {
    const GroupTest* test;
    std::string text;
    int result = 0;
    std::exception_ptr thrown;  // what left the test (guardedTest lets it through)
  };
  std::vector<std::vector<Done>> done(groups.size());
  std::vector<Done*> order;
  for (size_t g = 0; g < groups.size(); ++g)
    for (const GroupTest& t : groups[g].tests) done[g].push_back(Done{&t, std::string(), 0, nullptr});
  for (auto& group : done)
    for (Done& d : group) order.push_back(&d);
  std::stable_sort(order.begin(), order.end(),
                   [](const Done* a, const Done* b) { return a->test->weight > b->test->weight; });
  std::atomic<size_t> next{0};
  // Nothing may leave a worker: what a test lets through is kept and met again below, where
  // a run of one test after the other would have met it.
  auto work = [&order, &next]() noexcept {
    for (size_t i; (i = next.fetch_add(1)) < order.size();) {
      Done& d = *order[i];
      try {
        std::ostringstream out;
        try {
          d.result = guardedTest(out, d.test->name.c_str(), [&] { return d.test->body(out); });
        } catch (...) {
          d.thrown = std::current_exception();
        }
        d.text = out.str();
      } catch (...) {
        d.thrown = std::current_exception();
      }
    }
  };
  {
    std::vector<std::thread> threads;
    ThreadJoiner joiner{threads};
    const unsigned int cores =
        threadsAllowed() ? std::max(1u, std::thread::hardware_concurrency()) : 1u;
    const size_t workers = std::min<size_t>(std::min(cores, kMaxWorkers), order.size());
    for (size_t t = 1; t < workers; ++t) {
      try {
        threads.emplace_back(work);
      } catch (const std::bad_alloc&) {
        // Memory ran out, as it may in any test: the run answers that, whatever thread met it.
        // The workers started stop after their current test and are joined on the way out.
        next = order.size();
        throw;
      } catch (...) {
        break;  // no thread to be had: the threads there are (this one at least) do all of it
      }
    }
    work();
  }

  std::vector<int> results(groups.size(), -1);
  for (size_t g = 0; g < groups.size(); ++g) {
    groups[g].head(report);
    int group = 0;
    bool failed = false;
    for (const Done& d : done[g]) {
      report << d.text;
      if (d.thrown)
        std::rethrow_exception(d.thrown);
      if (stopsGroup(d.result, group)) {
        failed = true;
        break;
      }
    }
    if (failed) {
      results[g] = 1;
      break;
    }
    groupEnd(report);
    results[g] = group;
  }
  return results;
}

void hashHead(std::ostream& report) {
  reportf(report, "Początek testów biblioteki lvhash\r\n");
  reportf(report, "=================================\r\n");
  reportf(report, "\r\n");
  reportf(report, "Test poprawności\r\n");
  reportf(report, "================\r\n\r\n");
}

void symHead(std::ostream& report) {
  reportf(report, "Początek testów biblioteki lvsym\r\n");
  reportf(report, "================================\r\n");
  reportf(report, "\r\n");
  reportf(report, "Testy poprawności\r\n");
  reportf(report, "=================\r\n\r\n");
}

// The hash group's tests: one per algorithm, each with a hash object of its own.
std::vector<GroupTest> hashTests(const Data& data) {
  static const LvHashAlgo kOrder[6] = {LV_HASH_RIPEMD160, LV_HASH_SHA1,   LV_HASH_SHA224,
                                       LV_HASH_SHA256,    LV_HASH_SHA384, LV_HASH_SHA512};
  // Rough cost of each over its million octets, for the order of the work.
  static const int kWeight[6] = {5, 2, 3, 3, 4, 4};
  std::vector<GroupTest> tests;
  auto million = std::make_shared<MillionOctets>();
  for (unsigned int i = 0; i < 6; ++i) {
    LvGenericHash named;
    named.setHashAlgo(kOrder[i]);
    const char* const* digests = data.digests[i];
    const LvHashAlgo algo = kOrder[i];
    tests.push_back(GroupTest{named.getSelected().getName(), kWeight[i],
                              [algo, digests, million](std::ostream& report) {
                                LvGenericHash hash;
                                hash.setHashAlgo(algo);
                                return messageTest(report, hash, digests, *million);
                              }});
  }
  return tests;
}

// The symmetric group's tests: the seven ciphers over their texts, each object its own.
std::vector<GroupTest> symTests(const Data& data) {
  struct Run {
    std::function<std::unique_ptr<LvBc>()> make;
    const VectorText* text;
    int weight;
  } const runs[] = {
      {[] { return std::unique_ptr<LvBc>(new LvAes); }, &data.aes, 3},
      {[] { return std::unique_ptr<LvBc>(new LvRijndael(4)); }, &data.aes, 3},
      {[] { return std::unique_ptr<LvBc>(new LvRijndael(6)); }, &data.rijndael192, 1},
      {[] { return std::unique_ptr<LvBc>(new LvRijndael(8)); }, &data.rijndael256, 1},
      {[] { return std::unique_ptr<LvBc>(new LvTdes); }, &data.desede, 1},
      // The DES vectors use weak keys on purpose.
      {[] { return std::unique_ptr<LvBc>(new LvDesEee(false, false)); }, &data.deseee, 2},
      {[] { return std::unique_ptr<LvBc>(new LvDesXeeex(false, false)); }, &data.desxeeex, 1}};
  std::vector<GroupTest> tests;
  for (const Run& r : runs) {
    const VectorText* text = r.text;
    auto make = r.make;
    tests.push_back(GroupTest{text->name, r.weight, [make, text](std::ostream& report) {
                                std::unique_ptr<LvBc> cipher = make();
                                return runVectorFile(report, *cipher, text->name, text->text,
                                                     text->length);
                              }});
  }
  return tests;
}
}  // namespace

int hashGroup(std::ostream& report, const Data& data) {
  return runGroups(report, {Group{hashHead, hashTests(data)}})[0];
}

int symGroup(std::ostream& report, const Data& data) {
  return runGroups(report, {Group{symHead, symTests(data)}})[0];
}

int asymGroup(std::ostream& report, const Data& data) {
  return runGroups(report, {Group{asymHead, asymTests(data)}})[0];
}

bool run(std::ostream& report, const Data& data) {
  // A group that failed stops the run; one that only had tests throw does not. Memory that
  // runs out, in a test or around one (the lists of tests, the threads' shares, the texts
  // gathered), leaves as out of memory, which the caller answers as such: no failed test.
  // Anything else that escapes fails the run.
  try {
    std::vector<int> r = runGroups(report, {Group{hashHead, hashTests(data)},
                                            Group{symHead, symTests(data)},
                                            Group{asymHead, asymTests(data)}});
    return r[0] == 0 && r[1] == 0 && r[2] == 0;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const LvMemException&) {
    throw;
  } catch (...) {
    return false;
  }
}

}  // namespace lvselftest

bool lvSelfTest(std::ostream& report) { return lvselftest::run(report, lvselftest::builtin()); }
