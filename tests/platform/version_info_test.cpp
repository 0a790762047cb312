// Version texts that need no version resource.
#include "platform/version_info.h"

#include <gtest/gtest.h>

#include "kiv/kiv_defs.h"

namespace kiv {
namespace {

TEST(SdkVersionText, UnpacksMajorMinorAndPatch) {
  EXPECT_EQ(SdkVersionText(KIV_MAKE_VERSION(1, 1, 0)), "1.1.0");
  EXPECT_EQ(SdkVersionText(KIV_MAKE_VERSION(255, 254, 65535)), "255.254.65535");
  EXPECT_EQ(SdkVersionText(0), "0.0.0");
  // Packed versions compare as the versions do.
  EXPECT_LT(KIV_MAKE_VERSION(1, 9, 65535), KIV_MAKE_VERSION(2, 0, 0));
  EXPECT_LT(KIV_MAKE_VERSION(1, 1, 9), KIV_MAKE_VERSION(1, 2, 0));
}

}  // namespace
}  // namespace kiv
