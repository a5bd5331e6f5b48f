// The library's persistent configuration: a DER SEQUENCE OF Attribute, one
// attribute per setting keyed by an OID under the maker's enterprise arc.
// Most settings are 32-bit integers addressed by an option number through a
// fixed option table; a few attributes hold structured values.
//
// A stored configuration is data from disk: load() and loadFile() check every
// attribute the library knows against the type it declares and refuse the
// whole file when one does not fit, leaving the configuration in memory as
// it was. saveFile() replaces the file in one step, so a failed or
// interrupted write leaves the previous file whole.
#pragma once

#include "asn1/asnobjid.h"
#include "asn1/asnseql.h"
#include "pki/cms/attribute.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class AlgorithmIdentifier;
class PolicyIdAndNote;

// One row of the option table.
struct CfgOptionDef {
  int32_t option;
  ASNobjectId oid;
  int32_t defaultValue;
};

// Results of loading and saving a stored configuration.
const int TALCFG_OK = 1;
const int TALCFG_MALFORMED = 0;  // not exactly one DER SEQUENCE OF Attribute
const int TALCFG_IO_ERROR = -1;  // the file cannot be read or written
const int TALCFG_NO_MEMORY = -2;
const int TALCFG_BAD_VALUE = -4;  // a known attribute whose value does not fit its type
const int TALCFG_NOT_FOUND = -5;  // no file at the path
const int TALCFG_TOO_LARGE = -6;  // over TALCFG_MAX_SIZE octets

// Largest stored configuration accepted (it holds two certificate lists).
const size_t TALCFG_MAX_SIZE = 4u * 1024 * 1024;

class TALCfgFile : public ASNsequenceList<Attribute> {
 public:
  // Empty; builds the option table. Throws std::bad_alloc "bad allocation".
  TALCfgFile();
  // Copies every attribute (new attributes, values copied).
  TALCfgFile(const TALCfgFile& other);
  TALCfgFile& operator=(const TALCfgFile& other);
  ~TALCfgFile() override;

  // The option's stored INTEGER, or its default when it is not stored. A
  // stored value that is not a 32-bit INTEGER reads as the default too (a
  // loaded file never holds one; see checkStored). An option number outside
  // the table is an invariant failure.
  int32_t getInt(int32_t option) const;
  // 1, or -2 when the attribute cannot be stored (the list is then as it
  // was). An option number outside the table is an invariant failure.
  int setInt(int32_t option, int32_t value);
  bool hasOption(int32_t option) const;
  const std::map<int32_t, CfgOptionDef>& optionTable() const { return *table; }

  const Attribute* findAttribute(const ASNobjectId& oid) const;
  Attribute* findAttribute(const ASNobjectId& oid);
  // Replaces the values of the first attribute with that OID by the single
  // value, or appends a new attribute (oid, {value}): 1, or -2 with the list
  // left as it was.
  int setAttribute(const ASNobjectId& oid, const ASNobject& value);

  // Decode the attribute's first value into the caller's object: 1 when the
  // attribute is absent (the object untouched) or decoded, -2 when the
  // decoder ran out of memory, 0 for any other failure.
  int getAttr1(ASNsequenceList<PolicyIdAndNote>& policies) const;
  int getAttr8(ASNobject& certificates) const;
  int getAttr11(ASNobject& certificates) const;
  // 1 or -2.
  int setAttr8(const ASNobject& certificates);
  int setAttr11(const ASNobject& certificates);
  int setSignatureAlgorithmAttr(const AlgorithmIdentifier& algId);
  int setAttr5(int32_t value);
  int setAttr22(int32_t value);
  // The stored digest id; absent or not an INTEGER: 1 with useDefault, else 0.
  int32_t getAttr22(bool useDefault) const;
  bool getSignatureAlgorithmAttr(AlgorithmIdentifier& algId) const;
  // The OID of the stored code; absent, undecodable or unknown: DES-EDE3-CBC
  // with useDefault, else AES-128-CBC.
  const ASNobjectId& getSymmetricAlgorithm(bool useDefault) const;
  // 1 or -2; an OID outside the table is an invariant failure.
  int setSymmetricAlgorithm(const ASNobjectId& oid);

  // ---- the stored configuration ----
  // TALCFG_OK when every attribute the library reads holds, as its first
  // value, what it declares (INTEGER or ENUMERATED of at most 32 bits,
  // policy list, AlgorithmIdentifier, a SEQUENCE for the certificate
  // lists); else TALCFG_BAD_VALUE, with the position of the first offending
  // attribute in *badIndex when given. Attributes it does not know are kept
  // as they are.
  int checkStored(int32_t* badIndex = nullptr) const;
  // Replaces the configuration by the one encoded in data, all or nothing:
  // on any result but TALCFG_OK the configuration is as it was.
  int load(const unsigned char* data, size_t length, int32_t* badIndex = nullptr);
  int loadFile(const char* path, int32_t* badIndex = nullptr);
  // Writes the DER encoding over the file at path in one step.
  int saveFile(const char* path) const;

 private:
  static constexpr const char* SRC = "SRC/pcfgfile";

  const CfgOptionDef& optionDef(int32_t option, int line) const;
  int getAttrObject(const ASNobjectId& oid, ASNobject& target) const;
  // As getAttrObject, the value read in place over a private copy of its octets.
  int getAttrInPlace(const ASNobjectId& oid, ASNobject& target) const;
  // Moves the attributes of other into this list in place of its own; -2
  // (nothing changed) when the list cannot take them.
  int takeAttributes(TALCfgFile& other);

  std::map<int32_t, CfgOptionDef>* table;
};
