// openssl's OCSP responder behind a local HTTP server: each posted request goes through
// "openssl ocsp -index ... -reqin" with a CA's index and the given signer, and its answer is
// served back. The net tests' fixtures are those of tests/data/net/make.sh.
#pragma once

#include "net/localhttp.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <stdlib.h>
#include <unistd.h>

// The handler of a LocalHttpServer that answers as openssl's responder over the CA's `index`,
// signing with `signer` and `key` (paths of files).
inline LocalHttpServer::Handler opensslOcspResponderOf(const std::string& index,
                                                       const std::string& ca,
                                                       const std::string& signer,
                                                       const std::string& key)
{
  return [index, ca, signer, key](const LocalRequest& r) {
    LocalAnswer a;
    char folder[] = "/tmp/talnetocspXXXXXX";
    if (r.head.find("Content-Type: application/ocsp-request\r\n") == std::string::npos ||
        !mkdtemp(folder)) {
      a.bytes = httpAnswer(400, "", "");
      return a;
    }
    const std::string in = std::string(folder) + "/req", out = std::string(folder) + "/resp";
    std::ofstream(in, std::ios::binary) << r.body;
    const std::string files[] = {index, ca, signer, key};
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

// The responder of the test CA of the data folder net/ signing with `signer` and `key` (files
// of that folder).
inline LocalHttpServer::Handler opensslOcspResponder(const std::string& signer,
                                                     const std::string& key)
{
  const std::string dir = std::string(TAL_TEST_DATA_DIR) + "/net/";
  return opensslOcspResponderOf(dir + "index.txt", dir + "ca.pem", dir + signer, dir + key);
}
