// The XML signature C API: the option table, loading documents, the unprotect
// flow and its report over documents signed by xmlsec1 (tests/data/api/tvxml,
// made by gen.sh there), the signed objects of a signature, ownership of the
// context under option 4, and the selection of encrypted elements.
#include "talvorin.h"

#include "api/talctx.h"
#include "api/tvxml.h"
#include "base/no_oop.h"
#include "base/talexception.h"
#include "keys/talprofile.h"
#include "platform/registrysandbox.h"
#include "threadtime.h"
#include "hangguard.h"
#include "pki/sig/sigrecords.h"
#include "pki/x509/crl.h"
#include "xmlsig/xmlmisc.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string DATA = std::string(TAL_TEST_DATA_DIR) + "/api/tvxml/";

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    out.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

// In the report's character set, known once a library context is open.
std::string banner() { return convertForOutput("---- RAPORT Z ODBEZPIECZANIA WIADOMOŚCI: "); }
std::string noSignatures() {
  return convertForOutput("Brak podpisów Xml Signature w podanym dokumencie!");
}

// The banner with its UTC stamp "YYYY.MM.DD hh:mm:ss UTC".
void expectBanner(const std::string& line) {
  const std::string start = banner();
  ASSERT_EQ(0u, line.find(start)) << line;
  std::string rest = line.substr(start.size());
  ASSERT_EQ(std::string(" UTC ----").size() + 19, rest.size()) << line;
  EXPECT_EQ(" UTC ----", rest.substr(19)) << line;
  EXPECT_EQ('.', rest[4]);
  EXPECT_EQ(':', rest[13]);
}

class TvXml : public RegistrySandbox {
 protected:
  void TearDown() override {
    for (talMsgInfo* m : messages) EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));
    for (tvXmlCtx* c : contexts) EXPECT_EQ(0, tvXmlDeleteCtx(c));
    for (talCtx* c : libraries) EXPECT_EQ(0, talDeinit(c));
    xmlDecryptElement = saved;
    RegistrySandbox::TearDown();
  }

  // An open library context of a memory profile; with the test root installed
  // when roots is set. The network stays off.
  talCtx* library(bool roots = true) {
    static int serial = 0;
    talProfile* p = talCreateProfile(TAL_PROFILE_MEMORY);
    std::string name = "tvxml-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    EXPECT_EQ(0, talSetProfileAttr(p, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    talCtx* ctx = nullptr;
    EXPECT_EQ(0, talInitEx(&ctx, p));
    // Each context its own in-memory database (they are process-wide by name).
    if (ProfileParameters* parameters = ctx->configuration.getProfileParameters())
      parameters->set("dbname", name);
    EXPECT_EQ(0, talAuthenticateEx(ctx, 0));
    EXPECT_EQ(0, talSetOption(ctx, 18, 1));
    if (roots) {
      talCert* root = nullptr;
      EXPECT_EQ(0, talAllocateCertFromFile((DATA + "root.der").c_str(), &root));
      EXPECT_EQ(0, talInstallRoot(ctx, root, 1, 1));
      EXPECT_EQ(0, talDeleteCertificate(root));
    }
    libraries.push_back(ctx);
    return ctx;
  }

  tvXmlCtx* context() {
    tvXmlCtx* c = nullptr;
    EXPECT_EQ(0, tvXmlCreateCtx(&c));
    contexts.push_back(c);
    return c;
  }

  tvXmlDoc* load(tvXmlCtx* c, const std::string& file) {
    tvXmlDoc* d = nullptr;
    EXPECT_EQ(0, tvXmlLoadDocFile(c, (DATA + file).c_str(), nullptr, &d)) << file;
    return d;
  }

  // Unprotects one file of the data folder in a fresh context: the result, the
  // message (kept for TearDown) and the report.
  int32_t unprotect(talCtx* ctx, const std::string& file, talMsgInfo** message,
                    std::string* report = nullptr) {
    tvXmlCtx* c = context();
    *message = nullptr;
    int32_t rc = tvXmlUnprotect(ctx, c, load(c, file), nullptr, message);
    if (*message) messages.push_back(*message);
    if (report) *report = talReportText(ctx);
    return rc;
  }

  std::vector<talMsgInfo*> messages;
  std::vector<tvXmlCtx*> contexts;
  std::vector<talCtx*> libraries;
  XmlDecryptFunction saved = xmlDecryptElement;
};

XmlSigContext* inside(tvXmlCtx* c) { return reinterpret_cast<XmlSigContext*>(c); }

struct Options {
  int32_t o0;
  uint32_t o1, o2, o3set, o3;
  uint8_t o4, o5;
  bool operator==(const Options& b) const {
    return o0 == b.o0 && o1 == b.o1 && o2 == b.o2 && o3set == b.o3set && o3 == b.o3 && o4 == b.o4 &&
           o5 == b.o5;
  }
};
Options optionsOf(tvXmlCtx* c) {
  XmlSigContext* x = inside(c);
  return {x->option0, x->option1, x->option2, x->option3Set, x->option3, x->option4, x->option5};
}

TEST_F(TvXml, OptionTable) {
  tvXmlCtx* c = context();
  EXPECT_EQ((Options{1, 4, 2, 0, 0, 0, 1}), optionsOf(c));  // the defaults
  struct Row {
    int32_t option;
    int32_t value;
    int32_t length;
    int32_t expected;
  } rows[] = {
      {0, 2, 4, 0},           {0, 0, 4, 0},   {0, 3, 4, 20},   {0, -1, 4, 20},   {1, 9, 4, 0},
      {1, 8, 4, 20},          {1, 0, 4, 0},   {1, 0x12, 4, 0}, {1, 0x10, 4, 20}, {2, 6, 4, 0},
      {2, 4, 4, 20},          {2, 0, 4, 0},   {3, -7, 4, 0},   {5, 7, 4, 0},     {5, 0, 4, 0},
      {6, 0, 4, 20},          {-1, 0, 4, 20}, {0, 1, 8, 20},   {3, 1, 0, 20},    {4, 1, 2, 20},
      {0x7fffffff, 1, 4, 20},
  };
  for (const Row& row : rows) {
    Options before = optionsOf(c);
    EXPECT_EQ(row.expected, tvXmlSetOption(c, row.option, &row.value, row.length))
        << row.option << " " << row.value << " " << row.length;
    if (row.expected != 0) {
      EXPECT_TRUE(before == optionsOf(c)) << row.option << " changed";
    }
  }
  Options after = optionsOf(c);
  EXPECT_EQ(0, after.o0);
  EXPECT_EQ(0x12u, after.o1);
  EXPECT_EQ(0u, after.o2);
  EXPECT_EQ(1u, after.o3set);
  EXPECT_EQ(static_cast<uint32_t>(-7), after.o3);
  EXPECT_EQ(0, after.o5);
  int32_t seven = 7;
  EXPECT_EQ(0, tvXmlSetOption(c, 5, &seven, 4));
  EXPECT_EQ(1, optionsOf(c).o5);  // stored as one

  // Option 4: a zero after a one leaves ownership asked for.
  int32_t one = 1, zero = 0;
  EXPECT_EQ(0, tvXmlSetOption(c, 4, &zero, 4));
  EXPECT_EQ(0, optionsOf(c).o4);
  EXPECT_EQ(0, tvXmlSetOption(c, 4, &one, 4));
  EXPECT_EQ(0, tvXmlSetOption(c, 4, &zero, 4));
  EXPECT_EQ(1, optionsOf(c).o4);

  EXPECT_EQ(20, tvXmlSetOption(nullptr, 0, &one, 4));
  EXPECT_EQ(20, tvXmlSetOption(c, 0, nullptr, 4));
  EXPECT_EQ(20, tvXmlCreateCtx(nullptr));
  EXPECT_EQ(20, tvXmlDeleteCtx(nullptr));
}

