// The file-backed database chosen from C over the public header only, as the README tells a
// caller: profile attribute 17 "talvorin", attribute 16 its folder. talAuthenticateEx makes a
// database where the folder holds none, opens one that is there with what it keeps, and refuses
// one that is incomplete or of another version without touching it.
#include "talvorin.h"

#include "apisession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char* const DATABASE_FILES[] = {"ca.dta",      "ca.idx",     "certific.dta", "certific.idx",
                                      "dnfld.dta",   "dnfld.idx",  "version.txt",  "addidx.dta",
                                      "addidx.idx",  "imports.dat", "crl_idx.asn"};

std::string text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class FileDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = apisession::sandbox("api_filedb");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { fs::remove_all(dir); }

  // A context over the file-backed database in `folder` (attribute 16 left out when empty), the
  // receipts' root for this session only, the network off; `answer` is talAuthenticateEx's.
  talCtx* open(const std::string& folder, int32_t& answer, bool authenticate = true) {
    static const char TYPE[] = "talvorin";
    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    if (!profile) return nullptr;
    talSetProfileAttr(profile, TAL_ATTR_NAME, "FileDatabase", 13);
    talSetProfileAttr(profile, TAL_ATTR_DATABASE, TYPE, sizeof TYPE);
    if (!folder.empty())
      talSetProfileAttr(profile, TAL_ATTR_DATABASE_FOLDER, folder.c_str(),
                        static_cast<int32_t>(folder.size() + 1));
    talCtx* ctx = nullptr;
    if (talInitEx(&ctx, profile) != TAL_OK) return nullptr;
    talCert* root = nullptr;
    EXPECT_EQ(0, talAllocateCertFromFile((apisession::UPO + "roots/root.crt").c_str(), &root));
    EXPECT_EQ(0, talInstallRoot(ctx, root, TAL_ROOT_SESSION, 1));
    talDeleteCertificate(root);
    EXPECT_EQ(0, talSetOption(ctx, TAL_OPTION_OFFLINE, 1));
    if (authenticate) answer = talAuthenticateEx(ctx, 0);
    return ctx;
  }

  std::string dir;
};

TEST_F(FileDatabase, AFolderWithoutADatabaseGetsANewOne) {
  const struct Row {
    const char* name;
    std::string folder;   // attribute 16
    fs::path made;        // where the database lands
    bool exists;          // the folder is there beforehand
    const char* stray;    // a file of the caller's already in it
  } rows[] = {
      {"new folder", dir + "/a/b/new", dir + "/a/b/new", false, nullptr},
      {"empty folder", dir + "/empty", dir + "/empty", true, nullptr},
      {"folder of other files", dir + "/other", dir + "/other", true, "notes.txt"},
      {"relative name", "firma/baza", dir + "/data/TAL-VORIN/firma/baza", false, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.exists) fs::create_directories(row.made);
    if (row.stray) write(row.made / row.stray, "mine");
    int32_t answer = -1;
    talCtx* ctx = open(row.folder, answer);
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(TAL_OK, answer) << talReportText(ctx);
    EXPECT_EQ(TAL_OK, talDeinit(ctx));
    for (const char* file : DATABASE_FILES) EXPECT_TRUE(fs::is_regular_file(row.made / file)) << file;
    EXPECT_EQ("7", text(row.made / "version.txt"));
    if (row.stray) {
      EXPECT_EQ("mine", text(row.made / row.stray));
    }
    // Opened again, it is the same database.
    ctx = open(row.folder, answer);
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(TAL_OK, answer);
    EXPECT_EQ(TAL_OK, talDeinit(ctx));
  }
}

// The status and reason of a receipt's one signature as status * 100 + reason; -1 when it is
// not verified at all.
int32_t verdict(talCtx* ctx, const std::string& receipt) {
  tvXmlCtx* xml = nullptr;
  tvXmlDoc* doc = nullptr;
  talMsgInfo* message = nullptr;
  talSigInfo* signature = nullptr;
  int32_t status = 0, qualification = 0, reason = 0, result = -1;
  if (tvXmlCreateCtx(&xml) != TAL_OK) return -1;
  if (tvXmlLoadDocFile(xml, receipt.c_str(), nullptr, &doc) == TAL_OK &&
      tvXmlUnprotect(ctx, xml, doc, nullptr, &message) <= WTAL_GENERIC_WARNING) {
    if (talGetMessageSignature(message, 0, &signature) == TAL_OK &&
        talSignatureStatus(signature, &status, &qualification, &reason) == TAL_OK)
      result = status * 100 + reason;
    tvXmlDeleteMsgInfo(message);
  }
  tvXmlDeleteCtx(xml);
  return result;
}

