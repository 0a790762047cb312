#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "settings/file_stream.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class IniFileTest : public ::testing::Test {
 protected:
  // Writes `text` to a file and loads it.
  std::unique_ptr<TkivIniFile> Load(std::string_view text) {
    WriteFileBytes(file_, text);
    return std::make_unique<TkivIniFile>(file_);
  }
  std::vector<std::string> Saved(const TkivIniFile& ini) {
    std::vector<std::string> lines;
    ini.SaveToStrings(lines);
    return lines;
  }
  test::TempFolder dir_;
  std::string file_ = dir_.Path("test.ini");
};

using Lines = std::vector<std::string>;

TEST_F(IniFileTest, LaterDuplicateSectionsAreDroppedWithTheirLines) {
  auto ini = Load("[A]\r\nx=1\r\n[b]\r\ny=2\r\n[a]\r\nx=3\r\nz=4\r\n");
  EXPECT_FALSE(ini->Changed());  // loading clears Changed
  ASSERT_EQ(ini->Sections().Count(), 2);
  EXPECT_EQ(ini->ReadString("a", "x", ""), "1");
  EXPECT_EQ(ini->ReadString("A", "z", "none"), "none");
  ini->WriteString("b", "y", "5");
  ini->UpdateFile();
  EXPECT_EQ(ReadFileBytes(file_), "[A]\r\nx=1\r\n\r\n[b]\r\ny=5\r\n\r\n");
}

TEST_F(IniFileTest, DuplicatesFromStringsSetChanged) {
  TkivIniFile ini;
  ini.AppendFromStrings({"[S]", "a=1", "[s]", "b=2"});
  EXPECT_TRUE(ini.Changed());
  EXPECT_EQ(Saved(ini), (Lines{"[S]", "a=1", ""}));
}

TEST_F(IniFileTest, KeysAndValuesAreTrimmedAndRewrittenInPlace) {
  auto ini = Load("[S]\nfirst=1\n  Key = value  \nlast=2\n");
  EXPECT_EQ(ini->ReadString("s", "key", ""), "value");
  EXPECT_TRUE(ini->ValueExists("S", "KEY"));
  ini->WriteString("S", "Key", "v");
  EXPECT_TRUE(ini->Changed());
  EXPECT_EQ(Saved(*ini), (Lines{"[S]", "first=1", "Key=v", "last=2", ""}));
  ini->WriteString("S", "pad", "  spaced  ");
  EXPECT_EQ(ini->ReadString("S", "PAD", ""), "spaced");
}

TEST_F(IniFileTest, CommentsSurviveWhileBlankLinesAndPreambleDoNot) {
  auto ini = Load("preamble=1\r\n\r\n[S]\r\na=1\r\n\r\n; note\r\n\x1A\r\nno equals\r\nb=2\r\n");
  ini->WriteString("S", "c", "3");
  ini->UpdateFile();
  EXPECT_EQ(ReadFileBytes(file_), "[S]\r\na=1\r\n; note\r\nno equals\r\nb=2\r\nc=3\r\n\r\n");
  std::vector<std::string> keys;
  ini->ReadSection("S", keys);
  EXPECT_EQ(keys, (Lines{"a", "; note", "no equals", "b", "c"}));
}

TEST_F(IniFileTest, AllLineBreakFormsAreOneBreak) {
  auto ini = Load("[S]\ra=1\nb=2\r\nc=3\r\r\nd=4");
  EXPECT_EQ(Saved(*ini), (Lines{"[S]", "a=1", "b=2", "c=3", "d=4", ""}));
  ini = Load("[S]\na=1\r");
  EXPECT_EQ(Saved(*ini), (Lines{"[S]", "a=1", ""}));
}