TEST_F(TvXml, LoadDocFile) {
  tvXmlCtx* c = context();
  writeText(root + "/empty.xml", "");
  writeText(root + "/back\\slash.xml", "<a/>");
  ::mkdir((root + "/folder").c_str(), 0700);
  struct Row {
    std::string path;
    int32_t expected;
    std::string name;
  } rows[] = {
      {root + "/missing.xml", 56, ""},
      {root + "/empty.xml", 59, ""},
      {DATA + "nosig.xml", 0, "nosig.xml"},
      {root + "/back\\slash.xml", 0, "slash.xml"},  // both separators cut the name
      {root + "/folder/", 56, ""},                  // a folder is not opened
  };
  for (const Row& row : rows) {
    tvXmlDoc* d = nullptr;
    EXPECT_EQ(row.expected, tvXmlLoadDocFile(c, row.path.c_str(), nullptr, &d)) << row.path;
    if (row.expected != 0) {
      EXPECT_EQ(nullptr, d) << row.path;
      continue;
    }
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(row.name, reinterpret_cast<TVxmlDoc*>(d)->name);
    EXPECT_EQ(inside(c)->docs.items.back(), reinterpret_cast<TVxmlDoc*>(d));
  }
  EXPECT_EQ(2u, inside(c)->docs.items.size());

  // A path without a directory part names the document by the whole path.
  char here[4096];
  ASSERT_NE(nullptr, ::getcwd(here, sizeof here));
  ASSERT_EQ(0, ::chdir(DATA.c_str()));
  tvXmlDoc* d = nullptr;
  int32_t rc = tvXmlLoadDocFile(c, "nosig.xml", nullptr, &d);
  ASSERT_EQ(0, ::chdir(here));
  ASSERT_EQ(0, rc);
  EXPECT_EQ("nosig.xml", reinterpret_cast<TVxmlDoc*>(d)->name);

  EXPECT_EQ(20, tvXmlLoadDocFile(nullptr, (DATA + "nosig.xml").c_str(), nullptr, &d));
  EXPECT_EQ(20, tvXmlLoadDocFile(c, nullptr, nullptr, &d));
  EXPECT_EQ(20, tvXmlLoadDocFile(c, (DATA + "nosig.xml").c_str(), nullptr, nullptr));
}

TEST_F(TvXml, SelectionAndItsReport) {
  talCtx* ctx = library();
  struct Row {
    const char* file;
    int32_t expected;
    int32_t signatures;
  } rows[] = {
      {"nosig.xml", 89, 0},
      {"counter-only.xml", 89, 0},  // an XAdES 1.3.2 CounterSignature hides its child
      {"counter-other.xml", 0, 1},  // another namespace's does not
  };
  for (const Row& row : rows) {
    talMsgInfo* m = nullptr;
    std::string report;
    EXPECT_EQ(row.expected, unprotect(ctx, row.file, &m, &report)) << row.file;
    std::vector<std::string> l = lines(report);
    ASSERT_FALSE(l.empty());
    expectBanner(l[0]);
    if (row.expected != 0) {
      EXPECT_EQ(nullptr, m);
      ASSERT_EQ(2u, l.size()) << report;
      EXPECT_EQ(noSignatures(), l[1]);
      continue;
    }
    int32_t count = -1;
    ASSERT_EQ(0, talGetMessageSignatureCount(m, &count));
    EXPECT_EQ(row.signatures, count) << row.file;
  }
}

TEST_F(TvXml, AMalformedSignatureIsNotVerifiableAndDoesNotEndTheCall) {
  talCtx* ctx = library();
  talMsgInfo* m = nullptr;
  std::string report;
  ASSERT_EQ(0, unprotect(ctx, "counter-other.xml", &m, &report));
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
  int32_t status = 0, qualification = 0, reason = 0;
  ASSERT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
  EXPECT_EQ(SIG_STATUS_NOT_VERIFIABLE, status);
  ASSERT_EQ(0, talMsgStatus(m, &status));
  EXPECT_EQ(SIG_STATUS_NOT_VERIFIABLE, status);
  EXPECT_NE(std::string::npos, report.find(convertForOutput("Błąd podczas weryfikacji podpisu: ")))
      << report;
}

TEST_F(TvXml, WithoutRootsOnlyTheBanner) {
  talCtx* ctx = library(false);
  talMsgInfo* m = nullptr;
  std::string report;
  EXPECT_EQ(25, unprotect(ctx, "two.xml", &m, &report));
  EXPECT_EQ(nullptr, m);
  std::vector<std::string> l = lines(report);
  ASSERT_EQ(1u, l.size()) << report;
  expectBanner(l[0]);
}

