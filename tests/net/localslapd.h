// slapd for the LDAP tests, started on a free port of 127.0.0.1 and stopped by its destructor.
#pragma once

#include "net/ldapclient.h"
#include "net/netclient.h"
#include "net/localhttp.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

// slapd in a temporary folder, on a free port of 127.0.0.1, loaded with an LDIF file (the
// test data's directory.ldif unless another is given).
class LocalSlapd {
 public:
  explicit LocalSlapd(const std::string& ldif = std::string(TAL_TEST_DATA_DIR) + "/net/directory.ldif")
  {
    char folder[] = "/tmp/talslapdXXXXXX";
    if (!mkdtemp(folder))
      return;
    dir = folder;
    mkdir((dir + "/db").c_str(), 0700);
    std::ofstream(dir + "/slapd.conf") << "include /etc/ldap/schema/core.schema\n"
                                          "include /etc/ldap/schema/cosine.schema\n"
                                          "include /etc/ldap/schema/inetorgperson.schema\n"
                                          "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
                                          "database mdb\nsuffix \"c=PL\"\nmaxsize 10485760\n"
                                          "directory " << dir << "/db\n";
    const std::string conf = dir + "/slapd.conf";
    const char* add[] = {"slapadd", "-f", conf.c_str(), "-l", ldif.c_str(), nullptr};
    if (runQuiet(add, true, nullptr) != 0)
      return;
    port = closedLocalPort();
    const std::string listen = "ldap://127.0.0.1:" + std::to_string(port) + "/";
    const char* run[] = {"slapd", "-d", "0", "-f", conf.c_str(), "-h", listen.c_str(), nullptr};
    runQuiet(run, false, &pid);
    // Ready once a search answers.
    for (long waited = 0; pid && waited < HANG_GUARD_MS && !programEnded(pid); waited += 50) {
      std::vector<std::vector<uint8_t>> v;
      LdapQuery probe;
      probe.url = url("c=PL");
      probe.timeoutMs = 5000;
      if (ldapFetch(probe, v) == NET_OK)
        break;
      usleep(50 * 1000);
    }
  }
  ~LocalSlapd()
  {
    if (pid) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (!dir.empty()) {
      const std::string rm = "rm -rf " + dir;
      if (system(rm.c_str()) != 0)
        ADD_FAILURE() << rm;
    }
  }
  std::string url(const std::string& dn) const
  {
    return "ldap://127.0.0.1:" + std::to_string(port) + "/" + dn;
  }
  std::string dir;
  pid_t pid = 0;
  int port = 0;
};

