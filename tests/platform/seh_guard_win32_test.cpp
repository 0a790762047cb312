// The structured-exception guard under the real dispatcher: faults and foreign exceptions raised in
// a DLL are contained at the guard with their record, nested guards and threads stay independent,
// a caller's lock guard is released normally after a contained fault, and stack overflows are
// contained wherever in a page they are raised, again and again on one thread.
#include "platform/seh_guard.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/stack_guard.h"
#include "platform/win32_test_files.h"

namespace kiv {
namespace {

const volatile int* const kUnmapped = reinterpret_cast<const volatile int*>(uintptr_t{16});

void* ChainHead() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

// The foreign DLL's exports.
struct Foreign {
  HMODULE Module = LoadLibraryA((test::ExeFolder() + "kiv_foreign.dll").c_str());
  int(WINAPI* Read)(const volatile int*) = reinterpret_cast<decltype(Read)>(Proc("ForeignRead"));
  void(WINAPI* Raise)(DWORD, ULONG_PTR) = reinterpret_cast<decltype(Raise)>(Proc("ForeignRaise"));
  void(WINAPI* CallBack)(void (*)(void*), void*) =
      reinterpret_cast<decltype(CallBack)>(Proc("ForeignCallBack"));
  int(WINAPI* UnwindProbe)(const volatile int*, volatile int*) =
      reinterpret_cast<decltype(UnwindProbe)>(Proc("ForeignUnwindProbe"));
  int(WINAPI* Overflow)(unsigned) = reinterpret_cast<decltype(Overflow)>(Proc("ForeignOverflow"));

  void* Proc(const char* name) const {
    return Module ? reinterpret_cast<void*>(GetProcAddress(Module, name)) : nullptr;
  }
};

const Foreign& Dll() {
  static const Foreign foreign;
  return foreign;
}

// Trampolines: unpack the context and make the foreign call, nothing else.
struct ReadCall {
  const volatile int* Address;
  int Result = 0;
};
void CallRead(void* c) {
  auto* call = static_cast<ReadCall*>(c);
  call->Result = Dll().Read(call->Address);
}

struct RaiseCall {
  DWORD Code;
  ULONG_PTR Parameter;
};
void CallRaise(void* c) {
  auto* call = static_cast<RaiseCall*>(c);
  Dll().Raise(call->Code, call->Parameter);
}

HMODULE ModuleOf(uintptr_t address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const char*>(address), &module);
  return module;
}

class SehGuardWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dll().Read && Dll().Raise && Dll().CallBack && Dll().UnwindProbe && Dll().Overflow);
  }
};

TEST_F(SehGuardWin32, AccessViolationInForeignCodeIsContainedWithItsRecordAndContext) {
  void* const head = ChainHead();
  ReadCall call{kUnmapped};
  SehException e;
  EXPECT_FALSE(CallSehGuarded(&CallRead, &call, &e));
  EXPECT_EQ(ChainHead(), head);
  EXPECT_EQ(e.Code, 0xC0000005u);
  EXPECT_EQ(ModuleOf(e.Address), Dll().Module);
  ASSERT_GE(e.ParameterCount, 2u);
  EXPECT_EQ(e.Parameters[0], 0u);  // a read
  EXPECT_EQ(e.Parameters[1], 16u);
  ASSERT_TRUE(e.HasContext);
  EXPECT_EQ(e.InstructionPointer, e.Address);
  CONTEXT context;
  std::memcpy(&context, e.Context, sizeof context);
  EXPECT_EQ(context.Eip, e.Address);
  EXPECT_NE(e.StackPointer, 0u);

  // A good address completes, with the foreign result.
  int value = 42;
  ReadCall good{&value};
  EXPECT_TRUE(CallSehGuarded(&CallRead, &good, &e));
  EXPECT_EQ(good.Result, 42);
  EXPECT_EQ(ChainHead(), head);
}

TEST_F(SehGuardWin32, ForeignRaisedExceptionIsContainedWithItsParameters) {
  RaiseCall call{0xE0424242, 77};
  SehException e;
  EXPECT_FALSE(CallSehGuarded(&CallRaise, &call, &e));
  EXPECT_EQ(e.Code, 0xE0424242u);
  ASSERT_EQ(e.ParameterCount, 2u);
  EXPECT_EQ(e.Parameters[0], 1u);
  EXPECT_EQ(e.Parameters[1], 77u);
  // Without an exception record to fill, containment still works.
  EXPECT_FALSE(CallSehGuarded(&CallRaise, &call));
}

