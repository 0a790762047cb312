#include "settings/format_settings.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "settings/ini_text.h"

namespace kiv {

namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr std::int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a TDateTime

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

struct DateTimeParts {
  int year, month, day, hour, minute, second, msec;
};

DateTimeParts Decode(TDateTime value) {
  DateTimeParts p{};
  const double days = std::trunc(value);
  std::int64_t ms = std::llround(std::fabs(value - days) * kMsPerDay);
  if (ms >= static_cast<std::int64_t>(kMsPerDay)) ms = static_cast<std::int64_t>(kMsPerDay) - 1;
  CivilFromDays(static_cast<std::int64_t>(days) - kUnixEpochDays, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  return p;
}

void AppendNumber(std::string& out, int value, int minDigits) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < minDigits)
    out.append(static_cast<std::size_t>(minDigits) - digits.size(), '0');
  out += digits;
}

// Expands a Windows date or time picture.
std::string FormatPicture(std::string_view picture, const DateTimeParts& p,
                          const TFormatSettings& fs) {
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {  // quoted literal
      const std::size_t close = picture.find('\'', i + 1);
      const std::size_t end = close == std::string_view::npos ? picture.size() : close;
      out.append(picture.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    const int width = run >= 2 ? 2 : 1;
    switch (c) {
      case 'd':
        AppendNumber(out, p.day, width);
        break;
      case 'M':
        AppendNumber(out, p.month, width);
        break;
      case 'y':
        if (run >= 3)
          AppendNumber(out, p.year, 4);
        else
          AppendNumber(out, p.year % 100, width);
        break;
      case 'h':
        AppendNumber(out, p.hour % 12 == 0 ? 12 : p.hour % 12, width);
        break;
      case 'H':
        AppendNumber(out, p.hour, width);
        break;
      case 'm':
        AppendNumber(out, p.minute, width);
        break;
      case 's':
        AppendNumber(out, p.second, width);
        break;
      case 't': {
        const std::string& marker = p.hour < 12 ? fs.TimeAMString : fs.TimePMString;
        out += run >= 2 ? marker : marker.substr(0, 1);
        break;
      }
      case 'g':
        break;  // era: not shown
      default:
        out.append(run, c);
        break;
    }
    i += run;
  }
  return out;
}

// The separator after the first of `fields` in a date or time picture: its first character
// there that is not a blank, or a blank when there is nothing else ("dd.MM.yyyy" gives ".",
// "tt h:mm" with fields "hH" gives ":").
char PictureSeparator(std::string_view picture, std::string_view fields) {
  const auto isField = [](char c) {
    return std::string_view("dMyghHmst").find(c) != std::string_view::npos;
  };
  std::size_t i = picture.find_first_of(fields);
  if (i == std::string_view::npos) return ' ';
  const char first = picture[i];
  while (i < picture.size() && picture[i] == first) ++i;
  for (; i < picture.size() && !isField(picture[i]); ++i)
    if (picture[i] != '\'' && !IsBlank(picture[i])) return picture[i];
  return ' ';
}

// Splits text into numbers joined by `separator` (blanks allowed around it; a blank separator
// is any run of blanks). False for anything else, a number longer than 9 digits, or more than
// `maxNumbers` numbers.
bool ScanNumbers(std::string_view text, char separator, std::vector<std::string_view>& numbers,
                 std::size_t maxNumbers) {
  numbers.clear();
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    const std::size_t from = i;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return i > from;
  };
  skipBlanks();
  while (true) {
    std::size_t j = i;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (j == i || j - i > 9 || numbers.size() == maxNumbers) return false;
    numbers.push_back(text.substr(i, j - i));
    i = j;
    const bool blanks = skipBlanks();
    if (i == text.size()) return true;
    if (IsBlank(separator)) {
      if (!blanks) return false;
    } else {
      if (text[i] != separator) return false;
      ++i;
      skipBlanks();
    }
  }
}

int ToInt(std::string_view digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

// Removes an AM or PM marker from the start or end of `text`; returns -1 none, 0 AM, 1 PM.
int TakeMarker(std::string_view& text, const TFormatSettings& fs) {
  const std::string_view markers[4] = {fs.TimeAMString, fs.TimePMString, "AM", "PM"};
  for (int k = 0; k < 4; ++k) {
    const std::string_view m = markers[k];
    if (m.empty() || text.size() < m.size()) continue;
    if (AsciiSameText(text.substr(text.size() - m.size()), m)) {
      text = TrimBlanks(text.substr(0, text.size() - m.size()));
      return k % 2;
    }
    if (AsciiSameText(text.substr(0, m.size()), m)) {
      text = TrimBlanks(text.substr(m.size()));
      return k % 2;
    }
  }
  return -1;
}

}  // namespace

