#include "api/dbsettings.h"

#include "api/cfgmgr.h"
#include "keys/talprofile.h"

namespace {

// The profile's named settings as the factories load them.
class ProfileParamStore : public DbParamStore {
 public:
  explicit ProfileParamStore(ProfileParameters& parameters) : parameters(parameters) {}
  bool getParam(const std::string& name, std::string& value) override
  {
    return parameters.get(name, value);
  }
  void setParam(const std::string& name, const std::string& value) override
  {
    parameters.set(name, value);
  }

 private:
  ProfileParameters& parameters;
};

}  // namespace

DbConfig* ContextDbSettings::dbSettings()
{
  ProfileParameters* parameters = configuration.getProfileParameters();
  if (!parameters)
    return nullptr;
  std::unique_ptr<DbConfig> fresh(new DbConfig);
  std::string type;
  if (parameters->get("dbtype", type))
    fresh->setParam("dbtype", type);
  ProfileParamStore store(*parameters);
  fresh->current()->loadParams(store);
  settings = std::move(fresh);
  return settings.get();
}
