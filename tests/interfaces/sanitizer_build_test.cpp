// The sanitizer detection agrees with how the build was configured, whichever compiler built it:
// a sanitizer pass that goes undetected runs with the wrapper pool, which hides uses after free.
#include "interfaces/sanitizer_build.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(SanitizerBuild, DetectedExactlyWhenTheBuildRunsUnderAddressOrThreadSanitizer) {
  EXPECT_EQ(kSanitizerBuild, KIV_EXPECTED_SANITIZER_BUILD != 0);
}

}  // namespace
}  // namespace kiv
