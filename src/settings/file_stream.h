// File streams behind a small seam: the Win32 build opens files with CreateFileA (reading with
// deny-write sharing), the native build with POSIX calls. A TFileStream is used by one thread.
#pragma once

#include <cstdint>
#include <string>

#include "settings/stream.h"

namespace kiv {

// 'Cannot open file "<name>". <system message>'
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// 'Cannot create file "<name>". <system message>'
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Whether `fileName` names an existing file (not a folder).
bool FileExists(const std::string& fileName);

class TFileStream : public TStream {
 public:
  enum class Mode {
    kOpenReadDenyWrite,  // existing file, read access; others may read but not write meanwhile
    kCreate,             // create or truncate, write access, no sharing
  };
  // Opens the file; throws EFOpenError or EFCreateError on failure.
  TFileStream(const std::string& fileName, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;

 private:
  std::intptr_t handle_;  // HANDLE on Windows, file descriptor elsewhere
};

}  // namespace kiv
