// File streams behind a small seam: the Win32 build opens files with CreateFileA (reading with
// deny-write sharing), the native build with POSIX calls; files are written whole through
// ReplaceFileContents. A TFileStream is used by one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_any.h"
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

// The temporary file `n` of process `pid` beside `fileName`: "<fileName>.~<pid>-<n>.tmp".
std::string TempFileBeside(const std::string& fileName, std::uint32_t pid, std::uint32_t n);
// Whether `entry` (a name without folder) is such a temporary file beside `fileName`; then
// `pid` is the process that made it.
bool IsTempFileBeside(const std::string& fileName, std::string_view entry, std::uint32_t& pid);

// Replaces the contents of `fileName` (creating it when missing) with `bytes`, so that a
// failure or a crash at any point leaves either the old or the new contents whole: the bytes
// go to a temporary file in the same folder, flushed to disk, which then takes the old file's
// place in one step. Temporary files beside it whose process has ended (a save killed half-way)
// are removed first; those of live processes, which may be writing, are left alone. On Windows a file that another program holds open cannot be replaced:
// when every holder shares deletion the old file is renamed aside first (its holders keep
// reading it), and otherwise the file is rewritten in place, its new size reserved before the
// first byte is overwritten. Throws EFCreateError when the file cannot be
// created or replaced (a missing folder, a file held open exclusively) and EWriteError when the
// bytes cannot be written; the old file is then unchanged and no temporary file is left.
void ReplaceFileContents(const std::string& fileName, std::string_view bytes);

class TFileStream : public TStream {
 public:
  enum class Mode {
    kOpenReadDenyWrite,  // existing file, read access; others may read but not write meanwhile
  };
  // Opens the file; throws EFOpenError on failure.
  TFileStream(const std::string& fileName, Mode mode);
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;

 private:
  // The open file: a HANDLE on Windows, a file descriptor elsewhere.
  struct HandleTraits {
    using type = std::intptr_t;
    static type Invalid() noexcept { return -1; }
    static void Close(type handle) noexcept;
  };
  UniqueAny<HandleTraits> handle_;
};

}  // namespace kiv
