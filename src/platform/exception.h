// The common exception base of the module and the boundary helpers.
//
// Every failure inside the module is an exception derived from kiv::Exception carrying
// a fixed message. Exports and interface methods never let one escape: they wrap their
// body in KIV_BOUNDARY_BEGIN / KIV_BOUNDARY_END(code), which notes any exception
// (caught_exception.h) and turns it into the boundary's status code. Thread-safe: exceptions
// are values.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/caught_exception.h"

namespace kiv {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Assertion-class failure; the message names the unit that raised it.
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

// Index outside the bounds of a list: "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  using Exception::Exception;
  static EListError OutOfBounds(long long index) {
    return EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
};

// Throws EListError for an index outside 0..count-1.
inline void CheckListIndex(int index, int count) {
  if (index < 0 || index >= count) throw EListError::OutOfBounds(index);
}

}  // namespace kiv

// Wraps a boundary function body: any exception is noted under the function's name and becomes
// `code`.
#define KIV_BOUNDARY_BEGIN try {
#define KIV_BOUNDARY_END(code)            \
  }                                       \
  catch (...) {                           \
    ::kiv::NoteCaughtException(__func__); \
    return (code);                        \
  }
