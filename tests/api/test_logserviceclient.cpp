#include "api/logserviceclient.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/registrysandbox.h"
#include "hangguard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <semaphore.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

using platform::RegistryRoot;

namespace {

const int64_t FIXED_TIME = 1772694489;  // 2026-03-05 07:08:09 UTC (date -u -d ... +%s)
const size_t BLOCK = 131072;
// A writer's wait beyond the hang guard: a wait that must not happen shows as a failure, with no
// upper bound on a time read.
const uint32_t BEYOND_HANG_MS = HANG_GUARD_MS + 100 * 1000;

// The wall time a call takes.
double secondsOf(const std::function<void()>& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uint32_t le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct WireField {
  uint8_t kind;
  std::string name;
  std::string value;
  bool operator==(const WireField& o) const {
    return kind == o.kind && name == o.name && value == o.value;
  }
};

std::ostream& operator<<(std::ostream& out, const WireField& f) {
  return out << int(f.kind) << ":" << f.name << "=" << f.value.size() << " bytes";
}

// The record format read field by field: count, then kind, 128-byte zero-padded name, length, bytes.
std::vector<WireField> decodeRecord(const uint8_t* p, size_t capacity) {
  std::vector<WireField> fields;
  uint32_t count = le32(p);
  size_t at = 4;
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_LE(at + 133, capacity);
    if (at + 133 > capacity) break;
    WireField f;
    f.kind = p[at];
    f.name.assign(reinterpret_cast<const char*>(p + at + 1),
                  strnlen(reinterpret_cast<const char*>(p + at + 1), 128));
    uint32_t n = le32(p + at + 129);
    EXPECT_LE(at + 133 + n, capacity);
    if (at + 133 + n > capacity) break;
    f.value.assign(reinterpret_cast<const char*>(p + at + 133), n);
    fields.push_back(f);
    at += 133 + n;
  }
  return fields;
}

std::string le32Text(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

class LogClient : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::setTestTime(FIXED_TIME);
    serviceName = "TalTest" + std::to_string(::getpid());
  }
  void TearDown() override {
    platform::clearTestTime();
    platform::setEventLogHook(nullptr, nullptr);
    removeService();
    RegistrySandbox::TearDown();
  }

  void setLong(const char* name, uint32_t value) {
    put(RegistryRoot::LocalMachine, LogServiceClient::REGISTRY_KEY, name, platform::REGISTRY_DWORD,
        le32Text(value));
  }
  void setText(const char* name, const std::string& value) {
    put(RegistryRoot::LocalMachine, LogServiceClient::REGISTRY_KEY, name, platform::REGISTRY_SZ,
        value + '\0');
  }

  // The log service's side: the four objects, made as the service makes them.
  std::string objectName(int i) {
    const char* bases[] = {"MirvalLogServiceMutex_1_3", "MirvalLogServiceDataInBuffEvent_1_3",
                           "MirvalLogServiceParkingSemaphore_1_3",
                           "MirvalLogServiceSharedMemFile_1_3"};
    return std::string("/") + bases[i] + serviceName;
  }
  void createService() {
    sem_t** semaphores[] = {&mutex, &event, &parking};
    for (int i = 0; i < 3; ++i) {
      *semaphores[i] = ::sem_open(objectName(i).c_str(), O_CREAT | O_EXCL, 0600, i == 0 ? 1 : 0);
      ASSERT_NE(SEM_FAILED, *semaphores[i]);
    }
    int fd = ::shm_open(objectName(3).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, BLOCK));
    void* view = ::mmap(nullptr, BLOCK, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(MAP_FAILED, view);
    block = static_cast<uint8_t*>(view);
    serviceMade = true;
  }
  void removeService() {
    if (!serviceMade) return;
    for (int i = 0; i < 3; ++i) ::sem_unlink(objectName(i).c_str());
    ::shm_unlink(objectName(3).c_str());
    for (sem_t* sem : {mutex, event, parking}) ::sem_close(sem);
    ::munmap(block, BLOCK);
    serviceMade = false;
  }
  std::vector<WireField> takeRecord() {
    EXPECT_EQ(0, ::sem_trywait(event)) << "the event was not signalled";
    EXPECT_EQ(1, block[0]);
    EXPECT_EQ(0u, le32(block + 1));
    std::vector<WireField> fields = decodeRecord(block + 5, BLOCK - 5);
    block[0] = 0;
    return fields;
  }

