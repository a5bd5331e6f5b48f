// The policy table of certification-path checking: one column per
// certificate of the path, one row per policy path still valid, and a
// "mapped" flag per row.
#pragma once

#include <cstdint>
#include <vector>

#include "base/typedptrlist.h"
#include "pki/x509/x509ext.h"

// A row is an array of columnCount() cells, made with new[]; the table owns
// its rows and frees them itself (the base list's element deleter would
// free a single cell). Rows are reached through an index of list positions,
// so row(j) does not walk the list; change the rows only through this
// class's operations, which keep the index.
class PolicyTable : public TypedPointerList<PolicyInformation> {
 public:
  // Upper bound of rows x columns. A path of certificates that assert or map
  // thousands of policies multiplies rows; past the bound a row cannot be
  // added, which the verifier reports as a table failure.
  static constexpr int64_t kMaxCells = 8192;

  PolicyTable();
  ~PolicyTable() override;
  PolicyTable(const PolicyTable&) = delete;
  PolicyTable& operator=(const PolicyTable&) = delete;

  uint32_t columnCount() const { return columns; }
  int32_t rowCount() const { return GetCount(); }

  // Deletes all rows and flags and sets the column count.
  void reset(uint32_t n);
  // Appends a row of empty cells with a clear flag: its index, or -1.
  int32_t addRow();
  // Appends a copy of row j (cells and flag): its index, or -1.
  int32_t duplicateRow(int32_t j);
  void removeRow(int32_t j);
  // Deletes every row j whose drop[j] is nonzero, in one pass; later rows
  // keep their order. drop may be shorter than the table.
  void removeRows(const std::vector<unsigned char>& drop);
  PolicyInformation* row(int32_t j) const;
  bool isRowMapped(int32_t j) const;
  void setRowMapped(int32_t j, bool value);
  void clearRowFlags();
  // Deletes every row and flag; the column count stays.
  void clear();
  // This table becomes a copy of other; std::bad_alloc "bad allocation"
  // when a row cannot be added.
  void assign(const PolicyTable& other);

 private:
  bool roomForRow() const;
  PolicyInformation* newRow() const;
  int32_t appendRow(PolicyInformation* cells, unsigned char flag);

  uint32_t columns;
  std::vector<POSITION> index;        // list position of each row
  std::vector<unsigned char> mapped;  // parallel to the rows
};

// Appends a PolicyInformation carrying oid: 1, or 0 (nothing appended).
int addPolicyOid(CertificatePolicies& list, const ASNobjectId& oid);
// True when list holds a mapping with both OIDs equal to mapping's.
bool findPolicyMapping(const PolicyMappings& list, const PolicyMapping* mapping);
// Appends to target a copy of each qualifier of source whose id target does
// not hold yet: 1 when all of source was merged, 0 otherwise. Lists longer
// than kMaxMergedQualifiers are refused (0): every row of the table may get
// its own copy.
constexpr int32_t kMaxMergedQualifiers = 32;
int mergeByOid(PolicyQualifiers& target, const PolicyQualifiers& source);
