// Threads over the public header: eight threads verify the bundled receipt each with its own
// context (one profile, so one shared database), a clone is taken while its source verifies on
// another thread, opening contexts leaves the reports' character set as the process chose it,
// calls on one XML context, on one profile and on a context that is closing take turns, and a
// handle of each kind deleted while other threads read it gives them a live object or 20, never
// freed memory. Built with ThreadSanitizer by scripts/tsan.sh.
#include "talvorin.h"

#include "apisession.h"
#include "base/no_oop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string RECEIPT = apisession::UPO + "upo.xml";

class Threads : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = apisession::sandbox("api_threads");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  std::string dir;
};

TEST_F(Threads, EightThreadsVerifyWithTheirOwnContexts) {
  const int THREADS = 8, ROUNDS = 3;
  std::vector<int> failures(THREADS, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t)
    threads.emplace_back([t, &failures] {
      talCtx* ctx = apisession::open();
      if (!ctx) {
        failures[t] = -1;
        return;
      }
      for (int round = 0; round < ROUNDS; ++round)
        if (apisession::road(ctx, RECEIPT) != 0) ++failures[t];
      if (talDeinit(ctx) != 0) ++failures[t];
    });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < THREADS; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
}

TEST_F(Threads, CloneTakenWhileTheSourceVerifies) {
  talCtx* source = apisession::open();
  ASSERT_NE(nullptr, source);
  std::atomic<bool> verifying{true};
  int sourceFailures = 0;
  std::thread verifier([&] {
    for (int round = 0; round < 12; ++round) {
      if (apisession::road(source, RECEIPT) != 0) ++sourceFailures;
      // The source's owner reads its texts as any caller does after an operation.
      if (!talErrorText(source, 39) || !talReportText(source)[0]) ++sourceFailures;
    }
    verifying = false;
  });
  // Clones taken over and over while the source works; each verifies on a thread of its own.
  int clones = 0;
  std::vector<std::thread> users;
  std::vector<int> cloneFailures(64, 0);
  while (clones < 64 && (verifying || clones < 2)) {
    talCtx* clone = nullptr;
    int32_t r = talCloneCtx(source, &clone);
    ASSERT_TRUE(r == 0 || r == WTAL_GENERIC_WARNING) << r;
    int slot = clones++;
    users.emplace_back([clone, slot, &cloneFailures] {
      if (apisession::road(clone, RECEIPT) != 0) ++cloneFailures[slot];
      if (talDeinit(clone) != 0) ++cloneFailures[slot];
    });
  }
  verifier.join();
  for (std::thread& user : users) user.join();
  EXPECT_EQ(0, sourceFailures);
  for (int i = 0; i < clones; ++i) EXPECT_EQ(0, cloneFailures[i]) << "clone " << i;
  EXPECT_EQ(0, talDeinit(source));
}

TEST_F(Threads, OpeningAContextLeavesTheChosenCharsetAlone) {
  // The process's choice is made by its first context; a report being written on one thread
  // keeps it while another thread opens a context.
  talCtx* first = apisession::open();
  ASSERT_NE(nullptr, first);
  const char chosen = outputCharset();
  const char other = chosen == 'U' ? 'L' : 'U';
  setenv("PL_STANDARD", other == 'U' ? "UTF8" : "LATIN2", 1);
  std::atomic<int> changed{0};
  std::atomic<bool> opening{true};
  std::thread reader([&] {
    while (opening)
      if (outputCharset() != chosen) ++changed;
  });
  for (int i = 0; i < 5; ++i) {
    talCtx* ctx = apisession::open("ApiThreadsCharset");
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(0, talDeinit(ctx));
  }
  opening = false;
  reader.join();
  unsetenv("PL_STANDARD");
  EXPECT_EQ(0, changed.load());
  EXPECT_EQ(chosen, outputCharset());
  EXPECT_EQ(0, talDeinit(first));
}

