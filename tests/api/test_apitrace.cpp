// The trace of the entry points and the two catch policies, read back from the log file.
#include "talvorin.h"

#include "api/apitrace.h"
#include "api/logserviceclient.h"
#include "api/sharedtext.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

std::string logPath;

// The process-wide log is made once: the registry that sends it to a file is set up before any
// test runs.
class FileLogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/tal-trace-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    folder = pattern;
    ::setenv(platform::REGISTRY_ROOT_VARIABLE, folder.c_str(), 1);
    logPath = folder + "/trace.log";
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.create(platform::RegistryRoot::LocalMachine, LogServiceClient::REGISTRY_KEY));
    const uint8_t two[4] = {2, 0, 0, 0};
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.setValue("LogOutput", platform::REGISTRY_DWORD, two, 4));
    std::string name = logPath + '\0';
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.setValue("LogFileName", platform::REGISTRY_SZ, name.data(), name.size()));
    ASSERT_TRUE(apitrace::enabled());
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

 private:
  std::string folder;
};

::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new FileLogEnvironment);

// The lines written since the last call.
std::string newLines() {
  static size_t seen = 0;
  std::ifstream in(logPath, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string fresh = all.substr(seen);
  seen = all.size();
  return fresh;
}

// One file line without its date: "<level> Funkcja: <f>. <message>. "
std::string line(const char* level, const char* function, const std::string& message) {
  return std::string(level) + " Funkcja: " + function + ". " + message + ". ";
}

void expectTrace(const std::string& lines, const char* function, const char* endLevel,
                 const std::string& endMessage, const std::string& beginParameters = "") {
  std::istringstream in(lines);
  std::string begin, end, extra;
  std::getline(in, begin);
  std::getline(in, end);
  EXPECT_FALSE(std::getline(in, extra)) << lines;
  auto withoutDate = [](const std::string& l) {
    size_t level = l.find(' ');
    // "LEVEL. YYYY-MM-DD hh:mm:ss Funkcja..." without the date, time and "\r"
    return l.substr(0, level) + l.substr(level + 20, l.size() - level - 21);
  };
  EXPECT_EQ(line("INFO.", function, "BEGIN") +
                (beginParameters.empty() ? "" : "Parametry: " + beginParameters + ". "),
            withoutDate(begin));
  EXPECT_EQ(line(endLevel, function, endMessage), withoutDate(end));
}

TEST(ApiTrace, EntryPointsWriteBeginAndEnd) {
  newLines();
  EXPECT_NE(nullptr, talErrorText(nullptr, 0));
  expectTrace(newLines(), "talErrorText", "INFO.", "END. Wynik: != NULL");
  EXPECT_EQ(nullptr, talReasonText(16));
  expectTrace(newLines(), "talReasonText", "ERROR.", "END. Wynik: NULL");
  EXPECT_STREQ("", talReportText(nullptr));
  expectTrace(newLines(), "talReportText", "INFO.", "END. Wynik: != NULL");
  // Not traced.
  EXPECT_NE(nullptr, signatureStatusText(1));
  EXPECT_EQ("", newLines());
  uint8_t byte = 0;
  talCtx* clone = nullptr;
  EXPECT_EQ(20, talRbgFill(nullptr, &byte, 1));
  EXPECT_EQ(20, talCloneCtx(nullptr, &clone));
  EXPECT_EQ(20, talProtectMessageGF(nullptr, nullptr, nullptr, nullptr, 2));
  EXPECT_EQ("", newLines());
}

TEST(ApiTrace, FileEntryPointsNameTheirFileInBegin) {
  newLines();
  talCert* certificate = nullptr;
  EXPECT_EQ(20, talAllocateCertFromFile(nullptr, &certificate));
  expectTrace(newLines(), "talAllocateCertFromFile", "ERROR.", "END. Wynik: 20", "crtFile: NULL");
  const std::string missing = logPath + ".missing";
  EXPECT_EQ(56, talAllocateCertFromFile(missing.c_str(), &certificate));
  expectTrace(newLines(), "talAllocateCertFromFile", "ERROR.", "END. Wynik: 56",
              "crtFile: " + missing);
  uint8_t digest[20];
  EXPECT_EQ(20, talHashFile(nullptr, 1, digest, sizeof digest));
  expectTrace(newLines(), "talHashFile", "ERROR.", "END. Wynik: 20", "inFile: NULL");
  EXPECT_EQ(56, talHashFile(missing.c_str(), 1, digest, sizeof digest));
  expectTrace(newLines(), "talHashFile", "ERROR.", "END. Wynik: 56", "inFile: " + missing);
}

TEST(ApiTrace, CodeLevelsAndTheCatchPolicies) {
  struct Row {
    const char* what;
    std::function<int32_t()> body;
    bool withText;  // the profile functions' policy
    int32_t code;
    const char* lastError;  // what the last-error text holds afterwards
  };
  lastErrorText.set("before");
  const Row rows[] = {
      {"success", [] { return 0; }, false, 0, "before"},
      {"warnings", [] { return 10; }, false, 10, "before"},
      {"first error", [] { return 11; }, false, 11, "before"},
      {"api exception", []() -> int32_t { throw TalApiException("zly profil", 129); }, true, 129,
       "zly profil"},
      {"api exception without text", []() -> int32_t { throw TalApiException(33); }, true, 33,
       "zly profil"},
      {"std exception", []() -> int32_t { throw std::runtime_error("awaria"); }, true, 141,
       "awaria"},
      {"anything else", []() -> int32_t { throw 5; }, true, 161, "awaria"},
      {"api exception, plain policy", []() -> int32_t { throw TalApiException("inny", 129); },
       false, 161, "awaria"},
      {"bad_alloc, plain policy", []() -> int32_t { throw std::bad_alloc(); }, false, 161,
       "awaria"},
  };
  for (const Row& row : rows) {
    newLines();
    int32_t code = traceCode("talTestEntry", [&] {
      return row.withText ? catchWithText(row.body)
                          : catchAll<int32_t>(TAL_RESULT_UNKNOWN_EXCEPTION, row.body);
    });
    EXPECT_EQ(row.code, code) << row.what;
    expectTrace(newLines(), "talTestEntry", row.code < 11 ? "INFO." : "ERROR.",
                "END. Wynik: " + std::to_string(row.code));
    char text[64];
    lastErrorText.get(text, sizeof text);
    EXPECT_STREQ(row.lastError, text) << row.what;
  }
}

}  // namespace
