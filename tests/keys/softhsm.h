// A SoftHSM2 token of the test's own: a private SOFTHSM2_CONF and token folder in a temporary
// directory, the token made by softhsm2-util and loaded with the keys and certificates openssl
// made (tests/data/keys/p11/make_p11.sh): the RSA pair under CKA_ID 01 and label "rsa", the
// P-256 pair under 02 and "ec". User PIN "1234". Missing tools fail the test: CI installs them
// (scripts/deps.sh).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace softhsm {

const char* const TOKEN_LABEL = "tal-token";
const char* const USER_PIN = "1234";

inline std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/keys/p11/" + name;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The module as Debian installs it.
inline std::string modulePath() {
  for (const char* p : {"/usr/lib/softhsm/libsofthsm2.so",
                        "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
                        "/usr/lib64/softhsm/libsofthsm2.so"}) {
    std::ifstream probe(p);
    if (probe) return p;
  }
  return "";
}

// A key pair put on the token: its PKCS#8 PEM key and DER certificate, under a label and a
// CKA_ID (hexadecimal).
struct TokenKey {
  std::string key, certificate, label, id;
};

class Token {
 public:
  // Makes the token with the RSA and P-256 pairs above; false (with the failure reported) when a
  // tool is missing or fails.
  bool make() {
    return make({{dataPath("rsa.key"), dataPath("rsa.crt.der"), "rsa", "01"},
                 {dataPath("ec.key"), dataPath("ec.crt.der"), "ec", "02"}});
  }
  // Makes the token with the pairs given.
  bool make(const std::vector<TokenKey>& keys) {
    char pattern[] = "/tmp/tal-p11-XXXXXX";
    if (!mkdtemp(pattern)) {
      ADD_FAILURE() << "no temporary directory";
      return false;
    }
    dir = pattern;
    module = modulePath();
    if (module.empty()) {
      ADD_FAILURE() << "SoftHSM2 is not installed (scripts/deps.sh installs softhsm2 and opensc)";
      return false;
    }
    if (!run("mkdir -p '" + dir + "/tokens'")) return false;
    std::ofstream conf(dir + "/softhsm2.conf");
    conf << "directories.tokendir = " << dir << "/tokens\nobjectstore.backend = file\n"
         << "log.level = ERROR\n";
    conf.close();
    setenv("SOFTHSM2_CONF", (dir + "/softhsm2.conf").c_str(), 1);
    const std::string pin = std::string(" --pin ") + USER_PIN;
    const std::string tool = "pkcs11-tool --module '" + module + "' --token-label " +
                             TOKEN_LABEL + " --login" + pin + " --write-object ";
    if (!run(std::string("softhsm2-util --init-token --free --label ") + TOKEN_LABEL +
             " --so-pin 87654321" + pin))
      return false;
    for (const TokenKey& k : keys)
      if (!run("softhsm2-util --import '" + k.key + "' --token " + TOKEN_LABEL + " --label " +
               k.label + " --id " + k.id + pin) ||
          !run(tool + "'" + k.certificate + "' --type cert --id " + k.id + " --label " + k.label))
        return false;
    return true;
  }

  ~Token() {
    if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
  }

  // Runs a command, its output kept in the directory and shown when it fails.
  bool run(const std::string& command) {
    const std::string log = dir + "/command.log";
    if (std::system((command + " > '" + log + "' 2>&1").c_str()) == 0) return true;
    std::vector<uint8_t> out = readFile(log);
    ADD_FAILURE() << command << "\n" << std::string(out.begin(), out.end());
    return false;
  }

  std::string dir;
  std::string module;
};

}  // namespace softhsm
