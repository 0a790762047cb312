#include "platform/version_info.h"

#include <gtest/gtest.h>

#include "platform/win32_test_files.h"

namespace kiv {
namespace {

TEST(TkivVersionInfo, ReadsNumbersAndStringsOfAFileWithAResource) {
  const TkivVersionInfo info(test::ExeFolder() + "kiv_versioned.dll");
  ASSERT_TRUE(info.Valid);
  EXPECT_EQ(info.Major, 4);
  EXPECT_EQ(info.Minor, 3);
  EXPECT_EQ(info.Release, 2);
  EXPECT_EQ(info.Build, 1);
  EXPECT_EQ(info.VersionText(), "4.3.2.1");
  EXPECT_EQ(info.ProductName, "Varnolet Test");
  EXPECT_EQ(info.FileDescription, "Version \"resource\" test library");
}

TEST(TkivVersionInfo, FileWithoutResourceOrMissingFileLeavesEverythingUnset) {
  // The test executable carries no version resource.
  for (const std::string& file : {test::ExeFolder() + "kiv_platform_tests.exe",
                                  test::ExeFolder() + "no_such_file.dll", std::string()}) {
    const TkivVersionInfo info(file);
    EXPECT_FALSE(info.Valid) << file;
    EXPECT_EQ(info.ProductName, "");
    EXPECT_EQ(info.FileDescription, "");
    EXPECT_EQ(info.VersionText(), "0.0.0.0");
  }
}

}  // namespace
}  // namespace kiv
