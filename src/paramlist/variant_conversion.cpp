#include "paramlist/variant_conversion.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "paramlist/counted_string.h"
#include "paramlist/variant_change.h"
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

Variant VarResolved(const TVarData& value) {
  const TVarData* v = &value;
  for (int depth = 0; (v->VType & ~varByRef) == varVariant && (v->VType & varByRef) != 0; ++depth) {
    if (depth > kMaxNesting) throw EVariantError("Variant references nest too deeply");
    if (!v->VPointer) throw EVariantError("Variant reference is null");
    v = static_cast<const TVarData*>(v->VPointer);
  }
  const TVarData view = (v->VType & varByRef) != 0 ? Dereference(*v) : *v;
  if (view.VType == varString) return Variant::Wide(AnsiToWide(CountedStrView(view.VString)));
  return Variant::Copy(view);
}

Variant VarStoreForm(const TVarData& value) {
  Variant stored = VarOleForm(value);
  switch (value.VType) {
    case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency:
    case varBoolean: case varShortInt: case varByte: case varWord: case varLongWord: case varInt64: {
      Variant exact;
      if (VarChangeTypeEx(exact, stored, value.VType)) return exact;
      return stored;  // the change failed: the OLE form stays
    }
    default:
      return stored;
  }
}

}  // namespace kiv
