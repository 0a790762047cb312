// Conversions of variant values to the forms the settings component stores: 32-bit integers,
// doubles and 8-bit text (system ANSI code page), through the platform's type change
// (paramlist/variant_change.h). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "paramlist/variant.h"

namespace kiv {

// Whether the value holds text (a wide or 8-bit string, also by reference).
bool VarIsText(const TVarData& value);

// The text of a text value in the ANSI code page; empty for other values.
std::string VarTextAnsi(const TVarData& value);

// The value as a 32-bit integer: numbers round half to even, an unsigned 32-bit value keeps its
// bits, a Boolean gives its stored value, text is read as a number ("$10", "&H10", "1,234",
// "(12)" and " 12 " too). Throws EVariantError when it is out of range or not a number.
std::int32_t VarToInt32(const TVarData& value);

// The value as a double (dates and decimals too); text is read as for VarToInt32. Throws
// EVariantError.
double VarToDouble(const TVarData& value);

// The value as text; empty for empty and null. Integers in decimal, singles with 7 and doubles
// with 15 significant digits ("0.1", "1E+15"), Booleans "True" or "False", dates in the date
// and time format (a time alone without a date). Throws EVariantError for values without a
// text form (arrays, interfaces, errors, NaN dates, years outside 100 to 9999).
std::string VarToText(const TVarData& value);

}  // namespace kiv