std::string FloatToStr(double value, const TFormatSettings& fs) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string text = buffer;
  if (text == "-0") text = "0";
  const std::size_t e = text.find('E');
  if (e != std::string::npos) {  // "1E+20" -> "1E20", "1E-05" -> "1E-5"
    std::string exponent = text.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.erase(0, 1);
    exponent.erase(0, exponent.find_first_not_of('0'));
    text = text.substr(0, e + 1) + (negative ? "-" : "") + exponent;
  }
  for (char& c : text)
    if (c == '.') c = fs.DecimalSeparator;
  return text;
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& fs) {
  text = TrimBlanks(text);
  std::string normal;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') normal += '-';
    ++i;
  }
  std::size_t digits = 0;
  bool separator = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      normal += c, ++digits;
    } else if (c == fs.DecimalSeparator && !separator) {
      normal += '.', separator = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    std::size_t expDigits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) normal += text[i], ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != text.size()) return false;
  double parsed = 0;
  const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
  if (ec != std::errc() || end != normal.data() + normal.size()) return false;
  value = parsed;
  return true;
}

bool TryStrToSpecialFloat(std::string_view text, double& value) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
    if (AsciiSameText(text, "NAN")) return false;  // a sign only goes with INF
  }
  if (AsciiSameText(text, "NAN")) {
    value = std::numeric_limits<double>::quiet_NaN();
  } else if (AsciiSameText(text, "INF")) {
    value = negative ? -std::numeric_limits<double>::infinity()
                     : std::numeric_limits<double>::infinity();
  } else {
    return false;
  }
  return true;
}

bool TryStrToInt(std::string_view text, int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const bool hex = i < text.size() && text[i] == '$';
  if (hex) ++i;
  if (i == text.size()) return false;
  std::uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (IsDigit(c))
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (v > 0xFFFFFFFFull) return false;
  }
  if (hex) {
    const auto bits = static_cast<std::uint32_t>(v);
    value = static_cast<int>(negative ? 0u - bits : bits);
    return true;
  }
  if (v > (negative ? 2147483648ull : 2147483647ull)) return false;
  value = negative ? static_cast<int>(-static_cast<std::int64_t>(v)) : static_cast<int>(v);
  return true;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
  value = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDays);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  value = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsPerDay;
  return true;
}

std::string DateToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatPicture(fs.ShortDateFormat, Decode(value), fs);
}

std::string TimeToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatPicture(fs.LongTimeFormat, Decode(value), fs);
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) {
  const DateTimeParts p = Decode(value);
  std::string text = FormatPicture(fs.ShortDateFormat, p, fs);
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.msec != 0)
    text += " " + FormatPicture(fs.LongTimeFormat, p, fs);
  return text;
}

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  // Order of day, month and year as the picture gives them.
  std::string order;
  bool quoted = false;
  for (char c : fs.ShortDateFormat) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && (c == 'd' || c == 'M' || c == 'y') && order.find(c) == std::string::npos)
      order += c;
  }
  if (order.size() != 3) order = "yMd";
  std::vector<std::string_view> numbers;
  if (!ScanNumbers(text, PictureSeparator(fs.ShortDateFormat, "dMy"), numbers, 3) || numbers.size() != 3)
    return false;
  int year = 0, month = 0, day = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const int n = ToInt(numbers[k]);
    if (order[k] == 'd')
      day = n;
    else if (order[k] == 'M')
      month = n;
    else
      year = numbers[k].size() <= 2 ? (n < 50 ? 2000 + n : 1900 + n) : n;
  }
  return TryEncodeDate(year, month, day, value);
}

bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  text = TrimBlanks(text);
  const int marker = TakeMarker(text, fs);
  std::vector<std::string_view> numbers;
  if (!ScanNumbers(text, PictureSeparator(fs.LongTimeFormat, "hH"), numbers, 3)) return false;
  if (numbers.size() < (marker >= 0 ? 1u : 2u)) return false;  // "1 PM" but not "1"
  int parts[4] = {0, 0, 0, 0};
  for (std::size_t k = 0; k < numbers.size(); ++k) parts[k] = ToInt(numbers[k]);
  int hour = parts[0];
  if (marker >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (marker == 1 ? 12 : 0);
  }
  return TryEncodeTime(hour, parts[1], parts[2], parts[3], value);
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  text = TrimBlanks(text);
  if (TryStrToDate(text, value, fs)) return true;
  // The date ends at one of the blanks; the rest is the time.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsBlank(text[i])) continue;
    TDateTime date = 0, time = 0;
    if (TryStrToDate(text.substr(0, i), date, fs) && TryStrToTime(text.substr(i), time, fs)) {
      value = date >= 0 ? date + time : date - time;
      return true;
    }
  }
  return false;
}

}  // namespace kiv
