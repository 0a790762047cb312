/* C++ helpers for inner plugins: interface references, BSTR and variant owners, typed access to
 * parameter lists, a row builder for parsed packets, the FIFO consumer pattern and logging.
 *
 * Header only, C++17, throws nothing of its own (only std::string may, when out of memory). It
 * needs the C++ view of the interfaces (KIV_CINTERFACE must not be defined). On Windows it uses
 * the system's BSTR and variant functions (link oleaut32); elsewhere, for tests, an allocator
 * with the same BSTR layout stands in. Each object is for one thread at a time; the functions
 * may be called from any thread. Names live in namespace kiv::sdk.
 */
#ifndef KIV_KIV_CPP_H
#define KIV_KIV_CPP_H

#if !defined(__cplusplus) || __cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L)
#error "kiv_cpp.h needs C++17"
#endif
#if defined(KIV_CINTERFACE)
#error "kiv_cpp.h needs the C++ view of the interfaces: do not define KIV_CINTERFACE"
#endif

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#include <oleauto.h>
#endif

#include "kiv/kiv_plugin.h"

namespace kiv {
namespace sdk {

using WString = std::basic_string<kivWCHAR>;
using WStringView = std::basic_string_view<kivWCHAR>;

/* ---- Interface references ------------------------------------------------------------------ */

/* The identifier of each interface, for Ref::As and Query. */
template <class T>
struct InterfaceId;
#define KIV_CPP_INTERFACE_ID(T) \
  template <>                   \
  struct InterfaceId<T> {       \
    static const kivGUID& Get() noexcept { return IID_##T; } \
  };
KIV_CPP_INTERFACE_ID(IkivPlugin_)
KIV_CPP_INTERFACE_ID(IkivPlugin)
KIV_CPP_INTERFACE_ID(IkivPluginW)
KIV_CPP_INTERFACE_ID(IkivPluginEx)
KIV_CPP_INTERFACE_ID(IkivFifoBuffer)
KIV_CPP_INTERFACE_ID(IkivParamsListA)
KIV_CPP_INTERFACE_ID(IkivParamsListW)
KIV_CPP_INTERFACE_ID(IkivParamsListItemA)
KIV_CPP_INTERFACE_ID(IkivParamsListItemW)
#undef KIV_CPP_INTERFACE_ID

/* Holds one reference to an interface and releases it when reset, reassigned or destroyed.
 * Constructing from a raw pointer adds a reference (for interfaces that are borrowed, such as
 * rec->ParamsW); Adopt takes over one the caller owns, and put() receives an interface output,
 * which carries its reference already. Copies add a reference; a move transfers it. */
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  static Ref Adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  /* Both assignments release the old reference after taking the new one; self-assignment and
     self-move keep the reference. */
  Ref& operator=(const Ref& other) noexcept {
    Ref(other).swap(*this);
    return *this;
  }
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  ~Ref() { reset(); }

  void reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  /* Releases the held reference and gives the address an interface output is written to. */
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  /* Gives up the reference without releasing it. */
  [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }
  void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  /* The interface U of the same object (QueryInterface), or an empty Ref. */
  template <class U>
  Ref<U> As() const noexcept {
    Ref<U> out;
    if (p_ && p_->QueryInterface(InterfaceId<U>::Get(), out.put_void()) != KIV_S_OK)
      static_cast<void>(out.detach());  // a failed query leaves no reference
    return out;
  }