// Larger than one read block, with enough sections and keys that look-ups go through indexes.
TEST_F(IniFileTest, LargeFileReadsEditsAndWritesBackEveryLine) {
  std::string text;
  for (int s = 0; s < 300; ++s) {
    text += "[Device" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 40; ++k)
      text += "Parameter" + std::to_string(k) + " = " + std::to_string(s * 100 + k) + "\r\n";
    text += "\r\n";
  }
  ASSERT_GT(text.size(), 1u << 17);
  auto ini = Load(text);
  for (int s : {299, 0, 150, 7, 7})
    for (int k : {39, 0, 20})
      EXPECT_EQ(ini->ReadInteger("DEVICE" + std::to_string(s), "parameter" + std::to_string(k), -1),
                s * 100 + k);
  EXPECT_EQ(ini->ReadInteger("Device300", "Parameter0", -1), -1);
  EXPECT_EQ(ini->ReadInteger("Device3", "Parameter40", -1), -1);
  ini->WriteInteger("Device3", "Parameter5", -5);
  ini->WriteInteger("Device3", "Extra", 1);
  ini->DeleteKey("Device4", "Parameter0");
  EXPECT_EQ(ini->ReadInteger("Device3", "parameter5", 0), -5);
  EXPECT_EQ(ini->ReadInteger("Device3", "EXTRA", 0), 1);
  EXPECT_EQ(ini->ReadInteger("Device4", "Parameter0", -1), -1);
  ini->UpdateFile();
  std::string expected = text;
  const auto replace = [&](const std::string& from, const std::string& to) {
    expected.replace(expected.find(from), from.size(), to);
  };
  replace("Parameter5 = 305\r\n", "Parameter5=-5\r\n");
  replace("Parameter39 = 339\r\n", "Parameter39 = 339\r\nExtra=1\r\n");
  replace("Parameter0 = 400\r\n", "");
  EXPECT_EQ(ReadFileBytes(file_), expected);
}

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

TEST_F(IniFileTest, Utf16FileKeepsItsEncodingAndEveryCharacter) {
  // Sections named by characters the code page lacks read alike in 8 bits but stay apart.
  auto ini = Load(Utf16Le(u"[Host]\r\nname=\u65E5\u672C\r\ncaf\u00E9=1\r\n"
                          u"[\u03A3]\r\na=1\r\n[\u0416]\r\nb=2\r\n"));
  EXPECT_EQ(ini->Encoding(), TIniEncoding::kUtf16Le);
  EXPECT_EQ(ini->Sections().Count(), 3);
  EXPECT_EQ(ini->ReadString("Host", "caf\xE9", ""), "1");
  EXPECT_EQ(ini->ReadString("Host", "name", ""), "??");
  ini->WriteString("Host", "name", "??");  // the same 8-bit text: the line is untouched
  EXPECT_FALSE(ini->Changed());
  ini->WriteString("Host", "caf\xE9", "\xE9");
  ini->WriteString("Ours", "k", "v");
  ini->UpdateFile();
  EXPECT_EQ(ReadFileBytes(file_),
            Utf16Le(u"[Host]\r\nname=\u65E5\u672C\r\ncaf\u00E9=\u00E9\r\n\r\n[\u03A3]\r\na=1\r\n\r\n"
                    u"[\u0416]\r\nb=2\r\n\r\n[Ours]\r\nk=v\r\n\r\n"));
}

TEST_F(IniFileTest, Utf8ByteOrderMarkIsReadAndKept) {
  auto ini = Load("\xEF\xBB\xBF[First]\r\nk=\xC3\xA9\r\nj=\xE6\x97\xA5\r\n[Second]\r\nb=2\r\n");
  EXPECT_EQ(ini->Encoding(), TIniEncoding::kUtf8);
  EXPECT_EQ(ini->ReadString("First", "k", ""), "\xE9");
  ini->WriteString("Second", "b", "\xE9");
  ini->UpdateFile();
  EXPECT_EQ(ReadFileBytes(file_),
            "\xEF\xBB\xBF[First]\r\nk=\xC3\xA9\r\nj=\xE6\x97\xA5\r\n\r\n[Second]\r\nb=\xC3\xA9\r\n\r\n");
  ini->SetFileName(file_);  // a plain file again: written in 8 bits
  WriteFileBytes(file_, "[S]\r\nk=\xE9\r\n");
  ini->SetFileName(file_);
  EXPECT_EQ(ini->Encoding(), TIniEncoding::kAnsi);
}

