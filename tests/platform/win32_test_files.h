// Locations of the files the Windows platform tests use. Test thread only; Windows tests only.
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

// Creates a folder under the temporary folder, named from `stem`, the process id and a counter,
// that did not exist before: process ids repeat across runs, and a folder a test could not
// remove (a pinned plugin.dll) must not be reused. Its path without a trailing backslash.
inline std::string FreshTempFolder(const std::string& stem) {
  static int counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder;
  do {
    folder = std::string(temp) + stem + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
  } while (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
  return folder;
}

}  // namespace kiv::test
