// openssl's OCSP responder behind a local HTTP server: each posted request goes through
// "openssl ocsp -index ... -reqin" with the test CA's index and the given signer, and its
// answer is served back. The fixtures are those of tests/data/net/make.sh.
#pragma once

#include "net/localhttp.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <stdlib.h>
#include <unistd.h>

// The handler of a LocalHttpServer that answers as the responder signing with `signer` and
// `key` (files of the test data folder net/).
inline LocalHttpServer::Handler opensslOcspResponder(const std::string& signer,
                                                     const std::string& key)
{
  const std::string dir = std::string(TAL_TEST_DATA_DIR) + "/net/";
  return [dir, signer, key](const LocalRequest& r) {
    LocalAnswer a;
    char folder[] = "/tmp/talnetocspXXXXXX";
    if (r.head.find("Content-Type: application/ocsp-request\r\n") == std::string::npos ||
        !mkdtemp(folder)) {
      a.bytes = httpAnswer(400, "", "");
      return a;
    }
    const std::string in = std::string(folder) + "/req", out = std::string(folder) + "/resp";
    std::ofstream(in, std::ios::binary) << r.body;
    const std::string files[] = {dir + "index.txt", dir + "ca.pem", dir + signer, dir + key};
    const char* argv[] = {"openssl", "ocsp", "-index", files[0].c_str(), "-CA", files[1].c_str(),
                          "-rsigner", files[2].c_str(), "-rkey", files[3].c_str(), "-reqin",
                          in.c_str(), "-respout", out.c_str(), nullptr};
    const int status = runQuiet(argv, true, nullptr);
    std::ifstream answer(out, std::ios::binary);
    const std::string der((std::istreambuf_iterator<char>(answer)), {});
    a.bytes = status == 0 ? httpAnswer(200, "application/ocsp-response", der)
                          : httpAnswer(500, "", "");
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(folder);
    return a;
  };
}
