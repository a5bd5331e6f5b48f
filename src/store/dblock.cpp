#include "store/dblock.h"

#include <stdexcept>

namespace {

// Names hold at most 259 characters.
const size_t LOCK_NAME_MAX = 259;
const char* const GLOBAL_PREFIX = "Global\\";
const size_t GLOBAL_PREFIX_LENGTH = 7;

}  // namespace

std::array<std::string, 4> InterProcessLock::objectNames(const std::string& name)
{
  std::string copy = name.substr(0, LOCK_NAME_MAX);
  size_t bodyStart = copy.find(GLOBAL_PREFIX) != std::string::npos ? GLOBAL_PREFIX_LENGTH : 0;
  if (bodyStart > copy.size())
    bodyStart = copy.size();
  for (size_t i = bodyStart; i < copy.size(); ++i)
    if (copy[i] == '\\')
      copy[i] = '.';
  return {copy + "p", copy + "e", copy + "c", copy + "k"};
}

InterProcessLock::InterProcessLock(const std::string& name, bool disabled, const std::string& lockFile)
    : file(lockFile), lockName(name.substr(0, LOCK_NAME_MAX)), disabled(disabled)
{
  if (!disabled)
    open();
}

bool InterProcessLock::open()
{
  return file.empty() ? mutex.create(objectNames(lockName)[0]) : mutex.createAt(file);
}

InterProcessLock::~InterProcessLock()
{
  if (!disabled)
    unlock();
}

bool InterProcessLock::lock(bool exclusive)
{
  if (disabled)
    return true;
  if (!mutex.isOpen() && (file.empty() || !open()))
    return false;
  bool ok = exclusive ? mutex.lock() : mutex.lockShared();
  // A failed conversion leaves the file lock as the kernel says: assume none.
  held = ok ? (exclusive ? EXCLUSIVE : SHARED) : NONE;
  return ok;
}

bool InterProcessLock::unlock()
{
  if (disabled || held == NONE)
    return true;
  held = NONE;
  mutex.unlock();
  return true;
}

FileSemaphore::~FileSemaphore()
{
  if (taken)
    lock.unlock();
}

void FileSemaphore::p()
{
  if (!lock.lock(lockMode == InterProcessLock::EXCLUSIVE))
    throw std::runtime_error("FileSemaphore::p: blad zajecia semafora");
  taken = true;
}

void FileSemaphore::v()
{
  taken = false;
  if (!lock.unlock())
    throw std::runtime_error("FileSemaphore::v: blad zwolnienia semafora");
}