TEST_F(IniFileTest, HeaderLinesWithBlanksOrACommentAreHeaders) {
  auto ini = Load("  [S] ; host comment\r\nk=1\r\n[T]  \r\nx=2\r\n[a]b]\r\ny=3\r\n[no end\r\n"
                  "[s]\r\nd=4\r\n");
  std::vector<std::string> names;
  ini->ReadSections(names);
  EXPECT_EQ(names, (Lines{"S", "T", "a]b"}));
  EXPECT_EQ(ini->ReadString("a]b", "[no end", "none"), "");
  ini->WriteString("S", "new", "2");
  ini->UpdateFile();
  EXPECT_EQ(ReadFileBytes(file_),
            "  [S] ; host comment\r\nk=1\r\nnew=2\r\n\r\n[T]  \r\nx=2\r\n\r\n"
            "[a]b]\r\ny=3\r\n[no end\r\n\r\n");
}

TEST_F(IniFileTest, CtrlZCountsAsEmptyOnlyInFiles) {
  TkivIniFile ini;
  ini.AppendFromStrings({"[S]", "\x1A"});
  EXPECT_EQ(Saved(ini), (Lines{"[S]", "\x1A", ""}));
}

TEST_F(IniFileTest, IdenticalWriteLeavesChangedClearAndFileUntouched) {
  auto ini = Load("[S]\nKey=1\n");
  ini->WriteString("S", "Key", "1");
  EXPECT_FALSE(ini->Changed());
  ini->WriteString("S", "KEY", "1");  // differs in case: rewritten with the latest spelling
  EXPECT_TRUE(ini->Changed());
  EXPECT_EQ(ini->Sections().Values(0).Strings(0), "KEY=1");
}

TEST_F(IniFileTest, FileIsWrittenOnlyWhenChanged) {
  WriteFileBytes(file_, "[S]\nKey=1\n");
  {
    TkivIniFile ini(file_);
    ini.ReadString("S", "Key", "");
  }
  EXPECT_EQ(ReadFileBytes(file_), "[S]\nKey=1\n");
  {
    TkivIniFile ini(file_);
    ini.WriteInteger("S", "Key", 2);
  }
  EXPECT_EQ(ReadFileBytes(file_), "[S]\r\nKey=2\r\n\r\n");
}

TEST_F(IniFileTest, EmptyIdentErasesTheSection) {
  auto ini = Load("[A]\na=1\n[B]\nb=1\n");
  ini->WriteString("A", "", "");
  EXPECT_FALSE(ini->SectionExists("A"));
  EXPECT_TRUE(ini->Changed());
  EXPECT_EQ(ini->ReadString("B", "b", ""), "1");
  ini->WriteString("", "", "");  // flush
  EXPECT_FALSE(ini->Changed());
  EXPECT_EQ(ReadFileBytes(file_), "[B]\r\nb=1\r\n\r\n");
}

TEST_F(IniFileTest, DeleteKeyRemovesFirstMatchAndLeavesNoVisibleSection) {
  TkivIniFile ini;
  ini.DeleteKey("Missing", "x");
  EXPECT_FALSE(ini.Changed());
  EXPECT_TRUE(Saved(ini).empty());
  ini.AppendFromStrings({"[S]", "x=1", "x=2"});
  ini.DeleteKey("S", "X");
  EXPECT_EQ(ini.ReadString("S", "x", ""), "2");
  ini.DeleteKey("S", "x");
  EXPECT_TRUE(Saved(ini).empty());
}

TEST_F(IniFileTest, NewKeysAndSectionsGoToTheEnd) {
  TkivIniFile ini;
  ini.WriteString("B", "k", "1");
  ini.WriteString("A", "k", "2");
  ini.WriteString("B", "j", "3");
  EXPECT_EQ(Saved(ini), (Lines{"[B]", "k=1", "j=3", "", "[A]", "k=2", ""}));
  std::vector<std::string> names = {"stale"};
  ini.ReadSections(names);
  EXPECT_EQ(names, (Lines{"B", "A"}));
}