// Four threads on one XML context: documents loaded, verified (and a document of another
// context refused, which looks through the whole list the loads grow), a signed object saved and
// the results read, all at once. The calls take turns: each answers as it would alone.
TEST_F(Threads, FourThreadsOnOneXmlContext) {
  talCtx* ctx = apisession::open();
  ASSERT_NE(nullptr, ctx);
  tvXmlCtx* xml = nullptr;
  tvXmlCtx* other = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&xml));
  ASSERT_EQ(0, tvXmlCreateCtx(&other));
  tvXmlDoc* first = nullptr;
  tvXmlDoc* foreign = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(xml, RECEIPT.c_str(), nullptr, &first));
  ASSERT_EQ(0, tvXmlLoadDocFile(other, RECEIPT.c_str(), nullptr, &foreign));
  talMsgInfo* kept = nullptr;
  ASSERT_EQ(0, tvXmlUnprotect(ctx, xml, first, nullptr, &kept));
  talSigInfo* signature = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(kept, 0, &signature));

  const int ROUNDS = 8;
  std::atomic<tvXmlDoc*> latest{first};
  std::atomic<bool> verifying{true};
  std::atomic<int> wrong{0};
  auto expect = [&](bool ok) {
    if (!ok) ++wrong;
  };
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // loads documents and sets an option
    const int32_t two = 2;
    for (int i = 0; i < 4000 && verifying; ++i) {
      tvXmlDoc* doc = nullptr;
      expect(tvXmlLoadDocFile(xml, RECEIPT.c_str(), nullptr, &doc) == 0 && doc);
      latest = doc;
      expect(tvXmlSetOption(xml, 0, &two, 4) == 0);
    }
  });
  threads.emplace_back([&] {  // verifies the latest document
    for (int i = 0; i < ROUNDS; ++i) {
      talMsgInfo* message = nullptr;
      int32_t status = 0;
      expect(tvXmlUnprotect(ctx, xml, latest.load(), nullptr, &message) == 0);
      expect(talMsgStatus(message, &status) == 0 && status == 4);
      expect(tvXmlDeleteMsgInfo(message) == 0);
      for (int j = 0; j < 500; ++j)
        expect(tvXmlUnprotect(ctx, xml, foreign, nullptr, &message) == ETAL_API_INV_PAR);
    }
    verifying = false;
  });
  const std::string out = dir + "/object.xml";
  threads.emplace_back([&] {  // saves the kept signature's signed object
    for (int i = 0; i < ROUNDS * 4; ++i)
      expect(tvXmlSaveObjFile(xml, signature, 0, out.c_str()) == 0);
  });
  threads.emplace_back([&] {  // reads the kept results
    for (int i = 0; i < ROUNDS * 20; ++i) {
      int32_t objects = 0, status = 0, qualification = 0, reason = 0;
      expect(tvXmlGetObjCount(xml, signature, &objects) == 0 && objects == 1);
      expect(talSignatureStatus(signature, &status, &qualification, &reason) == 0 && status == 4);
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
  std::ifstream saved(out);
  EXPECT_TRUE(saved.good());
  EXPECT_EQ(0, tvXmlDeleteMsgInfo(kept));
  EXPECT_EQ(0, tvXmlDeleteCtx(xml));
  EXPECT_EQ(0, tvXmlDeleteCtx(other));
  EXPECT_EQ(0, talDeinit(ctx));
}

// A profile written and read through its handle on several threads while it is free, while
// talInitEx takes it, and while the context that took it reads it (a clone copies it whole):
// the calls take turns with each other and with the context, and each answers as it would alone.
TEST_F(Threads, ProfileWritesTakeTurnsWithEachOtherAndTheContext) {
  for (int round = 0; round < 4; ++round) {
    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    ASSERT_NE(nullptr, profile);
    ASSERT_EQ(0, talAddProxy(profile, "127.0.0.1", 3128, "user", "tekst 0"));
    ASSERT_EQ(0, talSetProfileAttr(profile, 14, "tekst 0", 8));
    std::atomic<bool> running{true};
    std::atomic<int> calls{0}, wrong{0};
    auto expect = [&](bool ok) {
      ++calls;
      if (!ok) ++wrong;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
      threads.emplace_back([&, t] {  // writers
        for (int i = 0; running; ++i) {
          const std::string text = "tekst " + std::to_string(t) + std::string(i % 64, 'x');
          const int32_t externalPin = 0;
          expect(talSetProfileAttr(profile, 14, text.c_str(),
                                   static_cast<int32_t>(text.size() + 1)) == 0);
          expect(talSetProfileAttr(profile, 21, &externalPin, 4) == 0);
          expect(talAddProxy(profile, "127.0.0.1", 3128 + i % 8, "user", text.c_str()) == 0);
        }
      });
    threads.emplace_back([&] {  // reader
      while (running) {
        char buffer[256];
        int32_t length = sizeof buffer;
        expect(talGetProfileAttr(profile, 14, buffer, &length) == 0 && length > 0);
        char* address = nullptr;
        char* password = nullptr;
        int32_t port = 0;
        expect(talGetProxy(profile, &address, &port, nullptr, &password) == 0 &&
               std::strcmp(address, "127.0.0.1") == 0 && port >= 3128 &&
               std::strncmp(password, "tekst ", 6) == 0);
        if (address) talDeleteBuffer(address, static_cast<int32_t>(std::strlen(address)));
        if (password) talDeleteBuffer(password, static_cast<int32_t>(std::strlen(password)));
      }
    });
    while (calls < 200) std::this_thread::yield();
    talCtx* ctx = nullptr;
    EXPECT_EQ(0, talInitEx(&ctx, profile));
    for (int i = 0; ctx && i < 10; ++i) {
      talCtx* clone = nullptr;
      EXPECT_EQ(0, talCloneCtx(ctx, &clone));
      EXPECT_EQ(0, talDeinit(clone));
      EXPECT_EQ(0, talSetOption(ctx, 12, 0));
    }
    running = false;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, wrong.load()) << "round " << round;
    EXPECT_EQ(0, talDeinit(ctx));
  }
}

// A call that holds the context when talDeinit on another thread begins to close it runs whole,
// and the close waits for it; a call after the close is refused with 21. No other answer.
TEST_F(Threads, CallsRacingTheCloseAnswerAsAloneOr21) {
  talCert* root = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((apisession::UPO + "roots/root.crt").c_str(), &root));
  const std::vector<uint8_t> inter =
      apisession::fileBytes(apisession::UPO + "pki/intermediate.der");
  tvXmlCtx* xml = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&xml));
  tvXmlDoc* doc = nullptr;
  ASSERT_EQ(0, tvXmlLoadDocFile(xml, RECEIPT.c_str(), nullptr, &doc));
  struct Row {
    const char* name;
    int32_t alone;  // the answer on an open context
    std::function<int32_t(talCtx*)> call;
  };
  const Row rows[] = {
      {"talSetOption", 0, [](talCtx* c) { return talSetOption(c, 12, 0); }},
      {"talInstallMemCrt", 0,
       [&](talCtx* c) {
         int32_t count = 0;
         return talInstallMemCrt(c, inter.data(), static_cast<int32_t>(inter.size()), 1, &count);
       }},
      {"talInstallRoot", 0, [&](talCtx* c) { return talInstallRoot(c, root, 1, 1); }},
      {"tvXmlUnprotect", 0,
       [&](talCtx* c) {
         talMsgInfo* message = nullptr;
         int32_t r = tvXmlUnprotect(c, xml, doc, nullptr, &message);
         if (r == 0 && tvXmlDeleteMsgInfo(message) != 0) return -1;
         return r;
       }},
      {"talSetPin", 0, [](talCtx* c) { return talSetPin(c, 1, "1234"); }},
      {"talProtectMessageGF", 20,  // no streams: refused after the report is reset
       [](talCtx* c) { return talProtectMessageGF(c, nullptr, nullptr, nullptr, 0); }},
  };
  const int ROUNDS = 20;
  std::vector<std::atomic<int>> wrong(sizeof rows / sizeof rows[0]);
  for (int round = 0; round < ROUNDS; ++round) {
    talCtx* ctx = apisession::open("ApiThreadsClose");
    ASSERT_NE(nullptr, ctx);
    std::atomic<int> started{0};
    std::atomic<bool> closed{false};
    std::vector<std::thread> threads;
    for (size_t r = 0; r < wrong.size(); ++r)
      threads.emplace_back([&, r] {
        for (bool first = true;; first = false) {
          // Read before the call: a call begun after talDeinit answered is its last one (and
          // a close that failed stops the rounds instead of keeping them going).
          const bool last = closed;
          const int32_t answer = rows[r].call(ctx);
          if (first) ++started;
          if (answer == ETAL_API_INV_CTX) break;
          if (answer != rows[r].alone) ++wrong[r];
          if (last) break;
        }
      });
    while (started < static_cast<int>(wrong.size())) std::this_thread::yield();
    EXPECT_EQ(0, talDeinit(ctx)) << "round " << round;
    closed = true;
    for (std::thread& thread : threads) thread.join();
  }
  for (size_t r = 0; r < wrong.size(); ++r) EXPECT_EQ(0, wrong[r].load()) << rows[r].name;
  EXPECT_EQ(0, tvXmlDeleteCtx(xml));
  EXPECT_EQ(0, talDeleteCertificate(root));
}

