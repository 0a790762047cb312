#include <gtest/gtest.h>
#include <windows.h>

#include "settings/file_stream.h"
#include "settings/ini_file.h"
#include "settings/temp_dir_helper.h"
#include "settings/unique_handle_win32.h"

namespace kiv {
namespace {

UniqueFile OpenForWriting(const std::string& name) {
  return UniqueFile(::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(IniFileWin32, FileHeldOpenForWritingCannotBeLoaded) {
  test::TempDir dir;
  const std::string name = dir.Path("held.ini");
  test::WriteFileBytes(name, "[S]\r\nk=v\r\n");
  {
    UniqueFile writer = OpenForWriting(name);
    ASSERT_TRUE(writer.valid());
    EXPECT_THROW(TkivIniFile ini(name), EFOpenError);
  }
  TkivIniFile ini(name);
  EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
}

TEST(IniFileWin32, ReadersShareTheFileButWritersAreRefusedWhileItIsOpen) {
  test::TempDir dir;
  const std::string name = dir.Path("shared.ini");
  test::WriteFileBytes(name, "[S]\r\nk=v\r\n");
  TFileStream reader(name, TFileStream::Mode::kOpenReadDenyWrite);
  TFileStream second(name, TFileStream::Mode::kOpenReadDenyWrite);
  EXPECT_FALSE(OpenForWriting(name).valid());
}

TEST(UniqueHandle, ResetAndMoveReleaseTheOldHandle) {
  UniqueHandle a(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const HANDLE first = a.get();
  UniqueHandle b(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const HANDLE second = b.get();
  a = std::move(b);  // must close `first`
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(first, &flags));
  EXPECT_EQ(a.get(), second);
  EXPECT_FALSE(b.valid());
  a.reset();
  EXPECT_FALSE(::GetHandleInformation(second, &flags));
}

}  // namespace
}  // namespace kiv
