// Owning OLE variants: deep copy and clearing of TVarData, and the RAII wrapper Variant.
//
// A copy duplicates strings (BSTRs, counted 8-bit strings) and arrays, and adds a reference to
// interfaces; clearing frees what the value owns. A by-reference value owns nothing and is
// copied as the reference. Any thread may use these; one value is not safe for concurrent change.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "paramlist/variant_data.h"
#include "platform/code_page.h"

namespace kiv {

// Frees what `v` owns and leaves it empty. Never throws.
void VarClear(TVarData& v) noexcept;

// A deep copy of `source` that the caller owns. Throws EVariantError for an unsupported type
// or a broken array, std::bad_alloc when out of memory.
TVarData VarCopyRaw(const TVarData& source);

// Frees an array and everything its elements own. Null is allowed.
void ArrayDestroy(TSafeArray* array) noexcept;

// A new array with the shape and element type of `source`. Variant elements are produced by
// `copyVariant(destination, source)` (destination starts empty), other elements are copied.
using VariantElementCopy = std::function<void(TVarData& destination, const TVarData& source)>;
TSafeArray* ArrayCopy(const TSafeArray* source, const VariantElementCopy& copyVariant);

// Owns one variant value.
class Variant {
 public:
  Variant() noexcept : data_{} {}
  Variant(const Variant& other) : data_(VarCopyRaw(other.data_)) {}
  Variant(Variant&& other) noexcept : data_(other.Detach()) {}
  Variant& operator=(const Variant& other) {
    Variant copy(other);
    std::swap(data_, copy.data_);
    return *this;
  }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VarClear(data_);
      data_ = other.Detach();
    }
    return *this;
  }
  ~Variant() { VarClear(data_); }

  // A deep copy of a value the caller keeps.
  static Variant Copy(const TVarData& value) { return Adopt(VarCopyRaw(value)); }
  // Takes over a value the caller owns.
  static Variant Adopt(const TVarData& owned) noexcept {
    Variant v;
    v.data_ = owned;
    return v;
  }
  // Gives up the value; the caller then owns it.
  [[nodiscard]] TVarData Detach() noexcept { return std::exchange(data_, TVarData{}); }
  // Clears the value and returns its address for a callee to fill.
  TVarData* Put() noexcept {
    VarClear(data_);
    return &data_;
  }
  void Clear() noexcept { VarClear(data_); }

  const TVarData& Data() const noexcept { return data_; }
  operator const TVarData&() const noexcept { return data_; }
  TVarType VType() const noexcept { return data_.VType; }
  bool IsEmptyOrNull() const noexcept { return data_.VType == varEmpty || data_.VType == varNull; }

  static Variant Null() noexcept { return Make(varNull, [](TVarData&) {}); }
  static Variant Int16(int16_t x) noexcept { return Make(varSmallint, [x](TVarData& d) { d.VSmallInt = x; }); }
  static Variant Int32(int32_t x) noexcept { return Make(varInteger, [x](TVarData& d) { d.VInteger = x; }); }
  static Variant Single(float x) noexcept { return Make(varSingle, [x](TVarData& d) { d.VSingle = x; }); }
  static Variant Double(double x) noexcept { return Make(varDouble, [x](TVarData& d) { d.VDouble = x; }); }
  // `scaled` is the amount times 10000.
  static Variant Currency(int64_t scaled) noexcept {
    return Make(varCurrency, [scaled](TVarData& d) { d.VCurrency = scaled; });
  }
  static Variant Date(double x) noexcept { return Make(varDate, [x](TVarData& d) { d.VDate = x; }); }
  static Variant Bool(bool x) noexcept {
    return Make(varBoolean, [x](TVarData& d) { d.VBoolean = x ? kVariantTrue : kVariantFalse; });
  }
  static Variant Int8(int8_t x) noexcept { return Make(varShortInt, [x](TVarData& d) { d.VShortInt = x; }); }
  static Variant UInt8(uint8_t x) noexcept { return Make(varByte, [x](TVarData& d) { d.VByte = x; }); }
  static Variant UInt16(uint16_t x) noexcept { return Make(varWord, [x](TVarData& d) { d.VWord = x; }); }
  static Variant UInt32(uint32_t x) noexcept { return Make(varLongWord, [x](TVarData& d) { d.VLongWord = x; }); }
  static Variant Int64(int64_t x) noexcept { return Make(varInt64, [x](TVarData& d) { d.VInt64 = x; }); }
  static Variant UInt64(uint64_t x) noexcept { return Make(varUInt64, [x](TVarData& d) { d.VUInt64 = x; }); }
  // A BSTR copy of `text`.
  static Variant Wide(std::u16string_view text);
  // The local 8-bit string code (system ANSI code page).
  static Variant Ansi(std::string_view text);

  // The text of a BSTR value or an 8-bit string value (converted from the ANSI code page);
  // empty for every other type.
  WideString AsWide() const;

 private:
  template <typename Fill>
  static Variant Make(TVarType vt, Fill fill) noexcept {
    Variant v;
    v.data_.VType = vt;
    fill(v.data_);
    return v;
  }

  TVarData data_;
};

}  // namespace kiv
