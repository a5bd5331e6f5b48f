#include "pki/x509/poltab.h"

#include <new>

#include "base/commonerror.h"

namespace {
const char* const SRC = "libx509/poltab";
}

PolicyTable::PolicyTable() : columns(0) { owns = false; }

PolicyTable::~PolicyTable() { clear(); }

void PolicyTable::reset(uint32_t n) {
  clear();
  columns = n;
}

void PolicyTable::clear() {
  while (GetCount() > 0) delete[] RemoveTail();
  index.clear();
  mapped.clear();
}

bool PolicyTable::roomForRow() const {
  return columns > 0 && (int64_t(GetCount()) + 1) * int64_t(columns) <= kMaxCells;
}

PolicyInformation* PolicyTable::newRow() const {
  return new (std::nothrow) PolicyInformation[columns];
}

int32_t PolicyTable::appendRow(PolicyInformation* cells, unsigned char flag) {
  POSITION pos = nullptr;
  try {
    // Room first, so that nothing can fail once the row is in the list.
    index.reserve(index.size() + 1);
    mapped.reserve(mapped.size() + 1);
    pos = AddTail(cells);
  } catch (const std::bad_alloc&) {
    pos = nullptr;
  }
  if (!pos) {
    delete[] cells;
    return -1;
  }
  index.push_back(pos);
  mapped.push_back(flag);
  return GetCount() - 1;
}

int32_t PolicyTable::addRow() {
  if (!roomForRow()) return -1;
  PolicyInformation* cells = newRow();
  if (!cells) return -1;
  return appendRow(cells, 0);
}

int32_t PolicyTable::duplicateRow(int32_t j) {
  if (!roomForRow()) return -1;
  const PolicyInformation* source = row(j);
  if (!source) return -1;
  checkInvariant(j >= 0 && static_cast<size_t>(j) < mapped.size(), SRC, 170, "pos != NULL");
  PolicyInformation* cells = newRow();
  if (!cells) return -1;
  try {
    for (uint32_t c = 0; c < columns; ++c) cells[c] = source[c];
  } catch (const std::bad_alloc&) {
    delete[] cells;
    return -1;
  }
  return appendRow(cells, mapped[static_cast<size_t>(j)]);
}

void PolicyTable::removeRow(int32_t j) {
  if (j < 0 || static_cast<size_t>(j) >= index.size()) return;
  delete[] RemoveAt(index[static_cast<size_t>(j)]);
  index.erase(index.begin() + j);
  mapped.erase(mapped.begin() + j);
}

void PolicyTable::removeRows(const std::vector<unsigned char>& drop) {
  size_t kept = 0;
  for (size_t j = 0; j < index.size(); ++j) {
    if (j < drop.size() && drop[j]) {
      delete[] RemoveAt(index[j]);
      continue;
    }
    index[kept] = index[j];
    mapped[kept] = mapped[j];
    ++kept;
  }
  index.resize(kept);
  mapped.resize(kept);
}

PolicyInformation* PolicyTable::row(int32_t j) const {
  return j >= 0 && static_cast<size_t>(j) < index.size() ? GetAt(index[static_cast<size_t>(j)])
                                                         : nullptr;
}

bool PolicyTable::isRowMapped(int32_t j) const {
  return j >= 0 && static_cast<size_t>(j) < mapped.size() && mapped[static_cast<size_t>(j)] != 0;
}

void PolicyTable::setRowMapped(int32_t j, bool value) {
  if (j >= 0 && static_cast<size_t>(j) < mapped.size())
    mapped[static_cast<size_t>(j)] = value ? 1 : 0;
}

void PolicyTable::clearRowFlags() {
  for (unsigned char& f : mapped) f = 0;
}

void PolicyTable::assign(const PolicyTable& other) {
  if (this == &other) return;
  clear();
  columns = other.columns;
  int32_t j = 0;
  for (POSITION pos = other.GetHeadPosition(); pos; ++j) {
    const PolicyInformation* source = other.GetNext(pos);
    PolicyInformation* cells = newRow();
    if (!cells) throwBadAllocation();
    try {
      for (uint32_t c = 0; c < columns; ++c) cells[c] = source[c];
    } catch (...) {
      delete[] cells;
      throw;
    }
    if (appendRow(cells, other.isRowMapped(j) ? 1 : 0) < 0) throwBadAllocation();
  }
}

int addPolicyOid(CertificatePolicies& list, const ASNobjectId& oid) {
  PolicyInformation* p = nullptr;
  try {
    p = list.addNew();
    if (!p) return 0;
    p->policyIdentifier = oid;
  } catch (const std::bad_alloc&) {
    if (p) list.deleteTail();
    return 0;
  }
  return 1;
}

bool findPolicyMapping(const PolicyMappings& list, const PolicyMapping* mapping) {
  if (!mapping) return false;
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const PolicyMapping* m = list.GetNext(pos);
    if (m && m->issuerDomainPolicy == mapping->issuerDomainPolicy &&
        m->subjectDomainPolicy == mapping->subjectDomainPolicy)
      return true;
  }
  return false;
}

namespace {
// Whether target holds a qualifier with that id; the search ends at the
// first qualifier without an id.
bool holdsQualifier(const PolicyQualifiers& target, const ASNobjectId& id) {
  for (POSITION pos = target.GetHeadPosition(); pos;) {
    const PolicyQualifierInfo* q = target.GetNext(pos);
    if (!q || q->policyQualifierId.contentLength() == 0) return false;
    if (q->policyQualifierId == id) return true;
  }
  return false;
}
}  // namespace

int mergeByOid(PolicyQualifiers& target, const PolicyQualifiers& source) {
  if (source.GetCount() > kMaxMergedQualifiers) return 0;
  for (POSITION pos = source.GetHeadPosition(); pos;) {
    const PolicyQualifierInfo* q = source.GetNext(pos);
    if (!q || holdsQualifier(target, q->policyQualifierId)) continue;
    if (target.GetCount() >= kMaxMergedQualifiers) return 0;
    PolicyQualifierInfo* copy = nullptr;
    try {
      copy = target.addNew();
      if (!copy) return 0;
      *copy = *q;
    } catch (const std::bad_alloc&) {
      if (copy) target.deleteTail();
      return 0;
    }
  }
  return 1;
}
