// The structured-exception guard around calls into code we do not own.
//
// Foreign code (host exports, window procedures of others, the inner plugin) may raise a
// structured exception: an access violation, or its own compiler's exception. C++ in this build
// unwinds with DWARF tables and cannot see those, and one that crossed our frames would skip
// their destructors. CallSehGuarded therefore sits directly around the foreign call and contains
// such an exception there, before any frame of ours unwinds. Any thread; guards nest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// Size of the processor state copied at the fault: the 32-bit Windows CONTEXT record.
inline constexpr std::size_t kSehContextSize = 716;
// Most code addresses of the call stack kept at the fault.
inline constexpr std::size_t kSehStackDepth = 48;

// A structured exception contained by the guard: its record and the processor state at the fault.
struct SehException {
  uint32_t Code = 0;             // exception code, for example 0xC0000005 (access violation)
  uint32_t Flags = 0;            // exception flags (1 = not continuable)
  uintptr_t Address = 0;         // address of the faulting instruction
  uint32_t ParameterCount = 0;   // valid entries of Parameters
  uintptr_t Parameters[15] = {}; // for an access violation: [0] 0 read, 1 write, 8 execute; [1] target
  // Registers of the faulting thread at the fault, the start of a call-stack walk.
  uintptr_t InstructionPointer = 0;
  uintptr_t StackPointer = 0;
  uintptr_t FramePointer = 0;
  bool HasContext = false;  // whether Context holds the full processor state
  // The two large arrays are left uninitialised: a guard sits on every call into foreign code,
  // and clearing a kilobyte each time would cost more than the call. They are written when an
  // exception is recorded, and read only as far as HasContext and StackDepth say.
  alignas(16) unsigned char Context[kSehContextSize];
  // The call stack at the fault, taken before anything reuses its memory: the faulting
  // instruction, then the return addresses along the frame-pointer chain.
  uint32_t StackDepth = 0;
  uintptr_t Stack[kSehStackDepth];
};

// The guarded function: foreign code, or a small trampoline of ours that only unpacks `context`
// and makes the foreign call. It must hold nothing with a destructor and take no lock, since a
// contained exception abandons its frame without unwinding it.
using SehGuardedProc = void (*)(void* context);

// Calls proc(context). Returns true when it returned normally. Returns false when a structured
// exception was raised inside it: the frames of foreign code between the fault and the guard get
// their termination handlers run (the system unwind), the exception is described in *exception
// (when not null) and the call ends at the guard. A C++ exception of ours thrown inside proc is not
// the guard's business: it leaves the guard (whose registration is removed first) and propagates
// to the caller as usual. Natively there are no structured exceptions: proc is just called.
bool CallSehGuarded(SehGuardedProc proc, void* context, SehException* exception = nullptr);

// Writes the return addresses along the frame-pointer chain that starts at `frame_pointer` (each
// frame: the caller's frame pointer, then the return address) to `out`, at most `max`, and returns
// their number. Every frame is checked for readability before it is read and the chain must climb,
// so a corrupt or foreign chain ends the walk instead of faulting. Natively 0: we rely on no frame
// layout there.
std::size_t WalkFrameChain(uintptr_t frame_pointer, uintptr_t* out, std::size_t max) noexcept;

// Short name of a well-known exception code ("access violation"); empty for other codes.
const char* SehExceptionName(uint32_t code) noexcept;

}  // namespace kiv
