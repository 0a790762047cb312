// Conversions of variant values to the forms the settings component stores: 32-bit integers,
// doubles and 8-bit text (system ANSI code page), with the rules of OLE type changes and the
// user's number and date formats. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "paramlist/variant.h"

namespace kiv {

// Whether the value holds text (a wide or 8-bit string, also by reference).
bool VarIsText(const TVarData& value);

// The text of a text value in the ANSI code page; empty for other values.
std::string VarTextAnsi(const TVarData& value);

// The value as a 32-bit integer: numbers round half to even, Booleans give -1 or 0, text is
// parsed as an integer or a number. Throws EVariantError when it is out of range or not a number.
std::int32_t VarToInt32(const TVarData& value);

// The value as a double; text is parsed with the user's decimal separator. Throws EVariantError.
double VarToDouble(const TVarData& value);

// The value as text: numbers in decimal or the shortest float form, Booleans "True" or
// "False", dates in the user's date and time format. Throws EVariantError for values without
// a text form (arrays, interfaces, errors).
std::string VarToText(const TVarData& value);

}  // namespace kiv
