#include "interfaces/value_normalise.h"

#include <cstring>
#include <string>
#include <string_view>

#include "paramlist/counted_string.h"
#include "paramlist/safe_array.h"
#include "paramlist/variant_conversion.h"
#include "platform/bstr.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

constexpr int kMaxDepth = 16;

const TVarData& AsVarData(const kivVARIANT& v) { return *reinterpret_cast<const TVarData*>(&v); }

// The caller's memory is read only after this says it is readable.
void RequireReadable(const void* address, size_t size, const char* what) {
  if (!IsReadableMemory(address, size))
    throw EVariantError(std::string("Variant ") + what + " is not readable");
}

Variant AnsiText(const char* text) { return Variant::Ansi(IncomingText(text)); }

Variant WideText(const void* text) {
  return Variant::Wide(IncomingText(static_cast<const kivWCHAR*>(text)));
}

// A BSTR of the caller: its length prefix, then its characters.
void RequireBstr(const char16_t* bstr) {
  if (!bstr) return;
  RequireReadable(reinterpret_cast<const char*>(bstr) - 4, 4, "string");
  RequireReadable(bstr, (size_t{BstrLen(bstr)} + 1) * sizeof(char16_t), "string");
}

// An array of the caller: descriptor, bounds, data and, for strings, every string.
void RequireArray(const TSafeArray* array) {
  if (!array) return;
  RequireReadable(array, offsetof(TSafeArray, rgsabound), "array");
  RequireReadable(array->rgsabound, sizeof(TSafeArrayBound) * array->cDims, "array");
  if (array->fFeatures & kFadfHaveVarType)  // the element type is the word before the descriptor
    RequireReadable(reinterpret_cast<const char*>(array) - 4, 4, "array");
  const TVarType vt = ArrayElementType(array);
  const size_t count = ArrayElementCount(array);
  RequireReadable(array->pvData, count * array->cbElements, "array");
  if (vt == varOleStr)
    for (size_t i = 0; i < count; ++i) RequireBstr(static_cast<char16_t* const*>(array->pvData)[i]);
}

TVarData Normalise(const TVarData& value, TextForm form, int depth);

// What a by-reference value points at, as a value of the base type that borrows its payload.
TVarData Target(const TVarData& value) {
  const TVarType base = value.VType & ~varByRef;
  const void* target = value.VPointer;
  if (!target) throw EVariantError("Variant reference is null");
  TVarData view{};
  if (base == varDecimal) {
    RequireReadable(target, sizeof view, "reference");
    std::memcpy(&view, target, sizeof view);
  } else if ((base & varArray) || base == varOleStr || base == varString ||
             base == KIV_VT_WIDE_POINTER || base == varDispatch || base == varUnknown) {
    RequireReadable(target, sizeof(void*), "reference");
    view.VPointer = *static_cast<void* const*>(target);
  } else {
    const uint32_t size = ArrayElementSize(base);
    if (size == 0 || size > 8) throw EVariantError("Variant reference type not supported");
    RequireReadable(target, size, "reference");
    std::memcpy(&view.VInt64, target, size);
  }
  view.VType = base;
  return view;
}

// An owned value standing for `value`: text codes read as text, references resolved to the OLE
// form of their target, arrays copied element by element. Nothing in it points into the caller's
// memory, and every byte of the caller's is checked before it is read.
TVarData Normalise(const TVarData& value, TextForm form, int depth) {
  if (depth > kMaxDepth) throw EVariantError("Variant references nest too deeply");
  const TVarType vt = value.VType;
  if (vt & varByRef) {
    Variant resolved;
    if ((vt & ~varByRef) == varVariant) {
      if (!value.VPointer) throw EVariantError("Variant reference is null");
      RequireReadable(value.VPointer, sizeof(TVarData), "reference");
      resolved = Variant::Adopt(Normalise(*static_cast<const TVarData*>(value.VPointer), form, depth + 1));
    } else {
      resolved = Variant::Adopt(Normalise(Target(value), form, depth + 1));
    }
    return VarOleForm(resolved).Detach();  // a reference stands for the OLE form of its target
  }
  if (vt & varArray) {
    RequireArray(value.VArray);
    TVarData out{};
    out.VArray = ArrayCopy(value.VArray, [form, depth](TVarData& d, const TVarData& s) {
      d = Normalise(s, form, depth + 1);
    });
    out.VType = vt;
    return out;
  }
  if (vt == varString && value.VPointer)
    return (form == TextForm::kAnsi ? AnsiText(static_cast<const char*>(value.VPointer))
                                    : WideText(value.VPointer))
        .Detach();
  if (vt == KIV_VT_WIDE_POINTER && value.VPointer) return WideText(value.VPointer).Detach();
  if (vt == varOleStr) RequireBstr(value.VOleStr);
  if (vt == varDispatch || vt == varUnknown) RequireReadable(value.VUnknown, sizeof(void*), "interface");
  return VarCopyRaw(value);  // plain values, strings and interfaces; other codes fail here
}

}  // namespace

