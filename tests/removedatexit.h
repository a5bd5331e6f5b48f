// Scratch files and folders of a test or fuzz process, removed with all they
// hold when it exits, so runs side by side and one after another leave nothing
// in /tmp. A forked child's exit leaves them to the process that made them; a
// crash keeps them for a look.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace scratchfiles {

struct Registered {
  pid_t owner = ::getpid();
  std::vector<std::string> paths;
};

inline Registered& registered() {
  static Registered all;
  return all;
}

inline void removeRegistered() {
  if (::getpid() != registered().owner) return;
  std::error_code ignored;
  for (const std::string& path : registered().paths) std::filesystem::remove_all(path, ignored);
}

// path, to be removed with all it holds when the process exits.
inline std::string removedAtExit(const std::string& path) {
  std::vector<std::string>& paths = registered().paths;
  // The list exists before the handler is registered, so it outlives the handler's run.
  if (paths.empty()) std::atexit(removeRegistered);
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  return path;
}

}  // namespace scratchfiles