// Readers call `read` over and over until it answers `gone`, while this thread, once every
// reader has read the live handle, deletes it with `drop` (which must answer 0). Every answer a
// reader gets is in `allowed`; the count of others is returned.
int deleteWhileRead(int readers, const std::function<int32_t()>& read,
                    const std::function<int32_t()>& drop, int32_t gone,
                    const std::vector<int32_t>& allowed) {
  std::atomic<int> started{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < readers; ++t)
    threads.emplace_back([&] {
      bool first = true;
      for (int i = 0; i < 1000000; ++i) {
        const int32_t r = read();
        if (first) {
          first = false;
          ++started;
        }
        if (r == gone) break;
        bool ok = false;
        for (int32_t a : allowed) ok = ok || r == a;
        if (!ok) ++wrong;
      }
    });
  while (started < readers) std::this_thread::yield();
  if (drop() != 0) ++wrong;
  for (std::thread& thread : threads) thread.join();
  return wrong;
}

const int READERS = 3;

class HandleRaces : public Threads {
 protected:
  void verify(talCtx* ctx, tvXmlCtx* xml, talMsgInfo** message) {
    tvXmlDoc* doc = nullptr;
    ASSERT_EQ(0, tvXmlLoadDocFile(xml, RECEIPT.c_str(), nullptr, &doc));
    ASSERT_EQ(0, tvXmlUnprotect(ctx, xml, doc, nullptr, message));
  }
};

