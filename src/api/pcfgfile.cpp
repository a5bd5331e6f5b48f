#include "api/pcfgfile.h"

#include "asn1/asnint.h"
#include "base/commonerror.h"
#include "pki/common/algid.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "platform/fileio.h"

#include <memory>
#include <new>
#include <vector>

namespace {

struct OptionRow {
  int32_t option;
  const ASNobjectId* oid;
  int32_t defaultValue;
};

// In the order the rows are inserted; a second row for a number would be ignored.
const OptionRow kOptionRows[] = {
    {3, &privateOid_2_5_7, 1},   {4, &privateOid_2_5_12, 0},   {14, &privateOid_2_5_21, 0},
    {12, &privateOid_2_5_19, 0}, {7, &privateOid_2_5_14, 0},   {8, &privateOid_2_5_15, 0},
    {9, &privateOid_2_5_16, 0},  {10, &privateOid_2_5_17, 0},  {11, &privateOid_2_5_18, 0},
    {6, &privateOid_2_5_13, 0},  {5, &privateOid_2_5_9, 0},    {13, &privateOid_2_5_20, 0},
    {16, &privateOid_2_5_23, 0}, {17, &privateOid_2_5_24, 30}, {18, &privateOid_2_5_25, 0},
    {19, &privateOid_2_5_26, 0}, {20, &privateOid_2_5_27, 0},  {24, &privateOid_2_5_31, 0},
    {22, &privateOid_2_5_28, 0}, {23, &privateOid_2_5_29, 0},  {2, &privateOid_2_5_6, 1},
    {27, &privateOid_2_5_33, 1}, {28, &privateOid_2_5_35, 0},  {29, &privateOid_2_5_36, 1},
    {30, &privateOid_2_5_37, 0}, {33, &privateOid_2_5_39, 0},  {32, &privateOid_2_5_38, 0},
    {34, &privateOid_2_5_40, 1}, {35, &privateOid_2_5_41, 1},  {37, &privateOid_2_5_41, 1},
};

struct SymmetricRow {
  uint32_t code;
  const ASNobjectId* oid;
};

// Code 2 and 4 both stand for DES-EDE3-CBC; the setter finds 4 first.
const SymmetricRow kSymmetricRows[] = {
    {1, &desCBC},
    {4, &des_ede3_cbc},
    {2, &des_ede3_cbc},
    {3, &oid_1_2_840_113549_3_40},
    {5, &oid_1_2_840_113549_3_41},
    {9, &IDEA_CBC},
    {11, &rc2_cbc},
    {12, &privateOid_4_3},
    {13, &id_aes128_CBC},
    {14, &id_aes192_CBC},
    {15, &id_aes256_CBC},
};

// What a known attribute outside the option table holds as its first value.
enum class Kind { Integer, Enumerated, PolicyList, AlgorithmId, Sequence };

struct KnownAttribute {
  const ASNobjectId* oid;
  Kind kind;
};

const KnownAttribute kOtherAttributes[] = {
    {&privateOid_2_5_1, Kind::PolicyList},   {&privateOid_2_5_3, Kind::Enumerated},
    {&privateOid_2_5_5, Kind::Integer},      {&privateOid_2_5_8, Kind::Sequence},
    {&privateOid_2_5_11, Kind::Sequence},    {&privateOid_2_5_22, Kind::Integer},
    {&privateOid_2_5_32, Kind::AlgorithmId},
};

// The first value of the attribute as a number of at most 32 bits carried
// exactly by the universal tag given (INTEGER 2 or ENUMERATED 10).
bool readNumber(const Attribute& attribute, unsigned char tag, uint32_t& out) {
  const ASNany* value = attribute.attrValues.elementAt(0);
  if (!value || value->tag != tag) return false;
  ASNinteger integer;
  ASNenum enumerated;
  ASNinteger& number = tag == 0x0A ? enumerated : integer;
  if (number.assignFromAny(*value) != 1 || number.byteLength() > 4) return false;
  out = number.toLong();
  return true;
}

bool fitsKind(const Attribute& attribute, Kind kind) {
  const ASNany* value = attribute.attrValues.elementAt(0);
  if (!value) return false;
  uint32_t number = 0;
  switch (kind) {
    case Kind::Integer:
      return readNumber(attribute, 0x02, number);
    case Kind::Enumerated:
      return readNumber(attribute, 0x0A, number);
    case Kind::PolicyList: {
      ASNsequenceList<PolicyIdAndNote> policies;
      return value->tag == 0x30 && policies.assignFromAny(*value) == 1;
    }
    case Kind::AlgorithmId: {
      AlgorithmIdentifier algId;
      return value->tag == 0x30 && algId.assignFromAny(*value) == 1;
    }
    case Kind::Sequence:
      return value->tag == 0x30;
  }
  return false;
}

}  // namespace

