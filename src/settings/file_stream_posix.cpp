#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "settings/file_stream.h"

namespace kiv {

namespace {

std::string SystemMessage(int error) { return std::strerror(error); }

// Writes all of `bytes`; false (errno set) when the system takes fewer.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ProcessHasEnded(std::uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return true;  // no process has such an id
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Deletes the temporary files beside `fileName` that an ended process left (a save killed
// before it renamed or deleted them). Failures are ignored: the next save tries again.
void RemoveStaleTempFiles(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                &::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::uint32_t pid = 0;
    if (IsTempFileBeside(fileName, entry->d_name, pid) && ProcessHasEnded(pid))
      ::unlink((folder + entry->d_name).c_str());
  }
}

}  // namespace

bool FileExists(const std::string& fileName) {
  struct stat st {};
  return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ReplaceFileContents(const std::string& fileName, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  RemoveStaleTempFiles(fileName);
  const std::string temp =
      TempFileBeside(fileName, static_cast<std::uint32_t>(::getpid()), counter++);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemMessage(errno));
  struct stat old {};
  if (::stat(fileName.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);  // keep its mode
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(temp.c_str());
    throw EWriteError("Stream write error");
  }
  if (::rename(temp.c_str(), fileName.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemMessage(error));
  }
}

TFileStream::TFileStream(const std::string& fileName, Mode) {
  handle_.reset(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (!handle_)
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemMessage(errno));
}

void TFileStream::HandleTraits::Close(type handle) noexcept { ::close(static_cast<int>(handle)); }

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_.get()), buffer, count);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw EStreamError("Stream read error");
  }
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  std::size_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(static_cast<int>(handle_.get()), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace kiv
