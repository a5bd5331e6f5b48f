#include "xmlsig/xmlmemcharge.h"

#include "xmlsig/xmlc14transform.h"

#include <libxml/globals.h>
#include <libxml/xmlmemory.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The allocator under the wrapper. A new one is made when an application
// replaces the wrapper; old ones are never freed, so a thread still inside one
// of its functions never sees it go.
struct Underlying {
  xmlFreeFunc free;
  xmlMallocFunc malloc;
  xmlMallocFunc atomic;
  xmlReallocFunc realloc;
  xmlStrdupFunc strdup;
  bool libc;  // sizes of blocks known (malloc_usable_size)
  // What the wrapper stood over when this record was made: an application
  // that laid its functions over the wrapper passes its calls on to it.
  const Underlying* previous;
};
std::atomic<const Underlying*> underlying{nullptr};
std::mutex installLock;
// Every allocator record made, kept reachable for the process's life.
std::vector<std::unique_ptr<Underlying>>& allocatorRecords() {
  static auto* records = new std::vector<std::unique_ptr<Underlying>>();
  return *records;
}

thread_local XmlMemoryScope* topScope = nullptr;
// Set while one of the wrapper's functions runs on this thread: an
// application allocator that calls back into the wrapper is charged once.
thread_local bool charging = false;
// The record whose function runs on this thread, and which function.
enum Kind { FREE, MALLOC, ATOMIC, REALLOC, STRDUP };
thread_local const Underlying* activeRecord = nullptr;
thread_local int activeKind = -1;

const int64_t MAX_LIMIT = std::numeric_limits<int64_t>::max() / 4;

size_t blockSize(const Underlying* u, void* p, size_t asked) {
  return u->libc ? malloc_usable_size(p) : asked;
}

// The size a block was charged with, when a scope of this thread allocated it
// over an application's allocator (libc's gives it itself); 0 when unknown.
size_t chargedSize(const Underlying* u, void* p) {
  if (!p) return 0;
  if (u->libc) return malloc_usable_size(p);
  for (XmlMemoryScope* s = topScope; s; s = s->enclosing()) {
    size_t n = s->forget(p);
    if (n) return n;
  }
  return 0;
}

// A block refused to the scopes of this thread. Also where libxml2's work
// ticks the processor-time net (every block it asks for).
bool refused(size_t n) {
  XmlLibxmlWork::tick();
  if (topScope && topScope->refusesEveryBlock()) return true;
  if (n < XML_LARGE_BLOCK) return false;
  for (XmlMemoryScope* s = topScope; s; s = s->enclosing())
    if (s->refusesLargeBlocks()) return true;
  return false;
}

// Only the innermost scope is charged as it goes; it passes its net and its
// peak on to the enclosing one when it ends.
void charge(int64_t octets, size_t asked) {
  if (topScope) topScope->add(octets, asked);
}

// Runs an underlying function with the scopes of this thread charged once,
// and chooses the allocator that serves the call. A call that comes back
// while a function of the same kind runs comes from an application layer over
// the wrapper passing it on: the allocator the layer wrapped serves it (the
// current one would call the layer again, for ever). Any other call that
// comes back (libxml2's strdup allocating) stays with the running allocator.
class Reentry {
 public:
  explicit Reentry(Kind kind)
      : outer(!charging), savedRecord(activeRecord), savedKind(activeKind) {
    if (outer || !activeRecord)
      record = underlying.load(std::memory_order_acquire);
    else if (kind == activeKind && activeRecord->previous)
      record = activeRecord->previous;
    else
      record = activeRecord;
    charging = true;
    activeRecord = record;
    activeKind = kind;
  }
  ~Reentry() {
    activeRecord = savedRecord;
    activeKind = savedKind;
    if (outer) charging = false;
  }
  Reentry(const Reentry&) = delete;
  Reentry& operator=(const Reentry&) = delete;
  bool counts() const { return outer && topScope; }
  const Underlying* allocator() const { return record; }

 private:
  bool outer;
  const Underlying* savedRecord;
  int savedKind;
  const Underlying* record;
};