TALCfgFile::TALCfgFile() : ASNsequenceList<Attribute>(0), table(nullptr) {
  table = new (std::nothrow) std::map<int32_t, CfgOptionDef>();
  if (!table) throwBadAllocation();
  try {
    for (const OptionRow& row : kOptionRows)
      table->emplace(row.option, CfgOptionDef{row.option, *row.oid, row.defaultValue});
  } catch (const std::bad_alloc&) {
    delete table;
    throwBadAllocation();
  }
}

TALCfgFile::TALCfgFile(const TALCfgFile& other) : TALCfgFile() { assign(other); }

TALCfgFile& TALCfgFile::operator=(const TALCfgFile& other) {
  if (this != &other) {
    TALCfgFile copy(other);
    if (takeAttributes(copy) != 1) throwBadAllocation();
  }
  return *this;
}

TALCfgFile::~TALCfgFile() { delete table; }

const CfgOptionDef& TALCfgFile::optionDef(int32_t option, int line) const {
  auto it = table->find(option);
  checkInvariant(it != table->end(), SRC, line, "0");
  return it->second;
}

bool TALCfgFile::hasOption(int32_t option) const { return table->count(option) != 0; }

int32_t TALCfgFile::getInt(int32_t option) const {
  const CfgOptionDef& def = optionDef(option, 566);
  const Attribute* attribute = findAttribute(def.oid);
  uint32_t value = 0;
  if (!attribute || !readNumber(*attribute, 0x02, value)) return def.defaultValue;
  return static_cast<int32_t>(value);
}

int TALCfgFile::setInt(int32_t option, int32_t value) {
  const CfgOptionDef& def = optionDef(option, 592);
  ASNinteger number;
  number.set(static_cast<uint32_t>(value));
  return setAttribute(def.oid, number);
}

const Attribute* TALCfgFile::findAttribute(const ASNobjectId& oid) const {
  return ::findAttribute(*this, oid);
}

Attribute* TALCfgFile::findAttribute(const ASNobjectId& oid) { return ::findAttribute(*this, oid); }

int TALCfgFile::setAttribute(const ASNobjectId& oid, const ASNobject& value) {
  return ::setAttribute(*this, oid, value, true) ? 1 : EASN_MEM;
}

int TALCfgFile::getAttrObject(const ASNobjectId& oid, ASNobject& target) const {
  const Attribute* attribute = findAttribute(oid);
  if (!attribute) return 1;
  const ASNany* value = attribute->attrValues.elementAt(0);
  if (!value) return 0;
  int r = target.assignFromAny(*value);
  if (r == 1) return 1;
  return r == EASN_MEM ? EASN_MEM : 0;
}

int TALCfgFile::getAttr1(ASNsequenceList<PolicyIdAndNote>& policies) const {
  return getAttrObject(privateOid_2_5_1, policies);
}

