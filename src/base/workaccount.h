// One allowance for all the work a stranger's document causes: every
// signature, reference, transform, canonicalisation, digest, public-key
// operation, path build and revocation check its verification runs over what
// the document carries. It sits here, below the cryptographic, PKI, store and
// XML layers, so that each of them can charge it without including a layer
// above its own.
//
// Two limits, both per document and both growing with its size (legitimate
// work is linear in it):
//  - units, about eight instructions each: a price paid before predictable
//    work runs (a public-key operation by its sizes, a digest by its octets)
//    refuses that work when it does not fit, and work charged as it goes stops
//    once the units are spent. Units decide the verdict, not the machine's load.
//  - the processor time of the verifying thread since the account opened: the
//    net under every price, for what a price misses.
// The account travels with the work on its thread: the document's verification
// installs it (WorkAccountScope) and the layers below charge the current one.
// Work done with no account installed (a lone certificate check, a test) is
// bounded by its own caps only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

// A sanitised build runs the same work three to five times slower (and
// ThreadSanitizer more): there every document gets five times the time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAL_SANITISED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAL_SANITISED_BUILD 1
#endif
#endif

#ifdef TAL_SANITISED_BUILD
constexpr int WORK_TIME_FACTOR = 5;
#else
constexpr int WORK_TIME_FACTOR = 1;
#endif

// A document of S MB gets WORK_UNITS_BASE + S x WORK_UNITS_PER_MB units and
// (1 s + S x 1 s) x WORK_TIME_FACTOR of processor time.
constexpr uint64_t WORK_UNITS_BASE = 300000000ull;
constexpr uint64_t WORK_UNITS_PER_MB = 300000000ull;
constexpr std::chrono::milliseconds WORK_TIME_BASE{1000};
constexpr std::chrono::milliseconds WORK_TIME_PER_MB{1000};

// Prices of work that is predictable before it runs, in units.
// A digest, per octet it reads: SHA-1, SHA-2 and RIPEMD took some 15
// instructions an octet each on average here (callgrind, a reference's digest
// and the running ones fed by the canonicaliser).
constexpr uint64_t WORK_DIGEST_OCTET = 2;
// A certificate, CRL or other DER value a document carries, by its size: its
// base64 text decoded, the value read and its views walked.
constexpr uint64_t WORK_DER_OCTET = 4;

// The memory side: what a document's decoded values hold (certificates, CRLs,
// responses and every value inside them), charged in octets where the ASN.1
// layer allocates it, against an allowance that keeps the whole process within
// WORK_MEMORY_RATIO times the document plus WORK_MEMORY_BASE. Out of that figure
// come the process's own (its code, libraries, context and roots, and the
// report's fixed part: WORK_MEMORY_RESERVE, some 19 MiB measured with the
// sample receipt), three more copies of the document's size (the report's
// part that grows with it, its carried values decoded from base64 and the
// private copies they are read in place over), and what its parsed tree holds.
// Charges are not credited back when a value goes (a genuine receipt charges
// some hundred kilobytes of its 19 MB): once they pass the allowance, the
// heap's growth since the account opened (the process's, read then only)
// decides, so values decoded and let go (a matcher's, a copy's) do not refuse
// a document whose memory stays inside. The heap is the process's: while
// other threads verify documents it may grow by what all the open accounts
// allow, so a document is refused by another's memory only when its own
// charges passed its allowance (genuine receipts stay at a hundredth of it).
// Where the heap cannot be read, the charges decide. WORK_MEMORY_FLOOR is left whatever the
// tree holds, so a document the parse guard let through can still have its
// certificates read.
constexpr uint64_t WORK_MEMORY_RATIO = 20;
constexpr uint64_t WORK_MEMORY_BASE = 40ull << 20;
constexpr uint64_t WORK_MEMORY_RESERVE = 24ull << 20;
constexpr uint64_t WORK_MEMORY_COPIES = 3;
constexpr uint64_t WORK_MEMORY_FLOOR = 4ull << 20;
// Charges between two reads of the heap, at least, once they passed the allowance.
constexpr uint64_t WORK_MEMORY_STEP = 1ull << 20;

// An allowance of this thread's processor time from start(): the processor
// clock (a system call) is read only once as much wall time has passed as the
// allowance has left, since a thread spends no more processor time than that.
class ProcessorAllowance {
 public:
  void start(std::chrono::nanoseconds allowance);
  // Whether the allowance is spent (a cheap wall-clock read until it may be).
  bool spent();
  // Processor time since start().
  std::chrono::nanoseconds used() const;
  // The thread's processor time.
  static std::chrono::nanoseconds threadTime();

 private:
  std::chrono::nanoseconds allowance{0};
  std::chrono::nanoseconds processorStart{0};
  std::chrono::steady_clock::time_point nextProcessorRead;
};

class WorkAccount {
 public:
  // The clock starts now.
  WorkAccount(uint64_t units, std::chrono::nanoseconds time);
  // The account of one document of `octets` octets, whose parsed form already
  // holds `treeHeld` octets.
  static std::shared_ptr<WorkAccount> forDocument(uint64_t octets, uint64_t treeHeld = 0);
  static uint64_t documentUnits(uint64_t octets);
  static std::chrono::nanoseconds documentTime(uint64_t octets);
  static uint64_t documentMemory(uint64_t octets, uint64_t treeHeld);

