// A certificate database double that keeps keys as the database interfaces
// say (20-octet hashes, field keys by dbFieldKey), indexed in memory; shared
// by the store tests and the path benchmark.
#pragma once

#include "store/certmgr.h"
#include "store/dbbase.h"

#include <map>
#include <string>
#include <vector>

class FakeDb : public DbCrtBase, public CertificateDbSource {
 public:
  DbCrtBase* certificateDb() override {
    ++asked;
    return this;
  }
  void find(const std::multimap<DbHash, DbRecId>& m, DbCertList& list, const DbHash& h) {
    for (auto r = m.equal_range(h); r.first != r.second; ++r.first)
      list.push_back(DbCertRecord{r.first->second, records[r.first->second]});
  }
  void findBySerNumHash(DbCertList& l, const DbHash& h) override { find(serial, l, h); }
  void findBySbjDnHash(DbCertList& l, const DbHash& h) override { find(subject, l, h); }
  void findBySbjDnFld(DbCertList& l, char tag, const std::string& v) override {
    for (auto r = fields.equal_range(dbFieldKey(tag, v)); r.first != r.second; ++r.first)
      l.push_back(DbCertRecord{r.first->second, records[r.first->second]});
  }
  void findByKeyIdHash(DbCertList& l, const DbHash& h) override { find(keyId, l, h); }
  void findByCertHash(DbCertList& l, const DbHash& h) override { find(whole, l, h); }
  void listCa(DbCertList&) override {}
  bool insertCert(const DbHash& s, const DbHash& d, const DbHash& c, const DbHash& k,
                  const std::string&, const DbBytes& der, const DbDnFieldList& f, bool) override {
    if (whole.count(c)) return false;
    DbRecId id = static_cast<DbRecId>(records.size());
    records.push_back(der);
    serial.emplace(s, id);
    subject.emplace(d, id);
    whole.emplace(c, id);
    keyId.emplace(k, id);
    for (const DbDnField& x : f) fields.emplace(dbFieldKey(x.tag, x.value), id);
    return true;
  }
  bool first() override { return false; }
  bool next() override { return false; }
  bool prev() override { return false; }
  DbRecId getCurrentRec() override { return 0; }
  void setCurrentRec(DbRecId) override {}
  void get(DbBytes&) override {}
  void deleteCert() override {}
  void setNetCertTime(const std::string&) override {}
  int64_t getNetCertTime(const std::string&) override { return 0; }

  int asked = 0;
  std::vector<DbBytes> records;
  std::multimap<DbHash, DbRecId> serial, subject, whole, keyId;
  std::multimap<std::string, DbRecId> fields;
};
