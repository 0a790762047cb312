#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/mutex.h"
#include "settings/named_ini_lock.h"

namespace kiv {

namespace {

using Clock = std::chrono::steady_clock;

// Waiters look at the owner this often: a thread that exits while it holds the lock wakes
// nobody.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// Lives as long as its thread and names it: an owner whose token has expired has exited.
const std::shared_ptr<const char>& ThreadLifeToken() {
  thread_local const auto token = std::make_shared<const char>('\0');
  return token;
}

// One state per name and process: the owning thread with its entry count, and an advisory
// lock on a file in the temporary folder, held while any thread of this process owns the
// lock. The system drops the file lock of a process that dies.
struct NamedState {
  Mutex mutex;
  std::condition_variable released;
  std::weak_ptr<const char> owner GUARDED_BY(mutex);  // the owning thread's life token
  int depth GUARDED_BY(mutex) = 0;                    // 1 while the file lock is sought
  int fd = -1;
  ~NamedState() {
    if (fd >= 0) ::close(fd);
  }

  bool OwnedBy(const std::shared_ptr<const char>& thread) const REQUIRES(mutex) {
    return depth > 0 && owner.lock() == thread;
  }
  bool OwnerIsGone() const REQUIRES(mutex) { return depth > 0 && owner.expired(); }

  // Takes the file lock before `deadline`; true at once without a file.
  bool LockFile(Clock::time_point deadline) const {
    if (fd < 0) return true;
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno != EWOULDBLOCK && errno != EINTR) return false;
      const auto now = Clock::now();
      if (now >= deadline) return false;
      std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kWaitSlice));
    }
  }
};

std::shared_ptr<NamedState> StateFor(const std::string& name) {
  static Mutex registryMutex;
  static std::map<std::string, std::weak_ptr<NamedState>> registry;
  LockGuard<Mutex> guard(registryMutex);
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

bool TNamedIniLock::Enter(unsigned timeoutMs) {
  NamedState& s = *impl_->state;
  const auto& self = ThreadLifeToken();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  UniqueLock lock(s.mutex);
  if (s.OwnedBy(self)) {
    ++s.depth;
    return true;
  }
  while (s.depth > 0 && !s.OwnerIsGone()) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    s.released.wait_for(lock.ForWait(), std::min<Clock::duration>(deadline - now, kWaitSlice));
  }
  // A thread of this process that exited while holding the lock leaves the file lock held.
  const bool fileHeld = s.depth > 0;
  s.owner = self;
  s.depth = 1;
  if (fileHeld) return true;
  lock.Unlock();  // other threads of this process wait for us meanwhile
  if (s.LockFile(deadline)) return true;
  lock.Lock();
  s.depth = 0;
  s.owner.reset();
  s.released.notify_one();
  return false;
}

void TNamedIniLock::Leave() {
  NamedState& s = *impl_->state;
  LockGuard<Mutex> lock(s.mutex);
  if (!s.OwnedBy(ThreadLifeToken())) return;
  if (--s.depth > 0) return;
  if (s.fd >= 0) ::flock(s.fd, LOCK_UN);
  s.owner.reset();
  s.released.notify_one();
}

}  // namespace kiv