// The message and its signature read by every getter while the message goes.
TEST_F(HandleRaces, AMessageDeletedWhileItsSignaturesAreRead) {
  talCtx* ctx = apisession::open();
  ASSERT_NE(nullptr, ctx);
  tvXmlCtx* xml = nullptr;
  ASSERT_EQ(0, tvXmlCreateCtx(&xml));
  for (int round = 0; round < 40; ++round) {
    talMsgInfo* message = nullptr;
    ASSERT_NO_FATAL_FAILURE(verify(ctx, xml, &message));
    talSigInfo* signature = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(message, 0, &signature));
    auto read = [&]() -> int32_t {
      int32_t a = 0, b = 0, c = 0, objects = 0;
      talSigInfo* s = nullptr;
      const int32_t answers[] = {talSignatureStatus(signature, &a, &b, &c),
                                 talGetSignatureTimeStampCount(signature, &a),
                                 talGetCounterSignatureCount(signature, &a),
                                 tvXmlGetObjCount(xml, signature, &objects),
                                 talGetMessageSignature(message, 0, &s),
                                 talGetMessageSignatureCount(message, &a),
                                 talMsgStatus(message, &a)};
      // The last answer ends the reading once it is 20; any other answer than 0 or 20 counts.
      for (int32_t r : answers)
        if (r != 0 && r != 20) return r;
      return answers[6];
    };
    EXPECT_EQ(0, deleteWhileRead(READERS, read, [&] { return tvXmlDeleteMsgInfo(message); }, 20,
                                 {0, 20}))
        << "round " << round;
  }
  EXPECT_EQ(0, tvXmlDeleteCtx(xml));
  EXPECT_EQ(0, talDeinit(ctx));
}