 private:
  T* p_ = nullptr;
};

/* QueryInterface of `p` for U; an empty Ref for null or when the object has no U. */
template <class U, class T>
Ref<U> Query(T* p) noexcept {
  return Ref<T>(p).template As<U>();
}

/* ---- Text ---------------------------------------------------------------------------------- */

namespace detail {

/* Windows-1252 at 0x80..0x9F; the other bytes are their own code points. */
inline kivWCHAR FromWindows1252(unsigned char c) noexcept {
  static const uint16_t k80[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return static_cast<kivWCHAR>(c >= 0x80 && c < 0xA0 ? k80[c - 0x80] : c);
}

/* Appends `text` decoded as UTF-8; false (with `out` partly filled) at the first invalid byte. */
inline bool DecodeUtf8(std::string_view text, WString& out) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c, min = 0;
    std::size_t n = 0;
    if (c < 0x80) n = 0;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, n = 1, min = 0x80;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, n = 2, min = 0x800;
    else if ((c & 0xF8) == 0xF0) cp = c & 0x07, n = 3, min = 0x10000;
    else return false;
    if (text.size() - i <= n) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;  // overlong, too big, surrogate
    if (cp >= 0x10000) {
      out += static_cast<kivWCHAR>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<kivWCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<kivWCHAR>(cp);
    }
    i += n + 1;
  }
  return true;
}

}  // namespace detail

/* UTF-8 text as UTF-16. Text that is not valid UTF-8 is read as Windows-1252 instead, every byte
 * one character, so that no byte is lost. */
inline WString Widen(std::string_view text) {
  WString out;
  out.reserve(text.size());
  if (detail::DecodeUtf8(text, out)) return out;
  out.clear();
  for (char c : text) out += detail::FromWindows1252(static_cast<unsigned char>(c));
  return out;
}

/* UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD. */
inline std::string Narrow(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = static_cast<uint16_t>(text[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && (static_cast<uint16_t>(text[i + 1]) & 0xFC00) == 0xDC00)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
    else if (cp >= 0xD800 && cp <= 0xDFFF)
      cp = 0xFFFD;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

/* Equality ignoring the case of ASCII letters (command and event names). */
inline bool EqualsNoCase(WStringView a, WStringView b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    kivWCHAR x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<kivWCHAR>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<kivWCHAR>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

/* A zero-terminated wide text passed to an interface: a literal, a pointer or a WString (borrowed;
 * it must outlive the call it is passed to). Null reads as empty. */
class ZText {
 public:
  ZText(const kivWCHAR* text) noexcept : p_(text) {}
  ZText(const WString& text) noexcept : p_(text.c_str()) {}
  const kivWCHAR* get() const noexcept { return p_; }

 private:
  const kivWCHAR* p_;
};

/* ---- BSTR ---------------------------------------------------------------------------------- */

namespace detail {

/* A new BSTR copied from `length` characters at `text`; null when out of memory. */
inline kivBSTR BstrAlloc(const kivWCHAR* text, uint32_t length) noexcept {
#if defined(_WIN32)
  if (length > 0x3FFFFFF0u) return nullptr;
  return SysAllocStringLen(text, length);
#else
  /* The system layout: a 4-byte byte count, the characters, a terminating zero. */
  if (length > 0x3FFFFFF0u) return nullptr;
  const uint32_t bytes = length * 2;
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(kivWCHAR)));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<kivWCHAR*>(block + sizeof(uint32_t));
  if (text && length) std::memcpy(chars, text, bytes);
  else if (length) std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
#endif
}

inline void BstrFree(kivBSTR bstr) noexcept {
#if defined(_WIN32)
  SysFreeString(bstr);
#else
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t));
#endif
}

inline uint32_t BstrLen(const kivWCHAR* bstr) noexcept {
#if defined(_WIN32)
  return SysStringLen(const_cast<BSTR>(bstr));
#else
  if (!bstr) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(bstr) - sizeof(uint32_t), sizeof bytes);
  return bytes / 2;
#endif
}

}  // namespace detail

/* Owns one BSTR and frees it (SysFreeString on Windows) when reset, reassigned or destroyed. */
class Bstr {
 public:
  Bstr() noexcept = default;
  explicit Bstr(kivBSTR owned) noexcept : b_(owned) {}
  /* A new BSTR holding a copy of `text`; empty when out of memory. */
  static Bstr Copy(WStringView text) noexcept {
    return Bstr(detail::BstrAlloc(text.data(), static_cast<uint32_t>(text.size())));
  }
  Bstr(Bstr&& other) noexcept : b_(other.release()) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { reset(); }

  void reset(kivBSTR owned = nullptr) noexcept {
    kivBSTR old = std::exchange(b_, owned);
    if (old && old != owned) detail::BstrFree(old);
  }
  [[nodiscard]] kivBSTR release() noexcept { return std::exchange(b_, nullptr); }
  /* Frees the held string and gives the address a BSTR output is written to. */
  kivBSTR* put() noexcept {
    reset();
    return &b_;
  }
  kivBSTR get() const noexcept { return b_; }
  uint32_t size() const noexcept { return detail::BstrLen(b_); }
  WStringView view() const noexcept { return b_ ? WStringView(b_, size()) : WStringView(); }
  explicit operator bool() const noexcept { return b_ != nullptr; }

