// Type changes of OLE variants between numbers, dates, Booleans and text: what the store form of
// the parameter list and the settings component use.
//
// The platform decides, as a host or inner plugin built for Windows expects: on Windows the
// system's VariantChangeTypeEx with the user's locale; natively the module's own code, which
// answers as the system does for US English (decimal point ".", thousands separator ",", currency
// "$", dates "M/d/yyyy h:mm:ss tt"). Pure functions; any thread.
#pragma once

#include <cstdint>

#include "paramlist/variant.h"

namespace kiv {

// Changes `source` to type `to` and puts the result in `result` (its old value is freed).
// Sources: empty, null, the numeric codes, currency, date, decimal, Boolean, wide and 8-bit
// strings, also by reference. Targets: 2-6, 11, 16-20 and 8 (text; Booleans give "True" or
// "False"). Beyond the platform it refuses a NaN to an integer or currency and a NaN date to
// text. Returns false with `result` empty when the change is not possible (null, out of range,
// not a number, another type). Throws only std::bad_alloc.
bool VarChangeTypeEx(Variant& result, const TVarData& source, TVarType to);

// The platform's change without VarChangeTypeEx's resolution and checks: the system's with the
// user's locale on Windows, VarChangeTypePortable elsewhere. `source` is neither by reference
// nor an 8-bit string.
bool VarChangeTypePlatform(Variant& result, const TVarData& source, TVarType to);

// The module's own change, in the US English shape; same contract as VarChangeTypePlatform.
bool VarChangeTypePortable(Variant& result, const TVarData& source, TVarType to);

#ifdef _WIN32
// VariantChangeTypeEx with locale `lcid` and VARIANT_ALPHABOOL; same contract.
bool VarChangeTypeSystem(Variant& result, const TVarData& source, TVarType to, uint32_t lcid);
#endif

}  // namespace kiv
