#include "paramlist/variant.h"

#include <cstring>
#include <memory>
#include <string>

#include "kiv/kiv_defs.h"
#include "paramlist/counted_string.h"
#include "paramlist/safe_array.h"
#include "platform/bstr.h"
#include "platform/foreign_call.h"

namespace kiv {
namespace {

// The first three slots of every COM-style interface.
struct UnknownVtbl {
  void* QueryInterface;
  uint32_t(KIV_STDCALL* AddRef)(void* self);
  uint32_t(KIV_STDCALL* Release)(void* self);
};

// An interface value usually belongs to another module (a host's list held it): its AddRef and
// Release run under the guard. A copy whose AddRef faults fails; a faulting Release is dropped.
void AddRefInterface(void* intf) {
  if (intf && !ForeignDo([intf] { (*static_cast<UnknownVtbl**>(intf))->AddRef(intf); }))
    throw EVariantError("The interface of a value faulted when referenced");
}

void ReleaseInterface(void* intf) noexcept {
  if (intf) ForeignDo([intf] { (*static_cast<UnknownVtbl**>(intf))->Release(intf); });
}

bool IsPlainType(TVarType vt) {
  switch (vt) {
    case varEmpty: case varNull: case varSmallint: case varInteger: case varSingle:
    case varDouble: case varCurrency: case varDate: case varError: case varBoolean:
    case varDecimal: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: case varUInt64: case varInt: case varUInt:
      return true;
    default:
      return false;
  }
}

struct ArrayDeleter {
  void operator()(TSafeArray* a) const noexcept { ArrayDestroy(a); }
};

}  // namespace

void VarClear(TVarData& v) noexcept {
  if (!(v.VType & varByRef)) {
    if (v.VType & varArray) {
      ArrayDestroy(v.VArray);
    } else {
      switch (v.VType) {
        case varOleStr: BstrFree(v.VOleStr); break;
        case varDispatch:
        case varUnknown: ReleaseInterface(v.VUnknown); break;
        case varString: CountedStrRelease(v.VString); break;
        default: break;
      }
    }
  }
  v = TVarData{};
}

TVarData VarCopyRaw(const TVarData& source) {
  TVarData out{};
  TVarType vt = source.VType;
  if (vt & varByRef) {
    out = source;
  } else if (vt & varArray) {
    out.VArray = ArrayCopy(source.VArray, [](TVarData& d, const TVarData& s) { d = VarCopyRaw(s); });
  } else if (vt == varOleStr) {
    out.VOleStr = source.VOleStr ? BstrAlloc(source.VOleStr, BstrLen(source.VOleStr)) : nullptr;
  } else if (vt == varDispatch || vt == varUnknown) {
    AddRefInterface(source.VUnknown);
    out.VUnknown = source.VUnknown;
  } else if (vt == varString) {
    out.VString = CountedStrNew(CountedStrView(source.VString));
  } else if (IsPlainType(vt)) {
    out = source;  // a decimal spans the whole record, reserved words included
  } else {
    throw EVariantError("Variant type not supported (" + std::to_string(vt) + ")");
  }
  if (vt != varDecimal) out.VType = vt;
  return out;
}

void ArrayDestroy(TSafeArray* array) noexcept {
  if (!array) return;
  try {
    TVarType vt = ArrayElementType(array);
    size_t count = ArrayElementCount(array);
    auto* data = static_cast<unsigned char*>(array->pvData);
    for (size_t i = 0; i < count; ++i) {
      unsigned char* e = data + i * array->cbElements;
      if (vt == varVariant) {
        VarClear(*reinterpret_cast<TVarData*>(e));
      } else if (vt == varOleStr) {
        BstrFree(*reinterpret_cast<char16_t**>(e));
        *reinterpret_cast<char16_t**>(e) = nullptr;
      } else if (vt == varUnknown || vt == varDispatch) {
        ReleaseInterface(*reinterpret_cast<void**>(e));
        *reinterpret_cast<void**>(e) = nullptr;
      }
    }
  } catch (...) {
    // A broken descriptor: free the storage without touching the elements.
  }
  ArrayFreeStorage(array);
}

TSafeArray* ArrayCopy(const TSafeArray* source, const VariantElementCopy& copyVariant) {
  if (!source) return nullptr;
  TVarType vt = ArrayElementType(source);
  size_t count = ArrayElementCount(source);
  if (source->cDims == 0) throw EVariantError("Array without dimensions");
  std::unique_ptr<TSafeArray, ArrayDeleter> out(ArrayCreate(vt, source->cDims, source->rgsabound));
  auto* from = static_cast<const unsigned char*>(source->pvData);
  auto* to = static_cast<unsigned char*>(out->pvData);
  size_t size = source->cbElements;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* s = from + i * size;
    unsigned char* d = to + i * size;
    if (vt == varVariant) {
      copyVariant(*reinterpret_cast<TVarData*>(d), *reinterpret_cast<const TVarData*>(s));
    } else if (vt == varOleStr) {
      const char16_t* text = *reinterpret_cast<char16_t* const*>(s);
      *reinterpret_cast<char16_t**>(d) = text ? BstrAlloc(text, BstrLen(text)) : nullptr;
    } else if (vt == varUnknown || vt == varDispatch) {
      void* intf = *reinterpret_cast<void* const*>(s);
      AddRefInterface(intf);
      *reinterpret_cast<void**>(d) = intf;
    } else {
      std::memcpy(d, s, size);
    }
  }
  return out.release();
}

Variant Variant::Wide(std::u16string_view text) {
  Variant v;
  v.data_.VOleStr = BstrAlloc(text);
  v.data_.VType = varOleStr;
  return v;
}

Variant Variant::Ansi(std::string_view text) {
  Variant v;
  v.data_.VString = CountedStrNew(text);
  v.data_.VType = varString;
  return v;
}

WideString Variant::AsWide() const {
  if (data_.VType == varOleStr) return WideString(BstrView(data_.VOleStr));
  if (data_.VType == varString) return AnsiToWide(CountedStrView(data_.VString));
  return {};
}

}  // namespace kiv
