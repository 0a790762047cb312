#include "paramlist/variant_change.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "paramlist/variant_conversion.h"
#include "platform/bstr.h"

namespace kiv {
namespace {

bool IsIntegerType(TVarType t) {
  return t == varSmallint || t == varInteger || (t >= varShortInt && t <= varInt64);
}

bool IsSupportedTarget(TVarType t) {
  return IsIntegerType(t) || t == varSingle || t == varDouble || t == varCurrency || t == varBoolean ||
         t == varOleStr;
}

bool IsSupportedSource(TVarType t) {
  return t == varEmpty || t == varNull || IsSupportedTarget(t) || t == varDate || t == varDecimal;
}

bool IsNaNValue(const TVarData& v) {
  return (v.VType == varSingle && std::isnan(v.VSingle)) ||
         ((v.VType == varDouble || v.VType == varDate) && std::isnan(v.VDouble));
}

// ---- Exact decimal numbers: text and decimal values. ----

// sign * digits * 10^exponent; `digits` has no leading zeros (empty for zero).
struct Exact {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// Rounds half to even to a multiple of 10^-places and returns the magnitude; false when it
// exceeds the uint64 range.
bool RoundedMagnitude(const Exact& x, int places, uint64_t& out) {
  const int shift = x.exponent + places;  // value * 10^places = digits * 10^shift
  std::string whole = x.digits;
  char dropped = '0';
  bool rest = false;
  if (shift >= 0) {
    if (!whole.empty()) whole.append(static_cast<size_t>(shift), '0');
  } else {
    const size_t cut = static_cast<size_t>(-shift);
    const size_t keep = whole.size() > cut ? whole.size() - cut : 0;
    const std::string tail = whole.size() > cut ? whole.substr(keep) : std::string(cut - whole.size(), '0') + whole;
    whole.resize(keep);
    dropped = tail[0];
    rest = tail.find_first_not_of('0', 1) != std::string::npos;
  }
  if (whole.size() > 20) return false;
  uint64_t m = 0;
  for (char c : whole) {
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (m > (UINT64_MAX - d) / 10) return false;
    m = m * 10 + d;
  }
  if (dropped > '5' || (dropped == '5' && (rest || (m & 1) != 0))) {
    if (m == UINT64_MAX) return false;
    ++m;
  }
  out = m;
  return true;
}

// Signed value rounded to 10^-places within [lo, hi].
bool RoundedSigned(const Exact& x, int places, int64_t lo, int64_t hi, int64_t& out) {
  uint64_t m = 0;
  if (!RoundedMagnitude(x, places, m)) return false;
  if (x.negative) {
    if (m > static_cast<uint64_t>(-(lo + 1)) + 1) return false;
    out = m == 0 ? 0 : -static_cast<int64_t>(m - 1) - 1;
  } else {
    if (m > static_cast<uint64_t>(hi)) return false;
    out = static_cast<int64_t>(m);
  }
  return out >= lo && out <= hi;
}

// The nearest double; false on overflow.
bool ExactToDouble(const Exact& x, double& out) {
  if (x.digits.empty()) {
    out = x.negative ? -0.0 : 0.0;
    return true;
  }
  const std::string text = (x.negative ? "-" : "") + x.digits + "e" + std::to_string(x.exponent);
  double d = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec == std::errc::result_out_of_range) {
    if (static_cast<long>(x.digits.size()) + x.exponent > 0) return false;  // too large
    d = x.negative ? -0.0 : 0.0;  // below the smallest double
  } else if (ec != std::errc()) {
    return false;
  }
  out = d;
  return true;
}

// The decimal's 96-bit magnitude, scale (0..28) and sign; false for a malformed value.
struct DecimalParts {
  uint32_t hi;
  uint64_t lo;
  int scale;
  bool negative;
};

bool ReadDecimal(const TVarData& v, DecimalParts& d) {
  uint8_t bytes[16];
  std::memcpy(bytes, &v, sizeof bytes);
  d.scale = bytes[2];
  d.negative = (bytes[3] & 0x80) != 0;
  std::memcpy(&d.hi, bytes + 4, 4);
  std::memcpy(&d.lo, bytes + 8, 8);
  return d.scale <= 28 && (bytes[3] & 0x7F) == 0;
}

Exact DecimalToExact(const DecimalParts& d) {
  uint32_t words[3] = {d.hi, static_cast<uint32_t>(d.lo >> 32), static_cast<uint32_t>(d.lo)};
  std::string reversed;
  while (words[0] | words[1] | words[2]) {
    uint64_t remainder = 0;
    for (uint32_t& w : words) {
      const uint64_t cur = (remainder << 32) | w;
      w = static_cast<uint32_t>(cur / 10);
      remainder = cur % 10;
    }
    reversed.push_back(static_cast<char>('0' + remainder));
  }
  Exact x;
  x.negative = d.negative;
  x.digits.assign(reversed.rbegin(), reversed.rend());
  x.exponent = -d.scale;
  return x;
}

// The magnitude as a double times the double nearest 10^-scale, as the system computes it.
double DecimalToDouble(const DecimalParts& d) {
  static constexpr double kNegativePowers[29] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                                 1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                                 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22, 1e-23,
                                                 1e-24, 1e-25, 1e-26, 1e-27, 1e-28};
  const double magnitude = static_cast<double>(d.hi) * 18446744073709551616.0 + static_cast<double>(d.lo);
  return (d.negative ? -magnitude : magnitude) * kNegativePowers[d.scale];
}

// ---- Text to number (the system's number parser with all its options, US English). ----

struct ParsedText {
  Exact exact;
  bool radix = false;  // "&H" or "&O": `bits` holds the value
  uint64_t bits = 0;
};

bool IsBlank(char16_t c) { return c == ' ' || (c >= 9 && c <= 13); }

// What may stand before or after the digits: blanks, one sign and one currency symbol.
struct Affixes {
  bool sign = false;
  bool currency = false;
  bool paren = false;

