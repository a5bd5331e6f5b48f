// Power-on known-answer test of the cryptographic library: the hashes on
// fixed messages, the block ciphers and the RSA, DSA and EC-DSA schemes on
// vector texts built into the library. It writes a plain-text report of what
// it did (Windows-1250, CR LF line ends) to the caller's stream.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

class LvBc;

// True when the hash, symmetric and asymmetric groups all pass; a failing
// group stops the run. An exception out of one test (a broken primitive under
// it) fails that test, named in the report, and the run goes on with the next.
// The tests run side by side on threads (the longest texts in shares), and the
// report reads as a run of one test after the other writes it.
bool lvSelfTest(std::ostream& report);

namespace lvselftest {

// One built-in vector text: its name in the report and its exact characters.
struct VectorText {
  const char* name;
  const char* text;
  unsigned int length;
};

// Everything the run compares against. The built-in set is what lvSelfTest
// uses; a caller may run a modified copy (a corrupted text or digest) to see
// that the test notices.
struct Data {
  // Expected digests in hexadecimal, one table per hash in the group's order
  // (RIPEMD-160, SHA-1, SHA-224, SHA-256, SHA-384, SHA-512), in message order.
  const char* const* digests[6];
  VectorText aes, rijndael192, rijndael256, desede, deseee, desxeeex;
  VectorText rsaSig, rsaCipher, dsaSig, dsaVerify, epDsaSig, epDsaVerify;
};

const Data& builtin();

bool run(std::ostream& report, const Data& data);

// Runs one test of a group: its answer, or kThrew (reported with the test's
// name and the exception's reason) when an exception left it.
constexpr int kThrew = 2;
int guardedTest(std::ostream& report, const char* name, const std::function<int()>& test);

// One test of a group: its name (an exception's line names it), a rough cost (the
// costly ones start first) and its body, which writes to the report it is given.
struct GroupTest {
  std::string name;
  int weight;
  std::function<int(std::ostream&)> body;
};
// A group: the lines that head it and its tests in order.
struct Group {
  void (*head)(std::ostream&);
  std::vector<GroupTest> tests;
};
void asymHead(std::ostream& report);
std::vector<GroupTest> asymTests(const Data& data);
// The tests of a run go side by side on at most this many threads.
constexpr unsigned int kMaxWorkers = 8;
// Whether the run may start threads: not under a limit of the address space or of the data
// segment, where each thread's stack and allocation arena (tens of megabytes reserved) would
// use up what the tests need and fail them in a process one thread runs well in.
bool threadsAllowed();
// Joins the threads it watches on every way out of the scope that started them.
struct ThreadJoiner {
  std::vector<std::thread>& threads;
  ~ThreadJoiner() {
    for (std::thread& t : threads) t.join();
  }
};

// Each group answers 0 when all its tests pass, 1 at its first failure, and
// kThrew when it went through but some test threw. Its tests run side by side
// and are written as one after the other would write them.
int hashGroup(std::ostream& report, const Data& data);
int symGroup(std::ostream& report, const Data& data);
int asymGroup(std::ostream& report, const Data& data);

// One run of a block cipher over a .vec text: 0 when every vector passes.
int runVectorFile(std::ostream& report, LvBc& cipher, const char* fileName, const char* text,
                  unsigned int textLength);

// The asymmetric tests, each over its text: 0 when no error was counted.
int rsaSigPkcsV15TV(std::ostream& report, const char* text, unsigned int length);
int rsaCipherPkcsV15TV(std::ostream& report, const char* text, unsigned int length);
int dsaSigTV(std::ostream& report, const char* text, unsigned int length);
int dsaSigVerifyTV(std::ostream& report, const char* text, unsigned int length);
int epDsaSigTV(std::ostream& report, const char* text, unsigned int length);
int epDsaSigVerifyTV(std::ostream& report, const char* text, unsigned int length);

// printf-style text into a 4096-character buffer (longer output is cut),
// written to the report.
void reportf(std::ostream& report, const char* format, ...);

}  // namespace lvselftest
