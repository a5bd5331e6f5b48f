// Scratch files and folders of a fuzz target's process, removed when it exits,
// so runs side by side and one after another leave nothing in /tmp (a crash
// keeps them for a look beside its reproducer).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fuzzscratch {

inline std::vector<std::string>& registered() {
  static std::vector<std::string> paths;
  return paths;
}

inline void removeRegistered() {
  std::error_code ignored;
  for (const std::string& path : registered()) std::filesystem::remove_all(path, ignored);
}

// path, to be removed with all it holds when the process exits.
inline std::string removedAtExit(const std::string& path) {
  // The list exists before the handler is registered, so it outlives the handler's run.
  if (registered().empty()) std::atexit(removeRegistered);
  registered().push_back(path);
  return path;
}

}  // namespace fuzzscratch
