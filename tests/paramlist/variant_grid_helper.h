// One grid of values and target types for the type-change tests: every numeric and date type
// at its limits, rounding halves, NaN and infinities, decimals, and text in the forms the
// system's number parser accepts or refuses.
#pragma once

#include <string>
#include <vector>

#include "paramlist/variant.h"

namespace kiv::testing {

struct GridValue {
  std::string name;  // how the value reads in a failure message, e.g. "R8 2.5"
  Variant value;
};

std::vector<GridValue> GridValues();
// The target types of the grid: 2-6, 11, 16-20 and 8 (text).
std::vector<TVarType> GridTargets();

// A decimal value: sign, scale (0..28), high 32 and low 64 bits of the 96-bit magnitude.
Variant Decimal(bool negative, int scale, uint32_t hi, uint64_t lo);

// A result for messages: "fails", or the type and the value ("I4 -12", "text \"1E+15\"").
std::string Describe(bool ok, const Variant& result);

}  // namespace kiv::testing
