#include <windows.h>

#include "settings/file_stream.h"

namespace kiv {

namespace {

std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n != 0 && text != nullptr ? std::string(text, n) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  if (result.empty()) result = "System error " + std::to_string(error);
  return result;
}

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool FileExists(const std::string& fileName) {
  if (fileName.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) {
  HANDLE h;
  if (mode == Mode::kOpenReadDenyWrite) {
    h = ::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      throw EFOpenError("Cannot open file \"" + fileName + "\". " +
                        SystemMessage(::GetLastError()));
  } else {
    h = ::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " +
                          SystemMessage(::GetLastError()));
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

TFileStream::~TFileStream() { ::CloseHandle(AsHandle(handle_)); }

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  DWORD n = 0;
  if (!::ReadFile(AsHandle(handle_), buffer, static_cast<DWORD>(count), &n, nullptr))
    throw EStreamError("Stream read error");
  return n;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  DWORD n = 0;
  if (!::WriteFile(AsHandle(handle_), buffer, static_cast<DWORD>(count), &n, nullptr)) return 0;
  return n;
}

}  // namespace kiv
