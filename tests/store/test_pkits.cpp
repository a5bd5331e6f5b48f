// NIST PKITS through path verification, twice: each test's path as paths.tsv lists
// it (made by tests/data/store/pkits/gen.py), the builder's own checks on it
// (extensions, issuer is a CA, each signature under the next certificate's
// key), then verifyPath with the revocation manager, every PKITS CRL met
// (pending), CRL issuers' paths built from the intermediates; and
// each path as buildPathForCertificate finds it from a temporary store of
// every intermediate, the trust anchor installed as a root.
// The expected outcome of each test is in expected.tsv with its reason;
// openssl's answers stand beside them in paths.tsv.
#include "revocation_double.h"

#include "base/memfile.h"
#include "store/certmgr.h"
#include "store/lcrtstore.h"
#include "store/pathbuild.h"
#include "store/revpath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace revdouble;

const std::string kDir = std::string(TAL_TEST_DATA_DIR) + "/store/pkits/";

std::vector<std::vector<std::string>> readTsv(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream f(kDir + name);
  for (std::string line; std::getline(f, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::istringstream s(line);
    for (std::string c; std::getline(s, c, '\t');) cells.push_back(c);
    rows.push_back(cells);
  }
  return rows;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string x; std::getline(in, x, sep);) out.push_back(x);
  return out;
}

// What path building would have answered for this chain (the checks it
// makes while taking each issuer), "" when it would have built it.
std::string builderAnswer(PathVerification& pv, const CertificatePath& path) {
  const int n = path.GetCount();
  for (int i = 0; i + 1 < n; ++i) {
    const SignedCertificate& c = path.elementAt(i)->certificate;
    const SignedCertificate& issuer = path.elementAt(i + 1)->certificate;
    if (!pv.checkCertificateExtensions(c, PATH_PURPOSE_SIGNER)) return "10";
    if (!(c.tbsCertificate.issuer == issuer.tbsCertificate.subject)) return "10";
    // The trust point is taken by name and signature alone; other issuers
    // must be CA certificates.
    if (i + 2 < n && !issuer.isCa()) return "10";
    const int a = certificateSignatureAnswer(c.verifySignature(issuer), c.signature);
    if (a == CERT_ANSWER_DOES_NOT_VERIFY) return "1";
    if (a != CERT_ANSWER_VERIFIES) return "10";
  }
  return "";
}

// The trust anchor installed as a root; the builder runs the extension checks
// of path verification.
struct PkitsEnvironment : PathBuildEnvironment {
  PathVerification* verification = nullptr;
  const SignedCertificate* anchor = nullptr;
  bool extensionsAccepted(const SignedCertificate& c, int32_t purpose) override {
    return verification->checkCertificateExtensions(c, purpose);
  }
  void rootList(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.push_back(anchor);
  }
};

// Every certificate of the suite but the end certificates and the anchor.
struct Suite {
  CrlList crls;
  std::vector<std::unique_ptr<SignedCertificate>> intermediates;
  std::unique_ptr<SignedCertificate> anchor;
};

std::string verified(PathVerification& pv, const X509time& now, CertificatePath& path);

// The context the revocation manager sees: the anchor as the trust point, the
// suite's intermediates as the local store, CRL-issuer and responder paths
// built from them and verified by the same path verification.
struct ManagerContext : RevocationEnvironment {
  CertificateManager* manager = nullptr;
  PkitsEnvironment* build = nullptr;
  PathVerification* verification = nullptr;
  const Suite* suite = nullptr;
  void trustPoints(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.push_back(suite->anchor.get());
  }
  void certificatesBySubject(const DistinguishedName& name, CertificateList& out) override {
    for (auto& c : suite->intermediates)
      if (c->tbsCertificate.subject == name) out.AddTail(new SignedCertificate(*c));
  }
  void certificatesByIssuer(const DistinguishedName& name, CertificateList& out) override {
    for (auto& c : suite->intermediates)
      if (c->tbsCertificate.issuer == name) out.AddTail(new SignedCertificate(*c));
  }
  int verified(CertificatePath& path, int32_t purpose, const RevocationArgs& args,
               PathCollector* collector = nullptr) {
    return verification->verifyPath(path, args, false, purpose, true, nullptr, collector);
  }
  int verifyCertificatePath(const SignedCertificate& cert, int32_t purpose,
                            const RevocationArgs& args) override {
    return verifyCertificatePathCollecting(cert, purpose, args, nullptr);
  }
  // The nested verifications collect into the collector of the one that met them.
  int verifyCertificatePathCollecting(const SignedCertificate& cert, int32_t purpose,
                                      const RevocationArgs& args,
                                      PathCollector* collector) override {
    MemFile text;
    ReportStream report(&text);
    PathBuilder builder(*manager, *build, report);
    CertificatePath path;
    const int r = builder.buildPathForCertificate(path, cert, purpose, true);
    return r != 0 ? r : verified(path, purpose, args, collector);
  }
  int verifyPathByKeyId(const DistinguishedName& name, const AuthorityKeyIdentifier& akid,
                        const RevocationArgs& args, SignedCertificate& end) override {
    return verifyPathByKeyIdCollecting(name, akid, args, end, nullptr);
  }
  int verifyPathByKeyIdCollecting(const DistinguishedName& name, const AuthorityKeyIdentifier& akid,
                                  const RevocationArgs& args, SignedCertificate& end,
                                  PathCollector* collector) override {
    MemFile text;
    ReportStream report(&text);
    PathBuilder builder(*manager, *build, report);
    CertificatePath path;
    bool found = false;
    int r = builder.buildPathForIssuerKeyId(path, name, akid, PATH_PURPOSE_CRL_ISSUER, true, found);
    if (r == 0 && !found) r = PATH_RESULT_NO_PATH;
    if (r == 0) r = verified(path, PATH_PURPOSE_CRL_ISSUER, args, collector);
    if (r == 0) end = path.elementAt(0)->certificate;
    return r;
  }
};