// Under option 4 the message owns its XML context: both go while the signature's objects are
// counted through the context.
TEST_F(HandleRaces, AnOwnedXmlContextGoesWithItsMessageWhileRead) {
  talCtx* ctx = apisession::open();
  ASSERT_NE(nullptr, ctx);
  for (int round = 0; round < 20; ++round) {
    tvXmlCtx* xml = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(&xml));
    const int32_t one = 1;
    ASSERT_EQ(0, tvXmlSetOption(xml, 4, &one, 4));
    talMsgInfo* message = nullptr;
    ASSERT_NO_FATAL_FAILURE(verify(ctx, xml, &message));
    talSigInfo* signature = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(message, 0, &signature));
    auto read = [&]() -> int32_t {
      int32_t objects = 0;
      return tvXmlGetObjCount(xml, signature, &objects);
    };
    EXPECT_EQ(0, deleteWhileRead(READERS, read, [&] { return tvXmlDeleteMsgInfo(message); }, 20,
                                 {0, 20}))
        << "round " << round;
  }
  EXPECT_EQ(0, talDeinit(ctx));
}

// Certificates, profiles, XML contexts, library contexts and buffers: one deleted while others
// read it.
TEST_F(HandleRaces, EveryOtherKindDeletedWhileRead) {
  const std::string certificateFile = apisession::UPO + "roots/root.crt";
  for (int round = 0; round < 100; ++round) {
    talCert* cert = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile(certificateFile.c_str(), &cert));
    auto readCert = [&]() -> int32_t {
      uint8_t* der = nullptr;
      int32_t length = 0, flag = 0;
      int32_t r = talGetCrtMem(cert, &der, &length);
      if (r == 0 && talDeleteBuffer(der, length) != 0) return -1;
      int32_t ca = talIsCAAutoCert(cert, &flag);
      return r == ca ? r : (r == 20 ? ca : r);
    };
    EXPECT_EQ(0, deleteWhileRead(READERS, readCert, [&] { return talDeleteCertificate(cert); },
                                 20, {0, 20}))
        << "certificate, round " << round;

    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    ASSERT_NE(nullptr, profile);
    ASSERT_EQ(0, talAddProxy(profile, "127.0.0.1", 3128, "user", "secret"));
    auto readProfile = [&]() -> int32_t {
      char* address = nullptr;
      int32_t port = 0;
      int32_t r = talGetProxy(profile, &address, &port, nullptr, nullptr);
      if (r == 0 && (std::strcmp(address, "127.0.0.1") != 0 ||
                     talDeleteBuffer(address, static_cast<int32_t>(std::strlen(address))) != 0))
        return -1;
      return r;
    };
    EXPECT_EQ(0, deleteWhileRead(READERS, readProfile, [&] { return talDeleteProfile(profile); },
                                 20, {0}))
        << "profile, round " << round;

    tvXmlCtx* xml = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(&xml));
    auto readXml = [&]() -> int32_t {
      const int32_t two = 2;
      return tvXmlSetOption(xml, 0, &two, 4);
    };
    EXPECT_EQ(0, deleteWhileRead(READERS, readXml, [&] { return tvXmlDeleteCtx(xml); }, 20, {0}))
        << "XML context, round " << round;

    // Two deletes of one buffer at once: one frees it, the other answers 20.
    talStream* stream = nullptr;
    ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("abc"), 3, &stream));
    uint8_t* data = nullptr;
    int32_t length = 0;
    ASSERT_EQ(0, talGetMemStreamData(stream, &data, &length));
    std::atomic<int> freed{0}, refused{0};
    std::vector<std::thread> deleters;
    for (int t = 0; t < 2; ++t)
      deleters.emplace_back([&] { (talDeleteBuffer(data, length) == 0 ? freed : refused)++; });
    for (std::thread& thread : deleters) thread.join();
    EXPECT_EQ(1, freed.load());
    EXPECT_EQ(1, refused.load());
    EXPECT_EQ(0, talDeleteStream(stream));
  }

  for (int round = 0; round < 6; ++round) {
    talCtx* ctx = apisession::open("ApiThreadsRace");
    ASSERT_NE(nullptr, ctx);
    auto readCtx = [&]() -> int32_t {
      int32_t pin = talSetPin(ctx, 1, "1234");
      int32_t option = talSetOption(ctx, 12, 0);
      if (!talReportText(ctx)) return -1;
      if (option == 10) option = 0;
      return pin == option ? pin : (pin == 21 ? option : pin);
    };
    EXPECT_EQ(0, deleteWhileRead(READERS, readCtx, [&] { return talDeinit(ctx); }, 21, {0, 21}))
        << "context, round " << round;
  }
}