 private:
  kivBSTR b_ = nullptr;
};

/* ---- Variants ------------------------------------------------------------------------------ */

namespace detail {

inline bool IsText(uint16_t vt) noexcept {
  return vt == KIV_VT_BSTR || vt == KIV_VT_WIDE_POINTER || vt == KIV_VT_ANSI_STRING;
}

/* The text of a text variant (8-bit text read as Windows-1252). */
inline WString TextOf(const kivVARIANT& v) {
  if (v.vt == KIV_VT_BSTR) return v.bstrVal ? WString(v.bstrVal, BstrLen(v.bstrVal)) : WString();
  if (v.vt == KIV_VT_WIDE_POINTER) return v.pwszVal ? WString(v.pwszVal) : WString();
  WString out;
  if (v.vt == KIV_VT_ANSI_STRING && v.pszVal)
    for (const char* p = v.pszVal; *p; ++p) out += FromWindows1252(static_cast<unsigned char>(*p));
  return out;
}

/* Text trimmed of blanks and narrowed to ASCII; nullopt when it holds anything else. */
inline std::optional<std::string> AsciiOf(const WString& text) {
  std::size_t from = 0, to = text.size();
  while (from < to && (text[from] == ' ' || text[from] == '\t')) ++from;
  while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t')) --to;
  std::string out;
  for (std::size_t i = from; i < to; ++i) {
    if (text[i] == 0 || text[i] > 0x7F) return std::nullopt;
    out += static_cast<char>(text[i]);
  }
  if (!out.empty() && out[0] == '+') out.erase(0, 1);  // from_chars takes no '+'
  return out;
}

/* A number: its value and whether it is an integer type. Nullopt for other types. */
struct Number {
  double real;
  int64_t integer;
  bool is_integer;
};
inline std::optional<Number> NumberOf(const kivVARIANT& v) noexcept {
  const auto whole = [](int64_t n) { return Number{static_cast<double>(n), n, true}; };
  switch (v.vt) {
    case KIV_VT_I1: return whole(v.cVal);
    case KIV_VT_I2: return whole(v.iVal);
    case KIV_VT_I4: return whole(v.lVal);
    case KIV_VT_I8: return whole(v.llVal);
    case KIV_VT_UI1: return whole(v.bVal);
    case KIV_VT_UI2: return whole(v.uiVal);
    case KIV_VT_UI4: return whole(v.ulVal);
    case KIV_VT_BOOL: return whole(v.boolVal != 0 ? 1 : 0);
    case KIV_VT_R4: return Number{v.fltVal, 0, false};
    case KIV_VT_R8: return Number{v.dblVal, 0, false};
    case KIV_VT_DATE: return Number{v.date, 0, false};
    case KIV_VT_CY: return Number{static_cast<double>(v.cyVal) / 10000.0, 0, false};
    default: return std::nullopt;
  }
}

template <class N>
inline std::optional<N> Parse(const std::optional<std::string>& text) noexcept {
  if (!text || text->empty()) return std::nullopt;
  N n{};
  const char* end = text->data() + text->size();
  const auto r = std::from_chars(text->data(), end, n);
  if (r.ec != std::errc() || r.ptr != end) return std::nullopt;
  return n;
}

}  // namespace detail

/* Owns one variant and clears it (VariantClear on Windows; elsewhere a BSTR is freed) when
 * cleared, reassigned or destroyed. Typed readers convert the same way on every target:
 *  - AsInt: integer types in the 32-bit range, Booleans (1, 0), reals that are whole numbers in
 *    range, and texts holding a decimal integer;
 *  - AsReal: every number, and texts holding a decimal number ('.' as the point);
 *  - AsBool: Booleans, numbers (non-zero is true), texts "true"/"false" (any case) or a number;
 *  - AsText: texts, numbers in decimal (very large or small reals with an exponent), Booleans
 *    as "True"/"False", an empty variant as "".
 * Texts may have blanks around them. Anything else gives nullopt. */