  // Takes `c` when it is one of them; a minus makes `negative` true.
  bool Take(char16_t c, bool& negative) {
    if (IsBlank(c)) return true;
    if ((c == '+' || c == '-') && !sign) {
      sign = true;
      if (c == '-') negative = true;
      return true;
    }
    if (c == '$' && !currency) {
      currency = true;
      return true;
    }
    return false;
  }
};

bool ParseText(std::u16string_view s, ParsedText& p) {
  size_t i = 0;
  Affixes affixes;
  for (; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (affixes.Take(c, p.exact.negative)) continue;
    if (c == '(' && !affixes.paren) {
      affixes.paren = true;
      p.exact.negative = true;
    } else {
      break;
    }
  }
  if (i < s.size() && s[i] == '&') {
    if (i + 1 >= s.size()) return false;
    const char16_t base = s[i + 1];
    const int shift = (base == 'h' || base == 'H') ? 4 : (base == 'o' || base == 'O') ? 3 : 0;
    if (shift == 0) return false;
    i += 2;
    size_t start = i;
    for (; i < s.size(); ++i) {
      const char16_t c = s[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (shift == 4 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (shift == 4 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0 || digit >= (1 << shift)) break;
      if (p.bits > (UINT64_MAX >> shift)) return false;
      p.bits = (p.bits << shift) | static_cast<uint64_t>(digit);
    }
    if (i == start) return false;
    p.radix = true;
  } else {
    bool digit = false, point = false;
    int fraction = 0;
    for (; i < s.size(); ++i) {
      const char16_t c = s[i];
      if (c >= '0' && c <= '9') {
        digit = true;
        if (point) ++fraction;
        if (c != '0' || !p.exact.digits.empty()) p.exact.digits.push_back(static_cast<char>(c));
      } else if (c == ',' && digit) {
        continue;
      } else if (c == '.' && !point) {
        point = true;
      } else {
        break;
      }
    }
    if (!digit) return false;
    // Leading zeros are not kept; the count of fraction digits still scales the value.
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      ++i;
      bool negative = false;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
      const size_t start = i;
      for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
      }
      if (i == start) return false;
      if (negative) exponent = -exponent;
    }
    p.exact.exponent = static_cast<int>(exponent) - fraction;
  }
  bool closed = false;
  for (; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (affixes.Take(c, p.exact.negative)) continue;
    if (c != ')' || !affixes.paren || closed) return false;
    closed = true;
  }
  return !affixes.paren || closed;
}


// ---- Numbers on their way between types. ----

struct Number {
  enum Kind { kInteger, kFloating, kCurrency, kExact, kRadix } kind = kInteger;
  int64_t integer = 0;
  int width = 8;           // kInteger: bytes of the source type; 0 for a Boolean
  bool isUnsigned = false;
  double floating = 0;     // kFloating: doubles, singles and dates
  bool single = false;
  int64_t currency = 0;
  Exact exact;             // kExact: text and decimals
  bool decimal = false;
  DecimalParts parts{};
  uint64_t bits = 0;       // kRadix
};

void SetInteger(Number& n, int64_t value, int width, bool isUnsigned) {
  n.kind = Number::kInteger;
  n.integer = value;
  n.width = width;
  n.isUnsigned = isUnsigned;
}

bool ReadNumber(const TVarData& v, Number& n) {
  switch (v.VType) {
    case varEmpty: SetInteger(n, 0, 8, false); return true;
    case varSmallint: SetInteger(n, v.VSmallInt, 2, false); return true;
    case varInteger: SetInteger(n, v.VInteger, 4, false); return true;
    case varBoolean: SetInteger(n, v.VBoolean, 0, false); return true;  // the stored value as it is
    case varShortInt: SetInteger(n, v.VShortInt, 1, false); return true;
    case varByte: SetInteger(n, v.VByte, 1, true); return true;
    case varWord: SetInteger(n, v.VWord, 2, true); return true;
    case varLongWord: SetInteger(n, v.VLongWord, 4, true); return true;
    case varInt64: SetInteger(n, v.VInt64, 8, false); return true;
    case varSingle: n.kind = Number::kFloating; n.floating = v.VSingle; n.single = true; return true;
    case varDouble: case varDate: n.kind = Number::kFloating; n.floating = v.VDouble; return true;
    case varCurrency: n.kind = Number::kCurrency; n.currency = v.VCurrency; return true;
    case varDecimal:
      if (!ReadDecimal(v, n.parts)) return false;
      n.kind = Number::kExact;
      n.decimal = true;
      n.exact = DecimalToExact(n.parts);
      return true;
    case varOleStr: {
      ParsedText parsed;
      if (!ParseText(BstrView(v.VOleStr), parsed)) return false;
      n.kind = parsed.radix ? Number::kRadix : Number::kExact;
      n.exact = parsed.exact;
      n.bits = parsed.bits;
      return true;
    }
    default: return false;
  }
}

// Rounds half to even; false for NaN or a value outside (-2^63, 2^63).
bool RoundFloating(double d, int64_t& out) {
  if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
  double r = std::floor(d);
  const double fraction = d - r;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1.0;
  if (!(r > -9223372036854775808.0 && r < 9223372036854775808.0)) return false;
  out = static_cast<int64_t>(r);
  return true;
}

int64_t CurrencyToInteger(int64_t scaled) {
  int64_t q = scaled / 10000, r = scaled % 10000;
  const int64_t absR = r < 0 ? -r : r;
  if (absR > 5000 || (absR == 5000 && (q % 2 != 0))) q += r < 0 ? -1 : 1;
  return q;
}

struct IntegerTarget {
  int width;
  bool isUnsigned;
  int64_t lo, hi;
};

IntegerTarget TargetOf(TVarType to) {
  switch (to) {
    case varSmallint: return {2, false, INT16_MIN, INT16_MAX};
    case varInteger: return {4, false, INT32_MIN, INT32_MAX};
    case varShortInt: return {1, false, INT8_MIN, INT8_MAX};
    case varByte: return {1, true, 0, UINT8_MAX};
    case varWord: return {2, true, 0, UINT16_MAX};
    case varLongWord: return {4, true, 0, UINT32_MAX};
    default: return {8, false, INT64_MIN, INT64_MAX};
  }
}

// The low `width` bytes of `value`, read with the target's signedness.
int64_t KeepBits(uint64_t value, const IntegerTarget& t) {
  if (t.width == 8) return static_cast<int64_t>(value);
  const int shift = 64 - 8 * t.width;
  const uint64_t low = (value << shift) >> shift;
  return t.isUnsigned ? static_cast<int64_t>(low) : static_cast<int64_t>(low << shift) >> shift;
}

bool ToInteger(const Number& n, const IntegerTarget& t, int64_t& out) {
  switch (n.kind) {
    case Number::kInteger:
      // A Boolean, or a value of the same width with the other signedness, keeps its bits.
      if (n.width == 0 || (n.width == t.width && n.isUnsigned != t.isUnsigned)) {
        out = KeepBits(static_cast<uint64_t>(n.integer), t);
        return true;
      }
      out = n.integer;
      break;
    case Number::kFloating:
      if (!RoundFloating(n.floating, out)) return false;
      break;
    case Number::kCurrency: out = CurrencyToInteger(n.currency); break;
    case Number::kExact: return RoundedSigned(n.exact, 0, t.lo, t.hi, out);
    case Number::kRadix:
      if (t.width < 8 && n.bits >> (8 * t.width) != 0) return false;
      out = KeepBits(n.bits, t);
      return true;
  }
  return out >= t.lo && out <= t.hi;
}

bool ToDouble(const Number& n, double& out) {
  switch (n.kind) {
    case Number::kInteger: out = static_cast<double>(n.integer); return true;
    case Number::kFloating: out = n.floating; return true;
    case Number::kCurrency: out = static_cast<double>(n.currency) / 10000.0; return true;
    case Number::kExact:
      if (n.decimal) {
        out = DecimalToDouble(n.parts);
        return true;
      }
      return ExactToDouble(n.exact, out);
    case Number::kRadix:
      // Up to 2^31 - 1 as it is; 2^31 reads as the negative 32-bit value.
      if (n.bits <= 0x7FFFFFFFu) out = static_cast<double>(n.bits);
      else if (n.bits == 0x80000000u) out = -2147483648.0;
      else return false;
      return true;
  }
  return false;
}

bool ToSingle(const Number& n, float& out) {
  if (n.kind == Number::kInteger) {
    out = static_cast<float>(n.integer);
    return true;
  }
  double d = 0;
  if (!ToDouble(n, d)) return false;
  if (std::isinf(d) || std::fabs(d) > std::numeric_limits<float>::max()) return false;
  out = static_cast<float>(d);
  // Text that names a number too small for a single is refused, not read as zero.
  return !(n.kind == Number::kExact && !n.decimal && d != 0 && out == 0);
}

bool ToCurrency(const Number& n, int64_t& out) {
  switch (n.kind) {
    case Number::kInteger:
      if (!(n.integer > INT64_MIN / 10000 && n.integer < INT64_MAX / 10000)) return false;
      out = n.integer * 10000;
      return true;
    case Number::kFloating: return RoundFloating(n.floating * 10000.0, out);
    case Number::kCurrency: out = n.currency; return true;
    case Number::kExact: return RoundedSigned(n.exact, 4, INT64_MIN, INT64_MAX, out);
    case Number::kRadix: return false;
  }
  return false;
}

bool ToBoolean(const Number& n, bool& out) {
  switch (n.kind) {
    case Number::kInteger: out = n.integer != 0; return true;
    case Number::kCurrency: out = n.currency != 0; return true;
    case Number::kExact:
      if (n.decimal) {
        out = !n.exact.digits.empty();
        return true;
      }
      [[fallthrough]];
    default: {
      double d = 0;
      if (!ToDouble(n, d)) return false;
      out = d != 0;
      return true;
    }
  }
}

bool NumberTo(const Number& n, TVarType to, TVarData& out) {
  switch (to) {
    case varSingle: return ToSingle(n, out.VSingle);
    case varDouble: return ToDouble(n, out.VDouble);
    case varCurrency: return ToCurrency(n, out.VCurrency);
    case varBoolean: {
      bool b = false;
      if (!ToBoolean(n, b)) return false;
      out.VBoolean = b ? kVariantTrue : kVariantFalse;
      return true;
    }
    default: {
      const IntegerTarget t = TargetOf(to);
      int64_t i = 0;
      if (!ToInteger(n, t, i)) return false;
      out.VInt64 = 0;
      switch (to) {
        case varSmallint: out.VSmallInt = static_cast<int16_t>(i); break;
        case varInteger: out.VInteger = static_cast<int32_t>(i); break;
        case varShortInt: out.VShortInt = static_cast<int8_t>(i); break;
        case varByte: out.VByte = static_cast<uint8_t>(i); break;
        case varWord: out.VWord = static_cast<uint16_t>(i); break;
        case varLongWord: out.VLongWord = static_cast<uint32_t>(i); break;
        default: out.VInt64 = i; break;
      }
      return true;
    }
  }
}

// "True" and "False" in any letter case, also between "#" as the system writes them.
bool BooleanWord(std::u16string_view s, bool& out) {
  if (s.size() > 2 && s.front() == '#' && s.back() == '#') s = s.substr(1, s.size() - 2);
  auto equals = [s](std::string_view word) {
    if (s.size() != word.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
      const char16_t c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char16_t>(s[i] + 32) : s[i];
      if (c != static_cast<char16_t>(word[i])) return false;
    }
    return true;
  };
  if (equals("true")) out = true;
  else if (equals("false")) out = false;
  else return false;
  return true;
}

// ---- Text forms. ----

// printf's "%.<precision>G": "0.1", "1E+15", "1.23456789012346E+17", "NAN", "INF", "-INF".
std::string FormatGeneral(double d, int precision) {
  if (std::isnan(d)) return "NAN";
  if (std::isinf(d)) return d < 0 ? "-INF" : "INF";
  if (d == 0) return "0";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, precision);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  return text;
}

