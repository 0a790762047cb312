// Where the files the Windows tests use are: beside the test executable (fresh temporary folders
// come from host/temp_folder.h). Test thread only; Windows tests only.
#pragma once

#include <windows.h>

#include <string>

namespace kiv::test {

// Folder of the running test executable, with a trailing backslash.
inline std::string ExeFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

}  // namespace kiv::test