std::string_view IncomingText(const char* text) {
  std::string_view view;
  if (text && !ReadableText(text, view)) throw EVariantError("Text is not readable");
  return view;
}

std::u16string_view IncomingText(const kivWCHAR* text) {
  std::u16string_view view;
  if (text && !ReadableText(reinterpret_cast<const char16_t*>(text), view))
    throw EVariantError("Text is not readable");
  return view;
}

void RequireInterface(const void* intf, size_t slots) {
  if (!intf) return;
  RequireReadable(intf, sizeof(void*), "interface");
  RequireReadable(*static_cast<const void* const*>(intf), slots * sizeof(void*), "interface");
}

Variant NormaliseIncoming(const kivVARIANT* value, TextForm form) {
  if (!value) return Variant();
  RequireReadable(value, sizeof *value, "value");
  return NormaliseCopied(*value, form);
}

Variant NormaliseCopied(const kivVARIANT& copy, TextForm form) {
  return Variant::Adopt(Normalise(AsVarData(copy), form, 0));
}

namespace {

template <class Ch>
struct AddArgsWalk {
  const Ch* name;
  const kivVARIANT* value;
  IncomingAddArgs<Ch>* out;
  bool name_read = false;
};

template <class Ch>
IncomingAddArgs<Ch> ReadAddArgsOf(const Ch* name, const kivVARIANT* value) {
  IncomingAddArgs<Ch> args;
  AddArgsWalk<Ch> walk{name, value, &args};
  const bool read = WalkForeignMemory(
      [](const ForeignReader& reader, void* context) noexcept {
        auto& w = *static_cast<AddArgsWalk<Ch>*>(context);
        if (w.name && !ReadableText(reader, w.name, w.out->Name)) return false;
        w.name_read = true;
        return !w.value || reader.Copy(&w.out->Value, w.value, sizeof w.out->Value);
      },
      &walk);
  if (!read) {
    args.Value = kivVARIANT{};  // a part of it, perhaps: never used
    throw EVariantError(walk.name_read ? "Variant value is not readable" : "Text is not readable");
  }
  return args;
}

}  // namespace

IncomingAddArgs<char> ReadAddArgs(const char* name, const kivVARIANT* value) { return ReadAddArgsOf(name, value); }

IncomingAddArgs<char16_t> ReadAddArgs(const kivWCHAR* name, const kivVARIANT* value) {
  return ReadAddArgsOf(reinterpret_cast<const char16_t*>(name), value);
}

void StoreOutgoing(const TVarData& value, kivVARIANT* out) {
  if (!out) return;
  Variant copy = value.VType == varString ? Variant::Wide(AnsiToWide(CountedStrView(value.VString)))
                                          : Variant::Copy(value);
  const TVarData owned = copy.Detach();
  std::memcpy(static_cast<void*>(out), &owned, sizeof owned);
}

void StoreOutgoing(Variant&& value, kivVARIANT* out) {
  if (!out) return;
  if (value.Data().VType == varString) return StoreOutgoing(value.Data(), out);
  const TVarData owned = value.Detach();
  std::memcpy(static_cast<void*>(out), &owned, sizeof owned);
}

void ClearVariant(kivVARIANT* value) noexcept {
  if (value) VarClear(*reinterpret_cast<TVarData*>(value));
}

}  // namespace kiv