class Variant {
 public:
  Variant() noexcept : v_{} {}
  /* Takes over `v`: its BSTR, if any, is then this owner's to free. */
  static Variant Adopt(const kivVARIANT& v) noexcept {
    Variant out;
    out.v_ = v;
    return out;
  }
  static Variant Int(int32_t n) noexcept {
    Variant out;
    out.v_.vt = KIV_VT_I4;
    out.v_.lVal = n;
    return out;
  }
  static Variant Real(double x) noexcept {
    Variant out;
    out.v_.vt = KIV_VT_R8;
    out.v_.dblVal = x;
    return out;
  }
  static Variant Bool(bool b) noexcept {
    Variant out;
    out.v_.vt = KIV_VT_BOOL;
    out.v_.boolVal = b ? -1 : 0;
    return out;
  }
  /* A BSTR copy of `text`; an empty variant when out of memory. */
  static Variant Text(WStringView text) noexcept {
    Variant out;
    if ((out.v_.bstrVal = Bstr::Copy(text).release()) != nullptr) out.v_.vt = KIV_VT_BSTR;
    return out;
  }
  Variant(Variant&& other) noexcept : v_(other.release()) {}
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      clear();
      v_ = other.release();
    }
    return *this;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { clear(); }

  void clear() noexcept {
#if defined(_WIN32)
    VariantClear(reinterpret_cast<VARIANT*>(&v_));
#else
    if (v_.vt == KIV_VT_BSTR) detail::BstrFree(v_.bstrVal);
#endif
    v_ = kivVARIANT{};
  }
  /* Clears the held value and gives the address a variant output is written to. */
  kivVARIANT* put() noexcept {
    clear();
    return &v_;
  }
  /* Gives up the value without clearing it; the caller frees what it holds. */
  [[nodiscard]] kivVARIANT release() noexcept { return std::exchange(v_, kivVARIANT{}); }
  const kivVARIANT* get() const noexcept { return &v_; }
  uint16_t type() const noexcept { return v_.vt; }
  bool empty() const noexcept { return v_.vt == KIV_VT_EMPTY || v_.vt == KIV_VT_NULL; }

  std::optional<int32_t> AsInt() const {
    if (detail::IsText(v_.vt)) return detail::Parse<int32_t>(detail::AsciiOf(detail::TextOf(v_)));
    const auto n = detail::NumberOf(v_);
    if (!n || !(n->real >= -2147483648.0 && n->real <= 2147483647.0)) return std::nullopt;  // NaN too
    if (n->is_integer) return static_cast<int32_t>(n->integer);
    const auto whole = static_cast<int32_t>(n->real);
    if (static_cast<double>(whole) != n->real) return std::nullopt;
    return whole;
  }
  std::optional<double> AsReal() const {
    if (detail::IsText(v_.vt)) return detail::Parse<double>(detail::AsciiOf(detail::TextOf(v_)));
    const auto n = detail::NumberOf(v_);
    if (!n) return std::nullopt;
    return n->is_integer ? static_cast<double>(n->integer) : n->real;
  }
  std::optional<bool> AsBool() const {
    if (v_.vt == KIV_VT_BOOL) return v_.boolVal != 0;
    if (detail::IsText(v_.vt)) {
      std::optional<std::string> ascii = detail::AsciiOf(detail::TextOf(v_));
      if (!ascii) return std::nullopt;
      for (char& c : *ascii) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      if (*ascii == "true") return true;
      if (*ascii == "false") return false;
      if (const auto x = detail::Parse<double>(ascii)) return *x != 0;
      return std::nullopt;
    }
    const auto n = detail::NumberOf(v_);
    if (!n) return std::nullopt;
    return n->is_integer ? n->integer != 0 : n->real != 0;
  }
  std::optional<WString> AsText() const {
    if (detail::IsText(v_.vt)) return detail::TextOf(v_);
    if (v_.vt == KIV_VT_EMPTY) return WString();
    if (v_.vt == KIV_VT_BOOL) return Widen(v_.boolVal ? "True" : "False");
    const auto n = detail::NumberOf(v_);
    if (!n) return std::nullopt;
    char digits[64];
    // Reals in plain decimals where that stays short, in the shortest round-trip form otherwise.
    const double size = n->real < 0 ? -n->real : n->real;
    const auto r = n->is_integer ? std::to_chars(digits, digits + sizeof digits, n->integer)
                   : size >= 1e-5 && size < 1e15
                       ? std::to_chars(digits, digits + sizeof digits, n->real, std::chars_format::fixed)
                       : std::to_chars(digits, digits + sizeof digits, n->real);
    if (r.ec != std::errc()) return std::nullopt;
    return Widen(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
  }

 private:
  kivVARIANT v_;
};

