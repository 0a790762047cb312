// The guard is built by hand: this toolchain has no __try. Around the call it pushes an exception
// registration record on the thread's chain (FS:[0]); the system dispatcher, Windows' and Wine's
// alike, calls its handler for a structured exception that the foreign code does not handle. The
// handler records the exception, runs the system unwind of the foreign frames above the record and
// resumes at the recovery point that __builtin_setjmp saved in the record. Everything lives in
// the record on the caller's stack, so guards nest and threads do not share anything.
//
// A stack overflow is contained like any other exception, but the handler then runs in the little
// stack that is left: the thread is given an overflow reserve before each guarded call, the
// handler asks the system nothing (the frame walk stays inside the thread's stack), and what needs
// more (the guard page put back, the caller's report) happens after the unwind, at the guard.
#include "platform/seh_guard.h"

#include "platform/readable_memory.h"
#include "platform/stack_guard.h"

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
  DWORD Code;  // the contained exception's code, also when Out is null
};

inline void* ChainHead() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

inline void SetChainHead(void* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

// The return addresses along the frame-pointer chain from `frame_pointer` (each frame: the caller's
// frame pointer, then the return address), at most `max`; a frame is read only when `readable`
// says its two words may be, and the chain must climb.
template <class Readable>
std::size_t WalkFrames(uintptr_t frame_pointer, uintptr_t* out, std::size_t max, Readable readable) {
  std::size_t count = 0;
  while (count < max && frame_pointer && (frame_pointer & 3) == 0) {
    if (!readable(frame_pointer)) break;
    uintptr_t frame[2];  // caller's frame pointer, return address
    std::memcpy(frame, reinterpret_cast<const void*>(frame_pointer), sizeof frame);
    if (!frame[1]) break;
    out[count++] = frame[1];
    if (frame[0] <= frame_pointer) break;
    frame_pointer = frame[0];
  }
  return count;
}

// The thread's stack base (the TEB's StackBase): frames of the faulting thread lie below it.
inline uintptr_t StackBase() {
  uintptr_t base;
  asm volatile("movl %%fs:4, %0" : "=r"(base));
  return base;
}

// Runs inside the handler, maybe in the last few kilobytes of an overflowed stack: no large
// temporaries and no system calls.
void Record(const EXCEPTION_RECORD& record, const CONTEXT* context, SehException& out) {
  out.Code = record.ExceptionCode;
  out.Flags = record.ExceptionFlags;
  out.Address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  out.ParameterCount = std::min<DWORD>(record.NumberParameters, 15);
  for (uint32_t i = 0; i < 15; ++i) out.Parameters[i] = i < out.ParameterCount ? record.ExceptionInformation[i] : 0;
  out.HasContext = context != nullptr;
  if (context) {
    std::memcpy(out.Context, context, sizeof(CONTEXT));
    out.InstructionPointer = context->Eip;
    out.StackPointer = context->Esp;
    out.FramePointer = context->Ebp;
  } else {
    out.InstructionPointer = out.Address;
    out.StackPointer = out.FramePointer = 0;
  }
  // The faulting frames are still intact below the dispatcher: walk them now. A frame of the
  // chain lies between the faulting stack pointer and the stack's base, which are committed.
  const uintptr_t low = out.StackPointer, high = StackBase();
  out.Stack[0] = out.InstructionPointer;
  out.StackDepth = 1 + static_cast<uint32_t>(WalkFrames(
                           out.FramePointer, out.Stack + 1, kSehStackDepth - 1,
                           [low, high](uintptr_t at) { return at >= low && at <= high - 2 * sizeof(uintptr_t); }));
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
  frame->Code = record->ExceptionCode;
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
  frame.Code = 0;
  frame.Next = static_cast<GuardFrame*>(ChainHead());
  if (__builtin_setjmp(frame.Jump) != 0) {
    // Resumed by the handler: the unwind left this record at the head of the chain.
    SetChainHead(static_cast<GuardFrame* volatile&>(frame.Next));
    // An overflow used up the stack's guard page: without it the next one would end the thread.
    if (static_cast<volatile DWORD&>(frame.Code) == STATUS_STACK_OVERFLOW) RestoreStackGuard();
    return false;
  }
  SetChainHead(&frame);
  proc(context);
  SetChainHead(frame.Next);
  return true;
}

}  // namespace

std::size_t WalkFrameChain(uintptr_t frame_pointer, uintptr_t* out, std::size_t max) noexcept {
  // The pages are asked about, not read under a guard.
  return WalkFrames(frame_pointer, out, max, [](uintptr_t at) {
    return IsMappedReadable(reinterpret_cast<const void*>(at), 2 * sizeof(uintptr_t));
  });
}

bool CallSehGuarded(SehGuardedProc proc, void* context, SehException* exception) {
  EnsureStackOverflowReserve();
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
