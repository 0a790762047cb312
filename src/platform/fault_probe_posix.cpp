#include "platform/fault_probe_posix.h"

#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace kiv {
namespace {

// The probe of this thread that is under way, if any: where its fault returns to.
thread_local sigjmp_buf* t_probe = nullptr;

struct sigaction g_previous_segv;
struct sigaction g_previous_bus;

// Hands a fault outside a probe to the handler that was installed before ours.
void Chain(int sig, siginfo_t* info, void* context) {
  const struct sigaction& previous = sig == SIGSEGV ? g_previous_segv : g_previous_bus;
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) return previous.sa_sigaction(sig, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    return previous.sa_handler(sig);
  }
  // The default action: restored, it takes effect when the faulting instruction runs again (a
  // signal sent by someone is raised again, since nothing repeats it).
  signal(sig, SIG_DFL);
  if (info && info->si_code <= 0) raise(sig);
}

void OnFault(int sig, siginfo_t* info, void* context) {
  if (sigjmp_buf* probe = t_probe) siglongjmp(*probe, 1);
  Chain(sig, info, context);
}

// Installs the handler once. SA_NODEFER keeps the signal unblocked in the handler, so that
// leaving it by siglongjmp needs no saved signal mask (sigsetjmp without one is a few
// instructions instead of a system call).
bool Install() noexcept {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_sigaction = &OnFault;
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGSEGV, &action, &g_previous_segv) == 0 &&
           sigaction(SIGBUS, &action, &g_previous_bus) == 0;
  }();
  return installed;
}

uintptr_t PageSize() noexcept {
  static const uintptr_t size = [] {
    const long s = sysconf(_SC_PAGESIZE);
    return s > 0 ? static_cast<uintptr_t>(s) : uintptr_t{4096};
  }();
  return size;
}

bool RangeValid(const void* address, size_t size) noexcept {
  const auto begin = reinterpret_cast<uintptr_t>(address);
  return address && begin + size >= begin;
}

// Runs read() with faults ending it: true when it completed. `read` holds nothing with a
// destructor (a fault abandons it).
template <class Read>
bool Guarded(Read&& read) noexcept {
  if (!Install()) return false;
  sigjmp_buf probe;
  sigjmp_buf* const outer = t_probe;
  if (sigsetjmp(probe, 0) != 0) {
    t_probe = outer;
    return false;
  }
  t_probe = &probe;
  std::atomic_signal_fence(std::memory_order_seq_cst);  // the reads stay inside the probe
  read();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_probe = outer;
  return true;
}

}  // namespace

bool FaultGuardedCopy(void* target, const void* source, size_t size) noexcept {
  if (size == 0) return true;
  if (!RangeValid(source, size)) return false;
  return Guarded([&] { std::memcpy(target, source, size); });
}

bool FaultGuardedRun(void (*proc)(void* context), void* context) noexcept {
  return Guarded([&] { proc(context); });
}

bool FaultGuardedTouch(const void* address, size_t size) noexcept {
  if (size == 0) return true;
  if (!RangeValid(address, size)) return false;
  const uintptr_t page = PageSize();
  const auto begin = reinterpret_cast<uintptr_t>(address);
  const uintptr_t last = begin + size - 1;
  return Guarded([&] {
    // One byte of each page: the first of the range, then the start of every later page.
    for (uintptr_t at = begin;;) {
      (void)*reinterpret_cast<const volatile char*>(at);
      const uintptr_t next = (at | (page - 1)) + 1;
      if (next == 0 || next > last) break;
      at = next;
    }
  });
}

}  // namespace kiv
