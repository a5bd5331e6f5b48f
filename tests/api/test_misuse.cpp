// The C interface misused over its public header only: every entry point given freed handles, a
// stranger's memory and live handles of another kind answers a code without reading them (ASan
// sees any read), and the live handles keep working afterwards; buffers are freed once and only
// the library's; every call that opens a caller's path refuses what is no regular file without
// waiting.
#include "talvorin.h"

#include "apisession.h"
#include "hangguard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// SERVER_LIST: no entry point hands one out, so every pointer given is a stranger's; BUFFER:
// none of the handles is one.
enum Kind {
  CONTEXT,
  CERTIFICATE,
  PROFILE,
  MESSAGE,
  SIGNATURE,
  XML_CONTEXT,
  SERVER_LIST,
  BUFFER,
  NONE
};

struct Handle {
  const char* name;
  Kind kind;  // NONE: freed or foreign
  void* pointer;
};

struct Call {
  const char* name;
  Kind takes;  // the parameter given the wrong handles
  int32_t expected;
  std::function<int32_t(void*)> call;
};

class Misuse : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = apisession::sandbox("api_misuse");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  // One verified receipt's message and its signature (the XML context stays the caller's).
  void verify(talCtx* ctx, tvXmlCtx** xml, talMsgInfo** message, talSigInfo** signature) {
    tvXmlDoc* doc = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(xml));
    ASSERT_EQ(0, tvXmlLoadDocFile(*xml, (apisession::UPO + "upo.xml").c_str(), nullptr, &doc));
    ASSERT_EQ(0, tvXmlUnprotect(ctx, *xml, doc, nullptr, message));
    ASSERT_EQ(0, talGetMessageSignature(*message, 0, signature));
  }

  std::string dir;
};

