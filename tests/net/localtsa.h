// A time-stamping authority behind a local HTTP server: each posted
// application/timestamp-query is answered with what `openssl ts -reply` makes
// of it, signed by the given TSA certificate and key, the chain carried.
#pragma once

#include "net/localhttp.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <stdlib.h>
#include <unistd.h>

struct OpensslTsaFiles {
  std::string certificate, key, chain;
  // Generation times with milliseconds, so tokens made in one second differ.
  bool milliseconds = false;
  // The query is set aside and a token over the digest of other data is
  // returned: its imprint is not the one asked for.
  bool otherImprint = false;
  // A server that authenticates its callers: the query must come as a DER
  // CMS SignedData carrying the request, whose signature `openssl cms
  // -verify` accepts with these trusted certificates (PEM); anything else is
  // refused (HTTP 403). Each accepted signer's subject is counted.
  std::string requestSignersCa = std::string();
  std::shared_ptr<int> signedAccepted = std::make_shared<int>(0);
};

inline LocalHttpServer::Handler opensslTsaOf(const OpensslTsaFiles& f) {
  return [f](const LocalRequest& r) {
    LocalAnswer a;
    char folder[] = "/tmp/taltsaXXXXXX";
    if (r.head.find("Content-Type: application/timestamp-query\r\n") == std::string::npos || !mkdtemp(folder)) {
      a.bytes = httpAnswer(400, "", "");
      return a;
    }
    const std::string w = folder;
    std::ofstream(w + "/serial") << "01\n";
    std::ofstream(w + "/tsa.cnf") << "[tsa]\ndefault_tsa = t\n[t]\nserial = " << w
                                  << "/serial\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                                     "digests = sha256\ness_cert_id_alg = sha256\naccuracy = secs:1\n"
                                  << (f.milliseconds ? "clock_precision_digits = 3\n" : "");
    std::ofstream(w + "/req", std::ios::binary) << r.body;
    if (!f.requestSignersCa.empty()) {
      const std::string in = w + "/req", out = w + "/plain";
      const char* verify[] = {"openssl", "cms", "-verify", "-inform", "DER", "-in", in.c_str(), "-binary",
                              "-CAfile", f.requestSignersCa.c_str(), "-purpose", "any", "-out", out.c_str(),
                              nullptr};
      const bool accepted = runQuiet(verify, true, nullptr) == 0 && std::rename(out.c_str(), in.c_str()) == 0;
      if (!accepted) {
        for (const char* name : {"/serial", "/tsa.cnf", "/req", "/plain"}) std::remove((w + name).c_str());
        rmdir(folder);
        a.bytes = httpAnswer(403, "", "");
        return a;
      }
      ++*f.signedAccepted;
    }
    if (f.otherImprint) {
      std::ofstream(w + "/other") << "other data\n";
      const std::string other = w + "/other", req = w + "/req";
      const char* query[] = {"openssl", "ts", "-query", "-data", other.c_str(), "-sha256", "-cert",
                             "-out", req.c_str(), nullptr};
      runQuiet(query, true, nullptr);
    }
    const std::string files[] = {w + "/tsa.cnf", w + "/req", f.certificate, f.key, f.chain, w + "/resp"};
    const char* argv[] = {"openssl", "ts", "-reply", "-config", files[0].c_str(), "-queryfile", files[1].c_str(),
                          "-signer", files[2].c_str(), "-inkey", files[3].c_str(), "-chain", files[4].c_str(),
                          "-out", files[5].c_str(), nullptr};
    const int status = runQuiet(argv, true, nullptr);
    std::ifstream answer(files[5], std::ios::binary);
    const std::string der((std::istreambuf_iterator<char>(answer)), {});
    a.bytes = status == 0 && !der.empty() ? httpAnswer(200, "application/timestamp-reply", der)
                                          : httpAnswer(500, "", "");
    for (const char* name : {"/serial", "/tsa.cnf", "/req", "/resp", "/serial.old", "/other"})
      std::remove((w + name).c_str());
    rmdir(folder);
    return a;
  };
}
