// The database that keeps nothing ("brak"): every store operation does
// nothing, queries find nothing, the database is always valid.
#pragma once

#include "store/dbbase.h"

class DbCrtNone : public DbCrtBase {
 public:
  void findBySerNumHash(DbCertList&, const DbHash&) override {}
  void findBySbjDnHash(DbCertList&, const DbHash&) override {}
  void findBySbjDnFld(DbCertList&, char, const std::string&) override {}
  void findByKeyIdHash(DbCertList&, const DbHash&) override {}
  void findByCertHash(DbCertList&, const DbHash&) override {}
  void listCa(DbCertList&) override {}
  bool insertCert(const DbHash&, const DbHash&, const DbHash&, const DbHash&, const std::string&,
                  const DbBytes&, const DbDnFieldList&, bool) override
  {
    return false;
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
};

class DbCrlNone : public DbCrlBase {
 public:
  void readAll(std::vector<DbBytes>&) override {}
  void insertCrl(const DbBytes&, const DbBytes&, int32_t, int32_t) override {}
  void getCrlIndex(DbBytes&, DbCrlGuard&) override {}
  void getCrlByFileNum(int32_t, DbBytes&) override {}
  void unlock() override {}
};

class DbSrvNone : public DbSrvBase {
 public:
  void removeServer(int32_t, const std::string&) override {}
  void getImportNumber(int32_t, const std::string&, uint32_t&) override {}
  void setImportNumber(int32_t, const std::string&, uint32_t) override {}
};

class DbNone : public DbBase {
 public:
  DbNone()
  {
    crtStore = new DbCrtNone;
    crlStore = new DbCrlNone;
    srvStore = new DbSrvNone;
  }
  void create() override {}
  int verify() override { return 0; }
  bool copyDb(const std::string&) override { return true; }
};