// With `build`: the path built by buildPathForCertificate from a temporary
// store holding every intermediate. Without: the path paths.tsv lists. Either
// verified with the revocation manager, every PKITS CRL met (pending).
std::string outcome(const std::string& test, const std::string& files, const Suite& suite,
                    bool build) {
  X509time now;
  now.set(2020, 1, 1, 0, 0, 0);
  FixedPathClock clock(now.toTime64(true));
  RevocationManager rev(clock, nullptr);
  for (auto& c : suite.crls) rev.pendingCrls.emplace_back(new SignedCertRevList(*c));
  ManagedRevocation managed(rev);
  PathVerification pv;
  pv.revocation = &managed;
  CertificateManager manager;
  LCertificateStore store;
  for (auto& c : suite.intermediates) store.addCertificate(c.get());
  manager.addTemporaryStore(&store);
  PkitsEnvironment env;
  env.verification = &pv;
  env.anchor = suite.anchor.get();
  ManagerContext context;
  context.manager = &manager;
  context.build = &env;
  context.verification = &pv;
  context.suite = &suite;
  rev.environment = &context;
  CertificatePath path;
  if (build) {
    auto ee = load<SignedCertificate>(kDir + "certs/" + test + "EE.crt");
    if (!ee) return "undecodable";
    MemFile text;
    ReportStream report(&text);
    PathBuilder builder(manager, env, report);
    const int r = builder.buildPathForCertificate(path, *ee, PATH_PURPOSE_SIGNER, true);
    if (r != 0) return std::to_string(r);
    return verified(pv, now, path);
  }
  if (files == "-") return "10";
  for (const std::string& f : split(files, ',')) {
    auto c = load<SignedCertificate>(kDir + "certs/" + f);
    if (!c) return "undecodable";
    CertificateItem* item = path.addNew();
    item->certificate = *c;
  }
  std::string built = builderAnswer(pv, path);
  if (!built.empty()) return built;
  return verified(pv, now, path);
}

std::string verified(PathVerification& pv, const X509time& now, CertificatePath& path) {
  RevocationArgs args;
  args.time = &now;
  PathCollector collector;
  const int r = pv.verifyPath(path, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &collector);
  std::string out = std::to_string(r);
  if (r == 0)
    for (int i = 0; i + 1 < path.GetCount(); ++i)
      if (path.elementAt(i)->revocationState != REVSTATE_FOUND) {
        out += "/rs" + std::to_string(path.elementAt(i)->revocationState);
        break;
      }
  return out;
}

void loadSuite(Suite& suite) {
  // Every CRL of the suite is handed to the revocation manager.
  std::ifstream list(kDir + "crls.txt");
  for (std::string f; std::getline(list, f);) {
    auto c = load<SignedCertRevList>(kDir + "crls/" + f);
    ASSERT_TRUE(c) << f;
    suite.crls.push_back(std::move(c));
  }
  ASSERT_GE(suite.crls.size(), 170u);
  std::ifstream certs(kDir + "intermediates.txt");
  for (std::string f; std::getline(certs, f);) {
    auto c = load<SignedCertificate>(kDir + "certs/" + f);
    if (c) suite.intermediates.push_back(std::move(c));  // a DSA key without parameters does not decode
  }
  ASSERT_GE(suite.intermediates.size(), 170u);
  suite.anchor = load<SignedCertificate>(kDir + "certs/TrustAnchorRootCertificate.crt");
  ASSERT_TRUE(suite.anchor);
}

class Pkits : public ::testing::TestWithParam<bool> {};

TEST_P(Pkits, EveryPathTestAsExpected) {
  const bool build = GetParam();
  Suite suite;
  loadSuite(suite);
  const auto paths = readTsv("paths.tsv");
  ASSERT_GE(paths.size(), 200u);
  std::map<std::string, std::vector<std::string>> expected;
  for (auto& r : readTsv("expected.tsv")) expected[r[0]] = r;
  std::ofstream table(build ? "pkits_built.tsv" : "pkits_assembled.tsv");
  table << "# test\tours\texpected\topenssl (-policy anyPolicy)\treason\n";
  for (const auto& row : paths) {
    ASSERT_EQ(row.size(), 4u);
    SCOPED_TRACE(row[0]);
    const std::string got = outcome(row[0], row[1], suite, build);
    auto e = expected.find(row[0]);
    ASSERT_NE(e, expected.end());
    const std::string& want = build && e->second.size() > 3 ? e->second[3] : e->second[1];
    EXPECT_EQ(got, want);
    table << row[0] << '\t' << got << '\t' << want << '\t' << row[3] << '\t'
          << (e->second.size() > 2 ? e->second[2] : "") << '\n';
  }
}

// Paths as listed (the builder's checks made here), then as the builder finds them.
INSTANTIATE_TEST_SUITE_P(Paths, Pkits, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Built" : "Assembled";
                         });

}  // namespace
