#include "settings/file_stream.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <process.h>
#define KIV_GETPID _getpid
#else
#include <unistd.h>
#define KIV_GETPID getpid
#endif

#include "host/temp_folder.h"

namespace kiv {
namespace {

using Names = std::vector<std::string>;

TEST(ReplaceFileContents, CreatesOrReplacesTheFileAndLeavesNothingElse) {
  test::TempFolder dir;
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
  test::TempFolder dir;
  EXPECT_THROW(ReplaceFileContents(dir.Path("missing") + "/a.ini", "x"), EFCreateError);
  EXPECT_EQ(dir.Names(), Names{});
}

TEST(ReplaceFileContents, RemovesTemporaryFilesOfEndedProcessesOnly) {
  test::TempFolder dir;
  const std::string file = dir.Path("a.ini");
  // 99999999 is no process: above Linux's pid limit and no multiple of 4 as Windows ids are.
  // This process may be writing its own; other names are not ours to remove.
  const std::string own = TempFileBeside("a.ini", static_cast<std::uint32_t>(KIV_GETPID()), 5);
  for (const std::string name : {std::string("a.ini.~99999999-1.tmp"), std::string("a.ini.~99999999-2.tmp"), own,
                                 std::string("a.ini.~x-1.tmp"), std::string("b.ini.~99999999-1.tmp")})
    test::WriteFileBytes(dir.Path(name), "left");
  ReplaceFileContents(file, "new");
  EXPECT_EQ(test::ReadFileBytes(file), "new");
  EXPECT_EQ(dir.Names(), (Names{"a.ini", own, "a.ini.~x-1.tmp", "b.ini.~99999999-1.tmp"}));
}

TEST(TempFileBeside, NamesAndRecognisesTheTemporaryFilesOfAFile) {
  EXPECT_EQ(TempFileBeside("C:\\d\\s.ini", 12, 3), "C:\\d\\s.ini.~12-3.tmp");
  struct Case {
    const char* entry;
    bool recognised;
    std::uint32_t pid;
  };
  for (const Case& c : {Case{"s.ini.~12-3.tmp", true, 12}, Case{"s.ini.~4294967295-0.tmp", true, 4294967295u},
                        Case{"s.ini.~4294967296-0.tmp", false, 0}, Case{"s.ini.~12-.tmp", false, 0},
                        Case{"s.ini.~-3.tmp", false, 0}, Case{"s.ini.~12-3.tmpx", false, 0},
                        Case{"S.INI.~12-3.tmp", false, 0}, Case{"t.ini.~12-3.tmp", false, 0},
                        Case{"s.ini.~12-3", false, 0}}) {
    std::uint32_t pid = 0;
    EXPECT_EQ(IsTempFileBeside("C:\\d/s.ini", c.entry, pid), c.recognised) << c.entry;
    EXPECT_EQ(pid, c.pid) << c.entry;
  }
}

}  // namespace
}  // namespace kiv
