#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/file_stream.h"

namespace kiv {

namespace {

std::string SystemMessage(int error) { return std::strerror(error); }

}  // namespace

bool FileExists(const std::string& fileName) {
  struct stat st {};
  return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) {
  if (mode == Mode::kOpenReadDenyWrite) {
    handle_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle_ < 0)
      throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemMessage(errno));
  } else {
    handle_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle_ < 0)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemMessage(errno));
  }
}

TFileStream::~TFileStream() { ::close(static_cast<int>(handle_)); }

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, count);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw EStreamError("Stream read error");
  }
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  std::size_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(static_cast<int>(handle_), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace kiv
