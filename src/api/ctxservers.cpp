#include "api/ctxservers.h"

#include "api/talctx.h"
#include "keys/talprofile.h"
#include "net/netmanager.h"

#include <algorithm>
#include <memory>

namespace {

void addOnce(std::vector<std::string>& urls, const std::string& url) {
  if (std::find(urls.begin(), urls.end(), url) == urls.end()) urls.push_back(url);
}

}  // namespace

void ContextServers::findServers(int32_t kind, const char*, std::vector<std::string>& urls) const {
  if (const TalProfile* profile = context.configuration.activeProfile()) {
    auto release = [](ServerIterator* iterator) { TalProfile::destroyServerList(iterator); };
    std::unique_ptr<ServerIterator, decltype(release)> configured(profile->createServerIterator(kind),
                                                                  release);
    if (kind > 0 && configured)
      for (const ProfileServer& server : configured->servers) addOnce(urls, server.url);
  }
  if (kind != NET_SERVER_CERTIFICATES) return;
  // The import table names the certificate servers data was taken from; only names that are
  // addresses can be asked again.
  std::vector<std::string> names;
  try {
    std::unique_ptr<DbBase> connection(context.database.getConnection());
    if (connection && connection->srv()) connection->srv()->listServers(kind, names);
  } catch (const std::exception&) {
    names.clear();
  }
  for (const std::string& name : names)
    if (name.find("://") != std::string::npos) addOnce(urls, name);
}