  SavedVariable savedZone{"TZ"};
  std::string serviceName;
  bool serviceMade = false;
  sem_t* mutex = nullptr;
  sem_t* event = nullptr;
  sem_t* parking = nullptr;
  uint8_t* block = nullptr;
};

TEST(LogRecordFields, AcceptedAndRejected) {
  const std::string name128(128, 'n'), name129(129, 'n');
  const char bytes[] = "abc";
  struct Row {
    const char* name;
    const void* bytes;
    size_t length;
    bool added;
  };
  const Row rows[] = {
      {"Opis", bytes, 3, true},           {name128.c_str(), bytes, 3, true},
      {name129.c_str(), bytes, 3, false}, {nullptr, bytes, 3, false},
      {"Opis", nullptr, 3, false},        {"Opis", bytes, 0, false},  // an empty text
      {"Opis", nullptr, 0, true},         {"", bytes, 1, true},
  };
  for (const Row& row : rows) {
    LogRecord record;
    EXPECT_EQ(row.added, record.addField(LogRecord::FIELD_TEXT, row.name, row.bytes, row.length))
        << (row.name ? std::strlen(row.name) : 0) << " " << row.length;
    EXPECT_EQ(row.added ? 1u : 0u, record.fieldCount());
  }
}

TEST(LogRecordFields, WireFormatByteForByte) {
  const std::string name128(128, 'N');
  LogRecord record;
  ASSERT_TRUE(record.addField(LogRecord::FIELD_TEXT, "Typ", "\2\0\0\0", 4));
  ASSERT_TRUE(record.addField(LogRecord::FIELD_DATA, name128.c_str(), "\0\xff", 2));
  EXPECT_EQ(4u + 137 + 135, record.size());

  std::string expected = le32Text(2);
  expected += '\0';
  expected += std::string("Typ") + std::string(125, '\0');
  expected += le32Text(4) + std::string("\2\0\0\0", 4);
  expected += '\1';
  expected += name128;  // no terminator
  expected += le32Text(2) + std::string("\0\xff", 2);
  ASSERT_EQ(record.size(), expected.size());

  std::vector<uint8_t> buffer(expected.size() + 8, 0xEE);
  EXPECT_EQ(1, record.writeBuff(nullptr, 1000));
  EXPECT_EQ(2, record.writeBuff(buffer.data(), expected.size() - 1));
  EXPECT_EQ(std::vector<uint8_t>(buffer.size(), 0xEE),
            buffer);  // nothing written when it does not fit
  EXPECT_EQ(0, record.writeBuff(buffer.data(), expected.size()));
  EXPECT_EQ(expected,
            std::string(buffer.begin(), buffer.begin() + static_cast<long>(expected.size())));
  EXPECT_EQ(0xEE, buffer[expected.size()]);
}

TEST_F(LogClient, OutputModeFromTheRegistry) {
  struct Row {
    const char* what;
    std::function<void()> setup;
    int32_t mode;
  };
  const Row rows[] = {
      {"absent", [] {}, 0},
      {"five", [&] { setLong("LogOutput", 5); }, 0},
      {"zero", [&] { setLong("LogOutput", 0); }, 0},
      {"a string", [&] { setText("LogOutput", "2"); }, 0},
      {"three", [&] { setLong("logoutput", 3); }, 3},
  };
  for (const Row& row : rows) {
    std::filesystem::remove_all(root);
    row.setup();
    LogServiceClient client;
    EXPECT_TRUE(client.init()) << row.what;
    EXPECT_EQ(row.mode, client.outputMode()) << row.what;
    EXPECT_EQ(row.mode != 0, client.enabled()) << row.what;
  }
}

