#include "settings/format_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kiv {
namespace {

TFormatSettings German() {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ShortDateFormat = "dd.MM.yyyy";
  fs.LongTimeFormat = "HH:mm:ss";
  return fs;
}

TFormatSettings American() {
  TFormatSettings fs;
  fs.ShortDateFormat = "M/d/yyyy";
  fs.LongTimeFormat = "h:mm:ss tt";
  return fs;
}

TDateTime Date(int y, int m, int d) {
  TDateTime v = 0;
  EXPECT_TRUE(TryEncodeDate(y, m, d, v));
  return v;
}

TEST(FormatSettings, FloatTextIsShortestGeneralWithLocaleSeparator) {
  const TFormatSettings dot;
  EXPECT_EQ(FloatToStr(3.5, dot), "3.5");
  EXPECT_EQ(FloatToStr(3.5, German()), "3,5");
  EXPECT_EQ(FloatToStr(1e20, dot), "1E20");
  EXPECT_EQ(FloatToStr(1e-5, dot), "1E-5");
  EXPECT_EQ(FloatToStr(0.0001, dot), "0.0001");
  EXPECT_EQ(FloatToStr(0.1, dot), "0.1");
  EXPECT_EQ(FloatToStr(-0.0, dot), "0");
  EXPECT_EQ(FloatToStr(123456789012345678.0, dot), "1.23456789012346E17");
  double v = 0;
  EXPECT_TRUE(TryStrToFloat(" -2,5e+3 ", v, German()));
  EXPECT_DOUBLE_EQ(v, -2500);
  for (const char* bad : {"", "-", "1e", "1.2.3", "1,5", "inf", "0x10", "1 2"})
    EXPECT_FALSE(TryStrToFloat(bad, v, TFormatSettings())) << bad;
}

TEST(FormatSettings, IntegerParserTakesDecimalAndDollarHex) {
  int v = 0;
  EXPECT_TRUE(TryStrToInt("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_FALSE(TryStrToInt("2147483648", v));
  EXPECT_TRUE(TryStrToInt("-$1F", v));
  EXPECT_EQ(v, -31);
  EXPECT_TRUE(TryStrToInt("$80000000", v));
  EXPECT_EQ(v, INT32_MIN);
  for (const char* bad : {"", "+", "$", "1a", "$100000000", "0x1F", " 1"})
    EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
}

TEST(FormatSettings, DatesFollowThePictureOrder) {
  const TDateTime d = Date(2024, 2, 9);
  EXPECT_EQ(DateToStr(d, German()), "09.02.2024");
  EXPECT_EQ(DateToStr(d, American()), "2/9/2024");
  TDateTime parsed = 0;
  EXPECT_TRUE(TryStrToDate("9.2.24", parsed, German()));
  EXPECT_EQ(parsed, d);
  EXPECT_TRUE(TryStrToDate("2/9/2024", parsed, American()));
  EXPECT_EQ(parsed, d);
  for (const char* bad : {"30.02.2024", "1.2", "1.2.3.4", "1. Feb 2024", "", "0.1.2024"})
    EXPECT_FALSE(TryStrToDate(bad, parsed, German())) << bad;
  EXPECT_EQ(Date(1899, 12, 30), 0.0);
  EXPECT_EQ(Date(1900, 1, 1), 2.0);
}

TEST(FormatSettings, TimesWithAndWithoutDayHalves) {
  TDateTime t = 0;
  ASSERT_TRUE(TryEncodeTime(0, 5, 7, 0, t));
  EXPECT_EQ(TimeToStr(t, American()), "12:05:07 AM");
  EXPECT_EQ(TimeToStr(t, German()), "00:05:07");
  TDateTime parsed = 0;
  EXPECT_TRUE(TryStrToTime("12:05:07 AM", parsed, American()));
  EXPECT_NEAR(parsed, t, 1e-9);
  EXPECT_TRUE(TryStrToTime("1:30 pm", parsed, American()));
  EXPECT_NEAR(parsed, 13.5 / 24, 1e-9);
  for (const char* bad : {"24:00", "13:00 PM", "1:60", "noon"})
    EXPECT_FALSE(TryStrToTime(bad, parsed, American())) << bad;
  const TDateTime dt = Date(2001, 12, 31) + 0.75;
  EXPECT_EQ(DateTimeToStr(dt, American()), "12/31/2001 6:00:00 PM");
  EXPECT_EQ(DateTimeToStr(Date(2001, 12, 31), American()), "12/31/2001");
  EXPECT_TRUE(TryStrToDateTime("12/31/2001 6:00:00 PM", parsed, American()));
  EXPECT_NEAR(parsed, dt, 1e-9);
}

TEST(FormatSettings, DatesAndTimesNeedThePictureSeparators) {
  TDateTime parsed = 0;
  EXPECT_TRUE(TryStrToDate(" 9. 2. 2024 ", parsed, German()));  // blanks around the separator
  EXPECT_EQ(parsed, Date(2024, 2, 9));
  for (const char* bad : {"12:30:00", "9/2/2024", "9-2-2024", "9.2/2024", "9 2 2024", "9..2.2024"})
    EXPECT_FALSE(TryStrToDate(bad, parsed, German())) << bad;
  for (const char* bad : {"12.30.00", "12/30", "12-30-00 PM", "12 30", "12"})
    EXPECT_FALSE(TryStrToTime(bad, parsed, American())) << bad;
  EXPECT_TRUE(TryStrToTime("1 PM", parsed, American()));
  EXPECT_NEAR(parsed, 13.0 / 24, 1e-9);
  EXPECT_FALSE(TryStrToDateTime("12:31:2001 6:00", parsed, American()));
  EXPECT_FALSE(TryStrToDateTime("12/31/2001 6/00", parsed, American()));

  TFormatSettings dotted;  // a time picture led by the day half, with dots
  dotted.ShortDateFormat = "yyyy MM dd";
  dotted.LongTimeFormat = "tt h.mm.ss";
  EXPECT_TRUE(TryStrToDateTime("2024 02 09 PM 1.30.00", parsed, dotted));
  EXPECT_NEAR(parsed, Date(2024, 2, 9) + 13.5 / 24, 1e-9);
  EXPECT_FALSE(TryStrToTime("1:30:00 PM", parsed, dotted));
  EXPECT_FALSE(TryStrToDate("2024.02.09", parsed, dotted));
}

TEST(FormatSettings, SpecialFloatTextsReadBack) {
  double v = 0;
  for (double special : {std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity()}) {
    ASSERT_TRUE(TryStrToSpecialFloat(FloatToStr(special, German()), v));
    EXPECT_EQ(v, special);
  }
  ASSERT_TRUE(TryStrToSpecialFloat(FloatToStr(std::nan(""), German()), v));
  EXPECT_TRUE(std::isnan(v));
  EXPECT_TRUE(TryStrToSpecialFloat(" +inf ", v));
  EXPECT_EQ(v, std::numeric_limits<double>::infinity());
  for (const char* bad : {"", "-NAN", "INFINITY", "1", "IN F"})
    EXPECT_FALSE(TryStrToSpecialFloat(bad, v)) << bad;
}

}  // namespace
}  // namespace kiv
