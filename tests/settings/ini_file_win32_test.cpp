#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/unique_handle_win32.h"
#include "settings/file_stream.h"
#include "settings/ini_file.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

UniqueFile OpenForWriting(const std::string& name) {
  return UniqueFile(::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(IniFileWin32, FileHeldOpenForWritingCannotBeLoaded) {
  test::TempFolder dir;
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
  test::TempFolder dir;
  const std::string name = dir.Path("shared.ini");
  test::WriteFileBytes(name, "[S]\r\nk=v\r\n");
  TFileStream reader(name, TFileStream::Mode::kOpenReadDenyWrite);
  TFileStream second(name, TFileStream::Mode::kOpenReadDenyWrite);
  EXPECT_FALSE(OpenForWriting(name).valid());
}

// The host's side: the system's INI functions on the same file.
class SharedIniFile : public ::testing::Test {
 protected:
  std::wstring WideName() const {
    const WideString wide = AnsiToWide(file_);
    return std::wstring(wide.begin(), wide.end());
  }
  std::wstring HostRead(const wchar_t* section, const wchar_t* key) const {
    wchar_t buffer[256];
    const DWORD n = ::GetPrivateProfileStringW(section, key, L"<missing>", buffer, 256,
                                               WideName().c_str());
    return std::wstring(buffer, n);
  }
  void HostWrite(const wchar_t* section, const wchar_t* key, const wchar_t* value) const {
    ASSERT_TRUE(::WritePrivateProfileStringW(section, key, value, WideName().c_str()));
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, WideName().c_str());  // flush
  }
  std::vector<std::wstring> HostSections() const {
    wchar_t buffer[1024];
    const DWORD n = ::GetPrivateProfileSectionNamesW(buffer, 1024, WideName().c_str());
    std::vector<std::wstring> names;
    for (DWORD i = 0; i < n; i += static_cast<DWORD>(names.back().size()) + 1)
      names.emplace_back(buffer + i);
    return names;
  }
  // Our side: one settings save, as the settings component makes it.
  void OurWrite(std::string_view section, std::string_view key, std::string_view value) const {
    TkivIniFile ini(file_);
    ini.WriteString(section, key, value);
    ini.UpdateFile();
  }

  test::TempFolder dir_;
  std::string file_ = dir_.Path("shared.ini");
};

TEST_F(SharedIniFile, Utf16FileKeepsEveryHostSetting) {
  test::WriteFileBytes(file_, "\xFF\xFE");  // the system writes such a file in UTF-16
  HostWrite(L"Host", L"name", L"\u65E5\u672C");
  HostWrite(L"Host", L"plain", L"1");
  OurWrite("Ours", "k", "v");
  OurWrite("Host", "plain", "2");
  EXPECT_EQ(HostRead(L"Host", L"name"), L"\u65E5\u672C");
  EXPECT_EQ(HostRead(L"Host", L"plain"), L"2");
  EXPECT_EQ(HostRead(L"Ours", L"k"), L"v");
  ::WritePrivateProfileStringA("Host", "more", "x", file_.c_str());
  EXPECT_EQ(TkivIniFile(file_).ReadString("Host", "more", ""), "x");
  EXPECT_EQ(test::ReadFileBytes(file_).substr(0, 2), "\xFF\xFE");
}

TEST_F(SharedIniFile, EightBitFileIsSharedBothWays) {
  ASSERT_TRUE(::WritePrivateProfileStringA("Host", "a", "1", file_.c_str()));
  OurWrite("Ours", "b", "2");
  OurWrite("Host", "c", "3");
  char buffer[64];
  ::GetPrivateProfileStringA("Host", "a", "", buffer, sizeof buffer, file_.c_str());
  EXPECT_STREQ(buffer, "1");
  ::GetPrivateProfileStringA("Host", "c", "", buffer, sizeof buffer, file_.c_str());
  EXPECT_STREQ(buffer, "3");
  ::GetPrivateProfileStringA("Ours", "b", "", buffer, sizeof buffer, file_.c_str());
  EXPECT_STREQ(buffer, "2");
}

TEST_F(SharedIniFile, Utf8ByteOrderMarkKeepsTheFirstSection) {
  test::WriteFileBytes(file_, "\xEF\xBB\xBF[Host]\r\nk=\xC3\xA9\xE6\x97\xA5\r\n");
  OurWrite("Host", "j", "2");
  EXPECT_EQ(HostRead(L"Host", L"k"), L"\u00E9\u65E5");
  EXPECT_EQ(HostRead(L"Host", L"j"), L"2");
  EXPECT_EQ(HostSections(), std::vector<std::wstring>{L"Host"});
}

TEST_F(SharedIniFile, HeadersWithBlanksOrACommentStayTheHostsSections) {
  test::WriteFileBytes(file_, "  [Host] ; note\r\nk=1\r\n[Next]  \r\nn=1\r\n");
  OurWrite("Host", "j", "2");
  OurWrite("Next", "m", "3");
  EXPECT_EQ(HostRead(L"Host", L"k"), L"1");
  EXPECT_EQ(HostRead(L"Host", L"j"), L"2");
  EXPECT_EQ(HostRead(L"Next", L"m"), L"3");
  EXPECT_EQ(HostSections(), (std::vector<std::wstring>{L"Host", L"Next"}));
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