// libc's allocator under the wrapper, called from outside it (the common
// case): libc never calls back into the wrapper, so the bookkeeping of Reentry
// is not needed; the null when any other allocator serves the call.
const Underlying* directLibc() {
  if (charging) return nullptr;
  const Underlying* u = underlying.load(std::memory_order_acquire);
  return u && u->libc ? u : nullptr;
}

void* allocate(Kind kind, size_t n) {
  if (directLibc()) {
    if (!topScope) {
      XmlLibxmlWork::tick();
      return ::malloc(n);
    }
    if (refused(n)) return nullptr;
    void* p = ::malloc(n);
    if (p) charge(static_cast<int64_t>(malloc_usable_size(p)), n);
    return p;
  }
  Reentry r(kind);
  const Underlying* u = r.allocator();
  const xmlMallocFunc f = kind == ATOMIC ? u->atomic : u->malloc;
  if (!r.counts()) return f(n);
  if (refused(n)) return nullptr;
  void* p = f(n);
  if (p) {
    if (!u->libc) topScope->remember(p, n);
    charge(static_cast<int64_t>(blockSize(u, p, n)), n);
  }
  return p;
}

void* chargedMalloc(size_t n) { return allocate(MALLOC, n); }
void* chargedAtomic(size_t n) { return allocate(ATOMIC, n); }

void* chargedRealloc(void* p, size_t n) {
  Reentry r(REALLOC);
  const Underlying* u = r.allocator();
  if (!r.counts()) return u->realloc(p, n);
  // An existing block grows even past the limit or after the net's stop:
  // libxml2 2.9 loses a block whose growth fails (its node-set merge, the
  // canonicaliser's growBufferReentrant). The stopped work ends at its next
  // operation or the next block it asks for anew.
  if (p) XmlLibxmlWork::tick();
  else if (refused(n)) return nullptr;
  int64_t before = static_cast<int64_t>(chargedSize(u, p));
  void* q = u->realloc(p, n);
  if (q) {
    if (!u->libc) topScope->remember(q, n);
    charge(static_cast<int64_t>(blockSize(u, q, n)) - before, n);
  } else if (!u->libc && before) {
    topScope->remember(p, static_cast<size_t>(before));  // the old block stays
  }
  return q;
}

void chargedFree(void* p) {
  if (directLibc()) {
    if (p && topScope) charge(-static_cast<int64_t>(malloc_usable_size(p)), 0);
    ::free(p);
    return;
  }
  Reentry r(FREE);
  const Underlying* u = r.allocator();
  if (p && r.counts()) charge(-static_cast<int64_t>(chargedSize(u, p)), 0);
  u->free(p);
}

char* chargedStrdup(const char* s) {
  Reentry r(STRDUP);
  const Underlying* u = r.allocator();
  if (!r.counts() || !s) return u->strdup(s);
  size_t n = strlen(s) + 1;
  if (refused(n)) return nullptr;
  char* p = u->strdup(s);
  if (p) {
    if (!u->libc) topScope->remember(p, n);
    charge(static_cast<int64_t>(blockSize(u, p, n)), n);
  }
  return p;
}

bool isWrapper(xmlFreeFunc f, xmlMallocFunc m, xmlMallocFunc a, xmlReallocFunc r, xmlStrdupFunc s) {
  return f == chargedFree && m == chargedMalloc && a == chargedAtomic && r == chargedRealloc &&
         s == chargedStrdup;
}

}  // namespace

uint64_t xmlMemoryAllowance(uint64_t octets) {
  const uint64_t most = static_cast<uint64_t>(MAX_LIMIT);
  return octets > most / XML_MEMORY_RATIO ? most
                                          : octets * XML_MEMORY_RATIO + XML_MEMORY_ALLOWANCE;
}

