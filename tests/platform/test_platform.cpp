#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/fileio.h"
#include "platform/namedmutex.h"
#include "platform/sysprobe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::map<int, int> iconvTable(const std::string& page)
{
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/base/codepage_" + page + ".txt");
    EXPECT_TRUE(in.good()) << page;
    std::map<int, int> table;
    std::string byte, code;
    while (in >> byte >> code)
        table[std::stoi(byte, nullptr, 16)] = code == "----" ? -1 : std::stoi(code, nullptr, 16);
    return table;
}

TEST(PlatformCodePage, TablesAgainstIconv)
{
    const std::pair<uint32_t, const char*> pages[] = {{platform::CODE_PAGE_WINDOWS_1250, "windows-1250"},
                                                       {platform::CODE_PAGE_ISO_8859_2, "iso-8859-2"},
                                                       {platform::CODE_PAGE_852, "cp852"}};
    for (auto& page : pages) {
        std::map<int, int> table = iconvTable(page.second);
        ASSERT_EQ(256u, table.size());
        for (int b = 0; b < 256; ++b) {
            int expected = table[b] < 0 ? 0xFFFD : table[b];
            EXPECT_EQ(expected, platform::codePageToUnicode(page.first, static_cast<uint8_t>(b)))
                << page.second << " " << b;
            if (table[b] >= 0) {
                EXPECT_EQ(b, platform::unicodeToCodePage(page.first, static_cast<uint16_t>(table[b])))
                    << page.second << " " << b;
            }
        }
    }
    EXPECT_EQ(-1, platform::unicodeToCodePage(platform::CODE_PAGE_WINDOWS_1250, 0x0416));
}

TEST(PlatformCodePage, Utf8AndUtf16)
{
    const char text[] = "a\xC5\x81\xF0\x9F\x98\x80";
    uint16_t units[8];
    ASSERT_EQ(4u, platform::multiByteToWide(platform::CODE_PAGE_ANSI, text, 7, units, 8));
    EXPECT_EQ(0x0141, units[1]);
    EXPECT_EQ(0xD83D, units[2]);
    EXPECT_EQ(0xDE00, units[3]);
    EXPECT_EQ(0u, platform::multiByteToWide(platform::CODE_PAGE_ANSI, text, 7, units, 3)); // too small
    char back[16];
    ASSERT_EQ(7u, platform::wideToMultiByte(platform::CODE_PAGE_UTF8, units, 4, back, 16));
    EXPECT_EQ(std::string(text, 7), std::string(back, 7));
    const uint16_t lone[] = {0xD800, 0x41};
    ASSERT_EQ(4u, platform::wideToMultiByte(platform::CODE_PAGE_UTF8, lone, 2, back, 16));
    EXPECT_EQ(std::string("\xEF\xBF\xBD" "A"), std::string(back, 4));
    const uint16_t cyrillic[] = {0x0416, 0x0141};
    ASSERT_EQ(2u, platform::wideToMultiByte(platform::CODE_PAGE_WINDOWS_1250, cyrillic, 2, back, 16));
    EXPECT_EQ(std::string("?\xA3"), std::string(back, 2));
    // Overlong forms and surrogates in UTF-8 are not characters.
    EXPECT_EQ(2u, platform::multiByteToWide(platform::CODE_PAGE_ANSI, "\xC0\x80", 2, units, 8));
    EXPECT_EQ(0xFFFD, units[0]);
    EXPECT_EQ(3u, platform::multiByteToWide(platform::CODE_PAGE_ANSI, "\xED\xA0\x80", 3, units, 8));
    EXPECT_EQ(0u, platform::multiByteToWide(437, "a", 1, units, 8));
}

class PlatformFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tal-platform-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
    }
    void TearDown() override { ASSERT_EQ(0, std::system(("rm -rf '" + dir + "'").c_str())); }
    std::string dir;
};

TEST_F(PlatformFiles, MoveAndCopy)
{
    std::string a = dir + "/a", b = dir + "/b", sub = dir + "/sub", moved = dir + "/moved";
    std::ofstream(a) << "A";
    std::ofstream(b) << "B";
    EXPECT_FALSE(platform::moveFileNoReplace(a.c_str(), b.c_str()));
    ASSERT_TRUE(platform::makeDirectory(sub.c_str()));
    EXPECT_FALSE(platform::moveFileNoReplace(a.c_str(), sub.c_str()));
    EXPECT_TRUE(platform::moveFileNoReplace(sub.c_str(), moved.c_str())); // directories move too
    EXPECT_TRUE(platform::isDirectory(moved.c_str()));
    EXPECT_FALSE(platform::copyFileContent(a.c_str(), a.c_str(), true));
    EXPECT_EQ(1, platform::pathFileSize(a.c_str()));
    EXPECT_FALSE(platform::copyFileContent(moved.c_str(), (dir + "/c").c_str(), true)); // not a file
    EXPECT_EQ(platform::INVALID_FILE, platform::openFile(moved.c_str(), true, false, platform::OpenDisposition::OpenExisting));
}

