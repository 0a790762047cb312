// Locale-shaped text of numbers, dates and times as the INI file reads and writes them:
// TFormatSettings holds the user's decimal separator and date and time pictures (Windows
// picture syntax: d dd M MM yy yyyy h hh H HH m mm s ss t tt, '...' literals). Dates are
// TDateTime values: days since 1899-12-30, the time as the fraction. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

using TDateTime = double;

struct TFormatSettings {
  char DecimalSeparator = '.';
  std::string ShortDateFormat = "yyyy-MM-dd";
  std::string LongTimeFormat = "HH:mm:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
};

// The user's settings, read once (Windows: GetLocaleInfoA of LOCALE_USER_DEFAULT; elsewhere
// the defaults above).
const TFormatSettings& UserFormatSettings();

// Shortest general form with up to 15 significant digits ("3.5", "1E20", "1E-5"), with the
// settings' decimal separator; "NAN", "INF", "-INF" for the special values.
std::string FloatToStr(double value, const TFormatSettings& fs);
// Optional blanks, sign, digits with one decimal separator, optional exponent; false otherwise.
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& fs);
// The special values as FloatToStr writes them ("NAN", "INF", "-INF"; also "+INF", any case,
// blanks around); false for any other text.
bool TryStrToSpecialFloat(std::string_view text, double& value);

// Integer parser of the platform: optional sign, then decimal digits or "$" and hexadecimal
// digits; the result must fit 32 bits (hexadecimal wraps like an unsigned value).
bool TryStrToInt(std::string_view text, int& value);

std::string DateToStr(TDateTime value, const TFormatSettings& fs);
std::string TimeToStr(TDateTime value, const TFormatSettings& fs);
// Date and time; the time is left out when it is midnight.
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs);

// Parse text in the shape the pictures give: numbers in the picture's day/month/year order,
// or hour, minute (left out only before AM/PM), optional second and optional AM/PM, joined by
// the separator the picture uses (blanks around it allowed); false for anything else.
bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs);
bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs);
bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs);

// Calendar helpers; false for an invalid date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value);

}  // namespace kiv
