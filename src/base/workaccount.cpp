#include "base/workaccount.h"

#include <algorithm>
#include <ctime>

#include <atomic>

// Where the heap's count comes from: a sanitizer's allocator replaces libc's
// and keeps its own; glibc counts its own from 2.33 (mallinfo2). Elsewhere
// the heap is not read and the charges alone decide.
#if defined(__has_feature)
#if __has_feature(memory_sanitizer)
#define TAL_HEAP_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(TAL_SANITISED_BUILD) || defined(TAL_HEAP_SANITIZER_ALLOCATOR)
#if defined(__has_include)
#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#define TAL_HEAP_FROM_SANITIZER 1
#endif
#endif
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
#include <malloc.h>
#define TAL_HEAP_FROM_GLIBC 1
#endif

namespace {
// Octets the process's heap has handed out and not taken back (libc's small
// blocks and mapped ones, or the sanitizer's count): false when it cannot be
// read here.
bool heapInUse(uint64_t* octets) noexcept {
#if defined(TAL_HEAP_FROM_SANITIZER)
  *octets = static_cast<uint64_t>(__sanitizer_get_current_allocated_bytes());
  return true;
#elif defined(TAL_HEAP_FROM_GLIBC)
  const struct mallinfo2 m = mallinfo2();
  *octets = static_cast<uint64_t>(m.uordblks) + static_cast<uint64_t>(m.hblkhd);
  return true;
#else
  *octets = 0;
  return false;
#endif
}

// The memory allowances of the accounts open now, on every thread: the heap
// is the process's, so documents verified at once share its growth.
std::atomic<uint64_t> openMemoryAllowances{0};
}  // namespace

std::chrono::nanoseconds ProcessorAllowance::threadTime() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

void ProcessorAllowance::start(std::chrono::nanoseconds allowed) {
  allowance = std::max(allowed, std::chrono::nanoseconds(0));
  processorStart = threadTime();
  nextProcessorRead = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(allowance);
}

bool ProcessorAllowance::spent() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextProcessorRead) return false;
  const auto usedNow = used();
  if (usedNow >= allowance) return true;
  nextProcessorRead =
      now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(allowance - usedNow);
  return false;
}

std::chrono::nanoseconds ProcessorAllowance::used() const { return threadTime() - processorStart; }

namespace {
thread_local WorkAccount* currentAccount = nullptr;
// The test hook's trip, for the thread that armed it only.
thread_local long tripCountdown = 0;
thread_local uint64_t unitsDivisor = 1;
thread_local uint64_t lastSpent = 0;
thread_local uint64_t lastReads = 0;
thread_local uint64_t lastMemory = 0;
thread_local uint64_t lastMemoryLimit = 0;
const uint64_t MB = 1u << 20;
}  // namespace

void workAccountTripAfter(long reads) { tripCountdown = reads > 0 ? reads : 0; }
void workAccountShrinkUnits(uint64_t divisor) { unitsDivisor = divisor > 0 ? divisor : 1; }

WorkAccount::WorkAccount(uint64_t units, std::chrono::nanoseconds time) : limit(units) {
  clock.start(time);
}

uint64_t WorkAccount::documentUnits(uint64_t octets) {
  // Whole and partial megabytes alike; sizes past a terabyte (none is read)
  // count as one, so the arithmetic cannot wrap.
  const uint64_t o = std::min<uint64_t>(octets, 1ull << 40);
  return WORK_UNITS_BASE + (o / MB) * WORK_UNITS_PER_MB + (o % MB) * WORK_UNITS_PER_MB / MB;
}

std::chrono::nanoseconds WorkAccount::documentTime(uint64_t octets) {
  const uint64_t capped = std::min<uint64_t>(octets, 1ull << 40);
  const auto perMb = std::chrono::duration_cast<std::chrono::nanoseconds>(WORK_TIME_PER_MB);
  const auto time = std::chrono::duration_cast<std::chrono::nanoseconds>(WORK_TIME_BASE) +
                    std::chrono::nanoseconds(static_cast<int64_t>(
                        static_cast<double>(perMb.count()) * static_cast<double>(capped) / MB));
  return time * WORK_TIME_FACTOR;
}

uint64_t WorkAccount::documentMemory(uint64_t octets, uint64_t treeHeld) {
  const uint64_t o = std::min<uint64_t>(octets, 1ull << 40);
  const uint64_t figure = WORK_MEMORY_RATIO * o + WORK_MEMORY_BASE;
  const uint64_t taken = WORK_MEMORY_RESERVE + WORK_MEMORY_COPIES * o + std::min<uint64_t>(treeHeld, 1ull << 48);
  return std::max(figure > taken ? figure - taken : 0, WORK_MEMORY_FLOOR);
}

std::shared_ptr<WorkAccount> WorkAccount::forDocument(uint64_t octets, uint64_t treeHeld) {
  auto account =
      std::make_shared<WorkAccount>(documentUnits(octets) / unitsDivisor, documentTime(octets));
  account->setMemoryLimit(documentMemory(octets, treeHeld));
  return account;
}

bool WorkAccount::timeSpent() noexcept {
  if (timeOut) return true;
  if (closed) return false;
  ++reads;
  bool spentNow;
  if (tripCountdown > 0) {
    spentNow = --tripCountdown == 0;
  } else {
    spentNow = clock.spent();
  }
  if (spentNow) stop();
  return spentNow;
}