// sign, integer digits, then the fraction without trailing zeros.
std::string FormatExact(const Exact& x) {
  if (x.digits.empty()) return "0";
  std::string digits = x.digits;
  if (x.exponent >= 0) {
    digits.append(static_cast<size_t>(x.exponent), '0');
  } else {
    const size_t places = static_cast<size_t>(-x.exponent);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    digits.insert(digits.size() - places, 1, '.');
    digits.erase(digits.find_last_not_of('0') + 1);
    if (digits.back() == '.') digits.pop_back();
  }
  return (x.negative ? "-" : "") + digits;
}

Exact CurrencyToExact(int64_t scaled) {
  Exact x;
  x.negative = scaled < 0;
  const uint64_t magnitude = x.negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  if (magnitude != 0) x.digits = std::to_string(magnitude);
  x.exponent = -4;
  return x;
}

// (year, month, day) of a count of days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// "M/d/yyyy h:mm:ss tt": the date is left out for day 0 (a time alone), the time when the value
// is a whole day. A negative value counts whole days back from 1899-12-30, its fraction is the
// time of that day. Years 100 to 9999 only.
bool FormatDate(double value, std::string& out) {
  if (!(value > -657435.0 && value < 2958466.0)) return false;
  const double whole = std::trunc(value);
  const double fraction = std::fabs(value - whole);
  int64_t day = static_cast<int64_t>(whole);
  const bool showDate = day != 0;
  const bool showTime = fraction != 0 || day == 0;
  int64_t seconds = static_cast<int64_t>(std::floor(fraction * 86400.0 + 0.5));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  out.clear();
  if (showDate) {
    int64_t year = 0;
    unsigned month = 0, dayOfMonth = 0;
    CivilFromDays(day - 25569, year, month, dayOfMonth);
    out = std::to_string(month) + "/" + std::to_string(dayOfMonth) + "/" + std::to_string(year);
  }
  if (showTime) {
    const int64_t hour = seconds / 3600, minute = seconds / 60 % 60, second = seconds % 60;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", static_cast<int>(hour % 12 == 0 ? 12 : hour % 12),
                  static_cast<int>(minute), static_cast<int>(second), hour < 12 ? "AM" : "PM");
    if (!out.empty()) out += ' ';
    out += buffer;
  }
  return true;
}