TEST_F(TvXml, SignaturesAreNumberedAndTheMessageTakesTheLowestStatus) {
  talCtx* ctx = library();
  for (const char* file : {"two.xml", "mixed.xml"}) {
    talMsgInfo* m = nullptr;
    std::string report;
    ASSERT_EQ(0, unprotect(ctx, file, &m, &report)) << file;
    std::vector<std::string> l = lines(report);
    ASSERT_GE(l.size(), 7u) << report;
    expectBanner(l[0]);
    EXPECT_EQ("", l[1]);
    EXPECT_EQ("---- PODPIS NUMER: 1 ----", l[2]);
    EXPECT_EQ("XPath: /doc/ds:Signature[1]", l[3]);
    size_t second =
        report.find("\r\n\r\n---- PODPIS NUMER: 2 ----\r\nXPath: /doc/ds:Signature[2]\r\n");
    EXPECT_NE(std::string::npos, second) << report;
    EXPECT_EQ(1u, countOf(report, "---- PODPIS NUMER: 1 ----"));
    EXPECT_EQ(std::string::npos, report.find("KONIEC RAPORTU"));  // no closing line here

    int32_t count = 0, lowest = 5;
    ASSERT_EQ(0, talGetMessageSignatureCount(m, &count));
    ASSERT_EQ(2, count);
    std::vector<int32_t> statuses;
    for (int32_t i = 0; i < count; ++i) {
      talSigInfo* s = nullptr;
      ASSERT_EQ(0, talGetMessageSignature(m, i, &s));
      int32_t status = 0, qualification = 0, reason = 0;
      ASSERT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
      statuses.push_back(status);
      lowest = std::min(lowest, status);
    }
    int32_t status = 0;
    ASSERT_EQ(0, talMsgStatus(m, &status));
    EXPECT_EQ(lowest, status) << file;
    EXPECT_NE(SIG_STATUS_NEGATIVE, statuses[0]) << file;
    if (std::string(file) == "mixed.xml") {
      // The second signer's root is not installed: the message takes its status.
      EXPECT_LT(SIG_STATUS_NOT_VERIFIABLE, statuses[0]);
      EXPECT_EQ(SIG_STATUS_NOT_VERIFIABLE, statuses[1]);
      EXPECT_EQ(SIG_STATUS_NOT_VERIFIABLE, status);
    }
    EXPECT_EQ(XML_MESSAGE_SIGNED,
              dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(m))->messageType);
  }
}

TEST_F(TvXml, UnprotectRefusesBadArguments) {
  talCtx* ctx = library();
  tvXmlCtx* c = context();
  tvXmlCtx* other = context();
  tvXmlDoc* d = load(c, "two.xml");
  tvXmlDoc* foreign = load(other, "two.xml");
  talMsgInfo* m = nullptr;
  char notAContext[64] = "not a library context";
  struct Row {
    talCtx* library;
    tvXmlCtx* context;
    tvXmlDoc* document;
    talMsgInfo** out;
    int32_t expected;
  } rows[] = {
      {nullptr, c, d, &m, 20},
      {ctx, nullptr, d, &m, 20},
      {ctx, c, nullptr, &m, 20},
      {ctx, c, d, nullptr, 20},
      {ctx, c, foreign, &m, 20},  // a document of another context
      {reinterpret_cast<talCtx*>(notAContext), c, d, &m, 21},
      {reinterpret_cast<talCtx*>(notAContext), c, foreign, &m, 21},  // the library context first
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected,
              tvXmlUnprotect(row.library, row.context, row.document, nullptr, row.out));
    EXPECT_EQ(nullptr, m);
  }
  // A document with an owner is not one to unprotect.
  tvXmlDoc* owned = nullptr;
  int marker = 0;
  ASSERT_EQ(0, tvXmlLoadDocFile(c, (DATA + "two.xml").c_str(), &marker, &owned));
  EXPECT_EQ(20, tvXmlUnprotect(ctx, c, owned, nullptr, &m));
  EXPECT_EQ(nullptr, m);
}

TEST_F(TvXml, SignedObjectsAreCountedAndSaved) {
  talCtx* ctx = library();
  tvXmlCtx* c = context();
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, c, load(c, "objects.xml"), nullptr, &m));
  messages.push_back(m);
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));

  int32_t count = 0;
  EXPECT_EQ(0, tvXmlGetObjCount(c, s, &count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(0, tvXmlGetObjCount(c, s, &count));
  EXPECT_EQ(4, count);  // the counter is not cleared first
  EXPECT_EQ(20, tvXmlGetObjCount(nullptr, s, &count));
  EXPECT_EQ(20, tvXmlGetObjCount(c, nullptr, &count));
  EXPECT_EQ(20, tvXmlGetObjCount(c, s, nullptr));
  SigInfo bare;  // a signature without XML properties
  EXPECT_EQ(20, tvXmlGetObjCount(c, reinterpret_cast<talSigInfo*>(&bare), &count));
  EXPECT_EQ(4, count);
  int32_t nearTheTop = INT32_MAX - 1;
  EXPECT_EQ(20, tvXmlGetObjCount(c, s, &nearTheTop));  // would wrap
  EXPECT_EQ(INT32_MAX - 1, nearTheTop);

  const std::string out = root + "/object.out";
  EXPECT_EQ(0, tvXmlSaveObjFile(c, s, 0, out.c_str()));
  EXPECT_EQ("Potwierdzenie odbioru nr 17", readText(out));
  EXPECT_EQ(0, tvXmlSaveObjFile(c, s, 1, out.c_str()));  // replaces the first
  std::string xml = readText(out);
  EXPECT_NE(std::string::npos,
            xml.find("<upo:NumerReferencyjny>0123456789abcdef</upo:NumerReferencyjny>"))
      << xml;

  // Refusals never touch the path: no file made, an existing one kept as it was.
  const std::string fresh = root + "/fresh.out";
  const std::string kept = root + "/kept.out";
  writeText(kept, "mine");
  struct Row {
    int32_t index;
    const talSigInfo* signature;
    std::string path;
    int32_t expected;
  } rows[] = {
      {2, s, fresh, 20},  // index == count
      {2, s, kept, 20},
      {-1, s, kept, 20},
      {0, reinterpret_cast<talSigInfo*>(&bare), kept, 20},
      {0, nullptr, kept, 20},
      {0, s, root + "/no/such/folder/x.out", 57},
      {0, s, root, 57},  // a folder
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.expected, tvXmlSaveObjFile(c, row.signature, row.index, row.path.c_str()))
        << row.index << " " << row.path;
  EXPECT_FALSE(exists(fresh));
  EXPECT_EQ("mine", readText(kept));
  EXPECT_EQ(20, tvXmlSaveObjFile(nullptr, s, 0, kept.c_str()));
  EXPECT_EQ(20, tvXmlSaveObjFile(c, s, 0, nullptr));
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(root))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp")) << entry.path();
}