TEST_F(SehGuardWin32, ForeignTerminationHandlersRunDuringContainment) {
  struct Probe {
    volatile int Unwound = 0;
  } probe;
  EXPECT_FALSE(CallSehGuarded(
      [](void* c) {
        auto* p = static_cast<Probe*>(c);
        Dll().UnwindProbe(kUnmapped, &p->Unwound);
      },
      &probe));
  EXPECT_EQ(probe.Unwound, 1);
}

// Our C++ exceptions do not use the dispatcher; they leave the guard as usual, and the guard's
// registration does not stay behind on the chain.
TEST_F(SehGuardWin32, CxxExceptionOfOursPropagatesAndLeavesTheChainIntact) {
  void* const head = ChainHead();
  EXPECT_THROW(CallSehGuarded([](void*) { throw std::runtime_error("ours"); }, nullptr),
               std::runtime_error);
  EXPECT_EQ(ChainHead(), head);
  ReadCall call{kUnmapped};
  EXPECT_FALSE(CallSehGuarded(&CallRead, &call));
}

TEST_F(SehGuardWin32, NestedGuardsContainAtTheInnermostAcrossForeignFrames) {
  struct Outer {
    bool InnerResult = true;
    SehException Inner;
    bool ReachedAfterInner = false;
  } outer;
  // Outer guard -> foreign DLL -> our callback -> inner guard -> fault in the DLL.
  const bool outer_result = CallSehGuarded(
      [](void* c) {
        Dll().CallBack(
            [](void* c2) {
              auto* o = static_cast<Outer*>(c2);
              ReadCall call{kUnmapped};
              o->InnerResult = CallSehGuarded(&CallRead, &call, &o->Inner);
              o->ReachedAfterInner = true;
            },
            c);
      },
      &outer);
  EXPECT_TRUE(outer_result);
  EXPECT_FALSE(outer.InnerResult);
  EXPECT_EQ(outer.Inner.Code, 0xC0000005u);
  EXPECT_TRUE(outer.ReachedAfterInner);

  // A fault after a completed inner guard goes to the outer one.
  SehException e;
  EXPECT_FALSE(CallSehGuarded(
      [](void*) {
        int value = 1;
        ReadCall good{&value};
        CallSehGuarded(&CallRead, &good);
        RaiseCall call{0xE0000001, 0};
        CallRaise(&call);
      },
      nullptr, &e));
  EXPECT_EQ(e.Code, 0xE0000001u);
}

TEST_F(SehGuardWin32, FaultUnderOurLockGuardFailsCleanlyAndTheLockIsReleasedAfterwards) {
  std::mutex mutex;
  bool result = true;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ReadCall call{kUnmapped};
    result = CallSehGuarded(&CallRead, &call);
  }
  EXPECT_FALSE(result);
  bool taken_elsewhere = false;
  std::thread([&] {
    taken_elsewhere = mutex.try_lock();
    if (taken_elsewhere) mutex.unlock();
  }).join();
  EXPECT_TRUE(taken_elsewhere);
}

