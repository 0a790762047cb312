// Differential fuzz target: any operation stream must leave the hash lists in agreement with
// std::unordered_map.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "../tests/support/hash_list_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv_test::HashListModel model;
  const std::string error = model.Run(data, size);
  if (!error.empty()) {
    std::fprintf(stderr, "hash list disagrees with the reference: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