void WorkAccount::close() noexcept {
  closed = true;
  isOver = false;
  timeOut = false;
  memoryOut = false;
  limit = UINT64_MAX;
  releaseMemoryAllowance();
}

void WorkAccount::stop() noexcept {
  timeOut = true;
  isOver = true;
}

bool WorkAccount::charge(uint64_t units) noexcept {
  if (isOver) return false;
  spent += units;
  if (spent > limit || spent < units) {
    isOver = true;
    return false;
  }
  if ((++charges % WORK_CLOCK_CHARGES) == 0) timeSpent();
  return !isOver;
}

WorkAccount::~WorkAccount() { releaseMemoryAllowance(); }

void WorkAccount::releaseMemoryAllowance() noexcept {
  if (memoryRegistered) openMemoryAllowances.fetch_sub(memoryAllowed, std::memory_order_relaxed);
  memoryRegistered = false;
}

void WorkAccount::setMemoryLimit(uint64_t octets) noexcept {
  releaseMemoryAllowance();
  memoryAllowed = octets;
  heapKnown = heapInUse(&heapAtStart);
  counted = 0;
  if (octets != UINT64_MAX && !closed) {
    openMemoryAllowances.fetch_add(octets, std::memory_order_relaxed);
    memoryRegistered = true;
  }
}

bool WorkAccount::chargeMemory(uint64_t octets) noexcept {
  memory = octets > UINT64_MAX - memory ? UINT64_MAX : memory + octets;
  counted = octets > UINT64_MAX - counted ? UINT64_MAX : counted + octets;
  if (counted <= memoryAllowed || isOver || closed) return !isOver;
  // The charges do not see what was let go: the heap's growth since the
  // account opened decides. Within the allowance, the count starts again from
  // that growth, and the heap is read again once the charges since reach the
  // allowance (at least WORK_MEMORY_STEP later).
  uint64_t heap = 0;
  const bool known = heapKnown && heapInUse(&heap);
  const uint64_t growth = heap > heapAtStart ? heap - heapAtStart : 0;
  // The heap also grows with the documents other threads verify meanwhile:
  // growth within what all the open accounts allow refuses none of them, so
  // one document's memory never refuses another's.
  const uint64_t shared = std::max(memoryAllowed, openMemoryAllowances.load(std::memory_order_relaxed));
  if (!known || growth > shared) {
    isOver = true;
    memoryOut = true;
    return false;
  }
  ++heapReads;
  counted = std::min(growth, memoryAllowed > WORK_MEMORY_STEP ? memoryAllowed - WORK_MEMORY_STEP : 0);
  return true;
}

bool WorkAccount::pay(uint64_t price) noexcept {
  if (isOver) return false;
  if (price > remaining()) {
    isOver = true;
    return false;
  }
  spent += price;
  timeSpent();
  return !isOver;
}

void workTicksRestart() noexcept;

WorkAccountScope::WorkAccountScope(WorkAccount* account) noexcept : previous(currentAccount) {
  currentAccount = account;
  if (account) workTicksRestart();
}

WorkAccountScope::~WorkAccountScope() {
  if (currentAccount) {
    lastSpent = currentAccount->spentUnits();
    lastReads = currentAccount->clockReads();
    lastMemory = currentAccount->memoryCharged();
    lastMemoryLimit = currentAccount->memoryLimit();
  }
  currentAccount = previous;
}

uint64_t workAccountLastSpent() { return lastSpent; }
uint64_t workAccountLastReads() { return lastReads; }
uint64_t workAccountLastMemory() { return lastMemory; }
uint64_t workAccountLastMemoryLimit() { return lastMemoryLimit; }

WorkAccount* WorkAccountScope::current() noexcept { return currentAccount; }

bool workCharge(uint64_t units) noexcept {
  WorkAccount* a = currentAccount;
  return !a || a->charge(units);
}

bool workPay(uint64_t price) noexcept {
  WorkAccount* a = currentAccount;
  return !a || a->pay(price);
}

bool workChargeMemory(int64_t octets) noexcept {
  WorkAccount* a = currentAccount;
  return !a || octets <= 0 || a->chargeMemory(static_cast<uint64_t>(octets));
}

bool workOver() noexcept {
  WorkAccount* a = currentAccount;
  return a && a->over();
}

// ---- The net under loops that pay nothing ----
namespace {
// Per thread, not per account: restarted when a scope installs an account,
// so that a document's clock reads fall at the same ticks on every run.
thread_local uint32_t ticksToRead = WORK_CLOCK_TICKS;
thread_local uint64_t ticksCounted = 0;
thread_local uint64_t ticksRefused = 0;
thread_local uint64_t ticksStopping = 0;
}  // namespace

void workTicksRestart() noexcept { ticksToRead = WORK_CLOCK_TICKS; }

bool workTick() noexcept {
  ++ticksCounted;
  WorkAccount* a = currentAccount;
  if (!a) return true;
  bool goOn = !a->over();
  if (goOn && --ticksToRead == 0) {
    ticksToRead = WORK_CLOCK_TICKS;
    goOn = !a->timeSpent();
    if (!goOn) ++ticksStopping;
  }
  if (!goOn) ++ticksRefused;
  return goOn;
}

uint64_t workTicksCounted() noexcept { return ticksCounted; }
uint64_t workTicksRefused() noexcept { return ticksRefused; }
uint64_t workTicksStopping() noexcept { return ticksStopping; }
