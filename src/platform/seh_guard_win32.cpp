// The guard is built by hand: this toolchain has no __try. Around the call it pushes an exception
// registration record on the thread's chain (FS:[0]); the system dispatcher, Windows' and Wine's
// alike, calls its handler for a structured exception that the foreign code does not handle. The
// handler records the exception, runs the system unwind of the foreign frames above the record and
// resumes at the recovery point that __builtin_setjmp saved in the record. Everything lives in
// the record on the caller's stack, so guards nest and threads do not share anything.
#include "platform/seh_guard.h"

#include "platform/readable_memory.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#if !defined(__i386__)
#error "The structured-exception guard is written for 32-bit x86"
#endif

namespace kiv {
namespace {

static_assert(sizeof(CONTEXT) == kSehContextSize, "CONTEXT of 32-bit Windows");

// Exception flags telling that the handler is called for an unwind, not for a dispatch.
constexpr DWORD kUnwindFlags = 0x2 /* unwinding */ | 0x4 /* exit unwind */;

// One guard's registration. The first two fields are the system's registration record; the
// handler finds the rest through the establisher frame, which is the record's address.
struct GuardFrame {
  GuardFrame* Next;
  void* Handler;
  void* Jump[5];  // __builtin_setjmp buffer: frame pointer, resume address, stack pointer
  SehException* Out;
};

inline void* ChainHead() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

inline void SetChainHead(void* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

void Record(const EXCEPTION_RECORD& record, const CONTEXT* context, SehException& out) {
  out = SehException{};
  out.Code = record.ExceptionCode;
  out.Flags = record.ExceptionFlags;
  out.Address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  out.ParameterCount = std::min<DWORD>(record.NumberParameters, 15);
  for (uint32_t i = 0; i < out.ParameterCount; ++i) out.Parameters[i] = record.ExceptionInformation[i];
  if (context) {
    std::memcpy(out.Context, context, sizeof(CONTEXT));
    out.HasContext = true;
    out.InstructionPointer = context->Eip;
    out.StackPointer = context->Esp;
    out.FramePointer = context->Ebp;
  } else {
    out.InstructionPointer = out.Address;
  }
  // The faulting frames are still intact below the dispatcher: walk them now.
  out.Stack[0] = out.InstructionPointer;
  out.StackDepth = 1 + static_cast<uint32_t>(
                           WalkFrameChain(out.FramePointer, out.Stack + 1, kSehStackDepth - 1));
}

// Touching a guard page clears its guard flag before the exception is raised. The page belongs to
// someone else (another thread's stack end, a buffer's sentinel): it is guarded again, so that
// the read we contained does not change how its owner's memory behaves.
void RearmGuardPage(const EXCEPTION_RECORD& record) {
  void* page = reinterpret_cast<void*>(record.ExceptionInformation[1]);
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(page, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return;
  DWORD old = 0;
  VirtualProtect(page, 1, info.Protect | PAGE_GUARD, &old);
}

// Called by the dispatcher with the stack of the fault still in place below it; it never returns
// for a dispatch. The realigned stack protects the SSE code of ours from the system's 4-byte one.
extern "C" __attribute__((force_align_arg_pointer)) EXCEPTION_DISPOSITION __cdecl KivSehGuardHandler(
    EXCEPTION_RECORD* record, void* establisher, CONTEXT* context, void* /*dispatcher*/) {
  if (record->ExceptionFlags & kUnwindFlags) return ExceptionContinueSearch;
  GuardFrame* frame = static_cast<GuardFrame*>(establisher);
  if (frame->Out) Record(*record, context, *frame->Out);
  if (record->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION && record->NumberParameters >= 2) RearmGuardPage(*record);
  // Runs the termination handlers of the foreign frames between the fault and this record and
  // unlinks them, so that the chain's head is this record again; then it returns here.
  RtlUnwind(establisher, nullptr, record, nullptr);
  __builtin_longjmp(frame->Jump, 1);
}

// The registration around one call. Not inlined: the setjmp receiver must stay in a frame of its
// own, below the caller's C++ exception handling.
__attribute__((noinline)) bool GuardedCall(SehGuardedProc proc, void* context, SehException* out) {
  GuardFrame frame;
  frame.Handler = reinterpret_cast<void*>(&KivSehGuardHandler);
  frame.Out = out;
  frame.Next = static_cast<GuardFrame*>(ChainHead());
  if (__builtin_setjmp(frame.Jump) != 0) {
    // Resumed by the handler: the unwind left this record at the head of the chain.
    SetChainHead(static_cast<GuardFrame* volatile&>(frame.Next));
    return false;
  }
  SetChainHead(&frame);
  proc(context);
  SetChainHead(frame.Next);
  return true;
}

}  // namespace

std::size_t WalkFrameChain(uintptr_t frame_pointer, uintptr_t* out, std::size_t max) noexcept {
  std::size_t count = 0;
  while (count < max && frame_pointer && (frame_pointer & 3) == 0) {
    uintptr_t frame[2];  // caller's frame pointer, return address
    // Runs inside the exception handler too, so the pages are asked about, not read under a guard.
    const void* at = reinterpret_cast<const void*>(frame_pointer);
    if (!IsMappedReadable(at, sizeof frame)) break;
    std::memcpy(frame, at, sizeof frame);
    if (!frame[1]) break;
    out[count++] = frame[1];
    if (frame[0] <= frame_pointer) break;
    frame_pointer = frame[0];
  }
  return count;
}

bool CallSehGuarded(SehGuardedProc proc, void* context, SehException* exception) {
  void* const head = ChainHead();
  try {
    return GuardedCall(proc, context, exception);
  } catch (...) {
    // A C++ exception of ours left the guarded call past the registration: drop it, then pass the
    // exception on.
    SetChainHead(head);
    throw;
  }
}

}  // namespace kiv
