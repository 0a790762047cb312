// Local guards for calls into code we do not own (an interface of the host's, a host callback):
// a structured exception raised there ends the call at the guard, so that every frame of ours
// above it unwinds normally and releases what it holds.
//
// Any thread. The guarded callable makes the one foreign call and stores its result in state it
// captures by reference; it owns nothing with a destructor (a contained fault abandons its frame).
#pragma once

#include <cstdint>

#include "platform/seh_guard.h"

namespace kiv {

// Result of an interface method whose call faulted: E_UNEXPECTED, as any failure raised inside.
inline constexpr int32_t kForeignCallFailed = static_cast<int32_t>(0x8000FFFF);

// Calls fn() under the guard; false when it raised a structured exception (described in
// *fault when given). Natively fn() is simply called.
template <class Fn>
bool CallForeign(Fn& fn, SehException* fault = nullptr) {
  return CallSehGuarded(+[](void* context) { (*static_cast<Fn*>(context))(); }, &fn, fault);
}

// One interface method call, fn() returning its HRESULT, under the guard: kForeignCallFailed
// when it faults.
template <class Fn>
int32_t ForeignHResult(Fn&& fn) {
  int32_t result = kForeignCallFailed;
  auto call = [&] { result = static_cast<int32_t>(fn()); };
  if (!CallForeign(call)) return kForeignCallFailed;
  return result;
}

// One plain method call, fn() returning its value, under the guard: `failed` when it faults.
template <class R, class Fn>
R ForeignValue(R failed, Fn&& fn) {
  R result = failed;
  auto call = [&] { result = fn(); };
  if (!CallForeign(call)) return failed;
  return result;
}

// One plain method call without a result under the guard; false when it faults.
template <class Fn>
bool ForeignDo(Fn&& fn) {
  auto call = [&] { fn(); };
  return CallForeign(call);
}

// Releases a reference of another module's interface under the guard (a fault is dropped).
template <class Intf>
void ReleaseForeign(Intf* intf) noexcept {
  if (!intf) return;
  auto call = [intf] { intf->Release(); };
  CallForeign(call);
}

// Owns one counted reference of another module's interface; releases it through the guard.
template <class Intf>
class [[nodiscard]] ForeignRef {
 public:
  explicit ForeignRef(Intf* intf) noexcept : intf_(intf) {}
  ~ForeignRef() { ReleaseForeign(intf_); }
  ForeignRef(const ForeignRef&) = delete;
  ForeignRef& operator=(const ForeignRef&) = delete;
  Intf* get() const noexcept { return intf_; }

 private:
  Intf* intf_;
};

}  // namespace kiv