// Receipts signed and verified by xmlsec1 whose receipt element takes its prefix (or its
// default namespace) from a declaration above it: on ds:Signature, on ds:Object (no MimeType),
// on the document element, the default one on ds:Object (application/xml). The signature
// verifies, and the saved file reads with namespaces checked into the namespace the digest
// covered, on the "text/xml" road and the one-element road alike.
TEST_F(TvXml, SavedReceiptKeepsTheNamespacesDeclaredAboveIt) {
  const std::string upo = std::string(TAL_TEST_DATA_DIR) + "/upo/";
  talCtx* ctx = library(false);
  talCert* trusted = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((upo + "pki/root.der").c_str(), &trusted));
  EXPECT_EQ(0, talInstallRoot(ctx, trusted, 1, 1));
  EXPECT_EQ(0, talDeleteCertificate(trusted));
  const std::string intermediate = readText(upo + "pki/intermediate.der");
  int32_t installed = 0;
  EXPECT_EQ(0, talInstallMemCrt(ctx, reinterpret_cast<const uint8_t*>(intermediate.data()),
                                static_cast<int32_t>(intermediate.size()), 1, &installed));
  for (const char* name :
       {"upo-ns-podpis.xml", "upo-ns-obiekt.xml", "upo-ns-dokument.xml", "upo-ns-domyslna.xml"}) {
    SCOPED_TRACE(name);
    tvXmlCtx* c = context();
    talMsgInfo* m = nullptr;
    ASSERT_EQ(0, tvXmlUnprotect(ctx, c, load(c, "../../upo/" + std::string(name)), nullptr, &m));
    messages.push_back(m);
    talSigInfo* s = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
    int32_t status = 0, qualification = 0, reason = 0;
    ASSERT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
    EXPECT_EQ(4, status) << reason;
    const std::string out = root + "/upo.out";
    ASSERT_EQ(0, tvXmlSaveObjFile(c, s, 0, out.c_str()));
    const std::string saved = readText(out);
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    ASSERT_NE(nullptr, parser);
    xmlDocPtr back = xmlCtxtReadMemory(parser, saved.data(), static_cast<int>(saved.size()),
                                       nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
    EXPECT_TRUE(parser->wellFormed && parser->nsWellFormed) << saved;
    xmlFreeParserCtxt(parser);
    ASSERT_NE(nullptr, back) << saved;
    xmlNodePtr element = xmlDocGetRootElement(back);
    EXPECT_TRUE(isElement(element, "Potwierdzenie",
                          "http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/"));
    EXPECT_NE(nullptr, nodeNamespaceUri(element));
    xmlFreeDoc(back);
  }
}

TEST_F(TvXml, OwnershipMovesToTheMessageOnce) {
  talCtx* ctx = library();
  tvXmlCtx* c = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&c));
  int32_t one = 1;
  ASSERT_EQ(0, tvXmlSetOption(c, 4, &one, 4));
  tvXmlDoc* d = load(c, "two.xml");
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, c, d, nullptr, &m));
  EXPECT_EQ(inside(c), dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(m))->context);
  // The context is the message's now: neither freed nor given away again.
  EXPECT_EQ(20, tvXmlDeleteCtx(c));
  talMsgInfo* again = nullptr;
  EXPECT_EQ(20, tvXmlUnprotect(ctx, c, d, nullptr, &again));
  EXPECT_EQ(nullptr, again);
  // Still usable for the message's signatures until the message goes.
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
  int32_t count = 0;
  EXPECT_EQ(0, tvXmlGetObjCount(c, s, &count));
  EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));  // and the context with it (ASan sees a leak otherwise)

  // Without option 4 the caller keeps the context, and may unprotect again.
  tvXmlCtx* kept = context();
  d = load(kept, "two.xml");
  ASSERT_EQ(0, tvXmlUnprotect(ctx, kept, d, nullptr, &m));
  messages.push_back(m);
  EXPECT_EQ(nullptr, dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(m))->context);
  ASSERT_EQ(0, tvXmlUnprotect(ctx, kept, d, nullptr, &m));
  messages.push_back(m);

  EXPECT_EQ(20, tvXmlDeleteMsgInfo(nullptr));
  MsgInfo other;  // a message of another road
  EXPECT_EQ(20, tvXmlDeleteMsgInfo(reinterpret_cast<talMsgInfo*>(&other)));
}

// Stands in for decryption: the element is replaced by a text node and freed.
std::vector<std::string> decrypted;
int32_t replaceElement(talCtx*, XmlSigContext*, xmlNodePtr element) {
  xmlChar* id = xmlGetProp(element, reinterpret_cast<const xmlChar*>("Id"));
  decrypted.push_back(id ? reinterpret_cast<const char*>(id) : "");
  xmlFree(id);
  xmlNodePtr text = xmlNewText(reinterpret_cast<const xmlChar*>("plain"));
  xmlReplaceNode(element, text);
  xmlFreeNode(element);
  return 0;
}

TEST_F(TvXml, EncryptedElements) {
  talCtx* ctx = library();
  talMsgInfo* m = nullptr;
  std::string report;
  // Without the decryption bit: "no key" before any line but the banner.
  EXPECT_EQ(25, unprotect(ctx, "encrypted.xml", &m, &report));
  EXPECT_EQ(1u, lines(report).size()) << report;

  // With it, but no decryption built: still "no key", after the first element's line.
  ctx->operationMask |= 8;
  EXPECT_EQ(25, unprotect(ctx, "encrypted.xml", &m, &report));
  std::vector<std::string> l = lines(report);
  ASSERT_EQ(2u, l.size()) << report;
  EXPECT_EQ("XPath: /doc/xenc:EncryptedData[1]", l[1]);

  // The nested element goes with its ancestor and is never touched again; each
  // decrypted element has its line once; the message says it was decrypted.
  decrypted.clear();
  xmlDecryptElement = replaceElement;
  ASSERT_EQ(0, unprotect(ctx, "encrypted.xml", &m, &report));
  EXPECT_EQ((std::vector<std::string>{"outer", "last"}), decrypted);
  l = lines(report);
  ASSERT_GE(l.size(), 6u) << report;
  EXPECT_EQ("XPath: /doc/xenc:EncryptedData[1]", l[1]);
  // The path as it is when the element's turn comes: the first one is gone.
  EXPECT_EQ("XPath: /doc/xenc:EncryptedData", l[2]);
  EXPECT_EQ(2u, countOf(report, "XPath: /doc/xenc:EncryptedData"));
  EXPECT_EQ("", l[3]);
  EXPECT_EQ("---- PODPIS NUMER: 1 ----", l[4]);
  EXPECT_EQ("XPath: /doc/ds:Signature", l[5]);
  EXPECT_EQ(XML_MESSAGE_SIGNED_DECRYPTED,
            dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(m))->messageType);
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
  int32_t status = 0, qualification = 0, reason = 0;
  ASSERT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
  EXPECT_NE(SIG_STATUS_NEGATIVE, status);  // the signed element was not among them
}

