#include "base/file.h"
#include "base/securedelete.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class FileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tal-base-file-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string path(const std::string& name) const { return dir + "/" + name; }
    void put(const std::string& name, const std::string& content) const
    {
        std::ofstream(path(name), std::ios::binary) << content;
    }
    std::string get(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool exists(const std::string& name) const { return access(path(name).c_str(), F_OK) == 0; }

    std::string dir;
};

int openDescriptors()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d))
        ++n;
    closedir(d);
    return n;
}

TEST_F(FileTest, OpenModes)
{
    File f;
    EXPECT_EQ(-1, f.open(path("missing").c_str(), "rb"));
    EXPECT_EQ(0, f.open(path("new").c_str(), "wb"));
    EXPECT_EQ(0, f.write(5, reinterpret_cast<const uint8_t*>("hello")));
    EXPECT_EQ(0, f.close());
    EXPECT_EQ(0, f.open(path("new").c_str(), "ab"));
    EXPECT_EQ(5u, f.tell());
    EXPECT_EQ(0, f.write(1, reinterpret_cast<const uint8_t*>("!")));
    EXPECT_EQ(0, f.close());
    EXPECT_EQ("hello!", get("new"));
    EXPECT_EQ(0, f.open(path("new").c_str(), "rb"));
    EXPECT_EQ(-1, f.write(1, reinterpret_cast<const uint8_t*>("x"))); // read access only
    uint8_t buffer[16];
    uint32_t n = 0;
    EXPECT_EQ(0, f.read(16, buffer, &n));
    EXPECT_EQ(6u, n);
    EXPECT_EQ(0, f.read(16, buffer, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(0, f.open(path("new").c_str(), "r+b"));
    EXPECT_EQ(0, f.write(1, reinterpret_cast<const uint8_t*>("J")));
    EXPECT_EQ(0, f.close());
    EXPECT_EQ("Jello!", get("new"));
    EXPECT_EQ(-1, f.create(path("new").c_str()));
    EXPECT_EQ(0, f.create(path("other").c_str()));
    EXPECT_EQ(0xFFFFFFFFu, File().size());
    EXPECT_EQ(-1, f.open(path("x").c_str(), "b+")); // no r, w or a
    EXPECT_THROW(f.open(path("x").c_str(), "rq"), std::runtime_error);
    EXPECT_EQ(-1, f.open(dir.c_str(), "rb")); // a directory is not a file
}

TEST_F(FileTest, ClosedFileAndReopen)
{
    File f;
    EXPECT_EQ(-1, f.write(1, reinterpret_cast<const uint8_t*>("x")));
    EXPECT_EQ(0, f.close());
    EXPECT_THROW(f.seek(0), std::runtime_error);
    put("a", "aaa");
    int before = openDescriptors();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(0, f.open(path("a").c_str(), "rb")); // each open closes the previous handle
    EXPECT_EQ(before + 1, openDescriptors());
    EXPECT_EQ(0, f.close());
    EXPECT_EQ(before, openDescriptors());
}

TEST_F(FileTest, GrowKeepsThePosition)
{
    put("g", std::string(50, 'g'));
    File f;
    ASSERT_EQ(0, f.open(path("g").c_str(), "r+b"));
    ASSERT_EQ(0, f.seek(10));
    EXPECT_EQ(50, f.grow(100));
    EXPECT_EQ(150u, f.size());
    EXPECT_EQ(10u, f.tell());
    EXPECT_EQ(150, f.truncate(-140));
    EXPECT_EQ(10u, f.size());
    EXPECT_EQ(-1, f.grow(-11));
    EXPECT_EQ(0, f.seek(10));
    EXPECT_EQ(-1, f.seek(-1));
    f.close();
    EXPECT_EQ(10, getFileSize(path("g").c_str()));
    EXPECT_EQ(-1, getFileSize(path("none").c_str()));
}

TEST_F(FileTest, MutexGuardedFile)
{
    EXPECT_EQ("C:#dir#f.dat", File::mutexName("C:\\dir/f.dat"));
    File a(true), b(true);
    EXPECT_EQ(0, a.create(path("m").c_str()));
    EXPECT_EQ(0, b.open(path("m").c_str(), "rb"));
    EXPECT_EQ(-1, b.open(path("missing").c_str(), "rb"));
    EXPECT_EQ(0, b.open(path("m").c_str(), "rb"));
    EXPECT_EQ(0, a.close());
    EXPECT_EQ(0, b.close());
    for (const char* name : {"m", "missing"})
        unlink(platform::NamedMutex::lockFilePath(File::mutexName(path(name).c_str())).c_str());
}

TEST_F(FileTest, SafeFileFates)
{
    put("keep", "k");
    put("remove", "r");
    put("erase", "e");
    { SafeFile f(path("keep").c_str(), 0); }
    { SafeFile f(path("remove").c_str(), 2); }
    {
        SafeFile f;
        f.mode = 1;
        ASSERT_TRUE(f.open(path("erase").c_str(), "r+b"));
        EXPECT_EQ(3, f.writeItems("abcdef", 2, 3));
        EXPECT_EQ(-1, f.writeItems("ab", SIZE_MAX / 2, 3));
    }
    EXPECT_TRUE(exists("keep"));
    EXPECT_FALSE(exists("remove"));
    EXPECT_FALSE(exists("erase"));
}

struct EraseLog
{
    int starts = 0, ends = 0;
    uint64_t size = 0;
    std::vector<uint64_t> offsets;
    bool refuse = false;
    std::string title;
};
EraseLog eraseLog;

void* startErase(const char* title, void* argument, uint64_t size)
{
    EraseLog* log = static_cast<EraseLog*>(argument);
    ++log->starts;
    log->size = size;
    log->title = title;
    return log->refuse ? nullptr : log;
}
void progressErase(void* handle, uint64_t offset)
{
    static_cast<EraseLog*>(handle)->offsets.push_back(offset);
}
void endErase(void* handle)
{
    ++static_cast<EraseLog*>(handle)->ends;
}

TEST_F(FileTest, SecureDeleteOverwritesThenDeletes)
{
    // A second link to the file lets the test see what the erase left in its blocks.
    std::string secret(70000, 'S');
    put("secret", secret);
    ASSERT_EQ(0, link(path("secret").c_str(), path("witness").c_str()));
    SecureDeleteCallbacks callbacks{startErase, progressErase, endErase};
    setSecureDeleteCallbacks(&callbacks);
    EraseLog log;
    EXPECT_TRUE(secureDeleteFile(path("secret").c_str(), &log, true));
    EXPECT_FALSE(exists("secret"));
    std::string left = get("witness");
    EXPECT_EQ(secret.size(), left.size());
    EXPECT_EQ(std::string(secret.size(), '\0'), left);
    EXPECT_EQ(1, log.starts);
    EXPECT_EQ(1, log.ends);
    EXPECT_EQ(70000u, log.size);
    EXPECT_EQ("BEZPIECZNE KASOWANIE", log.title);
    // Three passes of 32768-byte pieces.
    EXPECT_EQ((std::vector<uint64_t>{0, 32768, 65536, 0, 32768, 65536, 0, 32768, 65536}), log.offsets);

    put("kept", "data");
    EraseLog refusing;
    refusing.refuse = true;
    EXPECT_FALSE(secureDeleteFile(path("kept").c_str(), &refusing, true));
    EXPECT_EQ("data", get("kept"));
    setSecureDeleteCallbacks(nullptr);
    EXPECT_TRUE(secureDeleteFile(path("kept").c_str(), nullptr, true));
    EXPECT_FALSE(exists("kept"));
    EXPECT_FALSE(secureDeleteFile(path("kept").c_str(), nullptr, false));
}

TEST_F(FileTest, MoveNeverReplaces)
{
    put("a", "A");
    put("b", "B");
    EXPECT_FALSE(moveFile(path("a").c_str(), path("b").c_str()));
    EXPECT_EQ("A", get("a"));
    EXPECT_EQ("B", get("b"));
    EXPECT_TRUE(moveFile(path("a").c_str(), path("c").c_str()));
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ("A", get("c"));
    EXPECT_FALSE(moveFile(path("none").c_str(), path("d").c_str()));
}

TEST_F(FileTest, CopyFile)
{
    put("a", "content");
    put("b", "old old old");
    EXPECT_TRUE(copyFile(path("a").c_str(), path("b").c_str()));
    EXPECT_EQ("content", get("b"));
    EXPECT_FALSE(copyFile(path("a").c_str(), path("b").c_str(), false));
    EXPECT_FALSE(copyFile(path("a").c_str(), path("a").c_str())); // never onto itself
    EXPECT_EQ("content", get("a"));
    EXPECT_TRUE(copyFile(path("a").c_str(), path("n").c_str(), false));
    EXPECT_EQ("content", get("n"));
    EXPECT_FALSE(copyFile(path("none").c_str(), path("m").c_str()));
    EXPECT_FALSE(exists("m"));
    EXPECT_EQ(0, fileAccess(path("a").c_str(), R_OK));
    EXPECT_EQ(-1, fileAccess(path("none").c_str(), F_OK));
    EXPECT_TRUE(deleteFile(path("a").c_str()));
    EXPECT_FALSE(deleteFile(path("a").c_str()));
}

TEST_F(FileTest, ListDirectory)
{
    put("a.crt", "");
    put("b.txt", "");
    put("crt", "");
    std::vector<std::string> list;
    listDirectory(dir, list, ".crt");
    EXPECT_EQ((std::vector<std::string>{"a.crt"}), list);
    list.clear();
    listDirectory(dir + "/", list, nullptr);
    std::sort(list.begin(), list.end());
    EXPECT_EQ((std::vector<std::string>{".", "..", "a.crt", "b.txt", "crt"}), list);
    list.clear();
    listDirectory(dir + "/none", list, nullptr);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(dir + "/x", joinPath(dir, "x"));
    EXPECT_EQ(dir + "/x", joinPath(dir + "/", "x"));
    EXPECT_THROW(joinPath("", "x"), std::runtime_error);
    if (geteuid() != 0) { // root may list anything
        ASSERT_EQ(0, mkdir(path("closed").c_str(), 0));
        try {
            listDirectory(path("closed"), list, nullptr);
            FAIL();
        } catch (const std::exception& e) {
            EXPECT_STREQ("Access denied", e.what());
        }
        chmod(path("closed").c_str(), 0700);
    }
}

TEST_F(FileTest, MakeDirectories)
{
    EXPECT_TRUE(makeDirectories(path("a/b/c").c_str()));
    struct stat st;
    EXPECT_EQ(0, stat(path("a/b/c").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(makeDirectories(path("a/b/c").c_str()));
    EXPECT_TRUE(makeDirectories(path("a/./x/../y/").c_str()));
    EXPECT_TRUE(S_ISDIR((stat(path("a/y").c_str(), &st), st.st_mode)));
    put("file", "");
    EXPECT_FALSE(makeDirectories(path("file/sub").c_str()));
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(dir.c_str()));
    EXPECT_TRUE(makeDirectories("rel/one"));
    ASSERT_EQ(0, chdir(cwd));
    EXPECT_TRUE(S_ISDIR((stat(path("rel/one").c_str(), &st), st.st_mode)));
}

TEST(Wildcard, Patterns)
{
    EXPECT_TRUE(matchWildcard("*.crt", "a.crt"));
    EXPECT_FALSE(matchWildcard("*.crt", "a.CRT"));
    EXPECT_TRUE(matchWildcard("[z-a]", "m"));
    EXPECT_FALSE(matchWildcard("[!a-c]x", "bx"));
    EXPECT_TRUE(matchWildcard("[^a-c]x", "dx"));
    EXPECT_FALSE(matchWildcard("abc\\", "abc"));
    EXPECT_FALSE(matchWildcard("abc\\", "abc\\"));
    EXPECT_TRUE(matchWildcard("a\\*c", "a*c"));
    EXPECT_FALSE(matchWildcard("a\\*c", "abc"));
    EXPECT_TRUE(matchWildcard("a?c", "abc"));
    EXPECT_FALSE(matchWildcard("a?c", "ac"));
    EXPECT_TRUE(matchWildcard("*", ""));
    EXPECT_TRUE(matchWildcard("**", "abc"));
    EXPECT_FALSE(matchWildcard("*?", ""));
    EXPECT_TRUE(matchWildcard("*?", "a"));
    EXPECT_TRUE(matchWildcard("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(matchWildcard("a*b*c", "aXbYbZ"));
    EXPECT_FALSE(matchWildcard("abc", "abcd"));
    EXPECT_FALSE(matchWildcard("abcd", "abc"));
    // Pattern errors: a set opened by ']' or never closed, a range without its end.
    EXPECT_FALSE(matchWildcard("[]a]", "a"));
    EXPECT_FALSE(matchWildcard("[!]a]", "b"));
    EXPECT_FALSE(matchWildcard("[ab", "a"));
    EXPECT_FALSE(matchWildcard("[a-]", "a"));
    EXPECT_FALSE(matchWildcard("*[a-", "a"));
    EXPECT_TRUE(matchWildcard("[\\]]", "]"));
    EXPECT_TRUE(matchWildcard("[a\\-z]", "-"));
    EXPECT_FALSE(matchWildcard("[a\\-z]", "m"));
    EXPECT_TRUE(matchWildcard("*[0-9].pem", "cert7.pem"));
    EXPECT_FALSE(matchWildcard("*[0-9].pem", "certx.pem"));
    // Signed 8-bit comparison: 0xE9 is below 'a'.
    EXPECT_TRUE(matchWildcard("[\xE9-a]", "Z"));
    EXPECT_FALSE(matchWildcard("[a-z]", "\xE9"));
    // A long text against many stars stays fast.
    std::string text(20000, 'a');
    EXPECT_FALSE(matchWildcard("*a*a*a*a*a*a*a*a*b", text.c_str()));
}

TEST(SystemProbe, UnknownSystem)
{
    const SystemInfo& info = getSystemInfo();
    EXPECT_EQ(0u, info.osCode);
    EXPECT_EQ(&info, &getSystemInfo());
    struct tm t;
    ASSERT_TRUE(localTime(86400 * 365, &t));
    EXPECT_TRUE(t.tm_year == 70 || t.tm_year == 71);
}

} // namespace
