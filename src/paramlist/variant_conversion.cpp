#include "paramlist/variant_conversion.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "paramlist/counted_string.h"
#include "paramlist/safe_array.h"
#include "platform/bstr.h"

namespace kiv {
namespace {

constexpr int kMaxNesting = 16;

void OleFormInto(TVarData& out, const TVarData& value, int depth);

// A borrowed view of what a by-reference value points at.
TVarData Dereference(const TVarData& value) {
  TVarType base = value.VType & ~varByRef;
  const void* target = value.VPointer;
  if (!target) throw EVariantError("Variant reference is null");
  TVarData view{};
  if (base & varArray) {
    view.VArray = *static_cast<TSafeArray* const*>(target);
  } else if (base == varDecimal) {
    std::memcpy(&view, target, sizeof view);
  } else if (base == varOleStr || base == varString || base == varDispatch || base == varUnknown) {
    view.VPointer = *static_cast<void* const*>(target);
  } else {
    uint32_t size = ArrayElementSize(base);
    if (size == 0 || size > 8) throw EVariantError("Variant reference type not supported");
    std::memcpy(&view.VInt64, target, size);
  }
  view.VType = base;
  return view;
}

void OleFormInto(TVarData& out, const TVarData& value, int depth) {
  if (depth > kMaxNesting) throw EVariantError("Variant references nest too deeply");
  TVarType vt = value.VType;
  if (vt & varByRef) {
    if ((vt & ~varByRef) == varVariant) {
      if (!value.VPointer) throw EVariantError("Variant reference is null");
      OleFormInto(out, *static_cast<const TVarData*>(value.VPointer), depth + 1);
    } else {
      OleFormInto(out, Dereference(value), depth + 1);
    }
    return;
  }
  if (vt & varArray) {
    out.VArray = ArrayCopy(value.VArray, [depth](TVarData& d, const TVarData& s) { OleFormInto(d, s, depth + 1); });
    out.VType = vt;
    return;
  }
  switch (vt) {
    case varString:
      out.VOleStr = BstrAlloc(AnsiToWide(CountedStrView(value.VString)));
      out.VType = varOleStr;
      return;
    case varShortInt: out.VInteger = value.VShortInt; out.VType = varInteger; return;
    case varByte: out.VInteger = value.VByte; out.VType = varInteger; return;
    case varWord: out.VInteger = value.VWord; out.VType = varInteger; return;
    case varLongWord:
      if (value.VLongWord < 0x80000000u) {
        out.VInteger = static_cast<int32_t>(value.VLongWord);
        out.VType = varInteger;
      } else {
        out.VDouble = value.VLongWord;
        out.VType = varDouble;
      }
      return;
    case varInt64:
      if (value.VInt64 >= std::numeric_limits<int32_t>::min() && value.VInt64 <= std::numeric_limits<int32_t>::max()) {
        out.VInteger = static_cast<int32_t>(value.VInt64);
        out.VType = varInteger;
      } else {
        out.VDouble = static_cast<double>(value.VInt64);
        out.VType = varDouble;
      }
      return;
    default:
      out = VarCopyRaw(value);
  }
}

// A numeric value on its way between types: an exact integer, a floating value or currency.
struct Number {
  enum Kind { kInteger, kUnsignedBig, kFloating, kCurrency } kind;
  int64_t integer = 0;
  uint64_t big = 0;   // kUnsignedBig: above INT64_MAX
  double floating = 0;
  int64_t currency = 0;
};

bool ReadNumber(const TVarData& v, Number& n) {
  n = Number{Number::kInteger};
  switch (v.VType) {
    case varSmallint: n.integer = v.VSmallInt; return true;
    case varInteger:
    case varInt: n.integer = v.VInteger; return true;
    case varBoolean: n.integer = v.VBoolean ? -1 : 0; return true;
    case varShortInt: n.integer = v.VShortInt; return true;
    case varByte: n.integer = v.VByte; return true;
    case varWord: n.integer = v.VWord; return true;
    case varLongWord:
    case varUInt: n.integer = v.VLongWord; return true;
    case varInt64: n.integer = v.VInt64; return true;
    case varUInt64:
      if (v.VUInt64 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        n.kind = Number::kUnsignedBig;
        n.big = v.VUInt64;
      } else {
        n.integer = static_cast<int64_t>(v.VUInt64);
      }
      return true;
    case varSingle: n.kind = Number::kFloating; n.floating = v.VSingle; return true;
    case varDouble: n.kind = Number::kFloating; n.floating = v.VDouble; return true;
    case varCurrency: n.kind = Number::kCurrency; n.currency = v.VCurrency; return true;
    default: return false;
  }
}

// Rounds half to even; false for NaN or a value outside the int64 range.
bool RoundToInt64(double d, int64_t& out) {
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
  double r = std::floor(d);
  double fraction = d - r;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1.0;
  if (!(r < 9223372036854775808.0)) return false;
  out = static_cast<int64_t>(r);
  return true;
}

int64_t CurrencyToInteger(int64_t scaled) {
  int64_t q = scaled / 10000, r = scaled % 10000;
  int64_t absR = r < 0 ? -r : r;
  if (absR > 5000 || (absR == 5000 && (q % 2 != 0))) q += r < 0 ? -1 : 1;
  return q;
}

double ToDouble(const Number& n) {
  switch (n.kind) {
    case Number::kInteger: return static_cast<double>(n.integer);
    case Number::kUnsignedBig: return static_cast<double>(n.big);
    case Number::kFloating: return n.floating;
    default: return static_cast<double>(n.currency) / 10000.0;
  }
}

// The value as an exact integer (rounded half to even), or false when out of the int64 range.
bool ToInteger(const Number& n, int64_t& out) {
  switch (n.kind) {
    case Number::kInteger: out = n.integer; return true;
    case Number::kUnsignedBig: return false;
    case Number::kFloating: return RoundToInt64(n.floating, out);
    default: out = CurrencyToInteger(n.currency); return true;
  }
}

bool InRange(int64_t x, int64_t lo, int64_t hi) { return x >= lo && x <= hi; }

}  // namespace

Variant VarOleForm(const TVarData& value) {
  TVarData out{};
  try {
    OleFormInto(out, value, 0);
  } catch (...) {
    VarClear(out);
    throw;
  }
  return Variant::Adopt(out);
}

Variant VarStoreForm(const TVarData& value) {
  Variant stored = VarOleForm(value);
  switch (value.VType) {
    case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency:
    case varBoolean: case varShortInt: case varByte: case varWord: case varLongWord: case varInt64: {
      TVarData data = stored.Detach();
      VarChangeType(data, value.VType);  // on failure the OLE form stays
      return Variant::Adopt(data);
    }
    default:
      return stored;
  }
}

bool VarChangeType(TVarData& value, TVarType to) noexcept {
  Number n;
  if (!ReadNumber(value, n)) return false;
  TVarData out{};
  out.VType = to;
  int64_t i = 0;
  switch (to) {
    case varSingle: {
      double d = ToDouble(n);
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return false;
      out.VSingle = static_cast<float>(d);
      break;
    }
    case varDouble: out.VDouble = ToDouble(n); break;
    case varBoolean: {
      bool nonZero = n.kind == Number::kInteger ? n.integer != 0
                     : n.kind == Number::kCurrency ? n.currency != 0
                                                   : ToDouble(n) != 0;
      out.VBoolean = nonZero ? kVariantTrue : kVariantFalse;
      break;
    }
    case varCurrency:
      if (n.kind == Number::kCurrency) {
        out.VCurrency = n.currency;
      } else if (n.kind == Number::kFloating) {
        if (!RoundToInt64(n.floating * 10000.0, out.VCurrency)) return false;
      } else {
        if (n.kind == Number::kUnsignedBig || !InRange(n.integer, INT64_MIN / 10000, INT64_MAX / 10000)) return false;
        out.VCurrency = n.integer * 10000;
      }
      break;
    case varUInt64:
      if (n.kind == Number::kUnsignedBig) {
        out.VUInt64 = n.big;
      } else if (n.kind == Number::kFloating && n.floating >= 9223372036854775808.0) {
        if (!(n.floating < 18446744073709551616.0)) return false;
        out.VUInt64 = static_cast<uint64_t>(n.floating);  // integral at this magnitude
      } else {
        if (!ToInteger(n, i) || i < 0) return false;
        out.VUInt64 = static_cast<uint64_t>(i);
      }
      break;
    default: {
      if (!ToInteger(n, i)) return false;
      switch (to) {
        case varSmallint: if (!InRange(i, INT16_MIN, INT16_MAX)) return false; out.VSmallInt = int16_t(i); break;
        case varInteger:
        case varInt: if (!InRange(i, INT32_MIN, INT32_MAX)) return false; out.VInteger = int32_t(i); break;
        case varShortInt: if (!InRange(i, INT8_MIN, INT8_MAX)) return false; out.VShortInt = int8_t(i); break;
        case varByte: if (!InRange(i, 0, UINT8_MAX)) return false; out.VByte = uint8_t(i); break;
        case varWord: if (!InRange(i, 0, UINT16_MAX)) return false; out.VWord = uint16_t(i); break;
        case varLongWord:
        case varUInt: if (!InRange(i, 0, UINT32_MAX)) return false; out.VLongWord = uint32_t(i); break;
        case varInt64: out.VInt64 = i; break;
        default: return false;
      }
    }
  }
  value = out;
  return true;
}

}  // namespace kiv