TEST_F(TvXml, ReportEnd) {
  talCtx* ctx = library();
  talMsgInfo* m = nullptr;
  ASSERT_EQ(89, unprotect(ctx, "nosig.xml", &m));
  writeReportEnd(ctx, 89);
  std::vector<std::string> l = lines(talReportText(ctx));
  ASSERT_EQ(4u, l.size());
  EXPECT_EQ(convertForOutput(talErrorText(ctx, 89)), l[2]);
  const std::string end = "---- KONIEC RAPORTU: ";
  ASSERT_EQ(0u, l[3].find(end)) << l[3];
  EXPECT_EQ(end.size() + 19 + std::string(" UTC ----").size(), l[3].size()) << l[3];
}

// Without option 4 the caller may free the context before the message: what
// the message keeps never reaches into the freed documents.
TEST_F(TvXml, AMessageMayOutliveItsContext) {
  talCtx* ctx = library();
  ctx->operationMask |= 8;
  xmlDecryptElement = replaceElement;
  for (const char* file : {"two.xml", "objects.xml", "encrypted.xml", "counter-other.xml"}) {
    tvXmlCtx* c = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(&c));
    talMsgInfo* m = nullptr;
    ASSERT_EQ(0, tvXmlUnprotect(ctx, c, load(c, file), nullptr, &m)) << file;
    EXPECT_EQ(0, tvXmlDeleteCtx(c));
    talSigInfo* s = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
    int32_t status = 0, qualification = 0, reason = 0, counter = -1;
    EXPECT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
    EXPECT_EQ(0, talGetCounterSignatureCount(s, &counter));
    EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));
  }
}

// What cannot be carried out ends the call with its code and no message; what
// escapes otherwise is 161.
int32_t throwRuntime(talCtx*, XmlSigContext*, xmlNodePtr) { throw std::runtime_error("x"); }
int32_t throwNoMemory(talCtx*, XmlSigContext*, xmlNodePtr) { throw std::bad_alloc(); }
int32_t throwCode(talCtx*, XmlSigContext*, xmlNodePtr) { throw TalApiException(140); }

TEST_F(TvXml, FailuresEndTheCall) {
  talCtx* ctx = library();
  talMsgInfo* m = nullptr;
  std::string report;
  EXPECT_EQ(137, unprotect(ctx, "unsupported.xml", &m, &report));
  EXPECT_EQ(nullptr, m);
  EXPECT_NE(std::string::npos, report.find("---- PODPIS NUMER: 1 ----")) << report;

  // A document that does not parse: the parser's code, after the banner only.
  tvXmlCtx* c = context();
  writeText(root + "/broken.xml", "<doc><data>");
  tvXmlDoc* d = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(c, (root + "/broken.xml").c_str(), nullptr, &d));
  EXPECT_EQ(89, tvXmlUnprotect(ctx, c, d, nullptr, &m));
  EXPECT_EQ(nullptr, m);
  EXPECT_EQ(1u, lines(talReportText(ctx)).size());

  ctx->operationMask |= 8;
  for (XmlDecryptFunction f : {throwRuntime, throwNoMemory, throwCode}) {
    xmlDecryptElement = f;
    EXPECT_EQ(161, unprotect(ctx, "encrypted.xml", &m));
    EXPECT_EQ(nullptr, m);
  }
}

// The signatures' outcomes, end to end: documents signed by xmlsec1 under the
// test root, with the root's CRL (made by openssl ca) in the revocation
// database, so that the path and revocation checks decide.
struct Outcome {
  int32_t status;
  int32_t reason;
};

std::vector<Outcome> outcomes(talMsgInfo* m) {
  std::vector<Outcome> out;
  int32_t count = 0;
  EXPECT_EQ(0, talGetMessageSignatureCount(m, &count));
  for (int32_t i = 0; i < count; ++i) {
    talSigInfo* s = nullptr;
    EXPECT_EQ(0, talGetMessageSignature(m, i, &s));
    int32_t status = 0, qualification = 0, reason = 0;
    EXPECT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
    out.push_back({status, reason});
  }
  return out;
}

void importRootCrl(talCtx* ctx) {
  std::string der = readText(DATA + "root-crl.der");
  SignedCertRevList crl;
  ASSERT_EQ(static_cast<int>(der.size()),
            crl.decodeVector(std::vector<unsigned char>(der.begin(), der.end())));
  ASSERT_EQ(0, ctx->revocation->importCrl(crl));
}

struct EndToEnd {
  const char* file;
  std::vector<Outcome> expected;
};

TEST_F(TvXml, DocumentsSignedByXmlsec1) {
  talCtx* ctx = library();
  importRootCrl(ctx);
  const EndToEnd rows[] = {
      {"xades.xml", {{SIG_STATUS_VALID, SIG_REASON_NONE}}},
      {"xades-revoked.xml", {{SIG_STATUS_NEGATIVE, SIG_REASON_REVOKED}}},
      {"xades-changed.xml", {{SIG_STATUS_NEGATIVE, SIG_REASON_DIGEST_MISMATCH}}},
      {"single.xml", {{SIG_STATUS_VALID, SIG_REASON_NONE}}},
      {"ec.xml", {{SIG_STATUS_VALID, SIG_REASON_NONE}}},
      {"objects.xml", {{SIG_STATUS_VALID, SIG_REASON_NONE}}},
      {"two.xml", {{SIG_STATUS_VALID, SIG_REASON_NONE}, {SIG_STATUS_VALID, SIG_REASON_NONE}}},
      {"badvalue.xml", {{SIG_STATUS_NEGATIVE, SIG_REASON_VALUE_MATH}}},
      {"foreign.xml", {{SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_NO_PATH}}},
      {"keyusage.xml", {{SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_NO_PATH}}},
  };
  for (const EndToEnd& row : rows) {
    talMsgInfo* m = nullptr;
    ASSERT_EQ(0, unprotect(ctx, row.file, &m)) << row.file;
    std::vector<Outcome> got = outcomes(m);
    ASSERT_EQ(row.expected.size(), got.size()) << row.file;
    int32_t lowest = SIG_STATUS_VALID;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(row.expected[i].status, got[i].status) << row.file << " " << i;
      EXPECT_EQ(row.expected[i].reason, got[i].reason) << row.file << " " << i;
      lowest = std::min(lowest, row.expected[i].status);
    }
    int32_t status = 0;
    ASSERT_EQ(0, talMsgStatus(m, &status));
    EXPECT_EQ(lowest, status) << row.file;
  }
}

