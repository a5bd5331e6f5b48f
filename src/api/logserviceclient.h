// The library's process-wide diagnostic log. Where messages go is chosen once, from the registry:
// nowhere, the shared-memory log service, a text file or the system's event log. Logging never
// reports a failure and never throws: a message that cannot be delivered is dropped.
#pragma once

#include "platform/logtransport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

const int LOG_LEVEL_INFO = 0;
const int LOG_LEVEL_WARNING = 1;
const int LOG_LEVEL_ERROR = 2;
const int LOG_LEVEL_DEBUG = 4;

// One record for the log service: an ordered list of named fields.
class LogRecord {
 public:
  enum FieldKind : uint8_t {
    FIELD_TEXT = 0,
    FIELD_DATA = 1,
  };
  static const size_t MAX_NAME = 128;
  static const size_t FIELD_HEADER = 133;  // kind, name, length

  // False (field not added) when the name is NULL or over MAX_NAME characters, when the length is
  // nonzero and bytes NULL, when the length is zero and bytes not NULL, when the length does not
  // fit the 32-bit length field, or when memory runs out.
  bool addField(uint8_t kind, const char* name, const void* bytes, size_t length);
  // A text field of the text's characters without terminator (an empty text is rejected).
  bool addText(const char* name, const char* text);

  // The serialised size: 4 + (133 + length) per field.
  uint64_t size() const;
  size_t fieldCount() const { return fields.size(); }

  // Serialises into buffer: 0 done, 1 buffer NULL, 2 the record does not fit (nothing written).
  int writeBuff(uint8_t* buffer, size_t capacity) const;

 private:
  struct Field {
    uint8_t kind;
    std::string name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Field> fields;
};

class LogServiceClient {
 public:
  static const char* const DEFAULT_SERVICE_NAME;  // "Tal39LogService"
  static const char* const REGISTRY_KEY;          // "SOFTWARE\MIRVAL KSO\TALVORIN\3.9"
  static const uint32_t WAIT_MILLISECONDS = 3000;
  // After a wait on the log service timed out, messages are dropped without waiting; one timed
  // attempt is made per this interval until the service answers again.
  static constexpr uint32_t RETRY_MILLISECONDS = 60000;
  // Shared block: full flag, parked-writer count, then the record.
  static const size_t RECORD_OFFSET = 5;

  enum OutputMode : int32_t {
    OUTPUT_OFF = 0,
    OUTPUT_SERVICE = 1,
    OUTPUT_FILE = 2,
    OUTPUT_EVENT_LOG = 3,
  };

  LogServiceClient();
  ~LogServiceClient();
  LogServiceClient(const LogServiceClient&) = delete;
  LogServiceClient& operator=(const LogServiceClient&) = delete;

  // The process-wide logger, created on first use; every access retries a failed initialisation.
  // NULL only when it cannot be allocated.
  static LogServiceClient* instance();

  // Reads the registry and opens the output; true once initialised (later calls return at once).
  bool init();
  bool enabled() const { return m_mode.load() != OUTPUT_OFF; }
  int32_t outputMode() const { return m_mode.load(); }
  bool initialised() const { return m_initialised.load(); }
  // Test seam: the limit of the log service's waits, WAIT_MILLISECONDS unless changed.
  void setWaitMilliseconds(uint32_t milliseconds) { m_waitMilliseconds = milliseconds; }
  uint32_t waitMilliseconds() const { return m_waitMilliseconds; }
  // Test seam: the interval between timed attempts at a stalled service.
  void setRetryMilliseconds(uint32_t milliseconds) { m_retryMilliseconds = milliseconds; }

  // level: LOG_LEVEL_*; text, function, parameters and dataName may be NULL.
  void log(int level, const char* text, const char* function, const char* parameters,
           const char* dataName, const uint8_t* data, size_t dataLength) noexcept;

 private:
  static void forkPrepare();
  static void forkDone();
  bool initLocked();
  void writeService(int level, const std::string& time, const char* text, const char* function,
                    const char* parameters, const char* dataName, const uint8_t* data,
                    size_t dataLength);
  // false when a wait on the service timed out.
  bool deliverToService(const LogRecord& workRecord, const std::string& time);
  // Whether this message may wait on the service: not while it is known to be stalled, except
  // for one attempt per retry interval.
  bool mayWaitOnService();
  void serviceAnswered(bool answered);
  void writeFile(int level, const struct tm& local, const char* text, const char* function,
                 const char* parameters, const char* dataName, const uint8_t* data,
                 size_t dataLength);
  void writeEventLog(int level, const char* text, const char* function, const char* parameters);

  std::string m_logFileName;
  platform::AppendFile m_logFile;
  std::mutex m_fileLock;
  std::string m_serviceName;
  platform::LogServiceChannel m_channel;
  platform::EventLog m_eventLog;
  bool m_hasUser = false;
  uint32_t m_userId = 0;
  std::mutex m_initLock;
  std::atomic<bool> m_initialised{false};
  std::atomic<int32_t> m_mode{OUTPUT_OFF};
  uint32_t m_waitMilliseconds = WAIT_MILLISECONDS;
  uint32_t m_retryMilliseconds = RETRY_MILLISECONDS;
  // Monotonic time (ns) before which a stalled service is not waited on; 0 while it answers.
  std::atomic<int64_t> m_stalledUntil{0};
  std::atomic<bool> m_stallReported{false};
};
