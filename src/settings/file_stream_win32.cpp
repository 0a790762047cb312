#include <windows.h>

#include <algorithm>

#include "settings/file_stream.h"
#include "platform/unique_handle_win32.h"

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

[[noreturn]] void ThrowCreateError(const std::string& fileName, DWORD error) {
  throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemMessage(error));
}

// Writes all of `bytes` at the file's current position.
bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000u));
    DWORD n = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &n, nullptr) || n == 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

bool Seek(HANDLE file, std::uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

bool SetFileSize(HANDLE file, std::uint64_t size) {
  return Seek(file, size) && ::SetEndOfFile(file);
}

// The fallback when the file cannot be replaced: rewrite it in place. Growing it to its new
// size first makes a full disk fail before any old byte is overwritten.
void RewriteInPlace(const std::string& fileName, std::string_view bytes) {
  UniqueFile file(::CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowCreateError(fileName, ::GetLastError());
  LARGE_INTEGER oldSize{};
  const bool grown = ::GetFileSizeEx(file.get(), &oldSize) &&
                     (bytes.size() <= static_cast<std::uint64_t>(oldSize.QuadPart) ||
                      SetFileSize(file.get(), bytes.size()));
  if (!grown || !Seek(file.get(), 0) || !WriteAll(file.get(), bytes) ||
      !SetFileSize(file.get(), bytes.size()) || !::FlushFileBuffers(file.get()))
    throw EWriteError("Stream write error");
}

// A name beside `fileName` that no file has yet, created empty and open for writing.
UniqueFile CreateFileBeside(const std::string& fileName, std::string& name) {
  static volatile LONG counter = 0;
  UniqueFile file;
  for (int attempt = 0; !file && attempt < 16; ++attempt) {  // a crash may have left a name
    name = TempFileBeside(fileName, ::GetCurrentProcessId(),
                          static_cast<std::uint32_t>(::InterlockedIncrement(&counter)));
    file.reset(::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return file;
}

// Whether process `pid` has ended. One that cannot be opened for another reason (access)
// counts as running.
bool ProcessHasEnded(DWORD pid) {
  UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// Deletes the temporary files beside `fileName` that an ended process left (a save killed
// before it renamed or deleted them). Failures are ignored: the next save tries again.
void RemoveStaleTempFiles(const std::string& fileName) {
  const std::size_t slash = fileName.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  WIN32_FIND_DATAA found;
  const UniqueFind search(::FindFirstFileA((fileName + ".~*.tmp").c_str(), &found));
  if (!search) return;
  do {
    std::uint32_t pid = 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTempFileBeside(fileName, found.cFileName, pid) && ProcessHasEnded(pid))
      ::DeleteFileA((folder + found.cFileName).c_str());
  } while (::FindNextFileA(search.get(), &found));
}

bool MoveOver(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool IsRefusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Puts `temp` in the place of `fileName`, which another program holds open and so cannot be
// replaced: the old file is renamed aside (allowed while every holder shares deletion), the
// new one renamed in, and the old one deleted (it goes when its last holder closes it).
bool MoveInBesideHolders(const std::string& temp, const std::string& fileName) {
  std::string aside;
  if (!CreateFileBeside(fileName, aside)) return false;
  if (!MoveOver(fileName, aside)) {
    ::DeleteFileA(aside.c_str());
    return false;
  }
  if (!MoveOver(temp, fileName)) {
    MoveOver(aside, fileName);
    return false;
  }
  ::DeleteFileA(aside.c_str());
  return true;
}

}  // namespace

bool FileExists(const std::string& fileName) {
  if (fileName.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ReplaceFileContents(const std::string& fileName, std::string_view bytes) {
  RemoveStaleTempFiles(fileName);
  std::string temp;
  UniqueFile file = CreateFileBeside(fileName, temp);
  if (!file) ThrowCreateError(fileName, ::GetLastError());
  const bool written = WriteAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
  file.reset();
  if (!written) {
    ::DeleteFileA(temp.c_str());
    throw EWriteError("Stream write error");
  }
  if (MoveOver(temp, fileName)) return;
  const DWORD error = ::GetLastError();
  if (IsRefusal(error) && MoveInBesideHolders(temp, fileName)) return;
  ::DeleteFileA(temp.c_str());
  if (!IsRefusal(error)) ThrowCreateError(fileName, error);
  RewriteInPlace(fileName, bytes);
}

TFileStream::TFileStream(const std::string& fileName, Mode) {
  const HANDLE h = ::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw EFOpenError("Cannot open file \"" + fileName + "\". " +
                      SystemMessage(::GetLastError()));
  handle_.reset(reinterpret_cast<std::intptr_t>(h));
}

void TFileStream::HandleTraits::Close(type handle) noexcept { ::CloseHandle(AsHandle(handle)); }

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  DWORD n = 0;
  if (!::ReadFile(AsHandle(handle_.get()), buffer, static_cast<DWORD>(count), &n, nullptr))
    throw EStreamError("Stream read error");
  return n;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  DWORD n = 0;
  if (!::WriteFile(AsHandle(handle_.get()), buffer, static_cast<DWORD>(count), &n, nullptr)) return 0;
  return n;
}

}  // namespace kiv