TEST_F(IniFileTest, LookupsFindSectionsInAnyOrder) {
  TkivIniFile ini;
  for (int s = 0; s < 5; ++s)
    for (int k = 0; k < 3; ++k)
      ini.WriteInteger("S" + std::to_string(s), "K" + std::to_string(k), s * 10 + k);
  for (int s : {4, 0, 3, 3, 1, 2, 0, 4})
    for (int k : {2, 0, 1})
      EXPECT_EQ(ini.ReadInteger("s" + std::to_string(s), "k" + std::to_string(k), -1), s * 10 + k);
  EXPECT_EQ(ini.ReadInteger("S9", "K0", -1), -1);
}

TEST_F(IniFileTest, KeysCompareByLocaleCaseSectionsByAsciiCase) {
  TkivIniFile ini;
  ini.AppendFromStrings({"[\xC4]", "\xC4pfel=1", "[\xE4]", "x=2"});
  EXPECT_EQ(ini.ReadString("\xC4", "\xE4PFEL", ""), "1");  // A umlaut in either case
  EXPECT_EQ(ini.ReadString("\xE4", "x", ""), "2");         // a different section
  EXPECT_FALSE(ini.ValueExists("\xC4", "\xE4pfel"));       // ValueExists is ASCII-only
  EXPECT_TRUE(ini.ValueExists("\xC4", "\xC4PFEL"));
}

TEST_F(IniFileTest, ReadIntegerAcceptsHexForms) {
  TkivIniFile ini;
  ini.AppendFromStrings({"[N]", "a=0x1F", "b=0X1f", "c=$1F", "d=31", "e=abc", "f=-12",
                         "g=", "h=99999999999", "i=$FFFFFFFF", "j=0x"});
  for (const char* key : {"a", "b", "c", "d"}) EXPECT_EQ(ini.ReadInteger("N", key, 7), 31) << key;
  EXPECT_EQ(ini.ReadInteger("N", "e", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "f", 7), -12);
  EXPECT_EQ(ini.ReadInteger("N", "g", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "h", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "i", 7), -1);
  EXPECT_EQ(ini.ReadInteger("N", "j", 7), 7);
  EXPECT_TRUE(ini.ReadBool("N", "d", false));
  EXPECT_TRUE(ini.ReadBool("N", "e", true));
  EXPECT_FALSE(ini.ReadBool("N", "missing", false));
}

TEST_F(IniFileTest, FloatsReadWithEitherSeparatorAndRoundTrip) {
  TkivIniFile ini;
  ini.AppendFromStrings({"[F]", "a=3.5", "b=3,5", "c=x", "d=1e3", "e=1.2.3"});
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "a", 0), 3.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "b", 0), 3.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "c", -1), -1);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "d", 0), 1000);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "e", -1), -1);
  for (double v : {0.1, -2.5e-7, 123456789.125, 1e20}) {
    ini.WriteFloat("F", "v", v);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "v", 0), v);
  }
}

TEST_F(IniFileTest, DatesAndTimesRoundTripInTheLocaleShape) {
  TkivIniFile ini;
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2024, 2, 29, date));
  ASSERT_TRUE(TryEncodeTime(13, 5, 9, 0, time));
  ini.WriteDate("D", "d", date);
  ini.WriteTime("D", "t", time);
  ini.WriteDateTime("D", "dt", date + time);
  EXPECT_DOUBLE_EQ(ini.ReadDate("D", "d", -1), date);
  EXPECT_NEAR(ini.ReadTime("D", "t", -1), time, 1e-9);
  EXPECT_NEAR(ini.ReadDateTime("D", "dt", -1), date + time, 1e-9);
  ini.WriteString("D", "bad", "not a date");
  EXPECT_EQ(ini.ReadDate("D", "bad", -1), -1);
  EXPECT_EQ(ini.ReadTime("D", "bad", -1), -1);
  EXPECT_EQ(ini.ReadDateTime("D", "missing", -1), -1);
}

