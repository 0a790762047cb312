#include <gtest/gtest.h>
#include <windows.h>

#include "platform/unique_handle_win32.h"
#include "settings/ini_file.h"
#include "settings/ini_save_helper.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

TEST(WregWin32, SaveWorksWhileAnotherProgramReadsTheIniFileAndFailsWhenItBarsWriting) {
  test::TempFolder dir;
  const std::string file = dir.Path("settings.ini");
  test::WriteFileBytes(file, "[Common]\r\nA=1\r\n");
  {
    UniqueFile reader(::CreateFileA(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    0, nullptr));
    ASSERT_TRUE(reader.valid());
    EXPECT_TRUE(test::SaveIniInteger(file, "A", 2));
  }
  EXPECT_EQ(TkivIniFile(file).ReadInteger("Common", "A", 0), 2);
  {
    UniqueFile reader(::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.valid());
    EXPECT_FALSE(test::SaveIniInteger(file, "A", 3));
  }
  EXPECT_EQ(TkivIniFile(file).ReadInteger("Common", "A", 0), 2);
}

}  // namespace
}  // namespace kiv
