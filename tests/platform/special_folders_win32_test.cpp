// The system sources of special folders, the registry reader and the module folder of a library.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "host/temp_folder.h"
#include "platform/path_names.h"
#include "platform/special_folders.h"
#include "platform/win32_test_files.h"

namespace kiv {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// A unique key below HKEY_CURRENT_USER\Software, deleted afterwards.
class RegistryFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = "Software\\KivPlatformTest" + std::to_string(GetCurrentProcessId());
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &h, nullptr),
              ERROR_SUCCESS);
    const char folder[] = "C:\\Data";
    RegSetValueExA(h, "Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder), sizeof folder);
    RegSetValueExA(h, "Empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0);
    const DWORD number = 5;
    RegSetValueExA(h, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(h);
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }

  std::string key_;
};

TEST_F(RegistryFolders, ReadsTextValuesAndTellsMissingFromEmpty) {
  SpecialFolderSources& s = SystemFolderSources();
  EXPECT_EQ(s.RegistryText(RegistryRoot::kCurrentUser, key_, "Folder"), "C:\\Data");
  EXPECT_EQ(s.RegistryText(RegistryRoot::kCurrentUser, key_, "Empty"), "");
  EXPECT_EQ(s.RegistryText(RegistryRoot::kCurrentUser, key_, "Number"), std::nullopt);
  EXPECT_EQ(s.RegistryText(RegistryRoot::kCurrentUser, key_, "Missing"), std::nullopt);
  EXPECT_EQ(s.RegistryText(RegistryRoot::kCurrentUser, key_ + "\\NoKey", "Folder"), std::nullopt);
}

TEST(SystemFolderSources, ShellKnowsBothApplicationDataFolders) {
  for (int id : {kCsidlAppData, kCsidlCommonAppData}) {
    std::string folder;
    ASSERT_EQ(SystemFolderSources().ShellFolder(id, folder), ShellLookup::kFound) << id;
    EXPECT_FALSE(folder.empty());
    EXPECT_EQ(GetSpecialFolder(id, "Vendor:Tool", false), WithBackslash(folder) + "Vendor Tool\\");
  }
  std::string folder = "untouched";
  EXPECT_EQ(SystemFolderSources().ShellFolder(0x7fff, folder), ShellLookup::kFailed);
  EXPECT_EQ(folder, "untouched");
}

TEST(ModuleFolder, IsTheFolderOfTheLibraryNotOfTheExecutable) {
  EXPECT_EQ(Lower(ModuleFolder()), Lower(test::ExeFolder()));

  const test::TempFolder temp("kiv_modfolder");
  const std::string folder = WithBackslash(temp.Folder());
  ASSERT_TRUE(temp.CopyIn(test::ExeFolder() + "kiv_versioned.dll", "kiv_versioned.dll"));
  const std::string copy = temp.Path("kiv_versioned.dll");

  HMODULE lib = LoadLibraryA(copy.c_str());
  ASSERT_NE(lib, nullptr);
  using Fn = int(WINAPI*)(char*, int);
  auto get = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(lib, "KivModuleFolder")));
  ASSERT_NE(get, nullptr);
  char buffer[MAX_PATH * 2] = {};
  const int n = get(buffer, sizeof buffer);
  EXPECT_EQ(n, static_cast<int>(strlen(buffer)));
  EXPECT_EQ(Lower(buffer), Lower(folder));
  FreeLibrary(lib);
}

}  // namespace
}  // namespace kiv
