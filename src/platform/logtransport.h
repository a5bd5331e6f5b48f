// The outputs of the diagnostic log: the shared-memory log service, an appended text file and the
// system log (in place of the event log).
//
// Log service: the service process creates four named objects, each name followed directly by the
// service name: the semaphores "/MirvalLogServiceMutex_1_3<name>" (a lock, initial count 1),
// "/MirvalLogServiceDataInBuffEvent_1_3<name>" (posted once per record ready) and
// "/MirvalLogServiceParkingSemaphore_1_3<name>" (releases parked writers), and the shared memory
// "/MirvalLogServiceSharedMemFile_1_3<name>" of at least LOG_SERVICE_BLOCK_SIZE bytes. Clients open
// them and never create them. Every wait is bounded, so a dead or absent service never blocks a
// writer for longer than its time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

const size_t LOG_SERVICE_BLOCK_SIZE = 131072;

// The name of one of the service's objects: "/" + base + service name. Empty when the service name
// cannot be part of an object name (it holds '/' or NUL, or the result is too long).
std::string logServiceObjectName(const char* base, const std::string& serviceName);

extern const char* const LOG_SERVICE_MUTEX;    // "MirvalLogServiceMutex_1_3"
extern const char* const LOG_SERVICE_EVENT;    // "MirvalLogServiceDataInBuffEvent_1_3"
extern const char* const LOG_SERVICE_PARKING;  // "MirvalLogServiceParkingSemaphore_1_3"
extern const char* const LOG_SERVICE_MEMORY;   // "MirvalLogServiceSharedMemFile_1_3"

// A time limit for a series of waits: every wait ends by the same moment.
class WaitDeadline {
 public:
  explicit WaitDeadline(uint32_t milliseconds);
  // Milliseconds left, 0 when the moment has passed.
  uint32_t remaining() const;

 private:
  int64_t endNanoseconds;
};

// The client side of the log service's named objects.
class LogServiceChannel {
 public:
  LogServiceChannel() = default;
  ~LogServiceChannel();
  LogServiceChannel(const LogServiceChannel&) = delete;
  LogServiceChannel& operator=(const LogServiceChannel&) = delete;

  // Opens each object not yet open, in the order mutex, event, semaphore, memory, view. Stops at
  // the first failure; what was opened stays open for the next attempt.
  bool open(const std::string& serviceName);
  bool isOpen() const;
  void close();

  // Bounded waits: false on time-out or failure.
  bool lock(const WaitDeadline& deadline);
  void unlock();
  bool waitParking(const WaitDeadline& deadline);
  void signalData();

  // The mapped block of LOG_SERVICE_BLOCK_SIZE bytes; null until open, and null while the service
  // has cut its shared memory below the block (touching the mapping would then fault).
  uint8_t* block() const;

 private:
  void* mutex = nullptr;
  void* event = nullptr;
  void* parking = nullptr;
  int memoryFd = -1;
  uint8_t* view = nullptr;
};

// A text file opened for appending, shared with other writers: each write is one append.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens or creates (mode 0600) the file without ever blocking (a FIFO without a reader is
  // refused) and without following a symbolic link; false when it cannot be opened.
  bool open(const std::string& path);
  bool isOpen() const { return fd >= 0; }
  // Appends everything or reports false (a full disk, a broken file, a full FIFO).
  bool write(const std::string& bytes);
  void close();

 private:
  int fd = -1;
};

enum class EventType {
  Information,
  Warning,
  Error,
};

// One record as it is handed to the system log: the syslog priority, the identity, the event's
// category and identifier, the user (when known) and the text, converted to UTF-8.
struct EventLogEntry {
  int priority = 0;
  std::string source;
  uint16_t category = 0;
  uint32_t eventId = 0;
  bool hasUser = false;
  uint32_t userId = 0;
  std::string text;
};

// Test seam: while a hook is set, records go to it instead of the system log.
using EventLogHook = void (*)(const EventLogEntry& entry, void* context);
void setEventLogHook(EventLogHook hook, void* context);

extern const char* const SYSTEM_LOG_SOCKET;  // "/dev/log"
// Test seam: the system log's datagram socket; NULL or empty restores SYSTEM_LOG_SOCKET.
void setSystemLogSocket(const char* path);

// The event log of a source, written to the system log under the source as its identity. Each
// record is one datagram "<PRI>Mmm dd hh:mm:ss source[pid]: text" sent without waiting: a system
// logger that stops reading costs the record, never the caller's time.
class EventLog {
 public:
  // Always succeeds here: the system log needs no handle.
  bool open(const std::string& source);
  bool isOpen() const { return opened; }
  // text is in the system's Windows-1250 code page.
  void report(EventType type, uint16_t category, uint32_t eventId, const uint32_t* userId,
              const std::string& text);

 private:
  std::string source;
  bool opened = false;
};

// The user the process runs as (its real user id), in place of the process token's user.
bool processUser(uint32_t& userId);

}  // namespace platform
