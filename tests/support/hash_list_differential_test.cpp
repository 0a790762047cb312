#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/hash_list_model.h"

namespace {

// Long random operation streams: insert, replace, remove, take, look-up, walk and clear, on
// every list, checked against std::unordered_map after each step.
TEST(HashListDifferential, RandomOperationStreamsAgreeWithUnorderedMap) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> ops(80000);
    for (auto& b : ops) b = static_cast<uint8_t>(rng());
    // Mostly inserts early on, so that the lists grow deep before removals thin them out.
    for (size_t i = 0; i < ops.size() / 3; i += 3) ops[i] &= 0xF9;
    kiv_test::HashListModel model;
    EXPECT_EQ(model.Run(ops.data(), ops.size()), "") << "seed " << seed;
  }
}

}  // namespace