/* A value passed in to a list or item: numbers by value, text by address (the list copies it),
 * so nothing is allocated unless a text needs a terminator. Make one with Int, Real, Bool, Text
 * or from a kivVARIANT or Variant (borrowed: it must outlive the call). */
class Arg {
 public:
  Arg(const kivVARIANT& value) noexcept : v_(value) {}
  Arg(const Variant& value) noexcept : v_(*value.get()) {}
  /* A text: a zero-terminated one is borrowed, a view or temporary is copied. */
  static Arg Text(const kivWCHAR* text) noexcept { return Arg(text); }
  static Arg Text(const WString& text) noexcept { return Arg(text.c_str()); }
  static Arg Text(WString&& text) {
    Arg a(static_cast<const kivWCHAR*>(nullptr));
    a.copy_ = std::move(text);
    a.owns_ = true;
    return a;
  }
  static Arg Text(WStringView text) { return Text(WString(text)); }
  const kivVARIANT* get() const noexcept {
    if (owns_) v_.pwszVal = copy_.c_str();  // the copy may have moved with this object
    return &v_;
  }

 private:
  explicit Arg(const kivWCHAR* text) noexcept : v_{} {
    v_.vt = KIV_VT_WIDE_POINTER;
    v_.pwszVal = text;
  }
  mutable kivVARIANT v_;
  WString copy_;
  bool owns_ = false;
};

inline Arg Int(int32_t n) noexcept { return Arg(*Variant::Int(n).get()); }
inline Arg Real(double x) noexcept { return Arg(*Variant::Real(x).get()); }
inline Arg Bool(bool b) noexcept { return Arg(*Variant::Bool(b).get()); }
inline Arg Text(const kivWCHAR* text) noexcept { return Arg::Text(text); }
inline Arg Text(const WString& text) noexcept { return Arg::Text(text); }
inline Arg Text(WString&& text) { return Arg::Text(std::move(text)); }
inline Arg Text(WStringView text) { return Arg::Text(text); }
/* UTF-8 text (see Widen). */
inline Arg Text(std::string_view utf8) { return Arg::Text(Widen(utf8)); }

/* ---- Parameter lists ----------------------------------------------------------------------- */

/* One item of a list, by reference: its name, its value (typed), a new value. */
class Item {
 public:
  Item() = default;
  explicit Item(Ref<IkivParamsListItemW> item) noexcept : ref_(std::move(item)) {}
  IkivParamsListItemW* get() const noexcept { return ref_.get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(ref_); }

  WString Name() const {
    const kivWCHAR* name = ref_ ? ref_->GetNameW() : nullptr;
    return name ? WString(name) : WString();
  }
  bool IsRowMarker() const noexcept { return ref_ && ref_->IsRowMarker() != KIV_FALSE; }
  /* A copy of the value; empty for no item or a failure. */
  Variant Value() const noexcept {
    Variant v;
    if (ref_) ref_->GetValueW(v.put());
    return v;
  }
  std::optional<int32_t> Int() const { return Value().AsInt(); }
  std::optional<double> Real() const { return Value().AsReal(); }
  std::optional<bool> Bool() const { return Value().AsBool(); }
  std::optional<WString> Text() const { return Value().AsText(); }
  bool Set(const Arg& value) noexcept { return ref_ && ref_->SetValueW(value.get()) == KIV_S_OK; }

 private:
  Ref<IkivParamsListItemW> ref_;
};

/* A parameter list (IkivParamsListW) with typed access by name. Names match without regard to
 * case; getters read the first item with the name and give nullopt (or an empty Variant) when
 * there is none or its value does not convert. Setters and adders return false on a failure. */
class List {
 public:
  List() = default;
  /* A borrowed list (rec->ParamsW, a list slot): holds a reference while this object lives. */
  explicit List(IkivParamsListW* list) noexcept : ref_(list) {}
  explicit List(Ref<IkivParamsListW> list) noexcept : ref_(std::move(list)) {}
  IkivParamsListW* get() const noexcept { return ref_.get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(ref_); }

