// The two forms of a parameter value, and the numeric type change that the store form uses.
//
// OLE form: what every list read returns. Store form: what a list item keeps. Both results are
// new values the caller owns; the source is never changed. The type change is the module's own
// code, so that both targets give the same results. Any thread may call these.
#pragma once

#include "paramlist/variant.h"

namespace kiv {

// OLE form of `value`:
//  - an 8-bit string (varString) becomes a BSTR (from the system ANSI code page);
//  - varShortInt, varByte and varWord become varInteger with the same value;
//  - varLongWord becomes varInteger below 2^31, else varDouble;
//  - varInt64 becomes varInteger within the 32-bit range, else varDouble;
//  - a by-reference value takes the OLE form of what it refers to (so that nothing stored points
//    into the caller's memory), an array of variants converts element by element;
//  - anything else is copied unchanged.
// Throws EVariantError for an unsupported type, a null or too deeply nested reference, or a
// broken array.
Variant VarOleForm(const TVarData& value);

// Store form of `value`: its OLE form, changed back to the value's own type when that was a
// numeric or Boolean code (2-6, 11, 16-20) and the change succeeds; otherwise the OLE form.
Variant VarStoreForm(const TVarData& value);

// Changes a numeric or Boolean value (codes 2-6, 11, 16-23) in place to the numeric or Boolean
// type `to`, with OLE's rules: floating values round half to even, Booleans become -1 or 0,
// out-of-range values fail. Returns false and leaves `value` unchanged when the change is not
// possible.
bool VarChangeType(TVarData& value, TVarType to) noexcept;

}  // namespace kiv