// A receipt whose KeyInfo names its signer by issuer and serial only, and carries no CRL, finds
// its signer where the database holds it and its issuer (offline, no CRL: status 3, reason 9),
// else not (status 1, reason 1): the certificates stored in one context are there for the next.
TEST_F(FileDatabase, AnExistingDatabaseIsOpenedWithWhatItKeeps) {
  const std::string bare = apisession::UPO + "upo-issuer-serial.xml";
  const std::string kept = dir + "/kept", fresh = dir + "/fresh";
  int32_t answer = -1;
  talCtx* ctx = open(kept, answer);
  ASSERT_NE(nullptr, ctx);
  ASSERT_EQ(TAL_OK, answer);
  std::vector<uint8_t> both = apisession::fileBytes(apisession::UPO + "pki/intermediate.der");
  const std::vector<uint8_t> signer = apisession::fileBytes(apisession::UPO + "pki/signer-rsa.der");
  both.insert(both.end(), signer.begin(), signer.end());
  int32_t count = 0;
  EXPECT_EQ(TAL_OK, talInstallMemCrt(ctx, both.data(), static_cast<int32_t>(both.size()), 1, &count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(309, verdict(ctx, bare));
  EXPECT_EQ(TAL_OK, talDeinit(ctx));

  ctx = open(kept, answer);
  ASSERT_NE(nullptr, ctx);
  EXPECT_EQ(TAL_OK, answer);
  EXPECT_EQ(309, verdict(ctx, bare));
  EXPECT_EQ(TAL_OK, talDeinit(ctx));
  // In a new database the signer is not found.
  ctx = open(fresh, answer);
  ASSERT_NE(nullptr, ctx);
  EXPECT_EQ(TAL_OK, answer);
  EXPECT_EQ(101, verdict(ctx, bare));
  EXPECT_EQ(TAL_OK, talDeinit(ctx));
}

// A database talAuthenticateEx is to make takes certificates only once it is made.
TEST_F(FileDatabase, ANewDatabaseTakesCertificatesOnceMade) {
  const std::vector<uint8_t> inter = apisession::fileBytes(apisession::UPO + "pki/intermediate.der");
  int32_t answer = -1, count = -1;
  talCtx* ctx = open(dir + "/later", answer, false);
  ASSERT_NE(nullptr, ctx);
  EXPECT_EQ(ETAL_DB, talInstallMemCrt(ctx, inter.data(), static_cast<int32_t>(inter.size()), 1, &count));
  EXPECT_EQ(0, count);
  EXPECT_EQ(TAL_OK, talAuthenticateEx(ctx, 0));
  EXPECT_EQ(TAL_OK, talInstallMemCrt(ctx, inter.data(), static_cast<int32_t>(inter.size()), 1, &count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(TAL_OK, talDeinit(ctx));
}

// What talAuthenticateEx answers for a folder whose database is not whole or not of this
// version: ETAL_DB or ETAL_DB_VER, and the folder is left as it was.
TEST_F(FileDatabase, AnIncompleteOrOtherVersionDatabaseIsRefusedAndLeftAlone) {
  const struct Row {
    const char* name;
    int32_t expected;
    void (*change)(const fs::path& folder);
  } rows[] = {
      {"other version", ETAL_DB_VER, [](const fs::path& f) { write(f / "version.txt", "6"); }},
      {"empty version", ETAL_DB_VER, [](const fs::path& f) { write(f / "version.txt", ""); }},
      {"first six files only", ETAL_DB_VER,
       [](const fs::path& f) {
         for (int i = 6; i < 11; ++i) fs::remove(f / DATABASE_FILES[i]);
       }},
      {"a table missing", ETAL_DB, [](const fs::path& f) { fs::remove(f / "addidx.idx"); }},
      {"the first file missing", ETAL_DB, [](const fs::path& f) { fs::remove(f / "ca.dta"); }},
      {"one table file alone", ETAL_DB,
       [](const fs::path& f) {
         for (const char* file : DATABASE_FILES)
           if (std::string(file) != "certific.dta") fs::remove(f / file);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path folder = dir + "/" + row.name;
    int32_t answer = -1;
    talCtx* ctx = open(folder.string(), answer);
    ASSERT_NE(nullptr, ctx);
    ASSERT_EQ(TAL_OK, answer);
    EXPECT_EQ(TAL_OK, talDeinit(ctx));
    row.change(folder);
    std::vector<std::string> before;
    for (const auto& entry : fs::directory_iterator(folder))
      before.push_back(entry.path().filename().string() + "=" + text(entry.path()));
    ctx = open(folder.string(), answer);
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(row.expected, answer);
    EXPECT_EQ(TAL_OK, talDeinit(ctx));
    std::vector<std::string> after;
    for (const auto& entry : fs::directory_iterator(folder))
      after.push_back(entry.path().filename().string() + "=" + text(entry.path()));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(before, after);
  }
}

// A folder that holds what a database leaves besides its listed files (a journal, the time
// table, CRL files, the copies of a CRL update), a file named as the folder, or a folder that
// cannot take a new file: no database is made there, and what was there stays.
TEST_F(FileDatabase, AFolderWithPartsOfADatabaseOrNoRoomForOneGetsNone) {
  const struct Row {
    const char* name;
    const char* file;     // made in the folder beforehand (nullptr: none)
    bool folderIsFile;    // attribute 16 names a file
    mode_t mode;          // of the folder, 0 to leave it
    int32_t expected;
  } rows[] = {
      {"a table's journal", "ca.dta.jnl", false, 0, ETAL_DB},
      {"the time table", "netCertTime.idx", false, 0, ETAL_DB},
      {"a CRL file", "3.crl", false, 0, ETAL_DB},
      {"a CRL's check file", "3.chk", false, 0, ETAL_DB},
      {"the CRL index's check file", "crl_idx.chk", false, 0, ETAL_DB},
      {"a file, not a folder", nullptr, true, 0, ETAL_DB_ACCESS},
      {"a folder it may not write", nullptr, false, 0555, ETAL_DB},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // The superuser writes anywhere.
    if (row.mode != 0 && ::geteuid() == 0) continue;
    const fs::path folder = fs::path(dir) / row.name;
    if (row.folderIsFile) {
      write(folder, "mine");
    } else {
      fs::create_directories(folder);
      if (row.file) write(folder / row.file, "mine");
      if (row.mode != 0) ASSERT_EQ(0, ::chmod(folder.c_str(), row.mode));
    }
    int32_t answer = -1;
    talCtx* ctx = open(folder.string(), answer);
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(row.expected, answer);
    EXPECT_EQ(TAL_OK, talDeinit(ctx));
    if (row.mode != 0) ::chmod(folder.c_str(), 0700);
    if (row.folderIsFile) {
      EXPECT_EQ("mine", text(folder));
      continue;
    }
    for (const char* file : DATABASE_FILES) EXPECT_FALSE(fs::exists(folder / file)) << file;
    if (row.file) {
      EXPECT_EQ("mine", text(folder / row.file));
    }
  }
}

TEST_F(FileDatabase, NoFolderOrAFolderBarredIsRefused) {
  int32_t answer = -1;
  talCtx* ctx = open("", answer);
  ASSERT_NE(nullptr, ctx);
  EXPECT_EQ(ETAL_DB, answer);
  EXPECT_EQ(TAL_OK, talDeinit(ctx));
  // The owner of a folder it may not read (the superuser reads any).
  if (::geteuid() == 0) return;
  const std::string barred = dir + "/barred";
  ctx = open(barred, answer);
  ASSERT_NE(nullptr, ctx);
  ASSERT_EQ(TAL_OK, answer);
  EXPECT_EQ(TAL_OK, talDeinit(ctx));
  ASSERT_EQ(0, ::chmod(barred.c_str(), 0));
  ctx = open(barred, answer);
  ASSERT_NE(nullptr, ctx);
  EXPECT_EQ(ETAL_DB_ACCESS, answer);
  EXPECT_EQ(TAL_OK, talDeinit(ctx));
  ::chmod(barred.c_str(), 0700);
}

}  // namespace
