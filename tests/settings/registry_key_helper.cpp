#include "settings/registry_key_helper.h"

#include <atomic>
#include <chrono>

#include "settings/registry.h"

namespace kiv::test {

TestRegistryKey::TestRegistryKey() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
  path_ = "\\Software\\kiv_test_" + std::to_string(stamp) + "_" + std::to_string(counter++);
}

TestRegistryKey::~TestRegistryKey() { DeleteRegistryTree(kHKeyCurrentUser, path_); }

}  // namespace kiv::test
