// A unique registry key below HKEY_CURRENT_USER\Software for one test, deleted afterwards.
#pragma once

#include <string>

namespace kiv::test {

class TestRegistryKey {
 public:
  TestRegistryKey();
  ~TestRegistryKey();
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;

  // "\Software\kiv_test_<unique>" below HKEY_CURRENT_USER.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kiv::test