  int32_t Count() const noexcept { return ref_ ? ref_->GetCount() : 0; }
  bool Has(ZText name) const noexcept {
    int32_t index = -1;
    return ref_ && ref_->IndexOf(name.get(), -1, -1, &index) == KIV_S_OK && index >= 0;
  }
  Variant Value(ZText name) const noexcept {
    Variant v;
    if (ref_) ref_->GetValue(name.get(), -1, -1, v.put());
    return v;
  }
  std::optional<int32_t> Int(ZText name) const { return Value(name).AsInt(); }
  std::optional<double> Real(ZText name) const { return Value(name).AsReal(); }
  std::optional<bool> Bool(ZText name) const { return Value(name).AsBool(); }
  std::optional<WString> Text(ZText name) const { return Value(name).AsText(); }

  /* Stores the value in the first item with the name, adding one when there is none. */
  bool Set(ZText name, const Arg& value) noexcept {
    return ref_ && ref_->SetValue(name.get(), value.get(), KIV_TRUE, nullptr) == KIV_S_OK;
  }
  /* Appends an item (none for a blank name: false). */
  bool Add(ZText name, const Arg& value) noexcept {
    Ref<IkivParamsListItemW> item;
    return ref_ && ref_->Add(name.get(), value.get(), item.put()) == KIV_S_OK && item;
  }
  /* Closes the current row with a marker unless the last item is one. */
  void NewRow() noexcept {
    if (ref_) ref_->NewRow();
  }
  Item At(int32_t index) const noexcept {
    Ref<IkivParamsListItemW> item;
    if (ref_) ref_->GetItem(index, item.put());
    return Item(std::move(item));
  }
  Item Find(ZText name) const noexcept {
    Ref<IkivParamsListItemW> item;
    if (ref_) ref_->Find(name.get(), -1, -1, item.put());
    return Item(std::move(item));
  }

 private:
  Ref<IkivParamsListW> ref_;
};

/* The list in a value slot of the call record (Kind KIV_KIND_PARAMS), borrowed for the call;
 * null when the slot holds none. */
inline IkivParamsListW* ListInSlot(const kivPluginCallValue& slot) noexcept {
  if (slot.Kind != KIV_KIND_PARAMS || slot.Value == 0) return nullptr;
  return *reinterpret_cast<IkivParamsListW* const*>(slot.Value);
}

/* ---- The plugin interface ------------------------------------------------------------------ */

/* A line in the instance's log. */
enum LogLevel : int32_t { kLogError = 0, kLogWarning = 1, kLogInfo = 2 };
inline void Log(IkivPluginW* plugin, LogLevel level, ZText text) noexcept {
  if (plugin) plugin->AddLog(level, text.get());
}
/* UTF-8 text (see Widen). */
inline void Log(IkivPluginW* plugin, LogLevel level, std::string_view utf8) {
  if (plugin) plugin->AddLog(level, Widen(utf8).c_str());
}

/* A module parameter's value; empty when there is none. */
inline Variant ModuleParameter(IkivPluginW* plugin, ZText name) noexcept {
  Variant v;
  if (plugin) plugin->GetModuleParameter(name.get(), v.put());
  return v;
}

/* Writes a module parameter; true when the name is writable and the module took the value. */
inline bool SetModuleParameter(IkivPluginW* plugin, ZText name, const Arg& value) noexcept {
  kivBOOL accepted = KIV_FALSE;
  return plugin && plugin->SetModuleParameter(name.get(), value.get(), &accepted) == KIV_S_OK && accepted;
}

/* The instance's settings: SaveSettings stores the named values of `values`, LoadSettings reads
 * them back into it (names not stored keep their values). KIV_S_OK, or why not (KIV_E_TIMEOUT:
 * the settings file stayed locked; the reason is also in the instance's log). */
inline kivHRESULT SaveSettings(IkivPluginW* plugin, const List& values) noexcept {
  return plugin ? plugin->ProcessSettings(KIV_TRUE, values.get()) : KIV_E_UNEXPECTED;
}
inline kivHRESULT LoadSettings(IkivPluginW* plugin, const List& values) noexcept {
  return plugin ? plugin->ProcessSettings(KIV_FALSE, values.get()) : KIV_E_UNEXPECTED;
}

/* Per-instance state: the library is loaded once per process, so its globals are shared by every
 * instance; an instance's own state is a T that the plugin interface keeps under `name`. Create
 * it in kivPluginCreate, find it in the other entry points, destroy it in kivPluginDestroy. */
