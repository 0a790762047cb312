// Owning reference to a COM-style interface of the SDK (anything with AddRef and Release).
//
// Copying adds a reference, destruction and reset() release the held one. Like any value it
// may be used by one thread at a time; the interface's own counting is atomic.
#pragma once

#include <utility>

namespace kiv {

template <class T>
class IntfPtr {
 public:
  IntfPtr() = default;
  // Takes a new reference to `p` (null allowed).
  explicit IntfPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  // Adopts a reference the caller already holds, e.g. an interface output.
  static IntfPtr Attach(T* p) {
    IntfPtr r;
    r.p_ = p;
    return r;
  }
  IntfPtr(const IntfPtr& other) : IntfPtr(other.p_) {}
  IntfPtr(IntfPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  IntfPtr& operator=(IntfPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~IntfPtr() { reset(); }

  void reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Releases the held reference and returns the address for an out argument to fill.
  T** put() noexcept {
    reset();
    return &p_;
  }
  // Gives the reference to the caller.
  [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace kiv
