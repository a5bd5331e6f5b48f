#include "platform/logtransport.h"

#include "platform/codepage.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace platform {

const char* const LOG_SERVICE_MUTEX = "MirvalLogServiceMutex_1_3";
const char* const LOG_SERVICE_EVENT = "MirvalLogServiceDataInBuffEvent_1_3";
const char* const LOG_SERVICE_PARKING = "MirvalLogServiceParkingSemaphore_1_3";
const char* const LOG_SERVICE_MEMORY = "MirvalLogServiceSharedMemFile_1_3";
const char* const SYSTEM_LOG_SOCKET = "/dev/log";

namespace {

int64_t monotonicNanoseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Waits on a semaphore until the deadline; EINTR resumes the wait.
bool waitSemaphore(void* semaphore, const WaitDeadline& deadline) {
  sem_t* sem = static_cast<sem_t*>(semaphore);
  if (!sem) return false;
  for (;;) {
    uint32_t left = deadline.remaining();
    struct timespec until;
    ::clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += left / 1000;
    until.tv_nsec += static_cast<long>(left % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000;
    }
    if (::sem_clockwait(sem, CLOCK_MONOTONIC, &until) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void* openSemaphore(const std::string& name) {
  if (name.empty()) return nullptr;
  sem_t* sem = ::sem_open(name.c_str(), 0);
  return sem == SEM_FAILED ? nullptr : sem;
}

void closeSemaphore(void*& semaphore) {
  if (semaphore) ::sem_close(static_cast<sem_t*>(semaphore));
  semaphore = nullptr;
}

std::mutex hookLock;
EventLogHook eventHook = nullptr;
void* eventHookContext = nullptr;

std::mutex socketPathLock;
std::string socketPath = SYSTEM_LOG_SOCKET;

// The system log's header as the C library writes it: priority, local time, identity and process.
std::string systemLogHeader(int priority, const std::string& identity) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t now = ::time(nullptr);
  struct tm local;
  std::memset(&local, 0, sizeof local);
  ::localtime_r(&now, &local);
  char header[64];
  std::snprintf(header, sizeof header, "<%d>%s %2d %.2d:%.2d:%.2d ", priority,
                months[local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0], local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  return header + identity + "[" + std::to_string(::getpid()) + "]: ";
}

// One datagram to the system log's socket, never waiting: a full queue, an absent logger or any
// other failure drops the record.
void sendToSystemLog(const std::string& datagram) {
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  {
    std::lock_guard<std::mutex> guard(socketPathLock);
    if (socketPath.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  }
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  ssize_t sent;
  do {
    sent = ::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                    reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
  } while (sent < 0 && errno == EINTR);
  ::close(fd);
}

std::string toUtf8(const std::string& text) {
  if (text.empty()) return text;
  std::vector<uint16_t> units(text.size());
  size_t n =
      multiByteToWide(CODE_PAGE_WINDOWS_1250, text.data(), text.size(), units.data(), units.size());
  std::vector<char> out(n * 3 + 1);
  size_t m = wideToMultiByte(CODE_PAGE_UTF8, units.data(), n, out.data(), out.size());
  return std::string(out.data(), m);
}

}  // namespace

std::string logServiceObjectName(const char* base, const std::string& serviceName) {
  if (!base || serviceName.find('/') != std::string::npos ||
      serviceName.find('\0') != std::string::npos)
    return std::string();
  std::string name = std::string("/") + base + serviceName;
  // Named semaphores take four characters of the file name for their own prefix.
  if (name.size() > NAME_MAX - 4) return std::string();
  return name;
}

WaitDeadline::WaitDeadline(uint32_t milliseconds)
    : endNanoseconds(monotonicNanoseconds() + static_cast<int64_t>(milliseconds) * 1000000) {}

uint32_t WaitDeadline::remaining() const {
  int64_t left = endNanoseconds - monotonicNanoseconds();
  return left <= 0 ? 0 : static_cast<uint32_t>((left + 999999) / 1000000);
}

LogServiceChannel::~LogServiceChannel() { close(); }

bool LogServiceChannel::open(const std::string& serviceName) {
  if (!mutex && !(mutex = openSemaphore(logServiceObjectName(LOG_SERVICE_MUTEX, serviceName))))
    return false;
  if (!event && !(event = openSemaphore(logServiceObjectName(LOG_SERVICE_EVENT, serviceName))))
    return false;
  if (!parking &&
      !(parking = openSemaphore(logServiceObjectName(LOG_SERVICE_PARKING, serviceName))))
    return false;
  if (memoryFd < 0) {
    std::string name = logServiceObjectName(LOG_SERVICE_MEMORY, serviceName);
    if (name.empty()) return false;
    memoryFd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (memoryFd < 0) return false;
  }
  if (!view) {
    // A block smaller than the record area would fault on access instead of failing here.
    struct stat st;
    if (::fstat(memoryFd, &st) != 0 || st.st_size < static_cast<off_t>(LOG_SERVICE_BLOCK_SIZE))
      return false;
    void* mapped =
        ::mmap(nullptr, LOG_SERVICE_BLOCK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, memoryFd, 0);
    if (mapped == MAP_FAILED) return false;
    view = static_cast<uint8_t*>(mapped);
  }
  return true;
}

uint8_t* LogServiceChannel::block() const {
  if (!view) return nullptr;
  // The service may truncate the object after it was mapped; pages past its end raise SIGBUS.
  struct stat st;
  if (::fstat(memoryFd, &st) != 0 || st.st_size < static_cast<off_t>(LOG_SERVICE_BLOCK_SIZE))
    return nullptr;
  return view;
}

bool LogServiceChannel::isOpen() const { return mutex && event && parking && view; }

void LogServiceChannel::close() {
  if (view) ::munmap(view, LOG_SERVICE_BLOCK_SIZE);
  view = nullptr;
  if (memoryFd >= 0) ::close(memoryFd);
  memoryFd = -1;
  closeSemaphore(mutex);
  closeSemaphore(event);
  closeSemaphore(parking);
}

bool LogServiceChannel::lock(const WaitDeadline& deadline) {
  return waitSemaphore(mutex, deadline);
}

void LogServiceChannel::unlock() {
  if (mutex) ::sem_post(static_cast<sem_t*>(mutex));
}

bool LogServiceChannel::waitParking(const WaitDeadline& deadline) {
  return waitSemaphore(parking, deadline);
}

void LogServiceChannel::signalData() {
  if (event) ::sem_post(static_cast<sem_t*>(event));
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path) {
  close();
  if (path.empty()) return false;
  // Non-blocking: a FIFO without a reader fails to open, and a full one drops the message,
  // instead of holding the caller (and every other writer behind the file lock) for ever.
  // A link planted at the log's path is not followed, and a new log is the owner's alone: it
  // records what the library does.
  fd = ::open(path.c_str(),
              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0600);
  return fd >= 0;
}

bool AppendFile::write(const std::string& bytes) {
  if (fd < 0) return false;
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void AppendFile::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void setSystemLogSocket(const char* path) {
  std::lock_guard<std::mutex> guard(socketPathLock);
  socketPath = path && *path ? path : SYSTEM_LOG_SOCKET;
}

void setEventLogHook(EventLogHook hook, void* context) {
  std::lock_guard<std::mutex> guard(hookLock);
  eventHook = hook;
  eventHookContext = context;
}

bool EventLog::open(const std::string& sourceName) {
  source = sourceName;
  opened = true;
  return true;
}

void EventLog::report(EventType type, uint16_t category, uint32_t eventId, const uint32_t* userId,
                      const std::string& text) {
  if (!opened) return;
  EventLogEntry entry;
  entry.priority = type == EventType::Information ? LOG_INFO
                   : type == EventType::Warning   ? LOG_WARNING
                                                  : LOG_ERR;
  entry.source = source;
  entry.category = category;
  entry.eventId = eventId;
  entry.hasUser = userId != nullptr;
  entry.userId = userId ? *userId : 0;
  entry.text = toUtf8(text);
  {
    std::lock_guard<std::mutex> guard(hookLock);
    if (eventHook) {
      eventHook(entry, eventHookContext);
      return;
    }
  }
  // The system log records the process and its user itself. The C library's syslog() would wait
  // without limit on a logger that stops reading.
  sendToSystemLog(systemLogHeader(LOG_USER | entry.priority, entry.source) + entry.text);
}

bool processUser(uint32_t& userId) {
  userId = static_cast<uint32_t>(::getuid());
  return true;
}

}  // namespace platform