template <class T>
bool CreateState(IkivPluginW* plugin, const kivWCHAR* name) {
  auto state = std::make_unique<T>();
  if (!plugin || plugin->SetNamedObject(name, state.get()) != KIV_S_OK) return false;
  static_cast<void>(state.release());  // the named object owns it until DestroyState
  return true;
}
template <class T>
T* FindState(IkivPluginW* plugin, const kivWCHAR* name) noexcept {
  void* object = nullptr;
  if (!plugin || plugin->GetNamedObject(name, &object) != KIV_S_OK) return nullptr;
  return static_cast<T*>(object);
}
template <class T>
void DestroyState(IkivPluginW* plugin, const kivWCHAR* name) noexcept {
  void* object = nullptr;
  if (plugin && plugin->RemoveNamedObject(name, &object) == KIV_S_OK)
    std::unique_ptr<T>(static_cast<T*>(object)).reset();
}

/* ---- Data calls ---------------------------------------------------------------------------- */

/* The parsed-data list of the data call in progress; empty outside one. */
inline List ParsedData(IkivPluginW* plugin) noexcept {
  Ref<IkivParamsListW> list;
  if (plugin) plugin->GetParsedData(list.put());
  return List(std::move(list));
}

/* The FIFO consumer pattern: the buffer of the call's data source, the bytes it holds (looked at
 * in place) and the removal of what was consumed; the rest waits for the next data call. */
class FifoConsumer {
 public:
  FifoConsumer(IkivPluginW* plugin, const kivPluginCallRecIntf* rec) noexcept {
    const Ref<IkivPluginEx> ex = Query<IkivPluginEx>(plugin);
    if (ex && rec && ex->GetParserClientBuffer(rec, buffer_.put()) == KIV_S_OK) Read();
  }
  /* True when the buffer was obtained and every read of it succeeded. */
  explicit operator bool() const noexcept { return ok_; }
  /* The bytes held, valid until the next Remove or Clear. */
  const uint8_t* data() const noexcept { return data_; }
  uint32_t size() const noexcept { return size_; }
  std::string_view bytes() const noexcept {
    return data_ ? std::string_view(reinterpret_cast<const char*>(data_), size_) : std::string_view();
  }
  /* Removes `count` bytes from the front (all when fewer are held) and looks again. */
  bool Remove(std::size_t count) noexcept {
    if (!buffer_) return false;
    const uint32_t n = count < size_ ? static_cast<uint32_t>(count) : size_;
    if (n > 0 && buffer_->Remove(n) != KIV_S_OK) return ok_ = false;
    return Read();
  }
  bool Clear() noexcept { return buffer_ && buffer_->Clear() == KIV_S_OK && Read(); }
  IkivFifoBuffer* buffer() const noexcept { return buffer_.get(); }

 private:
  bool Read() noexcept {
    data_ = nullptr;
    size_ = 0;
    ok_ = buffer_->GetSize(&size_) == KIV_S_OK && buffer_->GetData(&data_) == KIV_S_OK;
    if (!ok_ || !data_) size_ = 0;
    return ok_;
  }
  Ref<IkivFifoBuffer> buffer_;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  bool ok_ = false;
};

/* Writes parsed packets to the parsed-data list as rows: an item "FULL_DATA_PACKET" holding the
 * packet's text, the packet's named fields, then a row marker. Packet() closes the row before
 * it, and the last row is closed by End() or the destructor. ok() turns false at the first item
 * the list refused and stays so. */
class PacketRows {
 public:
  explicit PacketRows(List list) noexcept : list_(std::move(list)), ok_(static_cast<bool>(list_)) {}
  PacketRows(const PacketRows&) = delete;
  PacketRows& operator=(const PacketRows&) = delete;
  ~PacketRows() { End(); }

  PacketRows& Packet(const Arg& text) noexcept {
    End();
    open_ = true;
    ++rows_;
    return Keep(list_.Add(KIV_TEXT_W("FULL_DATA_PACKET"), text));
  }
  PacketRows& Field(ZText name, const Arg& value) noexcept { return Keep(list_.Add(name, value)); }
  void End() noexcept {
    if (open_) list_.NewRow();
    open_ = false;
  }
  bool ok() const noexcept { return ok_; }
  int32_t rows() const noexcept { return rows_; }

 private:
  PacketRows& Keep(bool added) noexcept {
    ok_ = ok_ && added;
    return *this;
  }
  List list_;
  bool ok_;
  bool open_ = false;
  int32_t rows_ = 0;
};

}  // namespace sdk
}  // namespace kiv

#endif /* KIV_KIV_CPP_H */