int TALCfgFile::getAttrInPlace(const ASNobjectId& oid, ASNobject& target) const {
  const Attribute* attribute = findAttribute(oid);
  if (!attribute) return 1;
  const ASNany* value = attribute->attrValues.elementAt(0);
  if (!value) return 0;
  // The stored octets, read in place over a private copy: a certificate
  // signed over a TBS that is not DER verifies over what was stored, never
  // over a re-encoding.
  std::vector<unsigned char> der;
  int r = value->encodeVector(der);
  if (r == EASN_MEM) return EASN_MEM;
  if (r < 1) return 0;
  r = target.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY);
  if (r == EASN_MEM) return EASN_MEM;
  return r == static_cast<int>(der.size()) ? 1 : 0;
}

int TALCfgFile::getAttr8(ASNobject& certificates) const {
  return getAttrInPlace(privateOid_2_5_8, certificates);
}

int TALCfgFile::getAttr11(ASNobject& certificates) const {
  return getAttrInPlace(privateOid_2_5_11, certificates);
}

int TALCfgFile::setAttr8(const ASNobject& certificates) {
  return setAttribute(privateOid_2_5_8, certificates);
}

int TALCfgFile::setAttr11(const ASNobject& certificates) {
  return setAttribute(privateOid_2_5_11, certificates);
}

int TALCfgFile::setSignatureAlgorithmAttr(const AlgorithmIdentifier& algId) {
  return setAttribute(privateOid_2_5_32, algId);
}

int TALCfgFile::setAttr5(int32_t value) {
  ASNinteger number;
  number.set(static_cast<uint32_t>(value));
  return setAttribute(privateOid_2_5_5, number);
}

int TALCfgFile::setAttr22(int32_t value) {
  ASNinteger number;
  number.set(static_cast<uint32_t>(value));
  return setAttribute(privateOid_2_5_22, number);
}

int32_t TALCfgFile::getAttr22(bool useDefault) const {
  const Attribute* attribute = findAttribute(privateOid_2_5_22);
  uint32_t value = 0;
  if (attribute && readNumber(*attribute, 0x02, value)) return static_cast<int32_t>(value);
  return useDefault ? 1 : 0;
}

bool TALCfgFile::getSignatureAlgorithmAttr(AlgorithmIdentifier& algId) const {
  const Attribute* attribute = findAttribute(privateOid_2_5_32);
  return attribute && attribute->getValue(0, algId);
}

const ASNobjectId& TALCfgFile::getSymmetricAlgorithm(bool useDefault) const {
  const Attribute* attribute = findAttribute(privateOid_2_5_3);
  uint32_t code = 0;
  if (attribute && readNumber(*attribute, 0x0A, code))
    for (const SymmetricRow& row : kSymmetricRows)
      if (row.code == code) return *row.oid;
  return useDefault ? des_ede3_cbc : id_aes128_CBC;
}

int TALCfgFile::setSymmetricAlgorithm(const ASNobjectId& oid) {
  const SymmetricRow* found = nullptr;
  for (const SymmetricRow& row : kSymmetricRows)
    if (*row.oid == oid) {
      found = &row;
      break;
    }
  checkInvariant(found != nullptr, SRC, 265, "false");
  ASNenum code;
  code.set(found->code);
  return setAttribute(privateOid_2_5_3, code);
}

// ---------------------------------------------------------------------------
// The stored configuration

int TALCfgFile::checkStored(int32_t* badIndex) const {
  int32_t index = 0;
  for (POSITION pos = GetHeadPosition(); pos; ++index) {
    const Attribute* attribute = GetNext(pos);
    if (!attribute) continue;
    bool known = false;
    bool fits = true;
    for (const auto& entry : *table)
      if (entry.second.oid == attribute->attrType) {
        known = true;
        fits = fitsKind(*attribute, Kind::Integer);
        break;
      }
    for (const KnownAttribute& other : kOtherAttributes)
      if (!known && *other.oid == attribute->attrType) {
        known = true;
        fits = fitsKind(*attribute, other.kind);
      }
    if (!fits) {
      if (badIndex) *badIndex = index;
      return TALCFG_BAD_VALUE;
    }
  }
  return TALCFG_OK;
}

