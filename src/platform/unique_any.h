// An owning wrapper of one resource value, in the manner of WIL's unique_any: reset() and
// move-assignment release the old value, destruction releases the held one.
//
// `Traits` names the value type and how to release it:
//   struct Traits {
//     using type = ...;                        // the value (a handle, a pointer, an id)
//     static type Invalid() noexcept;          // the value that owns nothing
//     static void Close(type value) noexcept;  // releases a valid value
//   };
// A wrapper is used by one thread at a time.
#pragma once

#include <utility>

namespace kiv {

template <typename Traits>
class UniqueAny {
 public:
  using type = typename Traits::type;

  UniqueAny() noexcept = default;
  explicit UniqueAny(type value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }
  // Releases the held value and takes `value`; taking the held value again keeps it.
  void reset(type value = Traits::Invalid()) noexcept {
    type old = std::exchange(value_, value);
    if (old != Traits::Invalid() && old != value) Traits::Close(old);
  }
  // Gives up ownership without releasing.
  [[nodiscard]] type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // Address for out-parameters; releases the held value first.
  type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  type value_ = Traits::Invalid();
};

}  // namespace kiv