TEST_F(PlatformFiles, ReplaceIsAllOrNothing)
{
    // Content from a writer: a new file or a replaced one; a writer that fails (or throws)
    // leaves the path as it was and no temporary file behind, synced or not.
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    struct Case {
        const char* before; // null: no file
        int writer;         // 0 writes "new", 1 writes "half" then fails, 2 throws
        bool sync;
        bool ok;
        const char* after; // null: no file
    } cases[] = {
        {nullptr, 0, true, true, "new"},  {nullptr, 0, false, true, "new"},
        {"old", 0, true, true, "new"},    {"old", 0, false, true, "new"},
        {nullptr, 1, false, false, nullptr}, {"old", 1, true, false, "old"},
        {"old", 1, false, false, "old"},  {nullptr, 2, false, false, nullptr},
        {"old", 2, true, false, "old"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string path = dir + "/out" + std::to_string(n++);
        if (c.before)
            std::ofstream(path) << c.before;
        auto writer = [&c](int fd) {
            const char* text = c.writer == 0 ? "new" : "half";
            if (platform::writeFile(fd, text, std::strlen(text)) != std::strlen(text))
                return false;
            if (c.writer == 2)
                throw std::runtime_error("writer");
            return c.writer == 0;
        };
        bool ok = false;
        if (c.writer == 2)
            EXPECT_THROW(platform::replaceFileContentWith(path.c_str(), writer, 0600, c.sync), std::runtime_error);
        else
            ok = platform::replaceFileContentWith(path.c_str(), writer, 0600, c.sync);
        EXPECT_EQ(c.ok, ok) << path;
        EXPECT_EQ(c.after != nullptr, platform::pathExists(path.c_str())) << path;
        if (c.after) {
            EXPECT_EQ(c.after, read(path)) << path;
        }
    }
    DIR* folder = opendir(dir.c_str());
    ASSERT_NE(nullptr, folder);
    while (dirent* entry = readdir(folder))
        EXPECT_EQ(nullptr, std::strstr(entry->d_name, ".tmp")) << entry->d_name;
    closedir(folder);
    // The buffer form refuses a missing buffer with a length, before touching the path.
    EXPECT_FALSE(platform::replaceFileContent((dir + "/x").c_str(), nullptr, 3));
    EXPECT_FALSE(platform::pathExists((dir + "/x").c_str()));
}

TEST_F(PlatformFiles, ReplaceWithLinkTakesTheSameFileAndLeavesNoTemporary)
{
    // A backup put back as a link, once and again (a second restore of the same copies), and
    // over a missing file; the names then share one file; a folder is refused; a copy over one
    // name does not write through to the others.
    std::string bak = dir + "/f.bak", path = dir + "/f", fresh = dir + "/g";
    std::ofstream(bak) << "kept";
    std::ofstream(path) << "damaged";
    struct stat b, p;
    for (const std::string& target : {path, path, fresh}) {
        ASSERT_TRUE(platform::replaceWithLink(bak.c_str(), target.c_str())) << target;
        ASSERT_EQ(0, ::stat(bak.c_str(), &b));
        ASSERT_EQ(0, ::stat(target.c_str(), &p));
        EXPECT_EQ(b.st_ino, p.st_ino) << target;
    }
    EXPECT_EQ(3u, static_cast<unsigned>(b.st_nlink));
    EXPECT_FALSE(platform::replaceWithLink(dir.c_str(), (dir + "/h").c_str()));
    // A copy over one of the names leaves the others as they were.
    std::string other = dir + "/other";
    std::ofstream(other) << "copied";
    ASSERT_TRUE(platform::copyFileContent(other.c_str(), path.c_str(), true));
    for (const std::string& name : {bak, path, fresh}) {
        std::ifstream in(name);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(name == path ? "copied" : "kept", text) << name;
    }
    DIR* folder = opendir(dir.c_str());
    ASSERT_NE(nullptr, folder);
    while (dirent* entry = readdir(folder))
        EXPECT_EQ(nullptr, std::strstr(entry->d_name, ".tmp")) << entry->d_name;
    closedir(folder);
}

TEST(AbsolutePath, Normalises)
{
    std::string out;
    ASSERT_TRUE(platform::absolutePath("/a/./b/../c", out, 100));
    EXPECT_EQ("/a/c", out);
    ASSERT_TRUE(platform::absolutePath("/../..", out, 100));
    EXPECT_EQ("/", out);
    ASSERT_TRUE(platform::absolutePath("/a//b/", out, 100));
    EXPECT_EQ("/a/b/", out);
    EXPECT_FALSE(platform::absolutePath("/abcdef", out, 4));
    EXPECT_FALSE(platform::absolutePath("", out, 100));
    ASSERT_TRUE(platform::absolutePath("x", out, 4096));
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    EXPECT_EQ(std::string(cwd) + (std::string(cwd) == "/" ? "" : "/") + "x", out);
}

// A file of a shared folder is as open as the folder, whatever the umask; a
// lock file at a path is made so, and one that may only be read still locks.
TEST_F(PlatformFiles, SharedFolderModesAndLockFilesAtAPath)
{
    const struct {
        unsigned folder, file;
    } rows[] = {{0700, 0600}, {0755, 0644}, {0750, 0640}, {0775, 0664}, {0777, 0666},
                {0770, 0660}, {0733, 0666}, {0711, 0600}, {02775, 0664}};
    const mode_t mask = umask(077);
    for (const auto& row : rows) {
        std::string sub = dir + "/m" + std::to_string(row.folder);
        ASSERT_EQ(0, mkdir(sub.c_str(), 0700));
        ASSERT_EQ(0, chmod(sub.c_str(), row.folder));
        EXPECT_EQ(row.file, platform::folderShareMode(sub.c_str())) << std::oct << row.folder;
        platform::NamedMutex m;
        ASSERT_TRUE(m.createAt(sub + "/db.lck"));
        struct stat st;
        ASSERT_EQ(0, stat((sub + "/db.lck").c_str(), &st));
        EXPECT_EQ(row.file, st.st_mode & 07777) << std::oct << row.folder;
    }
    umask(mask);
    EXPECT_EQ(0600u, platform::folderShareMode((dir + "/none").c_str()));
    std::string lock = dir + "/m" + std::to_string(0755) + "/db.lck";
    ASSERT_EQ(0, chmod(lock.c_str(), 0444));
    platform::NamedMutex a, b;
    ASSERT_TRUE(a.createAt(lock));
    EXPECT_TRUE(a.lock());
    int fd = open(lock.c_str(), O_RDONLY);
    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB));
    a.unlock();
    EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
    close(fd);
    EXPECT_FALSE(b.createAt(dir + "/m" + std::to_string(0755))) << "a folder is no lock file";
    EXPECT_FALSE(b.createAt(dir + "/missing/db.lck"));
}

