// Test DLL standing for foreign code: functions that fault, raise structured exceptions, call back
// into the caller, and keep an exception registration of their own whose unwind can be observed.
#include <windows.h>

#include "kiv/kiv_defs.h"

// Reads the integer at `address`; a bad address faults here, inside this DLL.
KIV_EXTERN_C int KIV_STDCALL ForeignRead(const volatile int* address) { return *address; }

// Raises a structured exception with `code` and the parameters 1 and `parameter`.
KIV_EXTERN_C void KIV_STDCALL ForeignRaise(DWORD code, ULONG_PTR parameter) {
  const ULONG_PTR parameters[2] = {1, parameter};
  RaiseException(code, 0, 2, parameters);
}

// Calls back `proc(context)` with this DLL's frame between the caller and the callback.
KIV_EXTERN_C void KIV_STDCALL ForeignCallBack(void (*proc)(void*), void* context) { proc(context); }

namespace {

struct ProbeFrame {
  ProbeFrame* Next;
  void* Handler;
  volatile int* Unwound;
};

// Handles nothing; notes when an unwind passes its frame, as a termination handler would.
extern "C" EXCEPTION_DISPOSITION __cdecl ProbeHandler(EXCEPTION_RECORD* record, void* establisher,
                                                      CONTEXT*, void*) {
  if (record->ExceptionFlags & 0x6) *static_cast<ProbeFrame*>(establisher)->Unwound = 1;
  return ExceptionContinueSearch;
}

}  // namespace

// Reads `address` inside a registration of its own; *unwound becomes 1 when an unwind passes it.
KIV_EXTERN_C int KIV_STDCALL ForeignUnwindProbe(const volatile int* address, volatile int* unwound) {
  ProbeFrame frame;
  frame.Handler = reinterpret_cast<void*>(&ProbeHandler);
  frame.Unwound = unwound;
  asm volatile("movl %%fs:0, %0" : "=r"(frame.Next));
  asm volatile("movl %0, %%fs:0" : : "r"(&frame) : "memory");
  const int value = *address;
  asm volatile("movl %0, %%fs:0" : : "r"(frame.Next) : "memory");
  return value;
}

namespace {

volatile int g_deeper = 1;

// Recurses until the stack overflows: each frame is written from its low end, as a growing
// stack is touched, and the result is used after the call so that it stays a real recursion.
__attribute__((noinline)) int Recurse(volatile char* caller) {
  volatile char frame[1000];
  frame[0] = caller[0];
  frame[sizeof frame - 1] = 1;
  return g_deeper ? Recurse(frame) + frame[sizeof frame - 1] : frame[0];
}

}  // namespace

// Overflows the stack after `shift` bytes of its own, so that callers can move where in a page
// the overflow is raised.
KIV_EXTERN_C int KIV_STDCALL ForeignOverflow(unsigned shift) {
  volatile char* pad = static_cast<volatile char*>(__builtin_alloca(shift + 1));
  pad[0] = 0;
  return Recurse(pad);
}
