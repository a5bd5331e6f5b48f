// The library context's single door to its database: connects on first use
// through the configured factory, forwards each operation to the certificate
// or CRL store, and turns every exception into a failure result (with two
// lines on the debugger channel: the operation's fixed text, then the
// exception's).
#pragma once

#include "store/dbconfig.h"

#include <memory>

// What the manager asks of the library context: its database settings (null
// when it has none). The API layer implements it over its configuration.
class DbSettingsSource {
 public:
  virtual ~DbSettingsSource() = default;
  virtual DbConfig* dbSettings() = 0;
};

class DbManager {
 public:
  DbManager() = default;
  ~DbManager();
  DbManager(const DbManager&) = delete;
  DbManager& operator=(const DbManager&) = delete;

  // Takes the settings from the context from now on (the held settings are dropped).
  void setContext(DbSettingsSource* context);
  // The settings used while no context is set (taken).
  void setSettings(DbConfig* settings);

  // A new connected database object (the caller owns it), null on failure.
  DbBase* getConnection();
  // The database's verify result (0 valid, 2 incomplete, 46 wrong version, 47
  // missing, 49 no access), after making a new database where there was none
  // (47); 2 when there is no database or an exception came. The database
  // object is dropped afterwards, so the next call reconnects.
  int createDb();

  // 1 success, 0 failure.
  int findCertsBySerNumHash(DbCertList& list, const DbHash& hash);
  int findCertsBySbjDnHash(DbCertList& list, const DbHash& hash);
  // 1 found, 3 nothing found, 0 failure.
  int findCertsBySbjDnFld(DbCertList& list, char tag, const std::string& value);
  int findCertsByKeyIdHash(DbCertList& list, const DbHash& hash);
  // 1 success (*stored tells whether the certificate is new; a certificate met
  // before is success without a new record), 0 failure.
  int insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash, const DbHash& certHash,
                 const DbHash& keyIdHash, const std::string& email, const DbBytes& der,
                 const DbDnFieldList& fields, bool isCa, bool* stored = nullptr);
  void setNetCertTime(const std::string& key);
  // 0 on failure.
  int64_t getNetCertTime(const std::string& key);
  int insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n, int32_t removeNumber);
  int getCrlIndex(DbBytes& index, DbCrlGuard& guard);
  int getCrlByFileNum(int32_t n, DbBytes& out);

 private:
  // The database object, connecting when there is none; null when that fails.
  DbBase* database();
  template <class Operation>
  int guarded(const char* text, int failure, Operation operation);

  std::unique_ptr<DbBase> db;
  std::unique_ptr<DbConfig> settings;
  DbSettingsSource* context = nullptr;
};