bool xmlChargingAllocatorInPlace() {
  xmlFreeFunc f = nullptr;
  xmlMallocFunc m = nullptr, a = nullptr;
  xmlReallocFunc r = nullptr;
  xmlStrdupFunc s = nullptr;
  if (xmlGcMemGet(&f, &m, &a, &r, &s) != 0) return false;
  if (isWrapper(f, m, a, r, s)) return true;
  std::lock_guard<std::mutex> hold(installLock);
  if (xmlGcMemGet(&f, &m, &a, &r, &s) != 0 || !f || !m || !a || !r || !s) return false;
  if (isWrapper(f, m, a, r, s)) return true;
  // Made once per replacement of libxml2's allocator, never freed (see Underlying).
  Underlying* u = nullptr;
  try {
    allocatorRecords().push_back(std::make_unique<Underlying>(
        Underlying{f, m, a, r, s, false, underlying.load(std::memory_order_acquire)}));
    u = allocatorRecords().back().get();
  } catch (const std::bad_alloc&) {
    return false;
  }
  const xmlFreeFunc libcFree = ::free;
  const xmlMallocFunc libcMalloc = ::malloc;
  const xmlReallocFunc libcRealloc = ::realloc;
  u->libc = f == libcFree && m == libcMalloc && a == libcMalloc && r == libcRealloc;
  underlying.store(u, std::memory_order_release);
  return xmlGcMemSetup(chargedFree, chargedMalloc, chargedAtomic, chargedRealloc, chargedStrdup) ==
         0;
}

uint64_t xmlDocumentMemoryLeft(xmlDocPtr doc) {
  if (!doc) return XML_MEMORY_ALLOWANCE;
  if (doc->_private) return reinterpret_cast<uintptr_t>(doc->_private) - 1;
  return xmlMemoryAllowance(xmlProfileDocument(doc).size);
}

void xmlRecordDocumentMemoryLeft(xmlDocPtr doc, uint64_t left) {
  // The number itself is kept (plus one, so that zero is not "none"): libxml2
  // leaves a document's _private to the application and never frees it.
  if (doc) doc->_private = reinterpret_cast<void*>(static_cast<uintptr_t>(left) + 1);
}

XmlMemoryScope::XmlMemoryScope(uint64_t limit, XmlWorkBudget* budget)
    : parent(topScope), budget(budget), limit(0) {
  setLimit(limit);
  // an enclosing scope of this thread checked the wrapper when it began
  overLimit = !parent && !xmlChargingAllocatorInPlace();
  topScope = this;
}

void XmlMemoryScope::setLimit(uint64_t octets) {
  limit = octets > static_cast<uint64_t>(MAX_LIMIT) ? MAX_LIMIT : static_cast<int64_t>(octets);
}

XmlMemoryScope::~XmlMemoryScope() {
  topScope = parent;
  if (!parent) return;
  parent->absorb(live, highest);
  // blocks still held stay charged to the enclosing scopes, which may see them freed
  if (!blocks.empty()) {
    try {
      parent->blocks.insert(blocks.begin(), blocks.end());
    } catch (...) {
    }
  }
}

void XmlMemoryScope::remember(void* block, size_t octets) noexcept {
  try {
    blocks[block] = octets;
  } catch (...) {
    // unknown from here on: its free is not counted (the charge errs high)
  }
}

size_t XmlMemoryScope::forget(void* block) noexcept {
  auto it = blocks.find(block);
  if (it == blocks.end()) return 0;
  size_t n = it->second;
  blocks.erase(it);
  return n;
}

void XmlMemoryScope::add(int64_t octets, size_t asked) noexcept {
  live += octets;
  if (live > highest) highest = live;
  if (overLimit) return;
  if (live > limit) passOver();
  else if (budget && asked >= XML_LARGE_BLOCK && !budget->charge(asked / 8, true))
    passOver();
}

void XmlMemoryScope::absorb(int64_t innerLive, int64_t innerPeak) noexcept {
  const int64_t peakHere = live + innerPeak;
  if (peakHere > highest) highest = peakHere;
  live += innerLive;
  if (!overLimit && peakHere > limit) passOver();
}

void XmlMemoryScope::passOver() noexcept {
  overLimit = true;
  if (stopFunction) stopFunction(stopArgument);
}