TEST_F(IniFileTest, DatesAndTimesWithOtherSeparatorsReadAsTheDefault) {
  TkivIniFile ini;
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2003, 1, 2, date));
  ASSERT_TRUE(TryEncodeTime(1, 2, 3, 0, time));
  const std::string dateText = DateToStr(date, UserFormatSettings());
  std::string timeText = TimeToStr(time, UserFormatSettings());
  ini.WriteString("D", "time", timeText);
  ini.WriteString("D", "date", dateText);
  EXPECT_EQ(ini.ReadDate("D", "time", -1), -1);
  EXPECT_EQ(ini.ReadDateTime("D", "time", -1), -1);
  EXPECT_EQ(ini.ReadTime("D", "date", -1), -1);
  // The time with the date's separator in place of its own.
  const char dateSeparator = dateText[dateText.find_first_not_of("0123456789")];
  for (char& c : timeText)
    if (c != ' ' && (c < '0' || c > '9') && (c < 'A' || c > 'Z')) c = dateSeparator;
  ini.WriteString("D", "mixed", timeText);
  EXPECT_EQ(ini.ReadTime("D", "mixed", -1), -1) << timeText;
}

TEST_F(IniFileTest, FloatSpecialValuesReadBack) {
  TkivIniFile ini;
  const double inf = std::numeric_limits<double>::infinity();
  ini.WriteFloat("F", "nan", std::nan(""));
  ini.WriteFloat("F", "inf", inf);
  ini.WriteFloat("F", "minus", -inf);
  EXPECT_TRUE(std::isnan(ini.ReadFloat("F", "nan", 0)));
  EXPECT_EQ(ini.ReadFloat("F", "inf", 0), inf);
  EXPECT_EQ(ini.ReadFloat("F", "minus", 0), -inf);
}

TEST_F(IniFileTest, BinaryDataIsStoredAsHex) {
  TkivIniFile ini;
  std::string bytes;
  for (int i = 0; i < 1500; ++i) bytes += static_cast<char>(i * 7);
  TMemoryStream in(bytes);
  in.SetPosition(2);  // from the current position
  ini.WriteBinaryData("B", "blob", in);
  EXPECT_EQ(ini.ReadString("B", "blob", "").substr(0, 4), "0E15");
  TMemoryStream out;
  EXPECT_EQ(ini.ReadBinaryData("B", "blob", out), 1498);
  EXPECT_EQ(out.Bytes(), bytes.substr(2));
  ini.WriteString("B", "odd", "41zz4");
  TMemoryStream odd;
  EXPECT_EQ(ini.ReadBinaryData("B", "odd", odd), 2);
  EXPECT_EQ(odd.Bytes(), std::string("A\0", 2));
}

TEST_F(IniFileTest, MissingFileGivesEmptyObjectAndIsCreatedOnFlush) {
  TkivIniFile ini(file_);
  EXPECT_EQ(ini.Sections().Count(), 0);
  EXPECT_FALSE(FileExists(file_));
  ini.WriteString("S", "k", "v");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileBytes(file_), "[S]\r\nk=v\r\n\r\n");
}

TEST_F(IniFileTest, FailedFlushRaisesAndKeepsChanged) {
  TkivIniFile ini(dir_.Path("no such folder/x.ini"));
  ini.WriteString("S", "k", "v");
  EXPECT_THROW(ini.UpdateFile(), EFCreateError);
  EXPECT_TRUE(ini.Changed());
  EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
}  // the destructor's own failed flush must not escape

TEST_F(IniFileTest, SetFileNameFlushesAndLoadsTheNewFile) {
  const std::string other = dir_.Path("other.ini");
  WriteFileBytes(other, "[O]\nk=1\n");
  TkivIniFile ini(file_);
  ini.WriteString("S", "k", "v");
  ini.SetFileName(other);
  EXPECT_EQ(ReadFileBytes(file_), "[S]\r\nk=v\r\n\r\n");
  EXPECT_FALSE(ini.SectionExists("S"));
  EXPECT_EQ(ini.ReadString("O", "k", ""), "1");
  EXPECT_FALSE(ini.Changed());
}

}  // namespace
}  // namespace kiv
