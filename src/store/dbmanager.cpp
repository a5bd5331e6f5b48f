#include "store/dbmanager.h"

#include "platform/debugout.h"

#include <exception>

namespace {

void reportException(const char* text, const std::exception& e)
{
  platform::debugOutput(text);
  platform::debugOutput(e.what());
}

}  // namespace

DbManager::~DbManager() = default;

void DbManager::setContext(DbSettingsSource* newContext)
{
  context = newContext;
  settings.reset();
}

void DbManager::setSettings(DbConfig* newSettings)
{
  settings.reset(newSettings);
}

DbBase* DbManager::getConnection()
{
  try {
    DbConfig* config = context ? context->dbSettings() : settings.get();
    if (!config)
      return nullptr;
    return config->connect();
  } catch (const std::exception& e) {
    db.reset();
    reportException("Wyjatek w funkcji: DbManager::getConnection()", e);
    return nullptr;
  }
}

DbBase* DbManager::database()
{
  if (!db)
    db.reset(getConnection());
  return db.get();
}

template <class Operation>
int DbManager::guarded(const char* text, int failure, Operation operation)
{
  try {
    DbBase* base = database();
    if (!base)
      return failure;
    return operation(*base);
  } catch (const std::exception& e) {
    reportException(text, e);
    return failure;
  }
}

int DbManager::createDb()
{
  int result = 2;
  try {
    if (database()) {
      result = db->verify();
      // A folder with no database gets a new one; one cut short or of
      // another version is reported as it is.
      if (result == DB_VERIFY_MISSING) {
        db->create();
        result = db->verify();
      }
    }
  } catch (const std::exception& e) {
    reportException("Wyjatek w funkcji: DbManager::createDb()", e);
    result = 2;
  }
  db.reset();
  return result;
}

int DbManager::findCertsBySerNumHash(DbCertList& list, const DbHash& hash)
{
  return guarded("Wyjatek w funkcji: DbManager::findCertsBySerNumHash()", 0, [&](DbBase& base) {
    base.crt()->findBySerNumHash(list, hash);
    return 1;
  });
}

int DbManager::findCertsBySbjDnHash(DbCertList& list, const DbHash& hash)
{
  return guarded("Wyjatek w funkcji: DbManager::findCertsBySbjDnHash()", 0, [&](DbBase& base) {
    base.crt()->findBySbjDnHash(list, hash);
    return 1;
  });
}

int DbManager::findCertsBySbjDnFld(DbCertList& list, char tag, const std::string& value)
{
  return guarded("Wyjatek w funkcji: DbManager::findCertsBySbjDnFld()", 0, [&](DbBase& base) {
    base.crt()->findBySbjDnFld(list, tag, value);
    return list.empty() ? 3 : 1;
  });
}

int DbManager::findCertsByKeyIdHash(DbCertList& list, const DbHash& hash)
{
  return guarded("Wyjatek w funkcji: DbManager::findCertsByKeyIdHash()", 0, [&](DbBase& base) {
    base.crt()->findByKeyIdHash(list, hash);
    return 1;
  });
}

int DbManager::insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash,
                          const DbHash& certHash, const DbHash& keyIdHash,
                          const std::string& email, const DbBytes& der,
                          const DbDnFieldList& fields, bool isCa, bool* stored)
{
  if (stored)
    *stored = false;
  return guarded("Wyjatek w funkcji: DbManager::insertCert()", 0, [&](DbBase& base) {
    bool added = base.crt()->insertCert(serNumHash, sbjDnHash, certHash, keyIdHash, email, der,
                                        fields, isCa);
    if (stored)
      *stored = added;
    return 1;
  });
}

void DbManager::setNetCertTime(const std::string& key)
{
  guarded("Wyjatek w funkcji: DbManager::setNetCertTime()", 0, [&](DbBase& base) {
    base.crt()->setNetCertTime(key);
    return 1;
  });
}

int64_t DbManager::getNetCertTime(const std::string& key)
{
  int64_t time = 0;
  guarded("Wyjatek w funkcji: DbManager::getNetCertTime()", 0, [&](DbBase& base) {
    time = base.crt()->getNetCertTime(key);
    return 1;
  });
  return time;
}

int DbManager::insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n,
                         int32_t removeNumber)
{
  return guarded("Wyjatek w funkcji: DbManager::insertCrl()", 0, [&](DbBase& base) {
    base.crl()->insertCrl(indexDer, crlDer, n, removeNumber);
    return 1;
  });
}

int DbManager::getCrlIndex(DbBytes& index, DbCrlGuard& guard)
{
  return guarded("Wyjatek w funkcji: DbManager::getCrlIndex()", 0, [&](DbBase& base) {
    base.crl()->getCrlIndex(index, guard);
    return 1;
  });
}

int DbManager::getCrlByFileNum(int32_t n, DbBytes& out)
{
  return guarded("Wyjatek w funkcji: DbManager::getCrlByFileNum()", 0, [&](DbBase& base) {
    base.crl()->getCrlByFileNum(n, out);
    return 1;
  });
}
