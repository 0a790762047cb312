// Byte streams: the abstract stream the INI file reads from and writes to, and an in-memory
// stream. A stream object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace kiv {

// Stream failures ("Stream read error", "Stream write error", file open and create errors).
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Input/output failure of a reader, e.g. "Stream is nil".
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to `count` bytes into `buffer`; returns the number read, 0 at the end.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes up to `count` bytes; returns the number written.
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Writes all `count` bytes or throws EWriteError.
  void WriteBuffer(const void* buffer, std::size_t count);
};

// A growable in-memory stream with a current position (reads and writes start there).
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes) : bytes_(bytes) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;

  const std::string& Bytes() const { return bytes_; }
  std::size_t Position() const { return position_; }
  // Moves the position; a position past the end is clamped to the end.
  void SetPosition(std::size_t position);

 private:
  std::string bytes_;
  std::size_t position_ = 0;
};

}  // namespace kiv
