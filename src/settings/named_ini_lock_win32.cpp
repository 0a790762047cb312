#include <windows.h>

#include "settings/named_ini_lock.h"
#include "platform/unique_handle_win32.h"

namespace kiv {

namespace {

// The shared block of the optex, binding for every process that uses the same name.
struct SharedInfo {
  volatile DWORD SpinCount;    // offset 0: spins before waiting on the event
  volatile LONG LockCount;     // offset 4: number of Enter calls in progress or held
  volatile DWORD ThreadId;     // offset 8: owning thread, 0 when free
  volatile LONG RecurseCount;  // offset 12: re-entries of the owner
};
static_assert(sizeof(SharedInfo) == 16, "optex block is 16 bytes");
static_assert(offsetof(SharedInfo, LockCount) == 4 && offsetof(SharedInfo, ThreadId) == 8 &&
                  offsetof(SharedInfo, RecurseCount) == 12,
              "optex field offsets");

}  // namespace

struct TNamedIniLock::Impl {
  UniqueHandle event;
  UniqueHandle mapping;
  UniqueView view;
  SharedInfo* shared = nullptr;
};

TNamedIniLock::TNamedIniLock(const std::string& name, unsigned spinCount)
    : impl_(std::make_unique<Impl>()) {
  impl_->event.reset(::CreateEventA(nullptr, FALSE, FALSE, ("Optex_Event_" + name).c_str()));
  if (!impl_->event) throw ENamedLockError("Cannot create the event of lock " + name);
  impl_->mapping.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(SharedInfo), ("Optex_MMF_" + name).c_str()));
  if (!impl_->mapping) throw ENamedLockError("Cannot create the shared memory of lock " + name);
  impl_->view.reset(::MapViewOfFile(impl_->mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!impl_->view) throw ENamedLockError("Cannot map the shared memory of lock " + name);
  impl_->shared = static_cast<SharedInfo*>(impl_->view.get());
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  impl_->shared->SpinCount = info.dwNumberOfProcessors > 1 ? spinCount : 0;
}

TNamedIniLock::~TNamedIniLock() = default;

namespace {

// Waiters sleep on the event in slices of this length and look at the owner in between.
constexpr DWORD kWaitSliceMs = 50;

LONG AsLong(DWORD id) { return static_cast<LONG>(id); }

// Swaps ThreadId from `expected` to `self`. Whoever makes that swap owns the lock, so a stale
// wake-up or two waiters taking over at once never yield two owners.
bool SwapOwner(SharedInfo& s, DWORD expected, DWORD self) {
  return ::InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&s.ThreadId),
                                      AsLong(self), AsLong(expected)) == AsLong(expected);
}

// Takes a free lock (ThreadId 0) for its first entry.
bool ClaimFree(SharedInfo& s, DWORD self) {
  if (!SwapOwner(s, 0, self)) return false;
  s.RecurseCount = 1;
  return true;
}

// Whether thread `id` has ended. A thread that cannot be opened for another reason (access)
// counts as alive.
bool ThreadHasEnded(DWORD id) {
  UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, id));
  if (!thread) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

// The uncontended path: free (no Enter in progress) or already ours.
bool EnterFast(SharedInfo& s, DWORD self) {
  if (::InterlockedCompareExchange(&s.LockCount, 1, 0) == 0) {
    if (ClaimFree(s, self)) return true;
    ::InterlockedDecrement(&s.LockCount);  // a taker of a dead lock got in between
    return false;
  }
  if (s.ThreadId == self) {  // only the owner can see its own id here
    ::InterlockedIncrement(&s.LockCount);
    s.RecurseCount = s.RecurseCount + 1;
    return true;
  }
  return false;
}

}  // namespace

bool TNamedIniLock::Enter(unsigned timeoutMs) {
  SharedInfo& s = *impl_->shared;
  const DWORD self = ::GetCurrentThreadId();
  if (EnterFast(s, self)) return true;
  for (DWORD spin = timeoutMs == 0 ? 0 : s.SpinCount; spin > 0; --spin) {
    YieldProcessor();
    if (EnterFast(s, self)) return true;
  }
  // Count ourselves in; the owner's Leave then wakes one waiter through the event.
  if (::InterlockedIncrement(&s.LockCount) == 1 && ClaimFree(s, self)) return true;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  bool sawFree = false;
  for (;;) {
    const DWORD owner = s.ThreadId;
    if (owner == 0) {
      // No owner over a whole slice without a wake-up: an owner died inside Leave, or a
      // waiter gave up after being woken. A regular hand-over takes far less than a slice.
      if (sawFree && ClaimFree(s, self)) return true;
      sawFree = true;
    } else {
      sawFree = false;
      if (ThreadHasEnded(owner)) {
        const LONG held = s.RecurseCount;  // the dead owner's entries, counted in LockCount
        if (SwapOwner(s, owner, self)) {
          ::InterlockedExchangeAdd(&s.LockCount, -(held > 1 ? held : 1));
          s.RecurseCount = 1;
          return true;
        }
      }
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      ::InterlockedDecrement(&s.LockCount);  // a wake-up meant for us now finds nobody: harmless
      return false;
    }
    const DWORD slice = static_cast<DWORD>(deadline - now < kWaitSliceMs ? deadline - now
                                                                          : kWaitSliceMs);
    if (::WaitForSingleObject(impl_->event.get(), slice) == WAIT_OBJECT_0 &&
        ClaimFree(s, self))
      return true;  // the leaving owner handed over
  }
}

void TNamedIniLock::Leave() {
  SharedInfo& s = *impl_->shared;
  if (s.ThreadId != ::GetCurrentThreadId() || s.RecurseCount <= 0) return;
  s.RecurseCount = s.RecurseCount - 1;
  if (s.RecurseCount > 0) {
    ::InterlockedDecrement(&s.LockCount);
  } else {
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&s.ThreadId), 0);
    if (::InterlockedDecrement(&s.LockCount) > 0) ::SetEvent(impl_->event.get());
  }
}

}  // namespace kiv