  // Units of work already done: false once the account is over (from then on).
  // The clock is read every WORK_CLOCK_CHARGES charges.
  bool charge(uint64_t units) noexcept;
  // The price of work about to run: false, and the account over, when it does
  // not fit what is left (the work must not run). The clock is read.
  bool pay(uint64_t price) noexcept;
  // Octets decoded values now hold besides what was charged before: false,
  // and the account over, once the charges and then the heap's growth pass
  // the memory allowance (a closed account only counts them).
  bool chargeMemory(uint64_t octets) noexcept;
  // All the octets charged (none credited back).
  uint64_t memoryCharged() const noexcept { return memory; }
  uint64_t memoryLimit() const noexcept { return memoryAllowed; }
  // The times the heap was read and found inside the allowance.
  uint64_t memoryHeapReads() const noexcept { return heapReads; }
  // An account made by its constructor holds no memory limit until this sets
  // one (the heap's growth counts from then).
  void setMemoryLimit(uint64_t octets) noexcept;
  // True when memory, not units or time, put the account over.
  bool memoryPassed() const noexcept { return memoryOut; }
  // Reads the clock now: true once the time is spent (the account is then over).
  bool timeSpent() noexcept;
  bool over() const noexcept { return isOver; }
  // True when the time, not the units, put the account over.
  bool netPassed() const noexcept { return timeOut; }
  uint64_t remaining() const noexcept { return isOver || spent >= limit ? 0 : limit - spent; }
  uint64_t spentUnits() const noexcept { return spent; }
  uint64_t clockReads() const noexcept { return reads; }
  uint64_t limitUnits() const noexcept { return limit; }
  // Marks the account over by its time (the net passed somewhere below).
  void stop() noexcept;
  // Ends the account with its document's verification: what holds it after
  // (a signature's records, kept with the message) is bounded by its own
  // limits only, and its clock (this thread's) is no longer read.
  void close() noexcept;
  bool isClosed() const noexcept { return closed; }

  ~WorkAccount();
  WorkAccount(const WorkAccount&) = delete;
  WorkAccount& operator=(const WorkAccount&) = delete;

 private:
  uint64_t limit;
  uint64_t spent = 0;
  uint32_t charges = 0;
  uint64_t reads = 0;
  bool isOver = false;
  bool timeOut = false;
  bool closed = false;
  bool memoryOut = false;
  uint64_t memory = 0;
  uint64_t counted = 0;
  uint64_t heapAtStart = 0;
  uint64_t heapReads = 0;
  uint64_t memoryAllowed = UINT64_MAX;
  bool heapKnown = false;
  // Whether memoryAllowed is counted among the open accounts' allowances.
  bool memoryRegistered = false;
  ProcessorAllowance clock;

  void releaseMemoryAllowance() noexcept;
};
constexpr uint32_t WORK_CLOCK_CHARGES = 64;

// For tests, without a clock: an account's clock reads as spent at its
// `reads`-th read on this thread from now (once; 0 disarms).
void workAccountTripAfter(long reads);
// For tests: the documents whose accounts open on this thread from now get
// their units divided by `divisor` (1, as built), so small data can spend them.
void workAccountShrinkUnits(uint64_t divisor);
// For tests: the units spent by, and the clock reads of, the last account
// whose scope ended on this thread.
uint64_t workAccountLastSpent();
uint64_t workAccountLastReads();
// For tests: the memory charged to, and the memory limit of, that account.
uint64_t workAccountLastMemory();
uint64_t workAccountLastMemoryLimit();

// Installs `account` as the one this thread's work is charged to, until the
// scope ends (the one before it then again). Null installs none.
class WorkAccountScope {
 public:
  explicit WorkAccountScope(WorkAccount* account) noexcept;
  ~WorkAccountScope();
  static WorkAccount* current() noexcept;
  WorkAccountScope(const WorkAccountScope&) = delete;
  WorkAccountScope& operator=(const WorkAccountScope&) = delete;

 private:
  WorkAccount* previous;
};

// The current account's charge and pay; true when the thread has none.
bool workCharge(uint64_t units) noexcept;
bool workPay(uint64_t price) noexcept;
// The current account's chargeMemory; true when the thread has none (or for
// no octets).
bool workChargeMemory(int64_t octets) noexcept;
// Whether the current account is over (false with none).
bool workOver() noexcept;

// ---- The net under loops that pay nothing ----
// The primitives every loop over what a document carries passes through
// (ASN.1 decoding and DER encoding, digests, base64, public-key arithmetic,
// the canonicaliser, name comparison) tick the current account once per
// bounded step of their work (some hundreds of instructions to a few
// microseconds). A tick spends no units, so no verdict of a document the
// account does not stop changes; every WORK_CLOCK_TICKS ticks it reads the
// account's clock (a wall-clock read, some 25 ns) as a charge does. Once the account is over a tick answers
// false and the primitive refuses cheaply (a decode fails, a digest never
// matches, a key check fails, a comparison answers no): the rest of any loop
// costs a refusal a round and the document is refused as a whole.
// True when the thread has no account, or its account is closed.
bool workTick() noexcept;
constexpr uint32_t WORK_CLOCK_TICKS = 256;
// For tests: the ticks this thread has answered, those of them that answered
// false (refusals), and the clock reads by ticks that put an account over,
// since the thread started.
uint64_t workTicksCounted() noexcept;
uint64_t workTicksRefused() noexcept;
uint64_t workTicksStopping() noexcept;
