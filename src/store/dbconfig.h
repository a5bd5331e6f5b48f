// Database selection: the registered connection factories, the one chosen by
// "dbtype", and the chosen factory's own parameter ("db" the directory of the
// file-backed database, "dbname" the name of a memory database).
#pragma once

#include "store/dbbase.h"

#include <memory>
#include <string>
#include <vector>

// Factory names, the values of "dbtype".
extern const char* const DB_TYPE_FILE;    // "talvorin"
extern const char* const DB_TYPE_NONE;    // "brak"
extern const char* const DB_TYPE_MEMORY;  // "w pamieci"

template <class Db>
class DbCfgMgr {
 public:
  typedef DbConnFactoryIfs<Db> Factory;

  explicit DbCfgMgr(const std::string& defaultType) : defaultType(defaultType) {}
  DbCfgMgr(const DbCfgMgr& other);
  DbCfgMgr& operator=(const DbCfgMgr&) = delete;
  virtual ~DbCfgMgr() = default;

  // Takes the factory; the first registered of a name wins a "dbtype" choice.
  void registerFactory(Factory* factory);

  // "dbtype" chooses the factory (names compared in lower case); any other name
  // goes to the chosen factory (the default one when none is chosen yet).
  // Throws EnDb_Exception for an unknown type or parameter.
  void setParam(const std::string& name, const std::string& value);
  void getParam(const std::string& name, std::string& value);

  // The chosen factory, null when none.
  Factory* current() const { return chosen; }
  // The chosen factory's checkParams, then its connect; throws EnDb_Exception
  // naming "dbtype" when no factory is chosen.
  Db* connect();

 private:
  void chooseType(const std::string& value);
  void ensureChosen();

  std::vector<std::unique_ptr<Factory>> factories;
  Factory* chosen = nullptr;
  std::string defaultType;
};

// The three factories registered in order ("talvorin", "brak", "w pamieci"),
// the file-backed one chosen.
class DbConfig : public DbCfgMgr<DbBase> {
 public:
  DbConfig();
  DbConfig(const DbConfig& other) = default;
};