TEST_F(LogClient, FileLinesWithLevelWords) {
  const std::string path = root + "/talvorin.log";
  setLong("LogOutput", 2);
  setText("LogFileName", path);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  EXPECT_EQ(2, client.outputMode());
  const uint8_t data[] = {'D', 0, 'E'};
  client.log(LOG_LEVEL_INFO, "tekst", "talInitEx", nullptr, nullptr, nullptr, 0);
  client.log(LOG_LEVEL_WARNING, "uwaga", "f", "a=1", nullptr, nullptr, 0);
  client.log(LOG_LEVEL_ERROR,
             "b\xb3\xb9"
             "d",
             "f", nullptr, "Dane", data, sizeof data);
  client.log(3, "bez", "f", nullptr, nullptr, data, sizeof data);  // no data name: no block
  client.log(LOG_LEVEL_DEBUG, nullptr, nullptr, nullptr, "Dane", data, 0);
  std::ifstream in(path, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string expected =
      std::string("INFO. 2026-03-05 07:08:09 Funkcja: talInitEx. tekst. \r\n") +
      "WARNING. 2026-03-05 07:08:09 Funkcja: f. uwaga. Parametry: a=1. \r\n" +
      "ERROR. 2026-03-05 07:08:09 Funkcja: f. b\xb3\xb9"
      "d. \r\nDane: \r\n" +
      std::string("D\0E", 3) + "\r\n\r\n" + "2026-03-05 07:08:09 Funkcja: f. bez. \r\n" +
      "DEBUG. 2026-03-05 07:08:09 Funkcja: . . \r\n";
  EXPECT_EQ(expected, file);
}

// Threads that meet an uninitialised logger together open the file once, and their lines stay whole.
TEST_F(LogClient, ThreadsShareTheFile) {
  const std::string path = root + "/threads.log";
  setLong("LogOutput", 2);
  setText("LogFileName", path);
  LogServiceClient client;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&client, t] {
      client.init();
      const std::string text = std::string(200, static_cast<char>('a' + t));
      for (int i = 0; i < 50; ++i)
        client.log(LOG_LEVEL_INFO, text.c_str(), "f", nullptr, nullptr, nullptr, 0);
    });
  for (std::thread& thread : threads) thread.join();
  std::ifstream in(path, std::ios::binary);
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    ASSERT_EQ(std::string("INFO. 2026-03-05 07:08:09 Funkcja: f. ").size() + 200 + 3, line.size());
    EXPECT_EQ(std::string(200, line[38]), line.substr(38, 200));
  }
  EXPECT_EQ(400, lines);
}

TEST_F(LogClient, FileFailuresDropMessages) {
  const std::string folder = root + "/later";
  setLong("LogOutput", 2);
  setText("LogFileName", folder + "/t.log");
  LogServiceClient client;
  EXPECT_FALSE(client.init());  // the folder does not exist yet
  client.log(LOG_LEVEL_ERROR, "x", "f", nullptr, nullptr, nullptr, 0);  // dropped
  std::filesystem::create_directory(folder);
  EXPECT_TRUE(client.init());  // tried again
  client.log(LOG_LEVEL_INFO, "x", "f", nullptr, nullptr, nullptr, 0);
  EXPECT_GT(std::filesystem::file_size(folder + "/t.log"), 0u);

  // A full disk: every write fails, nothing reaches the caller.
  setText("LogFileName", "/dev/full");
  LogServiceClient full;
  ASSERT_TRUE(full.init());
  std::vector<uint8_t> big(1 << 20, 'x');
  full.log(LOG_LEVEL_ERROR, "x", "f", "p", "Dane", big.data(), big.size());

  // A FIFO: without a reader it does not open (no hang); one nobody reads drops what does not fit.
  const std::string fifo = root + "/fifo";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  setText("LogFileName", fifo);
  LogServiceClient piped;
  EXPECT_FALSE(piped.init());
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(piped.init());
  piped.log(LOG_LEVEL_ERROR, "x", "f", "p", "Dane", big.data(), big.size());
  piped.log(LOG_LEVEL_ERROR, "x", "f", nullptr, nullptr, nullptr, 0);
  ::close(reader);

  // No file name at all.
  std::filesystem::remove_all(root);
  setLong("LogOutput", 2);
  LogServiceClient unnamed;
  EXPECT_FALSE(unnamed.init());
  unnamed.log(LOG_LEVEL_ERROR, "x", "f", nullptr, nullptr, nullptr, 0);
}