// A profile deleted on one thread while an opening on another takes it and then fails (the
// device's library is absent here: 37; the profile goes with the context). One of the two frees
// it; neither waits for the other for ever.
TEST_F(HandleRaces, AProfileDeletedWhileAnOpeningFails) {
  for (int round = 0; round < 200; ++round) {
    talProfile* profile = talCreateProfile(TAL_PROFILE_OSTRA);
    ASSERT_NE(nullptr, profile);
    std::atomic<bool> go{false};
    int32_t deleted = -1;
    std::thread deleter([&] {
      while (!go) std::this_thread::yield();
      deleted = talDeleteProfile(profile);
    });
    talCtx* ctx = nullptr;
    go = true;
    const int32_t opened = talInitEx(&ctx, profile);
    deleter.join();
    EXPECT_TRUE(opened == 37 || (opened == 20 && deleted == 0)) << "round " << round;
    EXPECT_TRUE(deleted == 20 || (deleted == 0 && opened == 20)) << "round " << round;
    EXPECT_EQ(nullptr, ctx);
  }
}

// The PIN replaced on several threads at once (and read by the calls that wipe it): each
// replacement is whole, under the context's lock.
TEST_F(Threads, PinsSetOnManyThreadsAtOnce) {
  talCtx* ctx = apisession::open();
  ASSERT_NE(nullptr, ctx);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const std::string pin = "pin-of-thread-" + std::to_string(t);
      for (int i = 0; i < 2000; ++i)
        if (talSetPin(ctx, i % 2 ? 1 : 2, pin.c_str()) != 0) ++wrong;
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(0, talDeinit(ctx));
}

}  // namespace

// A choice of the character set is one store: a thread writing a report never sees a value the
// choice passes through.
TEST(OutputCharset, AChoiceIsSeenWhole) {
  setenv("PL_STANDARD", "UTF8", 1);
  ASSERT_EQ('U', selectOutputCharset(nullptr));
  std::atomic<bool> choosing{true};
  std::thread chooser([&] {
    for (int i = 0; i < 200000; ++i) selectOutputCharset(nullptr);
    choosing = false;
  });
  long other = 0;
  while (choosing)
    if (outputCharset() != 'U') ++other;
  chooser.join();
  unsetenv("PL_STANDARD");
  selectOutputCharset("windows");
  EXPECT_EQ(0, other);
}
