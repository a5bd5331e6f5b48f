// The servers of a library context, as its configuration manager's server search sees them:
// those configured in the active profile (of every issuer), then the certificate servers that
// the context's database knows by URL.
#pragma once

#include "api/cfgmgr.h"

#include <string>
#include <vector>

struct talCtx;

class ContextServers : public ServerDirectory {
 public:
  explicit ContextServers(talCtx& context) : context(context) {}
  // A server is listed once, at its first place; a database that cannot be read adds none.
  void findServers(int32_t kind, const char* issuer, std::vector<std::string>& urls) const override;

 private:
  talCtx& context;
};