TEST_F(TvXml, WithoutRevocationDataAValidSignatureIsIncomplete) {
  talCtx* ctx = library();
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, unprotect(ctx, "xades.xml", &m));
  std::vector<Outcome> got = outcomes(m);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(SIG_STATUS_INCOMPLETE, got[0].status);
  EXPECT_EQ(SIG_REASON_NO_CRL_OR_OCSP, got[0].reason);
}

// A plain XML-DSig signature (no signed properties) over an element changed
// after signing: its SignatureValue still verifies, only the reference digest
// tells (the driver once compared reference digests only under signed
// attributes and reported this signature valid).
TEST_F(TvXml, AChangedElementUnderAPlainSignatureIsNegative) {
  talCtx* ctx = library();
  importRootCrl(ctx);
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, unprotect(ctx, "two-bad.xml", &m));
  std::vector<Outcome> got = outcomes(m);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(SIG_STATUS_VALID, got[0].status);
  EXPECT_EQ(SIG_STATUS_NEGATIVE, got[1].status);
  EXPECT_EQ(SIG_REASON_DIGEST_MISMATCH, got[1].reason);
  int32_t status = 0;
  ASSERT_EQ(0, talMsgStatus(m, &status));
  EXPECT_EQ(SIG_STATUS_NEGATIVE, status);
}

// Reading the report does not hide what is written after it: the closing
// lines of another road stay readable.
TEST_F(TvXml, LinesWrittenAfterTheReportWasReadAreReadable) {
  talCtx* ctx = library();
  talMsgInfo* m = nullptr;
  std::string report;
  ASSERT_EQ(89, unprotect(ctx, "nosig.xml", &m, &report));
  ASSERT_EQ(2u, lines(report).size()) << report;
  writeReportEnd(ctx, 89);
  std::vector<std::string> l = lines(talReportText(ctx));
  ASSERT_EQ(4u, l.size());
  EXPECT_EQ(noSignatures(), l[1]);
  EXPECT_EQ(convertForOutput(talErrorText(ctx, 89)), l[2]);
  EXPECT_EQ(0u, l[3].find("---- KONIEC RAPORTU: ")) << l[3];
}

// Stands in for the decryption of a whole document: the root element is
// replaced by the signed document single.xml holds (a copy of its root).
int32_t replaceBySignedDocument(talCtx*, XmlSigContext*, xmlNodePtr element) {
  const std::string bytes = readText(DATA + "single.xml");
  xmlDocPtr plain = xmlSafeParseMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (!plain) return 89;
  xmlNodePtr copy = xmlDocCopyNode(xmlDocGetRootElement(plain), element->doc, 1);
  xmlFreeDoc(plain);
  if (!copy) return 100;
  xmlReplaceNode(element, copy);
  xmlFreeNode(element);
  return 0;
}

// A document that is one encrypted element: decryption replaces its root, and
// the signatures are then looked for in the new one.
TEST_F(TvXml, DecryptionMayReplaceTheRootElement) {
  talCtx* ctx = library();
  ctx->operationMask |= 8;
  xmlDecryptElement = replaceBySignedDocument;
  writeText(root + "/whole.xml",
            "<xenc:EncryptedData xmlns:xenc=\"http://www.w3.org/2001/04/xmlenc#\" Id=\"whole\">"
            "<xenc:CipherData><xenc:CipherValue>AAAA</xenc:CipherValue></xenc:CipherData>"
            "</xenc:EncryptedData>");
  tvXmlCtx* c = context();
  tvXmlDoc* d = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(c, (root + "/whole.xml").c_str(), nullptr, &d));
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, c, d, nullptr, &m));
  messages.push_back(m);
  std::vector<std::string> l = lines(talReportText(ctx));
  ASSERT_GE(l.size(), 5u);
  EXPECT_EQ("XPath: /xenc:EncryptedData", l[1]);
  EXPECT_EQ("XPath: /doc/ds:Signature", l[4]);
  EXPECT_EQ(XML_MESSAGE_SIGNED_DECRYPTED,
            dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(m))->messageType);
  std::vector<Outcome> got = outcomes(m);
  ASSERT_EQ(1u, got.size());
  EXPECT_LT(SIG_STATUS_NEGATIVE, got[0].status);  // the digest over the new tree holds

  // Decrypted into text only: no root element is left, a malformed message.
  xmlDecryptElement = replaceElement;
  tvXmlCtx* other = context();
  ASSERT_EQ(0, tvXmlLoadDocFile(other, (root + "/whole.xml").c_str(), nullptr, &d));
  talMsgInfo* none = nullptr;
  EXPECT_EQ(89, tvXmlUnprotect(ctx, other, d, nullptr, &none));
  EXPECT_EQ(nullptr, none);
}

// A message whose context was deleted hands out no object from the freed
// documents, whichever context the caller names.
TEST_F(TvXml, NoObjectIsSavedFromADeletedContext) {
  talCtx* ctx = library();
  tvXmlCtx* c = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&c));
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, c, load(c, "objects.xml"), nullptr, &m));
  messages.push_back(m);
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
  ASSERT_EQ(0, tvXmlDeleteCtx(c));
  tvXmlCtx* other = context();
  load(other, "objects.xml");
  const std::string out = root + "/object.out";
  for (int32_t index : {0, 1}) EXPECT_LT(10, tvXmlSaveObjFile(other, s, index, out.c_str()));
  EXPECT_FALSE(exists(out));
}

