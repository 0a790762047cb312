// Loads a project-built DLL by absolute path and calls its undecorated stdcall export.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "kiv/kiv_defs.h"

namespace {

std::string BesideThisExe(const char* file) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1) + file;
}

TEST(DllPlumbing, UndecoratedStdcallExportIsCallableByAbsolutePath) {
  const std::string path = BesideThisExe("kiv_smoke.dll");
  HMODULE lib = LoadLibraryA(path.c_str());
  ASSERT_NE(lib, nullptr) << path;
  using AddFn = int(KIV_STDCALL*)(int, int);
  auto add = reinterpret_cast<AddFn>(GetProcAddress(lib, "KivSmokeAdd"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(GetProcAddress(lib, "KivSmokeAdd@8"), nullptr);
  EXPECT_TRUE(FreeLibrary(lib));
}

}  // namespace
