// The two forms of a parameter value, and the numeric type change that the store form uses.
//
// OLE form: what every list read returns. Store form: what a list item keeps. Both results are
// new values the caller owns; the source is never changed. The type change of the store form is
// the platform's (variant_change.h). Any thread may call these.
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
// numeric or Boolean code (2-6, 11, 16-20) and the platform's type change succeeds; otherwise
// the OLE form.
Variant VarStoreForm(const TVarData& value);

// A copy of `value` with references followed and an 8-bit string made a BSTR; every other value
// keeps its type. Throws EVariantError for a null or too deeply nested reference or an
// unsupported type.
Variant VarResolved(const TVarData& value);

}  // namespace kiv
