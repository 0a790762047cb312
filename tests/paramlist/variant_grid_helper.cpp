#include "paramlist/variant_grid_helper.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/bstr.h"

namespace kiv::testing {

namespace {

std::string Number(double d) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", d);
  return buffer;
}

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

Variant Decimal(bool negative, int scale, uint32_t hi, uint64_t lo) {
  TVarData d{};
  uint8_t bytes[16] = {};
  bytes[2] = static_cast<uint8_t>(scale);
  bytes[3] = negative ? 0x80 : 0;
  std::memcpy(bytes + 4, &hi, 4);
  std::memcpy(bytes + 8, &lo, 8);
  std::memcpy(&d, bytes, sizeof d);
  d.VType = varDecimal;
  return Variant::Adopt(d);
}

std::vector<GridValue> GridValues() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<GridValue> grid;
  grid.push_back({"EMPTY", Variant()});
  grid.push_back({"NULL", Variant::Null()});
  for (int16_t x : {int16_t(INT16_MIN), int16_t(-1), int16_t(0), int16_t(INT16_MAX)})
    grid.push_back({"I2 " + std::to_string(x), Variant::Int16(x)});
  for (int32_t x : {INT32_MIN, -1, 0, 1, 65535, INT32_MAX}) grid.push_back({"I4 " + std::to_string(x), Variant::Int32(x)});
  for (float x : {0.1f, 0.3f, 2.5f, -2.5f, 1e15f, 123456.7f, 16777216.0f, std::numeric_limits<float>::max(),
                  std::numeric_limits<float>::denorm_min(), -0.0f, float(nan), float(inf), float(-inf)})
    grid.push_back({"R4 " + Number(x), Variant::Single(x)});
  for (double x : {0.1, 0.5, 1.5, 2.5, -0.5, -1.5, 1.0 / 3, 1e-5, 1e15, 1e16, 1e21, 1234567.0, 123456789012345678.0,
                   254.5, 255.5, -128.5, 32767.5, 2147483647.5, -2147483648.5, 2147483648.0, 4294967295.0,
                   4294967296.0, 9223372036854775808.0, 0.00015, 1.00005, 6.8e38, 1e-300,
                   std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(), -0.0, nan, inf, -inf})
    grid.push_back({"R8 " + Number(x), Variant::Double(x)});
  for (int64_t x : {int64_t(0), int64_t(1), int64_t(-1), int64_t(5000), int64_t(15000), int64_t(-15000), int64_t(25000),
                    int64_t(-25000), int64_t(12345678), int64_t(21474836475000), INT64_MAX, INT64_MIN})
    grid.push_back({"CY " + std::to_string(x), Variant::Currency(x)});
  for (double x : {0.0, 0.25, 0.5, -0.25, -0.75, 1.0, -1.0, 1.5, -1.25, 36526.0, 36526.75, 36526.999999, 45000.123456,
                   0.5 / 86400, 1.5 / 86400, 2.5 / 86400, 0.999999, -1.999999, -657434.0, -657434.5, -657435.0,
                   2958465.0, 2958465.5, 2958465.99999, 2958466.0, 1e10, nan, inf})
    grid.push_back({"DATE " + Number(x), Variant::Date(x)});
  for (int16_t x : {int16_t(-1), int16_t(0), int16_t(1)}) {
    TVarData b{};
    b.VType = varBoolean;
    b.VBoolean = x;
    grid.push_back({"BOOL " + std::to_string(x), Variant::Adopt(b)});
  }
  for (int8_t x : {int8_t(INT8_MIN), int8_t(-1), int8_t(INT8_MAX)}) grid.push_back({"I1 " + std::to_string(x), Variant::Int8(x)});
  for (uint8_t x : {uint8_t(0), uint8_t(255)}) grid.push_back({"UI1 " + std::to_string(x), Variant::UInt8(x)});
  for (uint16_t x : {uint16_t(32768), uint16_t(65535)}) grid.push_back({"UI2 " + std::to_string(x), Variant::UInt16(x)});
  for (uint32_t x : {7u, 0x80000000u, 0xFFFFFFFFu}) grid.push_back({"UI4 " + std::to_string(x), Variant::UInt32(x)});
  for (int64_t x : {INT64_MIN, int64_t(-1), int64_t(0x80000000), int64_t(0x100000000), int64_t(922337203685476), INT64_MAX})
    grid.push_back({"I8 " + std::to_string(x), Variant::Int64(x)});
  grid.push_back({"DEC 0", Decimal(false, 0, 0, 0)});
  grid.push_back({"DEC 2.5", Decimal(false, 1, 0, 25)});
  grid.push_back({"DEC 2.50", Decimal(false, 2, 0, 250)});
  grid.push_back({"DEC -3.5", Decimal(true, 1, 0, 35)});
  grid.push_back({"DEC 2^64", Decimal(false, 0, 1, 0)});
  grid.push_back({"DEC max", Decimal(false, 0, 0xFFFFFFFF, UINT64_MAX)});
  grid.push_back({"DEC max/1e28", Decimal(false, 28, 0xFFFFFFFF, UINT64_MAX)});
  grid.push_back({"DEC 1e-28", Decimal(false, 28, 0, 1)});
  for (const char16_t* s :
       {u"$10", u"$ 10", u"10$", u"$-12", u"-$12", u"12.5$", u"$1,234.50", u"&H10", u"&h1F", u"&HFFFF", u"&HFFFFFFFF",
        u"&H80000000", u"&HFFFFFFFFFF", u"&O17", u"&O777", u"&H", u"&B1", u"0x10", u"1,234", u"1,2,3", u"12,", u",12",
        u"1,234.5,6", u"1,234,567.891", u"1,234.5e2", u"(12)", u"(-12)", u"(12", u"12)", u"()", u" 12 ", u"\t12",
        u"1 000", u"12-", u"12 -", u"+12", u"12+", u"- 12", u"--1", u"1.5", u"2.5", u"-2.5", u"0.5", u"-0.5", u".5",
        u"5.", u"0.1", u"1.2.3", u"-0", u"0.0", u"1e15", u"1E400", u"1e", u"1d2", u"12e-1", u"1e-2", u"1.5e1",
        u"2147483648", u"-2147483648", u"-2147483649", u"2147483647.5", u"-2147483648.5", u"4294967295",
        u"5e-324", u"3.14159265358979323846", u"", u"  ", u"abc", u"True", u"false", u"#TRUE#", u" True ", u"yes"})
    grid.push_back({"text \"" + Narrow(s) + "\"", Variant::Wide(s)});
  return grid;
}

