// The database settings of a library context, read from its active key
// profile: "dbtype" chooses the factory and the chosen factory loads its own
// parameter ("db", "dbname") from the profile. They are read again at every
// connection, so a changed setting chooses the database of the next one.
#pragma once

#include "store/dbmanager.h"

#include <memory>

class ConfigurationManager;

class ContextDbSettings : public DbSettingsSource {
 public:
  explicit ContextDbSettings(const ConfigurationManager& configuration)
      : configuration(configuration) {}

  // Null without a profile; EnDb_Exception for a "dbtype" that names no
  // factory. Without "dbtype" the default factory stays chosen.
  DbConfig* dbSettings() override;

 private:
  const ConfigurationManager& configuration;
  std::unique_ptr<DbConfig> settings;
};
