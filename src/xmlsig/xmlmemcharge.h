// The memory libxml2 and libxslt allocate while a document is parsed or
// transformed, charged to the operation that caused it.
//
// libxml2's allocation functions are wrapped (xmlGcMemSetup) around whatever
// they were: blocks still come from and go back to that allocator. While an
// XmlMemoryScope is active on a thread, every block that thread's libxml2 asks
// for or gives back is charged to it, and when it ends its net and its peak to
// the scope it nests in (whose limit is checked then). Over libc's
// allocator the charge is exact (malloc_usable_size, frees counted). Over an
// application's own allocator the sizes asked for are charged, and each scope
// keeps a table of the blocks it allocated so that their frees count; the
// table costs some fifty octets a block while the scope lasts (not charged),
// and a block allocated before the scope is not seen freed (the charge errs
// high).
//
// An application that calls xmlMemSetup or xmlGcMemSetup after us replaces the
// wrapper: every parse and transform checks that it is still in place
// (xmlChargingAllocatorInPlace) and wraps the new functions when it is not.
// New functions that pass their calls on to the ones they found (the wrapper)
// are served, on that call, by the allocator the wrapper stood over then.
// Setting libxml2's allocator while other threads use libxml2 is unsafe with or
// without us; the application does it before, as libxml2 requires.
#pragma once

#include "xmlsig/xmltransform.h"

#include <cstdint>
#include <unordered_map>
#include <libxml/tree.h>

// What a document may hold at once, its tree and everything a transform builds
// over it: this many times its octets, plus XML_MEMORY_ALLOWANCE (the parser's
// and a transform's fixed costs). libxml2 takes some 130 octets per element
// node, so a document of tiny empty elements (30 times its size) is refused
// while it is parsed; real documents take 2 to 19 times theirs.
const uint64_t XML_MEMORY_RATIO = 20;
const uint64_t XML_MEMORY_ALLOWANCE = 4u << 20;
// Blocks of this size and more are refused to a scope that is over its limit.
const size_t XML_LARGE_BLOCK = 4096;

uint64_t xmlMemoryAllowance(uint64_t octets);

// Wraps libxml2's current allocation functions unless the wrapper is already
// in place; false when libxml2 gives no allocator to wrap.
bool xmlChargingAllocatorInPlace();

// What is left of a parsed document's allowance once its tree is built
// (recorded by parseXmlDocument); for any other document, its allowance by the
// size its serialisation would have.
uint64_t xmlDocumentMemoryLeft(xmlDocPtr doc);
void xmlRecordDocumentMemoryLeft(xmlDocPtr doc, uint64_t left);

class XmlMemoryScope {
 public:
  // limit: the octets the scope's allocations may hold at once (net of what
  // they free). budget: when given, blocks of XML_LARGE_BLOCK octets and more
  // are charged to it too (one unit per eight octets), and running it out puts
  // the scope over. Installs the wrapper if needed.
  explicit XmlMemoryScope(uint64_t limit, XmlWorkBudget* budget = nullptr);
  ~XmlMemoryScope();
  XmlMemoryScope(const XmlMemoryScope&) = delete;
  XmlMemoryScope& operator=(const XmlMemoryScope&) = delete;

  bool refusesLargeBlocks() const { return refuseLarge && overLimit; }
  // True once the limit or the budget was passed (and from then on), or when
  // no allocator could be wrapped.
  bool over() const { return overLimit; }
  int64_t held() const { return live; }
  int64_t peak() const { return highest; }
  // Called once, on the allocating thread from inside libxml2, when the scope
  // goes over: it stops the operation (never throws).
  void onOver(void (*stop)(void*), void* arg) {
    stopFunction = stop;
    stopArgument = arg;
  }
  // Once over, blocks of XML_LARGE_BLOCK octets and more are refused, so the
  // operation fails within its next step. Only for code whose allocation
  // failures libxml2 handles (XPath); elsewhere the caller checks over().
  void refuseLargeBlocksWhenOver() { refuseLarge = true; }
  // From now on every new block asked for while this scope is the innermost
  // one is refused (existing blocks still grow): the canonicaliser, stopped by
  // the processor-time net, fails at its next element (it does its namespace
  // work on every element whatever the rule answers). Called from inside
  // libxml2: sets a flag only.
  void refuseEveryBlock() noexcept { refuseEvery = true; }
  bool refusesEveryBlock() const { return refuseEvery; }
  void setLimit(uint64_t octets);

  // The allocator's hooks: the innermost scope is charged.
  void add(int64_t octets, size_t asked) noexcept;
  XmlMemoryScope* enclosing() const { return parent; }
  // Over an application's allocator: the blocks this scope allocated, by size.
  void remember(void* block, size_t octets) noexcept;
  size_t forget(void* block) noexcept;

 private:
  void passOver() noexcept;
  void absorb(int64_t innerLive, int64_t innerPeak) noexcept;

  XmlMemoryScope* parent;
  XmlWorkBudget* budget;
  int64_t limit;
  int64_t live = 0;
  int64_t highest = 0;
  bool overLimit = false;
  bool refuseLarge = false;
  bool refuseEvery = false;
  void (*stopFunction)(void*) = nullptr;
  void* stopArgument = nullptr;
  std::unordered_map<void*, size_t> blocks;
};