TEST_F(Misuse, EveryEntryPointRefusesFreedForeignAndSwappedHandles) {
  talCtx* ctx = apisession::open();
  ASSERT_NE(nullptr, ctx);
  talCert* cert = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((apisession::UPO + "roots/root.crt").c_str(), &cert));
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  ASSERT_NE(nullptr, profile);
  tvXmlCtx* xml = nullptr;
  talMsgInfo* message = nullptr;
  talSigInfo* signature = nullptr;
  ASSERT_NO_FATAL_FAILURE(verify(ctx, &xml, &message, &signature));

  // The freed ones are made after every live one, and nothing of their kinds is made after
  // them: no new object can take a freed one's address.
  tvXmlCtx* goneXml = nullptr;
  talMsgInfo* goneMessage = nullptr;
  talSigInfo* goneSignature = nullptr;
  ASSERT_NO_FATAL_FAILURE(verify(ctx, &goneXml, &goneMessage, &goneSignature));
  ASSERT_EQ(0, tvXmlDeleteMsgInfo(goneMessage));  // its signature dies with it
  ASSERT_EQ(0, tvXmlDeleteCtx(goneXml));
  talCtx* goneCtx = apisession::open("ApiSessionGone");
  ASSERT_NE(nullptr, goneCtx);
  ASSERT_EQ(0, talDeinit(goneCtx));
  talCert* goneCert = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((apisession::UPO + "roots/root.crt").c_str(), &goneCert));
  ASSERT_EQ(0, talDeleteCertificate(goneCert));
  talProfile* goneProfile = talCreateProfile(TAL_PROFILE_MEMORY);
  ASSERT_EQ(0, talDeleteProfile(goneProfile));
  // A stranger's memory: bytes that are none of the library's objects.
  alignas(16) unsigned char foreign[4096];
  std::memset(foreign, 0x5A, sizeof foreign);

  const Handle handles[] = {
      {"context", CONTEXT, ctx},
      {"certificate", CERTIFICATE, cert},
      {"profile", PROFILE, profile},
      {"message", MESSAGE, message},
      {"signature", SIGNATURE, signature},
      {"XML context", XML_CONTEXT, xml},
      {"freed context", NONE, goneCtx},
      {"freed certificate", NONE, goneCert},
      {"freed profile", NONE, goneProfile},
      {"freed message", NONE, goneMessage},
      {"signature of a freed message", NONE, goneSignature},
      {"freed XML context", NONE, goneXml},
      {"foreign memory", NONE, foreign},
  };

  const std::string out = dir + "/object.out";
  uint8_t byte = 0;
  int32_t value = 0, other = 0, third = 0;
  const uint8_t der[] = {0x30, 0x00};
  auto C = [](void* p) { return static_cast<talCtx*>(p); };
  auto X = [](void* p) { return static_cast<talCert*>(p); };
  auto P = [](void* p) { return static_cast<talProfile*>(p); };
  auto M = [](void* p) { return static_cast<talMsgInfo*>(p); };
  auto S = [](void* p) { return static_cast<talSigInfo*>(p); };
  auto T = [](void* p) { return static_cast<tvXmlCtx*>(p); };
  const Call calls[] = {
      {"talAuthenticateEx", CONTEXT, 21, [&](void* h) { return talAuthenticateEx(C(h), 0); }},
      {"talDeinit", CONTEXT, 21, [&](void* h) { return talDeinit(C(h)); }},
      {"talCloneCtx", CONTEXT, 21,
       [&](void* h) {
         talCtx* clone = nullptr;
         return talCloneCtx(C(h), &clone);
       }},
      {"talRbgFill", CONTEXT, 21, [&](void* h) { return talRbgFill(C(h), &byte, 1); }},
      {"talSetOption", CONTEXT, 21, [&](void* h) { return talSetOption(C(h), 12, 0); }},
      {"talInstallRoot(context)", CONTEXT, 21,
       [&](void* h) { return talInstallRoot(C(h), cert, 1, 1); }},
      {"talInstallMemCrt", CONTEXT, 21,
       [&](void* h) { return talInstallMemCrt(C(h), der, sizeof der, 1, &value); }},
      {"talProtectMessageGF", CONTEXT, 21,
       [&](void* h) { return talProtectMessageGF(C(h), nullptr, nullptr, nullptr, 2); }},
      {"tvXmlUnprotect(context)", CONTEXT, 21,
       [&](void* h) {
         talMsgInfo* m = nullptr;
         return tvXmlUnprotect(C(h), xml, reinterpret_cast<tvXmlDoc*>(foreign), nullptr, &m);
       }},
      {"talReportText", CONTEXT, 0,
       [&](void* h) { return std::strcmp("", talReportText(C(h))) == 0 ? 0 : 1; }},
      {"talErrorText", CONTEXT, 0,
       [&](void* h) {
         // Code 39 names the device's error number only for a valid context.
         const char* text = talErrorText(C(h), 39);
         return text && !std::strstr(text, " nr ") ? 0 : 1;
       }},
      {"talDeleteCertificate", CERTIFICATE, 20,
       [&](void* h) { return talDeleteCertificate(X(h)); }},
      {"talIsCAAutoCert", CERTIFICATE, 20, [&](void* h) { return talIsCAAutoCert(X(h), &value); }},
      {"talInstallRoot(certificate)", CERTIFICATE, 20,
       [&](void* h) { return talInstallRoot(ctx, X(h), 1, 1); }},
      {"talGetCrtMem", CERTIFICATE, 20,
       [&](void* h) {
         uint8_t* buffer = nullptr;
         return talGetCrtMem(X(h), &buffer, &value);
       }},
      {"talInitEx", PROFILE, 20,
       [&](void* h) {
         talCtx* opened = nullptr;
         return talInitEx(&opened, P(h));
       }},
      {"talDeleteProfile", PROFILE, 20, [&](void* h) { return talDeleteProfile(P(h)); }},
      {"talSetProfileAttr", PROFILE, 20,
       [&](void* h) { return talSetProfileAttr(P(h), 0, "x", 2); }},
      {"talGetProfileAttr", PROFILE, 20,
       [&](void* h) {
         char buffer[64];
         int32_t length = sizeof buffer;
         return talGetProfileAttr(P(h), 0, buffer, &length);
       }},
      {"talAddProxy", PROFILE, 20,
       [&](void* h) { return talAddProxy(P(h), "127.0.0.1", 1, nullptr, nullptr); }},
      {"talGetProxy", PROFILE, 20,
       [&](void* h) { return talGetProxy(P(h), nullptr, &value, nullptr, nullptr); }},
      {"talDeleteBuffer", BUFFER, 20, [&](void* h) { return talDeleteBuffer(h, 8); }},
      {"talDeleteServerIterator", SERVER_LIST, 20,
       [&](void* h) { return talDeleteServerIterator(static_cast<talServerIterator*>(h)); }},
      {"talMsgStatus", MESSAGE, 20, [&](void* h) { return talMsgStatus(M(h), &value); }},
      {"talGetMessageSignatureCount", MESSAGE, 20,
       [&](void* h) { return talGetMessageSignatureCount(M(h), &value); }},
      {"talGetMessageSignature", MESSAGE, 20,
       [&](void* h) {
         talSigInfo* s = nullptr;
         return talGetMessageSignature(M(h), 0, &s);
       }},
      {"tvXmlDeleteMsgInfo", MESSAGE, 20, [&](void* h) { return tvXmlDeleteMsgInfo(M(h)); }},
      {"talSignatureStatus", SIGNATURE, 20,
       [&](void* h) { return talSignatureStatus(S(h), &value, &other, &third); }},
      {"talGetSignatureTimeStampCount", SIGNATURE, 20,
       [&](void* h) { return talGetSignatureTimeStampCount(S(h), &value); }},
      {"talGetCounterSignatureCount", SIGNATURE, 20,
       [&](void* h) { return talGetCounterSignatureCount(S(h), &value); }},
      {"tvXmlGetObjCount(signature)", SIGNATURE, 20,
       [&](void* h) { return tvXmlGetObjCount(xml, S(h), &value); }},
      {"tvXmlSaveObjFile(signature)", SIGNATURE, 20,
       [&](void* h) { return tvXmlSaveObjFile(xml, S(h), 0, out.c_str()); }},
      {"tvXmlDeleteCtx", XML_CONTEXT, 20, [&](void* h) { return tvXmlDeleteCtx(T(h)); }},
      {"tvXmlSetOption", XML_CONTEXT, 20,
       [&](void* h) {
         int32_t one = 1;
         return tvXmlSetOption(T(h), 0, &one, 4);
       }},
      {"tvXmlLoadDocFile", XML_CONTEXT, 20,
       [&](void* h) {
         tvXmlDoc* d = nullptr;
         return tvXmlLoadDocFile(T(h), (apisession::UPO + "upo.xml").c_str(), nullptr, &d);
       }},
      {"tvXmlUnprotect(XML context)", XML_CONTEXT, 20,
       [&](void* h) {
         talMsgInfo* m = nullptr;
         return tvXmlUnprotect(ctx, T(h), reinterpret_cast<tvXmlDoc*>(foreign), nullptr, &m);
       }},
      {"tvXmlGetObjCount(XML context)", XML_CONTEXT, 20,
       [&](void* h) { return tvXmlGetObjCount(T(h), signature, &value); }},
      {"tvXmlSaveObjFile(XML context)", XML_CONTEXT, 20,
       [&](void* h) { return tvXmlSaveObjFile(T(h), signature, 0, out.c_str()); }},
  };
  for (const Call& call : calls)
    for (const Handle& handle : handles) {
      if (handle.kind == call.takes) continue;
      EXPECT_EQ(call.expected, call.call(handle.pointer)) << call.name << " given the " << handle.name;
    }
  // Nothing was written to the output path.
  struct stat st;
  EXPECT_NE(0, ::stat(out.c_str(), &st));

  // Every live handle survived and still works.
  int32_t status = 0, qualification = 0, reason = 0, flag = 0;
  EXPECT_EQ(0, talMsgStatus(message, &status));
  EXPECT_EQ(4, status);
  EXPECT_EQ(0, talSignatureStatus(signature, &status, &qualification, &reason));
  EXPECT_EQ(4, status);
  value = 0;
  EXPECT_EQ(0, tvXmlGetObjCount(xml, signature, &value));
  EXPECT_LT(0, value);
  EXPECT_EQ(0, talIsCAAutoCert(cert, &flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(0, talSetProfileAttr(profile, 0, "x", 2));
  EXPECT_EQ(0, apisession::road(ctx, apisession::UPO + "upo.xml"));

  EXPECT_EQ(0, tvXmlDeleteMsgInfo(message));
  // The signature went with its message.
  EXPECT_EQ(20, talSignatureStatus(signature, &status, &qualification, &reason));
  EXPECT_EQ(20, tvXmlGetObjCount(xml, signature, &value));
  EXPECT_EQ(20, tvXmlDeleteMsgInfo(message));
  EXPECT_EQ(0, tvXmlDeleteCtx(xml));
  EXPECT_EQ(0, talDeleteProfile(profile));
  EXPECT_EQ(0, talDeleteCertificate(cert));
  EXPECT_EQ(20, talDeleteCertificate(cert));
  EXPECT_EQ(0, talDeinit(ctx));
  EXPECT_EQ(21, talDeinit(ctx));
}

// The call on another thread, given up to the hang guard: a call that waits for a writer that
// never comes (or reads an endless device) ends the program with a message instead of hanging it.
int32_t within(const char* what, const std::function<int32_t()>& call) {
  auto task = std::make_shared<std::packaged_task<int32_t()>>(call);
  std::future<int32_t> result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (result.wait_for(std::chrono::seconds(HANG_GUARD_SECONDS)) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not return: it waits on what is no regular file\n", what);
    std::_Exit(1);
  }
  return result.get();
}

TEST_F(Misuse, CallsOpeningACallersPathRefuseWhatIsNoRegularFileWithoutWaiting) {
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  tvXmlCtx* xml = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&xml));
  for (const std::string& path : {fifo, std::string("/dev/zero"), dir}) {
    SCOPED_TRACE(path);
    talCert* cert = nullptr;
    EXPECT_EQ(ETAL_OP_INFILE, within("talAllocateCertFromFile", [&] {
                return talAllocateCertFromFile(path.c_str(), &cert);
              }));
    EXPECT_EQ(nullptr, cert);
    uint8_t digest[64];
    EXPECT_EQ(ETAL_OP_INFILE, within("talHashFile", [&] {
                return talHashFile(path.c_str(), TAL_HASH_SHA256, digest, sizeof digest);
              }));
    tvXmlDoc* doc = nullptr;
    EXPECT_EQ(ETAL_OP_INFILE, within("tvXmlLoadDocFile", [&] {
                return tvXmlLoadDocFile(xml, path.c_str(), nullptr, &doc);
              }));
    // The key file of a PKCS#12 profile, read at authentication: the key file's open error.
    talProfile* profile = talCreateProfile(TAL_PROFILE_PKCS12);
    const std::string name = "misuse-p12-" + std::to_string(::getpid());
    ASSERT_EQ(0, talSetProfileAttr(profile, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    ASSERT_EQ(0, talSetProfileAttr(profile, 17, "w pamieci", 10));
    ASSERT_EQ(0, talSetProfileAttr(profile, 9, path.c_str(), static_cast<int32_t>(path.size() + 1)));
    talCtx* ctx = nullptr;
    ASSERT_EQ(0, talInitEx(&ctx, profile));
    EXPECT_EQ(ETAL_SFT_OPEN, within("talAuthenticateEx", [&] { return talAuthenticateEx(ctx, 0); }));
    EXPECT_EQ(0, talDeinit(ctx));
  }
  EXPECT_EQ(0, tvXmlDeleteCtx(xml));
}

// Every buffer the library hands out is freed by talDeleteBuffer once; a second delete, a
// pointer into a buffer and a stranger's heap or stack memory answer 20 and free nothing (the
// sanitizer sees any double or foreign free).
TEST_F(Misuse, BuffersAreFreedOnlyOnceAndOnlyTheLibrarys) {
  talCert* cert = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((apisession::UPO + "roots/root.crt").c_str(), &cert));
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  ASSERT_EQ(0, talAddProxy(profile, "127.0.0.1", 3128, "user", "secret"));
  talStream* stream = nullptr;
  ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("bytes"), 5, &stream));

  struct Source {
    const char* name;
    std::function<int32_t(void**, int32_t*)> get;
  };
  const Source sources[] = {
      {"talGetCrtMem",
       [&](void** b, int32_t* n) { return talGetCrtMem(cert, reinterpret_cast<uint8_t**>(b), n); }},
      {"talGetMemStreamData",
       [&](void** b, int32_t* n) {
         return talGetMemStreamData(stream, reinterpret_cast<uint8_t**>(b), n);
       }},
      {"talGetProxy address",
       [&](void** b, int32_t* n) {
         *n = 10;
         return talGetProxy(profile, reinterpret_cast<char**>(b), nullptr, nullptr, nullptr);
       }},
      {"talGetProxy login",
       [&](void** b, int32_t* n) {
         *n = 5;
         return talGetProxy(profile, nullptr, nullptr, reinterpret_cast<char**>(b), nullptr);
       }},
      {"talGetProxy password",
       [&](void** b, int32_t* n) {
         *n = 7;
         return talGetProxy(profile, nullptr, nullptr, nullptr, reinterpret_cast<char**>(b));
       }},
  };
  for (const Source& source : sources) {
    SCOPED_TRACE(source.name);
    void* buffer = nullptr;
    int32_t length = 0;
    ASSERT_EQ(0, source.get(&buffer, &length));
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(20, talDeleteBuffer(static_cast<char*>(buffer) + 1, 0));
    EXPECT_EQ(0, talDeleteBuffer(buffer, length));
    EXPECT_EQ(20, talDeleteBuffer(buffer, length));
  }
  void* heap = std::malloc(16);
  EXPECT_EQ(20, talDeleteBuffer(heap, 16));
  std::free(heap);
  char stack[16];
  EXPECT_EQ(20, talDeleteBuffer(stack, 0));
  EXPECT_EQ(0, talDeleteStream(stream));
  EXPECT_EQ(0, talDeleteProfile(profile));
  EXPECT_EQ(0, talDeleteCertificate(cert));
}

}  // namespace

// A context opened right after another closed never takes its address, so a stale handle
// closes nothing: the scenario where a second talDeinit of an old handle closed its
// successor. Run past the contexts held back, so storage really is reused on the way.
TEST(MisuseReuse, AStaleContextNeverClosesItsSuccessor) {
  auto open = [](talCtx** ctx) {
    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    if (!profile) return -1;
    const std::string name = "misuse-reuse-" + std::to_string(::getpid());
    talSetProfileAttr(profile, 0, name.c_str(), static_cast<int32_t>(name.size() + 1));
    return static_cast<int>(talInitEx(ctx, profile));
  };
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    talCtx* old = nullptr;
    ASSERT_EQ(0, open(&old));
    ASSERT_EQ(0, talDeinit(old));
    talCtx* next = nullptr;
    ASSERT_EQ(0, open(&next));
    EXPECT_NE(old, next);
    EXPECT_EQ(ETAL_API_INV_CTX, talDeinit(old));  // stale: refused, the new one untouched
    EXPECT_EQ(0, talDeinit(next));
  }
}