TEST_F(SehGuardWin32, ManyContainmentsOnTwoThreadsStayIndependent) {
  constexpr int kIterations = 500;
  std::atomic<int> failures{0};
  auto work = [&](ULONG_PTR tag) {
    void* const head = ChainHead();
    for (int i = 0; i < kIterations; ++i) {
      SehException e;
      ReadCall bad{kUnmapped};
      if (CallSehGuarded(&CallRead, &bad, &e) || e.Code != 0xC0000005u) ++failures;
      RaiseCall raise{0xE0000002, tag + i};
      if (CallSehGuarded(&CallRaise, &raise, &e) || e.Parameters[1] != tag + i) ++failures;
      int value = i;
      ReadCall good{&value};
      if (!CallSehGuarded(&CallRead, &good, &e) || good.Result != i) ++failures;
      if (ChainHead() != head) ++failures;
    }
  };
  std::thread a(work, 1000), b(work, 100000);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(WalkFrameChain, FollowsClimbingReadableFramesAndStopsOtherwise) {
  // Three frames laid out as the chain would be: each points at its caller's, higher up.
  uintptr_t frames[6] = {};
  frames[0] = reinterpret_cast<uintptr_t>(&frames[2]);
  frames[1] = 0x401001;
  frames[2] = reinterpret_cast<uintptr_t>(&frames[4]);
  frames[3] = 0x401002;
  frames[4] = 16;  // unreadable: the walk ends after this frame's return address
  frames[5] = 0x401003;
  uintptr_t out[8] = {};
  ASSERT_EQ(WalkFrameChain(reinterpret_cast<uintptr_t>(&frames[0]), out, 8), 3u);
  EXPECT_EQ(out[0], 0x401001u);
  EXPECT_EQ(out[2], 0x401003u);
  EXPECT_EQ(WalkFrameChain(reinterpret_cast<uintptr_t>(&frames[0]), out, 2), 2u);  // the limit

  frames[2] = reinterpret_cast<uintptr_t>(&frames[0]);  // descends: a loop
  EXPECT_EQ(WalkFrameChain(reinterpret_cast<uintptr_t>(&frames[0]), out, 8), 2u);
  EXPECT_EQ(WalkFrameChain(16, out, 8), 0u);
  EXPECT_EQ(WalkFrameChain(reinterpret_cast<uintptr_t>(&frames[0]) + 1, out, 8), 0u);  // misaligned
}

TEST_F(SehGuardWin32, StackAtTheFaultIsKeptBeforeItsMemoryIsReused) {
  ReadCall call{kUnmapped};
  SehException e;
  ASSERT_FALSE(CallSehGuarded(&CallRead, &call, &e));
  // The faulting export, then at least the trampoline's return into this executable.
  ASSERT_GE(e.StackDepth, 2u);
  EXPECT_EQ(e.Stack[0], e.Address);
  EXPECT_EQ(ModuleOf(e.Stack[0]), Dll().Module);
  EXPECT_EQ(ModuleOf(e.Stack[1]), GetModuleHandleA(nullptr));
}

// ---- Stack overflow ----------------------------------------------------------------------------

void CallOverflow(void* shift) { Dll().Overflow(*static_cast<unsigned*>(shift)); }

// Overflows the calling thread's stack at eight positions across a page, each twice in a row; the
// number of overflows that were not contained as such, or left the chain or the stack's guard
// page behind.
int OverflowAtShiftedPositions() {
  void* const head = ChainHead();
  int failures = 0;
  for (unsigned shift = 0; shift < 8 * 516; shift += 516) {
    for (int twice = 0; twice < 2; ++twice) {
      SehException e;
      if (CallSehGuarded(&CallOverflow, &shift, &e) || e.Code != 0xC00000FDu) ++failures;
      if (ModuleOf(e.Address) != Dll().Module || e.StackDepth < 3 || ModuleOf(e.Stack[2]) != Dll().Module) ++failures;
      if (ChainHead() != head || !StackGuardPresent()) ++failures;
    }
  }
  return failures;
}

TEST_F(SehGuardWin32, StackOverflowIsContainedAtShiftedPositionsTwiceInARowOnTheMainThread) {
  EXPECT_EQ(OverflowAtShiftedPositions(), 0);
  // The thread goes on with its whole stack: a fault is still contained, a call still completes.
  ReadCall bad{kUnmapped};
  EXPECT_FALSE(CallSehGuarded(&CallRead, &bad));
  int value = 7;
  ReadCall good{&value};
  EXPECT_TRUE(CallSehGuarded(&CallRead, &good));
  EXPECT_EQ(good.Result, 7);
}

TEST_F(SehGuardWin32, StackOverflowIsContainedAtShiftedPositionsTwiceInARowOnAWorker) {
  int failures = -1;  // stays when the thread ends before its round does
  std::thread([&] { failures = OverflowAtShiftedPositions(); }).join();
  EXPECT_EQ(failures, 0);
}

TEST(StackGuard, GuardedCallsGiveTheThreadAnOverflowReserveAndKeepALargerOne) {
  std::thread([] {
    EXPECT_TRUE(CallSehGuarded([](void*) {}, nullptr));
    ULONG size = 0;  // 0: only asks
    ASSERT_TRUE(SetThreadStackGuarantee(&size));
    EXPECT_EQ(size, kStackOverflowReserve);
    size = 64 * 1024;
    ASSERT_TRUE(SetThreadStackGuarantee(&size));
    EXPECT_TRUE(CallSehGuarded([](void*) {}, nullptr));
    size = 0;
    ASSERT_TRUE(SetThreadStackGuarantee(&size));
    EXPECT_EQ(size, 64u * 1024);
    EXPECT_TRUE(StackGuardPresent());
    EXPECT_TRUE(RestoreStackGuard());  // intact: nothing to put back
  }).join();
}

}  // namespace
}  // namespace kiv