bool ToText(const TVarData& v, std::string& out) {
  switch (v.VType) {
    case varEmpty: out.clear(); return true;
    case varSmallint: out = std::to_string(v.VSmallInt); return true;
    case varInteger: out = std::to_string(v.VInteger); return true;
    case varShortInt: out = std::to_string(v.VShortInt); return true;
    case varByte: out = std::to_string(v.VByte); return true;
    case varWord: out = std::to_string(v.VWord); return true;
    case varLongWord: out = std::to_string(v.VLongWord); return true;
    case varInt64: out = std::to_string(v.VInt64); return true;
    case varBoolean: out = v.VBoolean != 0 ? "True" : "False"; return true;
    case varSingle: out = FormatGeneral(v.VSingle, 7); return true;
    case varDouble: out = FormatGeneral(v.VDouble, 15); return true;
    case varCurrency: out = FormatExact(CurrencyToExact(v.VCurrency)); return true;
    case varDate: return FormatDate(v.VDate, out);
    case varDecimal: {
      DecimalParts parts{};
      if (!ReadDecimal(v, parts)) return false;
      out = FormatExact(DecimalToExact(parts));
      return true;
    }
    default: return false;
  }
}

}  // namespace

bool VarChangeTypePortable(Variant& result, const TVarData& source, TVarType to) {
  result.Clear();
  if (!IsSupportedSource(source.VType) || !IsSupportedTarget(to) || source.VType == varNull) return false;
  if (source.VType == to) {
    result = Variant::Copy(source);
    return true;
  }
  TVarData out{};
  if (to == varOleStr) {
    std::string text;
    if (!ToText(source, text)) return false;  // the text is ASCII
    result = Variant::Wide(std::u16string(text.begin(), text.end()));
    return true;
  }
  bool word = false;
  if (to == varBoolean && source.VType == varOleStr && BooleanWord(BstrView(source.VOleStr), word)) {
    result = Variant::Bool(word);
    return true;
  }
  Number n;
  if (!ReadNumber(source, n) || !NumberTo(n, to, out)) return false;
  out.VType = to;
  result = Variant::Adopt(out);
  return true;
}

bool VarChangeTypeEx(Variant& result, const TVarData& source, TVarType to) {
  result.Clear();
  const Variant value = VarResolved(source);
  const TVarData& v = value.Data();
  if (!IsSupportedSource(v.VType) || !IsSupportedTarget(to)) return false;
  // A NaN has no integer, currency or calendar value (Windows would answer with the largest
  // integer or a made-up date).
  if (IsNaNValue(v) && (IsIntegerType(to) || to == varCurrency || (v.VType == varDate && to == varOleStr))) {
    return false;
  }
  return VarChangeTypePlatform(result, v, to);
}

}  // namespace kiv