// An explicit expression, evaluated by libxml2's XPointer: an Id or a path
// names the one signature to verify; an Id that names nothing is an empty
// selection (139), and an expression libxml2 cannot evaluate no node set (89),
// both before any signature line.
TEST_F(TvXml, AnExplicitExpressionSelects) {
  talCtx* ctx = library();
  struct Row {
    const char* expression;
    int32_t expected;
    int32_t reportLines;  // -1: any
  } rows[] = {
      {"s2", 0, -1},
      {"xmlns(ds=http://www.w3.org/2000/09/xmldsig#)xpointer(//ds:Signature[2])", 0, -1},
      {"nosuchid", 139, 1},  // an empty selection
      {"", 20, 1},
      {"xpointer(//ds:Signature)", 89, 1},  // ds is bound on the signatures only, not the root
      {"xpointer(/)", 0, -1},                 // the document: selected, not verifiable
      {"d1", 0, -1},                          // an element that is no signature: the same
  };
  for (const Row& row : rows) {
    tvXmlCtx* c = context();
    talMsgInfo* m = nullptr;
    EXPECT_EQ(row.expected, tvXmlUnprotect(ctx, c, load(c, "two.xml"), row.expression, &m))
        << row.expression;
    std::vector<std::string> l = lines(talReportText(ctx));
    if (row.reportLines >= 0) { EXPECT_EQ(static_cast<size_t>(row.reportLines), l.size()) << row.expression; }
    if (row.expected != 0) {
      EXPECT_EQ(nullptr, m);
      continue;
    }
    messages.push_back(m);
    ASSERT_GE(l.size(), 4u);
    std::vector<Outcome> got = outcomes(m);
    ASSERT_EQ(1u, got.size());
    if (std::string(row.expression).find("s2") != std::string::npos ||
        std::string(row.expression).find("[2]") != std::string::npos) {
      EXPECT_EQ("XPath: /doc/ds:Signature[2]", l[3]);
      EXPECT_LT(SIG_STATUS_NOT_VERIFIABLE, got[0].status);
    } else {
      EXPECT_EQ(SIG_STATUS_NOT_VERIFIABLE, got[0].status) << row.expression;
    }
  }
}

// A second unprotect that decrypts an element an earlier message's signature
// points at: that message hands the freed element out no more.
TEST_F(TvXml, DecryptionLaterLeavesNoEarlierMessagePointingAtTheElement) {
  talCtx* ctx = library();
  ctx->operationMask |= 8;
  xmlDecryptElement = replaceElement;
  decrypted.clear();
  std::string signature = readText(DATA + "objects.xml");
  const std::string object = "<ds:Object Id=\"o1\">Potwierdzenie odbioru nr 17</ds:Object>";
  ASSERT_NE(std::string::npos, signature.find(object));
  signature.erase(signature.find(object), object.size());
  signature.erase(0, signature.find("<ds:Signature"));
  writeText(root + "/signed-ciphertext.xml",
            "<doc><xenc:EncryptedData xmlns:xenc=\"http://www.w3.org/2001/04/xmlenc#\" Id=\"o1\">"
            "<xenc:CipherData><xenc:CipherValue>AAAA</xenc:CipherValue></xenc:CipherData>"
            "</xenc:EncryptedData>" + signature + "</doc>");
  tvXmlCtx* c = context();
  tvXmlDoc* d = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(c, (root + "/signed-ciphertext.xml").c_str(), nullptr, &d));
  talMsgInfo* first = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, c, d, "sig", &first));  // the signature only: nothing decrypted
  messages.push_back(first);
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(first, 0, &s));
  int32_t count = 0;
  ASSERT_EQ(0, tvXmlGetObjCount(c, s, &count));
  ASSERT_EQ(2, count);
  // The element is decrypted; the signature's reference then names nothing.
  talMsgInfo* second = nullptr;
  EXPECT_EQ(139, tvXmlUnprotect(ctx, c, d, nullptr, &second));
  EXPECT_EQ(nullptr, second);
  EXPECT_EQ(std::vector<std::string>{"o1"}, decrypted);
  const std::string out = root + "/object.out";
  EXPECT_LT(10, tvXmlSaveObjFile(c, s, 0, out.c_str()));
  EXPECT_FALSE(exists(out));
}

// A path that is not a regular file (a named pipe nobody writes to) is not
// opened: the call answers instead of waiting for a writer.
TEST_F(TvXml, APipeIsNotADocument) {
  tvXmlCtx* c = context();
  const std::string pipe = root + "/pipe.xml";
  ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
  auto loading = std::async(std::launch::async, [&] {
    tvXmlDoc* d = nullptr;
    return tvXmlLoadDocFile(c, pipe.c_str(), nullptr, &d);
  });
  // Answered at once, or never while nobody writes: a guard far beyond a busy machine.
  const bool answered = loading.wait_for(std::chrono::seconds(HANG_GUARD_SECONDS)) == std::future_status::ready;
  if (!answered) {
    // Release the waiting open so that the test ends.
    int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  EXPECT_TRUE(answered);
  EXPECT_EQ(56, loading.get());
}

// Element names beyond ASCII: the path libxml2 gives (UTF-8) reaches the
// report in the report's character set, as every other Polish text does; a
// prefixed name cut inside a character (as libxml2 cuts it) leaves its stray
// byte shown escaped, not a broken character.
TEST_F(TvXml, TheElementPathIsInTheReportsCharacterSet) {
  talCtx* ctx = library();
  const std::string cut = std::string(97, 'p') + u8"ą";  // the cut falls between ą's two bytes
  const struct {
    std::string prefix, expected;
  } cases[] = {
      {"ds", convertForOutput("XPath: /Załącznik/ds:Signature")},
      {cut, convertForOutput("XPath: /Załącznik/") + std::string(97, 'p') + "\\xC4"},
  };
  for (const auto& c : cases) {
    writeText(root + "/polish.xml", u8"<Załącznik><" + c.prefix + ":Signature xmlns:" + c.prefix +
                                        u8"=\"http://www.w3.org/2000/09/xmldsig#\"/></Załącznik>");
    tvXmlCtx* x = context();
    tvXmlDoc* d = nullptr;
    ASSERT_EQ(0, tvXmlLoadDocFile(x, (root + "/polish.xml").c_str(), nullptr, &d));
    talMsgInfo* m = nullptr;
    ASSERT_EQ(0, tvXmlUnprotect(ctx, x, d, nullptr, &m)) << c.prefix;  // not verifiable, but selected
    messages.push_back(m);
    std::vector<std::string> l = lines(talReportText(ctx));
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(c.expected, l[3]);
  }
}

// A context handle that is gone (deleted, or released with the message that
// owned it) is refused by every entry point instead of being freed again.
TEST_F(TvXml, AContextThatIsGoneIsRefused) {
  talCtx* ctx = library();
  tvXmlCtx* owned = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&owned));
  int32_t one = 1;
  ASSERT_EQ(0, tvXmlSetOption(owned, 4, &one, 4));
  talMsgInfo* m = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, owned, load(owned, "objects.xml"), nullptr, &m));
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
  ASSERT_EQ(0, tvXmlDeleteMsgInfo(m));  // the context goes with it

  tvXmlCtx* deleted = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&deleted));
  ASSERT_EQ(0, tvXmlDeleteCtx(deleted));

  SigInfo bare;
  const talSigInfo* signature = reinterpret_cast<talSigInfo*>(&bare);
  for (tvXmlCtx* gone : {owned, deleted}) {
    tvXmlDoc* d = nullptr;
    int32_t count = 0;
    talMsgInfo* again = nullptr;
    EXPECT_EQ(20, tvXmlSetOption(gone, 4, &one, 4));
    EXPECT_EQ(20, tvXmlLoadDocFile(gone, (DATA + "two.xml").c_str(), nullptr, &d));
    EXPECT_EQ(20, tvXmlUnprotect(ctx, gone, reinterpret_cast<tvXmlDoc*>(&bare), nullptr, &again));
    EXPECT_EQ(20, tvXmlGetObjCount(gone, signature, &count));
    EXPECT_EQ(20, tvXmlSaveObjFile(gone, signature, 0, (root + "/x.out").c_str()));
    EXPECT_EQ(20, tvXmlDeleteCtx(gone));
  }
}

