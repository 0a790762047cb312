#include <gtest/gtest.h>
#include <windows.h>

#include "platform/unique_handle_win32.h"
#include "settings/file_stream.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

using Names = std::vector<std::string>;

// Another program's handle on `file` with the given sharing.
UniqueFile OpenAsAnotherProgram(const std::string& file, DWORD access, DWORD sharing) {
  return UniqueFile(
      ::CreateFileA(file.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr));
}

class ReplaceFileContentsWin32 : public ::testing::Test {
 protected:
  void SetUp() override { test::WriteFileBytes(file_, old_); }

  test::TempFolder dir_;
  const std::string file_ = dir_.Path("a.ini");
  const std::string old_ = "[Common]\r\nA=old and longer\r\n";
};

TEST_F(ReplaceFileContentsWin32, ReaderThatSharesDeletionKeepsReadingTheOldFile) {
  UniqueFile reader =
      OpenAsAnotherProgram(file_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
  ASSERT_TRUE(reader.valid());
  ReplaceFileContents(file_, "new");
  EXPECT_EQ(test::ReadFileBytes(file_), "new");
  char buffer[64];
  DWORD n = 0;
  ASSERT_TRUE(::ReadFile(reader.get(), buffer, sizeof buffer, &n, nullptr));
  EXPECT_EQ(std::string(buffer, n), old_);
  reader.reset();
  EXPECT_EQ(dir_.Names(), Names{"a.ini"});
}

TEST_F(ReplaceFileContentsWin32, FileThatCannotBeReplacedIsRewrittenInPlace) {
  UniqueFile reader =
      OpenAsAnotherProgram(file_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(reader.valid());
  ReplaceFileContents(file_, "new");
  EXPECT_EQ(test::ReadFileBytes(file_), "new");
  const std::string longer = old_ + old_;
  ReplaceFileContents(file_, longer);
  EXPECT_EQ(test::ReadFileBytes(file_), longer);
  reader.reset();
  EXPECT_EQ(dir_.Names(), Names{"a.ini"});
}

TEST_F(ReplaceFileContentsWin32, FileThatCannotBeWrittenRaisesAndKeepsItsContents) {
  for (const DWORD sharing : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
    UniqueFile holder = OpenAsAnotherProgram(file_, GENERIC_READ, sharing);
    ASSERT_TRUE(holder.valid());
    EXPECT_THROW(ReplaceFileContents(file_, "new"), EFCreateError);
    holder.reset();
    EXPECT_EQ(test::ReadFileBytes(file_), old_);
    EXPECT_EQ(dir_.Names(), Names{"a.ini"});
  }
}

}  // namespace
}  // namespace kiv
