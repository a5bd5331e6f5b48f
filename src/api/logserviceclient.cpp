#include "api/logserviceclient.h"

#include "api/universalconfmgr.h"
#include "platform/clock.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <pthread.h>

const char* const LogServiceClient::DEFAULT_SERVICE_NAME = "Tal39LogService";
const char* const LogServiceClient::REGISTRY_KEY = "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9";

namespace {

void putLe32(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct tm localNow() {
  struct tm local;
  std::memset(&local, 0, sizeof local);
  if (!platform::toLocalTime(platform::currentTime(), local)) std::memset(&local, 0, sizeof local);
  return local;
}

const char* levelWord(int level) {
  switch (level) {
    case LOG_LEVEL_INFO:
      return "INFO. ";
    case LOG_LEVEL_WARNING:
      return "WARNING. ";
    case LOG_LEVEL_ERROR:
      return "ERROR. ";
    case LOG_LEVEL_DEBUG:
      return "DEBUG. ";
    default:
      return "";
  }
}

const char* orEmpty(const char* text) { return text ? text : ""; }

}  // namespace

bool LogRecord::addField(uint8_t kind, const char* name, const void* bytes, size_t length) {
  if (!name || std::strlen(name) > MAX_NAME) return false;
  if ((length != 0 && !bytes) || (length == 0 && bytes)) return false;
  // The wire format has a 32-bit length.
  if (length > 0xFFFFFFFFu) return false;
  try {
    Field field;
    field.kind = kind;
    field.name = name;
    if (length > 0)
      field.bytes.assign(static_cast<const uint8_t*>(bytes),
                         static_cast<const uint8_t*>(bytes) + length);
    fields.push_back(std::move(field));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool LogRecord::addText(const char* name, const char* text) {
  text = orEmpty(text);
  return addField(FIELD_TEXT, name, text, std::strlen(text));
}

uint64_t LogRecord::size() const {
  uint64_t total = 4;
  for (const Field& field : fields) total += FIELD_HEADER + field.bytes.size();
  return total;
}

int LogRecord::writeBuff(uint8_t* buffer, size_t capacity) const {
  if (!buffer) return 1;
  if (size() > capacity) return 2;
  uint8_t* p = buffer;
  putLe32(p, static_cast<uint32_t>(fields.size()));
  p += 4;
  for (const Field& field : fields) {
    *p++ = field.kind;
    std::memset(p, 0, MAX_NAME);
    std::memcpy(p, field.name.data(), field.name.size());
    p += MAX_NAME;
    putLe32(p, static_cast<uint32_t>(field.bytes.size()));
    p += 4;
    if (!field.bytes.empty()) std::memcpy(p, field.bytes.data(), field.bytes.size());
    p += field.bytes.size();
  }
  return 0;
}

LogServiceClient::LogServiceClient() : m_serviceName(DEFAULT_SERVICE_NAME) {}

LogServiceClient::~LogServiceClient() = default;

namespace {
LogServiceClient* processClient = nullptr;
}

// A child forked while another thread held one of the logger's locks would wait on it for ever:
// fork waits until no thread holds them, and both sides release them.
void LogServiceClient::forkPrepare() {
  processClient->m_initLock.lock();
  processClient->m_fileLock.lock();
}

void LogServiceClient::forkDone() {
  processClient->m_fileLock.unlock();
  processClient->m_initLock.unlock();
}

LogServiceClient* LogServiceClient::instance() {
  // Never destroyed: messages may come from static destructors of other units.
  static LogServiceClient* client = [] {
    processClient = new (std::nothrow) LogServiceClient();
    if (processClient) ::pthread_atfork(&forkPrepare, &forkDone, &forkDone);
    return processClient;
  }();
  if (client) client->init();
  return client;
}

bool LogServiceClient::init() {
  if (m_initialised.load()) return true;
  // Two threads logging their first messages must not open the outputs twice.
  try {
    std::lock_guard<std::mutex> guard(m_initLock);
    if (m_initialised.load()) return true;
    return initLocked();
  } catch (...) {
    return false;
  }
}

bool LogServiceClient::initLocked() {
  UniversalConfMgr registry;
  try {
    registry.load((std::string("\\") + REGISTRY_KEY + "\\").c_str(), true);
  } catch (const std::exception&) {
    registry.clear();
  }
  int32_t mode = 0;
  if (registry.getDataLong("\\LogOutput", mode, false) && mode >= OUTPUT_OFF &&
      mode <= OUTPUT_EVENT_LOG)
    m_mode.store(mode);

  int32_t current = m_mode.load();
  if (current == OUTPUT_SERVICE)
    registry.getData("\\LogServiceName", m_serviceName, false);
  else if (current == OUTPUT_FILE)
    registry.getData("\\LogFileName", m_logFileName, false);

  if (current == OUTPUT_EVENT_LOG) {
    if (!m_eventLog.isOpen() && !m_eventLog.open("TALVORIN")) return false;
    m_hasUser = platform::processUser(m_userId);
  } else if (current == OUTPUT_SERVICE) {
    if (!m_channel.open(m_serviceName)) return false;
  } else if (current == OUTPUT_FILE) {
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (!m_logFile.isOpen() && !m_logFile.open(m_logFileName)) return false;
  }
  m_initialised.store(true);
  return true;
}

void LogServiceClient::log(int level, const char* text, const char* function,
                           const char* parameters, const char* dataName, const uint8_t* data,
                           size_t dataLength) noexcept {
  if (!m_initialised.load()) return;
  try {
    struct tm local = localNow();
    switch (m_mode.load()) {
      case OUTPUT_SERVICE: {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%.4d.%.2d.%.2d %.2d:%.2d:%.2d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        writeService(level, stamp, text, function, parameters, dataName, data, dataLength);
        break;
      }
      case OUTPUT_FILE:
        writeFile(level, local, text, function, parameters, dataName, data, dataLength);
        break;
      case OUTPUT_EVENT_LOG:
        writeEventLog(level, text, function, parameters);
        break;
      default:
        break;
    }
  } catch (...) {
    // Dropped: the logger never fails its caller.
  }
}

void LogServiceClient::writeService(int level, const std::string& time, const char* text,
                                    const char* function, const char* parameters,
                                    const char* dataName, const uint8_t* data, size_t dataLength) {
  LogRecord workRecord;
  uint8_t typeBytes[4];
  putLe32(typeBytes, static_cast<uint32_t>(level));
  workRecord.addField(LogRecord::FIELD_TEXT, "Typ", typeBytes, 4);
  workRecord.addText("DataCzas", time.c_str());
  workRecord.addText("Opis", text);
  workRecord.addText("Funkcja", function);
  if (parameters) workRecord.addText("Parametry", parameters);
  if (data && dataLength > 0)
    workRecord.addField(LogRecord::FIELD_DATA, dataName ? dataName : "Data", data, dataLength);

  if (!m_channel.isOpen() || !mayWaitOnService()) return;
  serviceAnswered(deliverToService(workRecord, time));
}

namespace {
int64_t monotonicNow() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
}  // namespace

bool LogServiceClient::mayWaitOnService() {
  int64_t until = m_stalledUntil.load();
  if (until == 0) return true;
  int64_t now = monotonicNow();
  if (now < until) return false;
  // One thread takes the attempt; the others keep dropping until it is over.
  return m_stalledUntil.compare_exchange_strong(
      until, now + static_cast<int64_t>(m_retryMilliseconds) * 1000000);
}

void LogServiceClient::serviceAnswered(bool answered) {
  if (answered) {
    m_stalledUntil.store(0);
    m_stallReported.store(false);
    return;
  }
  // Counted from the end of the failed wait, so a stalled service costs one wait per interval.
  int64_t next = monotonicNow() + static_cast<int64_t>(m_retryMilliseconds) * 1000000;
  m_stalledUntil.store(next != 0 ? next : 1);
  if (!m_stallReported.exchange(true))
    std::fprintf(stderr,
                 "TAL-VORIN: usluga logu %s nie odpowiada; komunikaty sa pomijane, kolejna proba "
                 "co %u ms\n",
                 m_serviceName.c_str(), static_cast<unsigned>(m_retryMilliseconds));
}

bool LogServiceClient::deliverToService(const LogRecord& workRecord, const std::string& time) {
  uint8_t typeBytes[4];
  platform::WaitDeadline deadline(m_waitMilliseconds);
  if (!m_channel.lock(deadline)) return false;
  // Looked up after every lock: a service that truncated its shared memory gets no record, and the
  // caller no SIGBUS.
  uint8_t* block = m_channel.block();
  if (!block) {
    m_channel.unlock();
    return true;
  }
  while (block[0] != 0) {
    // Announce ourselves, let the service take the waiting record, and try again.
    putLe32(block + 1, readLe32(block + 1) + 1);
    m_channel.unlock();
    if (!m_channel.waitParking(deadline)) {
      // Withdraw the announcement so the service does not release a writer that left.
      platform::WaitDeadline brief(m_waitMilliseconds < 100 ? m_waitMilliseconds : 100);
      if (m_channel.lock(brief)) {
        if ((block = m_channel.block()) != nullptr) {
          uint32_t parked = readLe32(block + 1);
          if (parked > 0) putLe32(block + 1, parked - 1);
        }
        m_channel.unlock();
      }
      return false;
    }
    if (!m_channel.lock(deadline)) return false;
    if (!(block = m_channel.block())) {
      m_channel.unlock();
      return true;
    }
  }
  int result =
      workRecord.writeBuff(block + RECORD_OFFSET, platform::LOG_SERVICE_BLOCK_SIZE - RECORD_OFFSET);
  if (result != 0) {
    LogRecord errorRecord;
    putLe32(typeBytes, 2);
    errorRecord.addField(LogRecord::FIELD_TEXT, "Typ", typeBytes, 4);
    errorRecord.addText("DataCzas", time.c_str());
    std::string message = "Blad funkcji workRecord.writeBuff() w usludze logu. Funkcja zwrocila " +
                          std::to_string(result);
    errorRecord.addText("Opis", message.c_str());
    errorRecord.writeBuff(block + RECORD_OFFSET, platform::LOG_SERVICE_BLOCK_SIZE - RECORD_OFFSET);
  }
  m_channel.signalData();
  block[0] = 1;
  m_channel.unlock();
  return true;
}

void LogServiceClient::writeFile(int level, const struct tm& local, const char* text,
                                 const char* function, const char* parameters, const char* dataName,
                                 const uint8_t* data, size_t dataLength) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  // One append per message, so lines of several processes never interleave.
  std::string line = levelWord(level);
  line += stamp;
  line += " Funkcja: ";
  line += orEmpty(function);
  line += ". ";
  line += orEmpty(text);
  line += ". ";
  if (parameters) {
    line += "Parametry: ";
    line += parameters;
    line += ". ";
  }
  if (dataName && data && dataLength > 0) {
    line += "\r\n";
    line += dataName;
    line += ": \r\n";
    line.append(reinterpret_cast<const char*>(data), dataLength);
    line += "\r\n";
  }
  line += "\r\n";
  std::lock_guard<std::mutex> guard(m_fileLock);
  m_logFile.write(line);
}

void LogServiceClient::writeEventLog(int level, const char* text, const char* function,
                                     const char* parameters) {
  std::string message = " Funkcja: ";
  message += orEmpty(function);
  message += ". ";
  message += orEmpty(text);
  message += ". ";
  if (parameters) {
    message += "Parametry: ";
    message += parameters;
    message += ". ";
  }
  platform::EventType type = level == LOG_LEVEL_INFO      ? platform::EventType::Information
                             : level == LOG_LEVEL_WARNING ? platform::EventType::Warning
                                                          : platform::EventType::Error;
  m_eventLog.report(type, 0, 1001, m_hasUser ? &m_userId : nullptr, message);
}
