#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "platform/unique_handle_win32.h"
#include "settings/ini_file.h"
#include "settings/ini_save_helper.h"
#include "settings/named_ini_lock.h"
#include "host/temp_folder.h"
#include "settings/wreg.h"

namespace kiv {
namespace {

std::string ChildPath() {
  char self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "kiv_settings_lock_child.exe";
}

UniqueHandle StartChild(const std::string& arguments) {
  std::string commandLine = "\"" + ChildPath() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    return UniqueHandle();
  ::CloseHandle(info.hThread);
  return UniqueHandle(info.hProcess);
}

// Runs two children with the given extra arguments and waits for both to succeed.
void RunTwoChildren(const std::string& file, int rounds, const std::string& first,
                    const std::string& second) {
  const std::string common = "\"" + file + "\" " + std::to_string(rounds) + " ";
  UniqueHandle a = StartChild(common + first);
  UniqueHandle b = StartChild(common + second);
  ASSERT_TRUE(a.valid() && b.valid()) << ChildPath();
  for (HANDLE h : {a.get(), b.get()}) {
    ASSERT_EQ(::WaitForSingleObject(h, 120000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeProcess(h, &code);
    EXPECT_EQ(code, 0u);
  }
}

TEST(NamedIniLockWin32, TwoProcessesRewritingOneFileLoseNoUpdate) {
  test::TempFolder dir;
  const std::string file = dir.Path("shared counter.ini");
  constexpr int kRounds = 150;
  RunTwoChildren(file, kRounds, "", "");
  TkivIniFile ini(file);
  EXPECT_EQ(ini.ReadInteger("Counter", "Value", 0), 2 * kRounds);
}

TEST(NamedIniLockWin32, TwoProcessesSavingThroughTheSettingsComponentKeepEveryValue) {
  test::TempFolder dir;
  const std::string file = dir.Path("settings.ini");
  constexpr int kRounds = 60;
  RunTwoChildren(file, kRounds, "First", "Second");
  TkivIniFile ini(file);
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_EQ(ini.ReadInteger("Common", "First" + std::to_string(i), -1), i);
    EXPECT_EQ(ini.ReadInteger("Common", "Second" + std::to_string(i), -1), i);
  }
}

TEST(NamedIniLockWin32, ProcessKilledWhileHoldingTheLockIsTakenOver) {
  test::TempFolder dir;
  const std::string file = dir.Path("killed holder.ini");
  TNamedIniLock lock(IniLockName(file));  // keeps the lock's shared block alive throughout
  const std::string readyName = "kiv_lock_child_ready_" + std::to_string(::GetCurrentProcessId());
  UniqueHandle ready(::CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
  ASSERT_TRUE(ready.valid());
  UniqueHandle child = StartChild("\"" + file + "\" hold " + readyName);
  ASSERT_TRUE(child.valid()) << ChildPath();
  const HANDLE handles[] = {ready.get(), child.get()};
  ASSERT_EQ(::WaitForMultipleObjects(2, handles, FALSE, 60000), WAIT_OBJECT_0);
  EXPECT_FALSE(lock.TryEnter());  // the child holds it

  ASSERT_TRUE(::TerminateProcess(child.get(), 1));
  ASSERT_EQ(::WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
  EXPECT_TRUE(test::SaveIniInteger(file, "A", 5));
  EXPECT_EQ(TkivIniFile(file).ReadInteger("Common", "A", 0), 5);
  std::thread([&] { EXPECT_TRUE(lock.TryEnter()); lock.Leave(); }).join();
}

TEST(NamedIniLockWin32, IniFileThatCannotBeOpenedRaisesAndReleasesTheLock) {
  test::TempFolder dir;
  const std::string file = dir.Path("held.ini");
  test::WriteFileBytes(file, "[Common]\r\nA=1\r\n");
  UniqueFile writer(::CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer.valid());
  TWreg wreg;
  wreg.SetINIFile(file);
  wreg.SetComponents(std::vector<std::string>{"A,A"});
  EXPECT_THROW(wreg.Load(), EStreamError);
  TNamedIniLock lock(IniLockName(file));
  bool free = false;
  std::thread([&] {
    free = lock.TryEnter();
    if (free) lock.Leave();
  }).join();
  EXPECT_TRUE(free);
}

TEST(NamedIniLockWin32, UsesTheOptexObjectNames) {
  const std::string name = "kiv_optex_names_test";
  TNamedIniLock lock(name);
  UniqueHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Optex_Event_" + name).c_str()));
  UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, ("Optex_MMF_" + name).c_str()));
  EXPECT_TRUE(event.valid());
  ASSERT_TRUE(mapping.valid());
  UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 16));
  ASSERT_TRUE(view.valid());
  const auto* fields = static_cast<const volatile LONG*>(view.get());
  TNamedIniLockGuard guard(lock);
  TNamedIniLockGuard again(lock);
  EXPECT_EQ(fields[1], 2);  // lock count
  EXPECT_EQ(static_cast<DWORD>(fields[2]), ::GetCurrentThreadId());
  EXPECT_EQ(fields[3], 2);  // recursion count
}

}  // namespace
}  // namespace kiv
