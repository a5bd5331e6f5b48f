// bench-libs: tal_xmlsig tal_keys
// A signed document of about 1 MB with two references (the whole document
// with the enveloped signature left out, and an element by Id under
// exclusive canonicalisation), RSA-SHA256, signed by `xmlsec1 --sign` at start.
// Both sides do the same work on each iteration: parse the document,
// canonicalise SignedInfo and every reference, digest and compare them, and
// verify the SignatureValue with the public key given directly.
//   ours:    parseXmlDocument, XmlSigParser, the key manager's RSA verifier.
//   xmlsec1: `xmlsec1 --verify --pubkey-pem` as a process (its OpenSSL
//            back end, X509Data not read). Its start-up (loading libraries,
//            OpenSSL's and libxml2's initialisation, reading the key) is
//            measured on a tiny document signed the same way in the same
//            iteration and subtracted, so the time left is its verification.
// The xmlsec1 side is printed in the "xmlsec1" column of the ratio table.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/memfile.h"
#include "base/reportstream.h"
#include "keys/sigverify.h"
#include "ratio_main.h"
#include "spawn_quiet.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlsigparser.h"

namespace {

struct Fixture {
  ~Fixture() {
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  std::string dir, big, tiny, bigPath, tinyPath, pubPath;
  SubPubKeyInfo key;
  std::string error;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string templateOf(int elements) {
  std::string items;
  for (int i = 0; i < elements; ++i)
    items += "<x:e a='" + std::to_string(i % 10) + "'>text " + std::to_string(i) + "</x:e>";
  const std::string sha256 = "<DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<r xmlns=\"urn:bench\" xmlns:x=\"urn:x\"><data Id=\"d\">" + items + "</data><other>" +
         items +
         "</other><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
         "<CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
         "<SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>"
         "<Reference URI=\"\"><Transforms><Transform "
         "Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/></Transforms>" +
         sha256 +
         "<DigestValue/></Reference><Reference URI=\"#d\"><Transforms><Transform "
         "Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/></Transforms>" +
         sha256 +
         "<DigestValue/></Reference></SignedInfo><SignatureValue/><KeyInfo><X509Data>"
         "<X509Certificate/></X509Data></KeyInfo></Signature></r>\n";
}

// Key, certificate and the two signed documents, made by openssl and xmlsec1.
Fixture& fixture() {
  static Fixture f;
  static bool made = false;
  if (made) return f;
  made = true;
  char dir[] = "/tmp/bench_xmlsig.XXXXXX";
  if (!mkdtemp(dir)) {
    f.error = "mkdtemp";
    return f;
  }
  f.dir = dir;
  for (auto [name, elements] : {std::pair<const char*, int>{"big", 15500}, {"tiny", 1}}) {
    std::ofstream(f.dir + "/" + name + ".tmpl") << templateOf(elements);
  }
  const std::string d = f.dir;
  std::string cmd =
      "cd " + d + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
      "-subj /CN=bench -addext basicConstraints=critical,CA:FALSE -days 30 2>/dev/null && openssl x509 -in cert.pem -pubkey -noout > pub.pem "
      "&& openssl pkey -pubin -in pub.pem -outform DER -out pub.der && "
      "xmlsec1 --sign --privkey-pem key.pem,cert.pem --id-attr:Id data --output big.xml big.tmpl && "
      "xmlsec1 --sign --privkey-pem key.pem,cert.pem --id-attr:Id data --output tiny.xml tiny.tmpl";
  if (std::system(cmd.c_str()) != 0) {
    f.error = "openssl or xmlsec1 failed";
    return f;
  }
  f.bigPath = d + "/big.xml";
  f.tinyPath = d + "/tiny.xml";
  f.pubPath = d + "/pub.pem";
  f.big = readFile(f.bigPath);
  f.tiny = readFile(f.tinyPath);
  std::string der = readFile(d + "/pub.der");
  std::vector<unsigned char> spki(der.begin(), der.end());
  if (f.key.decodeVector(spki) <= 0) f.error = "public key";
  return f;
}

// Parse, read the signature with every reference digested, compare the
// digests and verify the signature value: 0 when all of it holds.
int verifyOurs(const std::string& bytes, SubPubKeyInfo& key) {
  MemFile in(reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
             static_cast<int32_t>(bytes.size()), false);
  XmlDocHolder holder;
  if (parseXmlDocument(&holder, &in) != 0) return 1;
  xmlNodePtr sig = findElement(holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
  XmlSigParser parser(holder.root, {}, 1);
  MemFile sink;
  ReportStream report(&sink);
  if (parser.parse(&report, sig) != 0 || parser.references.items.size() != 2) return 2;
  for (XmlRef* r : parser.references.items)
    if (!r->digest->matches()) return 3;
  MessageDigestCtx h(parser.hashId);
  h.update(parser.canonicalSignedInfo.data(), static_cast<uint32_t>(parser.canonicalSignedInfo.size()));
  h.finish();
  return verifyRsaPkcs1Signature(key.rsaKey,
                                 reinterpret_cast<const uint8_t*>(parser.signatureValue.data()),
                                 parser.signatureValue.size(), h.getDigestPtr(), h.getDigestLength(),
                                 static_cast<int32_t>(parser.hashId)) == 0
             ? 0
             : 4;
}

// Seconds one `xmlsec1 --verify` process takes; negative when it fails.
double runXmlsec(const Fixture& f, const std::string& path) {
  const char* argv[] = {"xmlsec1", "--verify", "--pubkey-pem", f.pubPath.c_str(),
                        "--enabled-key-data", "key-value", "--id-attr:Id", "data",
                        path.c_str(), nullptr};
  talbench::ProcessRun run = talbench::runQuiet(argv);
  return run.ok ? run.seconds : -1;
}

void BM_ours(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int rc = verifyOurs(f.big, f.key);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (rc != 0) {
      state.SkipWithError(("verification failed at step " + std::to_string(rc)).c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(f.big.size()));
}

void BM_xmlsec1(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  for (auto _ : state) {
    double tiny = runXmlsec(f, f.tinyPath);
    double big = runXmlsec(f, f.bigPath);
    if (tiny < 0 || big < 0) {
      state.SkipWithError("xmlsec1 --verify failed");
      break;
    }
    state.SetIterationTime(big > tiny ? big - tiny : 0);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(f.big.size()));
}

// The same settings on both sides, so the ratio table pairs them.
BENCHMARK(BM_ours)
    ->Name("ours/verify_1MB_two_references")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_xmlsec1)
    ->Name("xmlsec1/verify_1MB_two_references")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

TAL_BENCH_MAIN()
