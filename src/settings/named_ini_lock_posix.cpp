#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>

#include "settings/named_ini_lock.h"

namespace kiv {

namespace {

// One state per name and process: a re-entrant mutex for the threads, and an advisory lock
// on a file in the temporary folder, held while any thread of this process owns the lock.
struct NamedState {
  std::recursive_mutex mutex;
  int fd = -1;
  int depth = 0;  // guarded by mutex
  ~NamedState() {
    if (fd >= 0) ::close(fd);
  }
};

std::shared_ptr<NamedState> StateFor(const std::string& name) {
  static std::mutex registryMutex;
  static std::map<std::string, std::weak_ptr<NamedState>> registry;
  std::lock_guard<std::mutex> guard(registryMutex);
  std::shared_ptr<NamedState> state = registry[name].lock();
  if (!state) {
    state = std::make_shared<NamedState>();
    std::error_code ec;
    const auto file = std::filesystem::temp_directory_path(ec) / ("Optex_" + name + ".lock");
    state->fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    registry[name] = state;
  }
  return state;
}

}  // namespace

struct TNamedIniLock::Impl {
  std::shared_ptr<NamedState> state;
};

TNamedIniLock::TNamedIniLock(const std::string& name, unsigned) : impl_(std::make_unique<Impl>()) {
  impl_->state = StateFor(name);
}

TNamedIniLock::~TNamedIniLock() = default;

void TNamedIniLock::Enter() {
  NamedState& s = *impl_->state;
  s.mutex.lock();
  if (s.depth++ == 0 && s.fd >= 0) {
    while (::flock(s.fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

bool TNamedIniLock::TryEnter() {
  NamedState& s = *impl_->state;
  if (!s.mutex.try_lock()) return false;
  if (s.depth == 0 && s.fd >= 0 && ::flock(s.fd, LOCK_EX | LOCK_NB) != 0) {
    s.mutex.unlock();
    return false;
  }
  ++s.depth;
  return true;
}

void TNamedIniLock::Leave() {
  NamedState& s = *impl_->state;
  if (!s.mutex.try_lock()) return;  // another thread owns it: not ours to release
  if (s.depth == 0) {
    s.mutex.unlock();
    return;
  }
  if (--s.depth == 0 && s.fd >= 0) ::flock(s.fd, LOCK_UN);
  s.mutex.unlock();  // the try_lock above
  s.mutex.unlock();  // the Enter being released
}

}  // namespace kiv
