// A registry on a temporary folder for one test: both roots move there, so no test reads or
// writes a real registry, and the environment is put back afterwards.
#pragma once

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// Keeps one environment variable as it was.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : name(name) {
    const char* value = std::getenv(name);
    had = value != nullptr;
    if (had) saved = value;
  }
  ~SavedVariable() { put(name, had ? saved.c_str() : nullptr); }
  static void put(const char* variable, const char* value) {
    if (value)
      ::setenv(variable, value, 1);
    else
      ::unsetenv(variable);
  }

 private:
  const char* name;
  bool had = false;
  std::string saved;
};

class RegistrySandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tal-registry-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    root = pattern;
    ::setenv(platform::REGISTRY_ROOT_VARIABLE, root.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(root); }

  // Writes one value, creating its key.
  void put(platform::RegistryRoot where, const std::string& key, const std::string& name,
           uint32_t type, const std::string& data) {
    platform::RegistryKey k;
    ASSERT_EQ(platform::RegistryStatus::Ok, k.create(where, key));
    ASSERT_EQ(platform::RegistryStatus::Ok, k.setValue(name, type, data.data(), data.size()))
        << name;
  }

  SavedVariable savedRoot{platform::REGISTRY_ROOT_VARIABLE};
  std::string root;
};