int TALCfgFile::takeAttributes(TALCfgFile& other) {
  int32_t old = GetCount();
  int32_t moved = 0;
  bool ok = true;
  try {
    for (POSITION pos = other.GetHeadPosition(); pos && ok;) {
      Attribute* attribute = other.GetNext(pos);
      ok = AddTail(attribute) != nullptr;
      if (ok) ++moved;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    while (moved-- > 0) RemoveTail();
    return EASN_MEM;
  }
  // Nothing below allocates: the attributes change hands whole.
  other.RemoveAll();
  while (old-- > 0) delete RemoveHead();
  // A list read in place would go on writing the octets it was read from.
  releaseSource();
  flags &= ~(ASN_FLAG_CONST | ASN_FLAG_COPY);
  return 1;
}

int TALCfgFile::load(const unsigned char* data, size_t length, int32_t* badIndex) {
  if (length > TALCFG_MAX_SIZE) return TALCFG_TOO_LARGE;
  if (!data || length < 2) return TALCFG_MALFORMED;
  try {
    TALCfgFile fresh;
    int r = fresh.decodeBuffer(data, static_cast<int>(length), 0);
    if (r == EASN_MEM) return TALCFG_NO_MEMORY;
    if (r != static_cast<int>(length)) return TALCFG_MALFORMED;
    r = fresh.checkStored(badIndex);
    if (r != TALCFG_OK) return r;
    return takeAttributes(fresh) == 1 ? TALCFG_OK : TALCFG_NO_MEMORY;
  } catch (const std::bad_alloc&) {
    return TALCFG_NO_MEMORY;
  }
}

int TALCfgFile::loadFile(const char* path, int32_t* badIndex) {
  if (!path || !platform::pathExists(path)) return TALCFG_NOT_FOUND;
  int fd = platform::openFile(path, true, false, platform::OpenDisposition::OpenExisting);
  if (fd == platform::INVALID_FILE) return TALCFG_IO_ERROR;
  std::vector<unsigned char> bytes;
  int result = TALCFG_OK;
  int64_t size = platform::fileSize(fd);
  if (size < 0)
    result = TALCFG_IO_ERROR;
  else if (static_cast<uint64_t>(size) > TALCFG_MAX_SIZE)
    result = TALCFG_TOO_LARGE;
  try {
    // Read what is there, not what the size said: the file may change
    // under us, and never more than the limit plus one octet.
    unsigned char chunk[4096];
    while (result == TALCFG_OK) {
      int64_t n = platform::readFile(fd, chunk, sizeof chunk);
      if (n < 0)
        result = TALCFG_IO_ERROR;
      else if (n == 0)
        break;
      else if (bytes.size() + static_cast<size_t>(n) > TALCFG_MAX_SIZE)
        result = TALCFG_TOO_LARGE;
      else
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
  } catch (const std::bad_alloc&) {
    result = TALCFG_NO_MEMORY;
  }
  platform::closeFile(fd);
  if (result != TALCFG_OK) return result;
  return load(bytes.data(), bytes.size(), badIndex);
}

int TALCfgFile::saveFile(const char* path) const {
  if (!path || !*path) return TALCFG_IO_ERROR;
  std::vector<unsigned char> bytes;
  try {
    int r = encodeVector(bytes);
    if (r == EASN_MEM) return TALCFG_NO_MEMORY;
    if (r < 1 || static_cast<size_t>(r) != bytes.size()) return TALCFG_MALFORMED;
  } catch (const std::bad_alloc&) {
    return TALCFG_NO_MEMORY;
  }
  if (bytes.size() > TALCFG_MAX_SIZE) return TALCFG_TOO_LARGE;
  return platform::replaceFileContent(path, bytes.data(), bytes.size()) ? TALCFG_OK
                                                                        : TALCFG_IO_ERROR;
}