std::vector<TVarType> GridTargets() {
  return {varSmallint, varInteger, varSingle, varDouble, varCurrency, varBoolean, varShortInt,
          varByte,     varWord,    varLongWord, varInt64, varOleStr};
}

std::string Describe(bool ok, const Variant& result) {
  if (!ok) return "fails";
  const TVarData& d = result.Data();
  switch (d.VType) {
    case varSmallint: return "I2 " + std::to_string(d.VSmallInt);
    case varInteger: return "I4 " + std::to_string(d.VInteger);
    case varSingle: return "R4 " + Number(d.VSingle);
    case varDouble: return "R8 " + Number(d.VDouble);
    case varCurrency: return "CY " + std::to_string(d.VCurrency);
    case varBoolean: return "BOOL " + std::to_string(d.VBoolean);
    case varShortInt: return "I1 " + std::to_string(d.VShortInt);
    case varByte: return "UI1 " + std::to_string(d.VByte);
    case varWord: return "UI2 " + std::to_string(d.VWord);
    case varLongWord: return "UI4 " + std::to_string(d.VLongWord);
    case varInt64: return "I8 " + std::to_string(d.VInt64);
    case varOleStr: return "text \"" + Narrow(BstrView(d.VOleStr)) + "\"";
    default: return "type " + std::to_string(d.VType);
  }
}

}  // namespace kiv::testing