// A process forked while another thread initialises the process-wide logger can still log: the
// child does not inherit a lock held by a thread it does not have. Run in a child process of its
// own, since the process-wide logger is made once.
TEST_F(LogClient, ForkWhileInitialising) {
  const std::string path = root + "/fork.log";
  setLong("LogOutput", 2);
  // Many values make the registry load, which runs under the init lock, take a while.
  const std::string key = root + "/HKEY_LOCAL_MACHINE/k_software/k_mirval kso/k_talvorin/k_3.9/";
  std::ifstream one(key + "v_logoutput", std::ios::binary);
  const std::string value((std::istreambuf_iterator<char>(one)), std::istreambuf_iterator<char>());
  for (int i = 0; i < 3000; ++i) std::ofstream(key + "v_pad" + std::to_string(i)) << value;
  pid_t harness = ::fork();
  ASSERT_GE(harness, 0);
  if (harness == 0) {
    LogServiceClient::instance();  // no file name yet: made, not initialised
    setText("LogFileName", path);
    std::atomic<bool> started{false};
    std::thread first([&started] {
      started = true;
      LogServiceClient::instance();  // about 40 ms of registry load
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    pid_t child = ::fork();
    if (child == 0) {
      LogServiceClient::instance()->log(LOG_LEVEL_INFO, "potomek", "f", nullptr, nullptr, nullptr,
                                        0);
      ::_exit(0);
    }
    first.join();
    int status = 0;
    // A hang guard: the child loads the 3000 values itself, slowly on a loaded machine.
    for (int i = 0; i < HANG_GUARD_SECONDS * 100 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::kill(child, 0) == 0 && ::waitpid(child, &status, WNOHANG) == 0) {
      ::kill(child, SIGKILL);
      ::_exit(1);
    }
    ::_exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(harness, ::waitpid(harness, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "1: the child hung on the logger";
  std::ifstream in(path, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, file.find("potomek"));
}

TEST_F(LogClient, EventLogThroughTheSystemLog) {
  std::vector<platform::EventLogEntry> seen;
  platform::setEventLogHook(
      [](const platform::EventLogEntry& e, void* c) {
        static_cast<std::vector<platform::EventLogEntry>*>(c)->push_back(e);
      },
      &seen);
  setLong("LogOutput", 3);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  struct Row {
    int level;
    int priority;
  };
  const Row rows[] = {{0, LOG_INFO}, {1, LOG_WARNING}, {2, LOG_ERR}, {4, LOG_ERR}, {3, LOG_ERR}};
  for (const Row& row : rows)
    client.log(row.level,
               "Zak\xb3\xf3"
               "cenie",
               "talDeinit", row.level == 1 ? "p" : nullptr, "Dane",
               reinterpret_cast<const uint8_t*>("d"), 1);
  ASSERT_EQ(5u, seen.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(rows[i].priority, seen[i].priority) << rows[i].level;
    EXPECT_EQ("TALVORIN", seen[i].source);
    EXPECT_EQ(1001u, seen[i].eventId);
    EXPECT_EQ(0u, seen[i].category);
    EXPECT_TRUE(seen[i].hasUser);
    EXPECT_EQ(static_cast<uint32_t>(::getuid()), seen[i].userId);
    // Windows-1250 "ł" and "ó" reach the system log as UTF-8; the data block does not.
    EXPECT_EQ(std::string(u8" Funkcja: talDeinit. Zakłócenie. ") +
                  (rows[i].level == 1 ? "Parametry: p. " : ""),
              seen[i].text);
  }
}

// A datagram socket in the test's folder in place of the system log's.
class FakeSystemLog {
 public:
  explicit FakeSystemLog(const std::string& path) {
    fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd, 0);
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(0, ::bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address));
    platform::setSystemLogSocket(path.c_str());
  }
  ~FakeSystemLog() {
    platform::setSystemLogSocket(nullptr);
    ::close(fd);
  }
  // The next datagram, or "" when none waits.
  std::string take() {
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
  }
  int fd = -1;
};

TEST_F(LogClient, EventLogDatagramsToTheSystemLog) {
  FakeSystemLog syslogd(root + "/log");
  setLong("LogOutput", 3);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  struct Row {
    int level;
    int pri;  // LOG_USER (8) + severity
  };
  const Row rows[] = {{0, 14}, {1, 12}, {2, 11}, {4, 11}};
  const std::string tail = "TALVORIN[" + std::to_string(::getpid()) + "]: ";
  for (const Row& row : rows) {
    client.log(row.level,
               "Zak\xb3\xf3"
               "cenie",
               "talDeinit", nullptr, nullptr, nullptr, 0);
    const std::string got = syslogd.take();
    const std::string pri = "<" + std::to_string(row.pri) + ">";
    ASSERT_EQ(pri, got.substr(0, pri.size())) << got;
    // "Mmm dd hh:mm:ss " as the C library writes it, then the identity and the text.
    const size_t at = pri.size() + 16;
    ASSERT_GT(got.size(), at);
    EXPECT_EQ(' ', got[pri.size() + 3]) << got;
    EXPECT_EQ(':', got[pri.size() + 9]) << got;
    EXPECT_EQ(tail + u8" Funkcja: talDeinit. Zakłócenie. ", got.substr(at)) << got;
  }

  // A logger that never reads: once its queue is full every record is dropped at once. A send
  // that waited for room would wait for ever: the bound is a hang guard.
  const int sent = 3000;
  const std::string text(400, 'x');
  EXPECT_LT(secondsOf([&] {
              for (int i = 0; i < sent; ++i)
                client.log(LOG_LEVEL_ERROR, text.c_str(), "f", nullptr, nullptr, nullptr, 0);
            }),
            HANG_GUARD_SECONDS);
  int queued = 0;
  while (!syslogd.take().empty()) ++queued;
  EXPECT_GT(queued, 0);
  EXPECT_LT(queued, sent);
  // Read again, the logger gets records again; an absent one loses them silently.
  client.log(LOG_LEVEL_INFO, "po", "f", nullptr, nullptr, nullptr, 0);
  EXPECT_NE(std::string::npos, syslogd.take().find(" Funkcja: f. po. "));
  platform::setSystemLogSocket((root + "/absent").c_str());
  client.log(LOG_LEVEL_INFO, "nikt", "f", nullptr, nullptr, nullptr, 0);
}

// A service that cuts its shared memory below the block after the client mapped it: the message
// is dropped instead of the caller dying of SIGBUS, and logging resumes once the block is whole.
TEST_F(LogClient, TruncatedSharedMemoryDropsTheMessage) {
  createService();
  setLong("LogOutput", 1);
  setText("LogServiceName", serviceName);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  client.setWaitMilliseconds(200);
  const off_t sizes[] = {0, 5, 4096, static_cast<off_t>(BLOCK) - 1};
  for (off_t size : sizes) {
    int fd = ::shm_open(objectName(3).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, size));
    client.log(LOG_LEVEL_INFO, "x", "f", nullptr, "Dane", reinterpret_cast<const uint8_t*>("d"), 1);
    EXPECT_EQ(-1, ::sem_trywait(event)) << size << ": nothing was signalled";
    EXPECT_EQ(0, ::sem_trywait(mutex)) << size << ": the mutex is released";
    ::sem_post(mutex);
    ASSERT_EQ(0, ::ftruncate(fd, BLOCK));
    ::close(fd);
    client.log(LOG_LEVEL_INFO, "znowu", "f", nullptr, nullptr, nullptr, 0);
    std::vector<WireField> fields = takeRecord();
    ASSERT_EQ(4u, fields.size()) << size;
    EXPECT_EQ("znowu", fields[2].value);
  }
}

TEST_F(LogClient, ServiceRecordReadBack) {
  createService();
  setLong("LogOutput", 1);
  setText("LogServiceName", serviceName);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  const uint8_t data[] = {0, 1, 2, 0xFF};
  client.log(LOG_LEVEL_WARNING, "Opis zdarzenia", "talHashFile", "plik=a.xml", "Skrot", data,
             sizeof data);
  std::vector<WireField> expected = {
      {0, "Typ", le32Text(1)},        {0, "DataCzas", "2026.03.05 07:08:09"},
      {0, "Opis", "Opis zdarzenia"},  {0, "Funkcja", "talHashFile"},
      {0, "Parametry", "plik=a.xml"}, {1, "Skrot", std::string("\0\1\2\xff", 4)},
  };
  EXPECT_EQ(expected, takeRecord());

  // An empty text has no "Opis"; a data block without a name is "Data"; the mutex is free again.
  client.log(7, "", "f", nullptr, nullptr, data, 1);
  expected = {{0, "Typ", le32Text(7)},
              {0, "DataCzas", "2026.03.05 07:08:09"},
              {0, "Funkcja", "f"},
              {1, "Data", std::string(1, '\0')}};
  EXPECT_EQ(expected, takeRecord());
  EXPECT_EQ(0, ::sem_trywait(mutex));
  ::sem_post(mutex);
  // A data name over 128 characters drops the block, not the message.
  client.log(LOG_LEVEL_INFO, "o", "f", nullptr, std::string(129, 'n').c_str(), data, 1);
  EXPECT_EQ(4u, takeRecord().size());

  // A record over the block's room is replaced by the error record naming result 2.
  // Count, five field heads, "Typ" 4, "DataCzas" 19, "Opis" 1, "Funkcja" 1: the rest is room for data.
  const size_t room = (BLOCK - 5) - (4 + 5 * 133 + 4 + 19 + 1 + 1);
  std::vector<uint8_t> big(room + 1, 'x');
  client.log(LOG_LEVEL_INFO, "o", "f", nullptr, "Big", big.data(), big.size());
  expected = {
      {0, "Typ", le32Text(2)},
      {0, "DataCzas", "2026.03.05 07:08:09"},
      {0, "Opis", "Blad funkcji workRecord.writeBuff() w usludze logu. Funkcja zwrocila 2"}};
  EXPECT_EQ(expected, takeRecord());
  // One byte less fits exactly.
  big.pop_back();
  client.log(LOG_LEVEL_INFO, "o", "f", nullptr, "Big", big.data(), big.size());
  std::vector<WireField> fields = takeRecord();
  ASSERT_EQ(5u, fields.size());
  EXPECT_EQ(big.size(), fields[4].value.size());
}

TEST_F(LogClient, ParkedWriterIsReleasedByTheService) {
  createService();
  setLong("LogOutput", 1);
  setText("LogServiceName", serviceName);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  // The writer waits until released however busy the machine; a release that never comes
  // fails the test at the hang guard.
  client.setWaitMilliseconds(BEYOND_HANG_MS);
  block[0] = 1;  // a record waits for the service
  std::thread writer([&] { client.log(LOG_LEVEL_INFO, "po", "f", nullptr, nullptr, nullptr, 0); });
  // The service: wait until the writer has parked, take the record, release the parked writer.
  auto start = std::chrono::steady_clock::now();
  bool parked = false;
  const auto guard = std::chrono::seconds(HANG_GUARD_SECONDS);
  while (!parked && std::chrono::steady_clock::now() - start < guard) {
    ASSERT_EQ(0, ::sem_wait(mutex));
    parked = le32(block + 1) == 1;
    if (parked) {
      block[0] = 0;
      std::memset(block + 1, 0, 4);
      ::sem_post(parking);
    }
    ::sem_post(mutex);
    if (!parked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  writer.join();
  ASSERT_TRUE(parked);
  std::vector<WireField> fields = takeRecord();
  ASSERT_EQ(4u, fields.size());
  EXPECT_EQ("po", fields[2].value);
}

// A service that never takes the record or never frees its mutex costs a writer its time-out, no
// more. The time-out is shortened here; ProcessWideInstance checks the 3 s the library uses.
TEST_F(LogClient, WritersNeverWaitLongerThanTheTimeOut) {
  createService();
  setLong("LogOutput", 1);
  setText("LogServiceName", serviceName);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  client.setWaitMilliseconds(200);
  client.setRetryMilliseconds(0);  // every message makes its timed attempt here
  struct Row {
    const char* what;
    bool blockFull;
    bool mutexHeld;
  };
  const Row rows[] = {{"no service takes the record", true, false},
                      {"the mutex is never released", false, true}};
  for (const Row& row : rows) {
    block[0] = row.blockFull ? 1 : 0;
    std::memset(block + 5, 0xAB, 16);
    if (row.mutexHeld) {
      ASSERT_EQ(0, ::sem_wait(mutex));
    }
    double seconds =
        secondsOf([&] { client.log(LOG_LEVEL_INFO, "x", "f", nullptr, nullptr, nullptr, 0); });
    EXPECT_GE(seconds, 0.19) << row.what;
    EXPECT_LT(seconds, HANG_GUARD_SECONDS) << row.what;  // a wait without its time-out never ends
    EXPECT_EQ(0u, le32(block + 1)) << row.what << ": the parked announcement is withdrawn";
    EXPECT_EQ(0xAB, block[5]) << row.what << ": the waiting record is untouched";
    EXPECT_EQ(-1, ::sem_trywait(event)) << row.what;
    if (row.mutexHeld) ::sem_post(mutex);
  }
}

// After a time-out the writers stop waiting: messages are dropped at once, one timed attempt is
// made per retry interval, the stall is said once on stderr, and a service that reads again gets
// the next attempt's message. A timed attempt is told by the 200 ms it waits; a message that must
// not wait is sent with the writers' wait beyond the hang guard, so no upper bound on a time is
// read (a retry interval of an hour keeps the attempts apart however busy the machine).
TEST_F(LogClient, StalledServiceCostsOneWaitPerInterval) {
  createService();
  setLong("LogOutput", 1);
  setText("LogServiceName", serviceName);
  LogServiceClient client;
  ASSERT_TRUE(client.init());
  client.setWaitMilliseconds(200);
  EXPECT_EQ(60000u, LogServiceClient::RETRY_MILLISECONDS);

  // stderr into a file for the length of the test
  const std::string errPath = root + "/stderr.txt";
  std::fflush(stderr);
  int savedErr = ::dup(2);
  int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(errFd, 0);
  ::dup2(errFd, 2);
  ::close(errFd);
  auto messageOf = [](LogServiceClient& c) {
    return [&c] { c.log(LOG_LEVEL_INFO, "x", "f", nullptr, nullptr, nullptr, 0); };
  };
  auto message = messageOf(client);

  client.setRetryMilliseconds(300);
  block[0] = 1;  // a record nobody takes
  double first = secondsOf(message);
  // The interval passes: one timed attempt, then the next an hour away.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  client.setRetryMilliseconds(3600 * 1000);
  double attempt = secondsOf(message);
  client.setWaitMilliseconds(BEYOND_HANG_MS);
  std::vector<double> dropped;
  for (int i = 0; i < 10; ++i) {
    dropped.push_back(secondsOf(message));
    if (dropped.back() >= HANG_GUARD_SECONDS) break;
  }
  // A writer that dies holding the service's lock: still no waiting.
  ASSERT_EQ(0, ::sem_wait(mutex));
  double held = secondsOf(message);
  ::sem_post(mutex);

  // The service reads again: the next attempt delivers and writers wait as usual from then on
  // (another writer, whose stall began with a short interval).
  LogServiceClient again;
  ASSERT_TRUE(again.init());
  again.setWaitMilliseconds(200);
  again.setRetryMilliseconds(300);
  double againFirst = secondsOf(messageOf(again));
  block[0] = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  messageOf(again)();
  std::vector<WireField> fields = takeRecord();
  EXPECT_EQ(4u, fields.size());
  messageOf(again)();
  fields = takeRecord();
  EXPECT_EQ(4u, fields.size()) << "not stalled any more";

  std::fflush(stderr);
  ::dup2(savedErr, 2);
  ::close(savedErr);
  EXPECT_GE(first, 0.19);
  EXPECT_GE(attempt, 0.19);
  EXPECT_GE(againFirst, 0.19);
  EXPECT_EQ(10u, dropped.size()) << "a message after a time-out waited";
  EXPECT_LT(held, HANG_GUARD_SECONDS);
  std::ifstream in(errPath);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t count = 0;
  for (size_t at = all.find(serviceName); at != std::string::npos;
       at = all.find(serviceName, at + 1))
    ++count;
  EXPECT_EQ(2u, count) << "once for each writer: " << all;
  EXPECT_NE(std::string::npos, all.find("nie odpowiada")) << all;
}

// The log file: a symbolic link at its path is not followed, and a new file is the owner's alone.
TEST_F(LogClient, LogFileRefusesLinksAndIsPrivate) {
  const std::string target = root + "/target.txt";
  const std::string link = root + "/link.log";
  std::ofstream(target) << "keep";
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
  setLong("LogOutput", 2);
  setText("LogFileName", link);
  LogServiceClient linked;
  EXPECT_FALSE(linked.init());
  linked.log(LOG_LEVEL_ERROR, "x", "f", nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(4u, std::filesystem::file_size(target));

  const std::string path = root + "/new.log";
  setText("LogFileName", path);
  mode_t oldMask = ::umask(0);
  LogServiceClient fresh;
  bool opened = fresh.init();
  ::umask(oldMask);
  ASSERT_TRUE(opened);
  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);
}

TEST_F(LogClient, AbsentServiceLeavesTheLoggerSilent) {
  setLong("LogOutput", 1);
  setText("LogServiceName", serviceName);
  LogServiceClient client;
  client.setWaitMilliseconds(BEYOND_HANG_MS);  // a wait for the absent service would show
  EXPECT_LT(secondsOf([&] {
              EXPECT_FALSE(client.init());
              client.log(LOG_LEVEL_ERROR, "x", "f", nullptr, nullptr, nullptr, 0);
            }),
            HANG_GUARD_SECONDS);
  // Once the service is there, the next attempt opens it.
  createService();
  EXPECT_TRUE(client.init());
  // A service name that cannot name an object never opens.
  setText("LogServiceName", "../x");
  LogServiceClient bad;
  EXPECT_FALSE(bad.init());
}

TEST_F(LogClient, ProcessWideInstance) {
  LogServiceClient* first = LogServiceClient::instance();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, LogServiceClient::instance());
  EXPECT_TRUE(first->initialised());
  EXPECT_FALSE(first->enabled());
  EXPECT_EQ(3000u, first->waitMilliseconds());
  EXPECT_EQ(std::string("Tal39LogService"), LogServiceClient::DEFAULT_SERVICE_NAME);
  EXPECT_EQ("/MirvalLogServiceMutex_1_3Tal39LogService",
            platform::logServiceObjectName(platform::LOG_SERVICE_MUTEX,
                                           LogServiceClient::DEFAULT_SERVICE_NAME));
  EXPECT_EQ("",
            platform::logServiceObjectName(platform::LOG_SERVICE_MEMORY, std::string(230, 'n')));
}

}  // namespace
