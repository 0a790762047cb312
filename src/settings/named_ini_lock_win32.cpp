#include <windows.h>

#include "settings/named_ini_lock.h"
#include "settings/unique_handle_win32.h"

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

bool TNamedIniLock::TryEnter() {
  SharedInfo& s = *impl_->shared;
  const DWORD self = ::GetCurrentThreadId();
  if (::InterlockedCompareExchange(&s.LockCount, 1, 0) == 0) {
    s.ThreadId = self;
    s.RecurseCount = 1;
    return true;
  }
  if (s.ThreadId == self) {  // only the owner can see its own id here
    ::InterlockedIncrement(&s.LockCount);
    s.RecurseCount = s.RecurseCount + 1;
    return true;
  }
  return false;
}

void TNamedIniLock::Enter() {
  SharedInfo& s = *impl_->shared;
  for (DWORD spin = s.SpinCount; spin > 0; --spin) {
    if (TryEnter()) return;
    YieldProcessor();
  }
  const DWORD self = ::GetCurrentThreadId();
  if (::InterlockedIncrement(&s.LockCount) == 1) {
    s.ThreadId = self;
    s.RecurseCount = 1;
  } else if (s.ThreadId == self) {
    s.RecurseCount = s.RecurseCount + 1;
  } else {
    ::WaitForSingleObject(impl_->event.get(), INFINITE);  // the leaving owner hands over
    s.ThreadId = self;
    s.RecurseCount = 1;
  }
}

void TNamedIniLock::Leave() {
  SharedInfo& s = *impl_->shared;
  if (s.ThreadId != ::GetCurrentThreadId() || s.RecurseCount <= 0) return;
  s.RecurseCount = s.RecurseCount - 1;
  if (s.RecurseCount > 0) {
    ::InterlockedDecrement(&s.LockCount);
  } else {
    s.ThreadId = 0;
    if (::InterlockedDecrement(&s.LockCount) > 0) ::SetEvent(impl_->event.get());
  }
}

}  // namespace kiv
