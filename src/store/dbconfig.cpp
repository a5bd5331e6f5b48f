#include "store/dbconfig.h"

#include "store/dbmem.h"
#include "store/dbnone.h"
#include "store/dbtal.h"

const char* const DB_TYPE_FILE = "talvorin";
const char* const DB_TYPE_NONE = "brak";
const char* const DB_TYPE_MEMORY = "w pamieci";

namespace {

const char* const MISSING_PARAMETER = "Brak parametru konfiguracyjnego: ";

[[noreturn]] void throwNoSuchParameter(const std::string& name)
{
  throw EnDb_Exception("Parametr: " + name + "nie istnieje");
}

// A factory with one text parameter of a fixed name (none for "brak").
template <class Db>
class OneParamFactory : public DbConnFactoryIfs<Db> {
 public:
  OneParamFactory(const char* name, const char* paramName) : name(name), paramName(paramName) {}

  void loadParams(DbParamStore& source) override
  {
    value.clear();
    if (paramName)
      source.getParam(paramName, value);
  }
  void saveParams(DbParamStore& sink) override
  {
    if (paramName)
      sink.setParam(paramName, value);
  }
  void getParam(const std::string& param, std::string& out) override
  {
    checkName(param);
    out = value;
  }
  void setParam(const std::string& param, const std::string& newValue) override
  {
    checkName(param);
    value = newValue;
  }
  const char* getName() const override { return name; }

 protected:
  std::string value;

 private:
  void checkName(const std::string& param) const
  {
    if (!paramName || dbLowerCase(param) != paramName)
      throwNoSuchParameter(param);
  }

  const char* name;
  const char* paramName;
};

// "talvorin": the file-backed database in a directory.
class TalConnFactory : public OneParamFactory<DbBase> {
 public:
  TalConnFactory() : OneParamFactory(DB_TYPE_FILE, "db") {}
  DbBase* connect() override
  {
    std::unique_ptr<DbTal> db(new DbTal);
    db->connect(value);
    return db.release();
  }
  void checkParams() override
  {
    if (value.empty())
      throw EnDb_Exception(std::string(MISSING_PARAMETER) + "db");
  }
  DbConnFactoryIfs<DbBase>* clone() const override { return new TalConnFactory(*this); }
};

class NoneConnFactory : public OneParamFactory<DbBase> {
 public:
  NoneConnFactory() : OneParamFactory(DB_TYPE_NONE, nullptr) {}
  DbBase* connect() override { return new DbNone; }
  void checkParams() override {}
  DbConnFactoryIfs<DbBase>* clone() const override { return new NoneConnFactory; }
};

class MemConnFactory : public OneParamFactory<DbBase> {
 public:
  MemConnFactory() : OneParamFactory(DB_TYPE_MEMORY, "dbname") {}
  DbBase* connect() override
  {
    std::unique_ptr<DbMem> db(new DbMem);
    db->connect(value);
    return db.release();
  }
  void checkParams() override {}
  // A clone starts with an empty name.
  DbConnFactoryIfs<DbBase>* clone() const override { return new MemConnFactory; }
};

}  // namespace

template <class Db>
DbCfgMgr<Db>::DbCfgMgr(const DbCfgMgr& other) : defaultType(other.defaultType)
{
  for (const auto& factory : other.factories) {
    factories.emplace_back(factory->clone());
    if (factory.get() == other.chosen)
      chosen = factories.back().get();
  }
}

template <class Db>
void DbCfgMgr<Db>::registerFactory(Factory* factory)
{
  std::unique_ptr<Factory> owned(factory);
  factories.push_back(std::move(owned));
}

template <class Db>
void DbCfgMgr<Db>::chooseType(const std::string& value)
{
  std::string type = dbLowerCase(value);
  if (chosen && dbLowerCase(chosen->getName()) == type)
    return;
  chosen = nullptr;
  for (const auto& factory : factories)
    if (dbLowerCase(factory->getName()) == type) {
      chosen = factory.get();
      return;
    }
  std::string text =
      "Niepoprawna wartosc parametru konfiguracyjnego: dbType. Dopuszczalne wartosci to: ";
  for (const auto& factory : factories)
    text += std::string(" ") + factory->getName();
  throw EnDb_Exception(text);
}

template <class Db>
void DbCfgMgr<Db>::ensureChosen()
{
  if (chosen)
    return;
  if (defaultType.empty())
    throw EnDb_Exception(std::string(MISSING_PARAMETER) + "dbtype");
  chooseType(defaultType);
}

template <class Db>
void DbCfgMgr<Db>::setParam(const std::string& name, const std::string& value)
{
  if (dbLowerCase(name) == "dbtype") {
    chooseType(value);
    return;
  }
  ensureChosen();
  chosen->setParam(name, value);
}

template <class Db>
void DbCfgMgr<Db>::getParam(const std::string& name, std::string& value)
{
  if (dbLowerCase(name) == "dbtype") {
    value = chosen ? chosen->getName() : "";
    return;
  }
  ensureChosen();
  chosen->getParam(name, value);
}

template <class Db>
Db* DbCfgMgr<Db>::connect()
{
  if (!chosen)
    throw EnDb_Exception(std::string(MISSING_PARAMETER) + "dbtype");
  chosen->checkParams();
  return chosen->connect();
}

template class DbCfgMgr<DbBase>;

DbConfig::DbConfig() : DbCfgMgr<DbBase>(DB_TYPE_FILE)
{
  registerFactory(new TalConnFactory);
  registerFactory(new NoneConnFactory);
  registerFactory(new MemConnFactory);
  setParam("dbtype", DB_TYPE_FILE);
}