// The element paths of the report are libxml2's (xmlGetNodePath): compared
// with it over every element of documents that mix names, prefixes, default
// namespaces and long names.
TEST(XmlNodePathsTest, AsLibxml2WritesThem) {
  const std::string longName(120, 'n');
  const std::string documents[] = {
      "<doc/>",
      "<doc><a/><b/><a/><c><a/></c></doc>",
      "<doc xmlns:p=\"urn:p\" xmlns:q=\"urn:p\"><p:a/><a/><q:a/><p:a><p:a/><a/></p:a><x/></doc>",
      "<doc xmlns=\"urn:d\"><a/><b/><a xmlns=\"\"/><a xmlns=\"\"/><c><d/></c></doc>",
      "<r xmlns:p=\"urn:p\"><p:a xmlns=\"urn:d\"><b/><p:b/><b xmlns=\"\"/></p:a><p:a/></r>",
      "<r xmlns:prefix=\"urn:p\"><prefix:" + longName + "/><prefix:" + longName + "/><" + longName +
          "/></r>",
      "<r><!-- c --><?pi x?><a/>text<a/><b>t<a/></b></r>",
  };
  for (const std::string& text : documents) {
    xmlDocPtr doc = xmlSafeParseMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    ASSERT_NE(nullptr, doc) << text;
    XmlNodePaths paths;
    std::string ours;
    ASSERT_TRUE(paths.path(reinterpret_cast<xmlNodePtr>(doc), ours));
    EXPECT_EQ("/", ours);
    std::vector<xmlNodePtr> stack{xmlDocGetRootElement(doc)};
    while (!stack.empty()) {
      xmlNodePtr n = stack.back();
      stack.pop_back();
      for (xmlNodePtr c = n->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) stack.push_back(c);
      xmlChar* theirs = xmlGetNodePath(n);
      ASSERT_NE(nullptr, theirs);
      EXPECT_TRUE(paths.path(n, ours));
      EXPECT_EQ(reinterpret_cast<const char*>(theirs), ours) << text;
      xmlFree(theirs);
    }
    xmlFreeDoc(doc);
  }
  XmlNodePaths paths;
  std::string ours;
  EXPECT_FALSE(paths.path(nullptr, ours));
}

// A path longer than any expression the library takes is not written: a deep
// chain of long names would be repeated for every signature below it.
TEST(XmlNodePathsTest, ALongPathIsNone) {
  const std::string name(1000, 'n');
  std::string text;
  for (int i = 0; i < 5; ++i) text += "<" + name + ">";
  text += "<s/>";
  for (int i = 0; i < 5; ++i) text += "</" + name + ">";
  xmlDocPtr doc = xmlSafeParseMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  ASSERT_NE(nullptr, doc);
  xmlNodePtr fourth = xmlDocGetRootElement(doc);
  for (int i = 0; i < 3; ++i) fourth = fourth->children;
  XmlNodePaths paths;
  std::string ours;
  ASSERT_TRUE(paths.path(fourth, ours));  // four steps of 1001 bytes
  EXPECT_EQ(4004u, ours.size());
  EXPECT_FALSE(paths.path(fourth->children, ours));            // five: over 4096
  EXPECT_FALSE(paths.path(fourth->children->children, ours));  // the element below
  xmlFreeDoc(doc);
}

// A stranger's document with very many siblings beside the signatures' parent:
// every path counts them once, not once per signature (libxml2 would take time
// quadratic in the document for the report alone).
TEST_F(TvXml, ThePathsOfManySignaturesCostTheDocumentOnce) {
  talCtx* ctx = library();
  std::string text = "<r xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">";
  for (int i = 0; i < 400000; ++i) text += "<abcdefgh/>";
  text += "<w>";
  for (int i = 0; i < 3000; ++i) text += "<ds:Signature/>";
  text += "</w></r>";
  writeText(root + "/many.xml", text);
  tvXmlCtx* c = context();
  tvXmlDoc* d = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(c, (root + "/many.xml").c_str(), nullptr, &d));
  talMsgInfo* m = nullptr;
  // This thread's processor time, which a busy machine does not stretch.
  const double start = threadSeconds();
  ASSERT_EQ(0, tvXmlUnprotect(ctx, c, d, nullptr, &m));
  const double seconds = threadSeconds() - start;
  messages.push_back(m);
  EXPECT_GT(10.0, seconds);
  const std::string report = talReportText(ctx);
  EXPECT_NE(std::string::npos, report.find("XPath: /r/w/ds:Signature[3000]\r\n"));
  int32_t count = 0;
  ASSERT_EQ(0, talGetMessageSignatureCount(m, &count));
  EXPECT_EQ(3000, count);
}

// A document of more signatures than one may carry is refused before any is verified (each
// would hold its records and report lines until the message goes).
TEST_F(TvXml, TooManySignaturesAreRefused) {
  talCtx* ctx = library();
  std::string text = "<r xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">";
  for (int i = 0; i < 4097; ++i) text += "<ds:Signature/>";
  text += "</r>";
  writeText(root + "/toomany.xml", text);
  tvXmlCtx* c = context();
  tvXmlDoc* d = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(c, (root + "/toomany.xml").c_str(), nullptr, &d));
  talMsgInfo* m = nullptr;
  EXPECT_EQ(89, tvXmlUnprotect(ctx, c, d, nullptr, &m));
  EXPECT_EQ(nullptr, m);
  EXPECT_NE(std::string::npos, std::string(talReportText(ctx)).find("Zbyt wiele podpis"));
}

}  // namespace
