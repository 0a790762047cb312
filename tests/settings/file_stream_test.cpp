#include "settings/file_stream.h"

#include <gtest/gtest.h>

#include "settings/temp_dir_helper.h"

namespace kiv {
namespace {

using Names = std::vector<std::string>;

TEST(ReplaceFileContents, CreatesOrReplacesTheFileAndLeavesNothingElse) {
  test::TempDir dir;
  const std::string file = dir.Path("a.ini");
  ReplaceFileContents(file, "first, longer contents\r\n");
  EXPECT_EQ(test::ReadFileBytes(file), "first, longer contents\r\n");
  ReplaceFileContents(file, "short");
  EXPECT_EQ(test::ReadFileBytes(file), "short");
  ReplaceFileContents(file, "");
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(test::ReadFileBytes(file), "");
  EXPECT_EQ(dir.Names(), Names{"a.ini"});
}

TEST(ReplaceFileContents, FileInAMissingFolderRaisesAndCreatesNothing) {
  test::TempDir dir;
  EXPECT_THROW(ReplaceFileContents(dir.Path("missing") + "/a.ini", "x"), EFCreateError);
  EXPECT_EQ(dir.Names(), Names{});
}

}  // namespace
}  // namespace kiv