TEST(NamedMutex, ExcludesOtherProcessesAndDiesWithItsHolder)
{
    std::string name = "tal-test-" + std::to_string(getpid()) + "#f.dat";
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::NamedMutex m;
        if (!m.create(name) || !m.lock())
            _exit(1);
        char c = 'x';
        if (write(ready[1], &c, 1) != 1)
            _exit(1);
        pause(); // holds the mutex until killed
        _exit(0);
    }
    char c;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    std::string file = platform::NamedMutex::lockFilePath(name);
    ASSERT_FALSE(file.empty());
    int fd = open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB)); // held by the child
    kill(child, SIGKILL);
    int status;
    waitpid(child, &status, 0);
    platform::NamedMutex m;
    ASSERT_TRUE(m.create(name));
    EXPECT_TRUE(m.lock()); // the kernel released the dead holder's lock
    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB));
    m.unlock();
    EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
    close(fd);
    close(ready[0]);
    close(ready[1]);
    unlink(file.c_str());

    std::string longName(600, 'n');
    std::string longFile = platform::NamedMutex::lockFilePath(longName);
    EXPECT_LT(longFile.size() - longFile.rfind('/'), 255u);
    EXPECT_NE(longFile, platform::NamedMutex::lockFilePath(longName + "x"));
}

TEST(Clock, TestsCanSetIt)
{
    platform::setTestTime(1700000000);
    EXPECT_EQ(1700000000, platform::currentTime());
    platform::clearTestTime();
    EXPECT_GT(platform::currentTime(), 1700000000);
    struct tm t;
    ASSERT_TRUE(platform::toUtcTime(951782400, t)); // 2000-02-29
    EXPECT_EQ(100, t.tm_year);
    EXPECT_EQ(1, t.tm_mon);
    EXPECT_EQ(29, t.tm_mday);
    EXPECT_EQ(951782400, platform::fromUtcTime(t));
    platform::OsVersionRecord r;
    EXPECT_TRUE(platform::readOsVersion(r));
    EXPECT_GT(r.majorVersion, 0u);
}

} // namespace
