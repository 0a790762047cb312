#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translation/language_file.h"
#include "translation/translation_fixture.h"
#include "translation/translator.h"

namespace kiv_test {
namespace {

using kiv::MakeOwned;

// Two controls whose captions are "Open" (translated) and "Missing &Text" (not), plus one
// without letters.
void TranslateSample(kiv::TWtransl& tr) {
  TTestControl form(nullptr, "Form");
  auto& a = MakeOwned<TTestControl>(form, "A");
  auto& b = MakeOwned<TTestControl>(form, "B");
  form.Caption = "12:30";
  a.Caption = "Open";
  b.Caption = "Missing &Text";
  b.Hint = "Missing &Text";
  tr.Translate("DE", &form);
  EXPECT_EQ(a.Caption, "Open");  // test modes never change a text
}

constexpr const char* kEntries = "EN:>Open\nDE:>Oeffnen\n\nEN:>Unused\nDE:>Ungenutzt\n\n";

TEST_F(TranslatorTest, SaveUntrCollectsUntranslatedTextsIntoALanguageFileThatParsesAgain) {
  WriteFile("shared.lng", "EN:>Other\nDE:>Andere\n\n");
  WriteFile("app.lng", std::string("//saveuntr\n\n") + kEntries);
  {
    auto tr = MakeTranslator({"shared.lng", "app.lng"});
    TranslateSample(*tr);
    TranslateSample(*tr);  // a second run adds nothing new
    EXPECT_EQ(tr->TestTexts(), (std::multiset<std::string>{"Missing &Text"}));
  }
  std::string out = ReadFile("app.lng.new");  // the output belongs to the last file
  EXPECT_EQ(out,
            "[Languages]\r\n$EN = #1\r\n$DE = #2 (Default)\r\nDefault = DE\r\n\r\n"
            "EN:>Missing &Text\r\nDE:>\r\n\r\n\r\n");

  // Filled in, the output is a working language file.
  std::string filled = out;
  filled.replace(filled.find("DE:>\r"), 5, "DE:>Fehlender &Text\r");
  WriteFile("filled.lng", filled);
  auto tr = MakeTranslator({"filled.lng"});
  EXPECT_EQ(tr->GetDefaultLanguage(), "DE");
  EXPECT_EQ(TranslateCaption(*tr, "Missing &Text"), "Fehlender &Text");
  EXPECT_EQ(TranslateCaption(*tr, "Missing Text"), "Fehlender Text");
}

TEST_F(TranslatorTest, SaveUntrObjRecordsEachPlaceOnce) {
  WriteFile("app.lng", std::string("//saveuntrobj\n\n") + kEntries);
  std::vector<std::string> texts;
  {
    auto tr = MakeTranslator({"app.lng"});
    TranslateSample(*tr);
    TranslateSample(*tr);
    texts.assign(tr->TestTexts().begin(), tr->TestTexts().end());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "[TTestControl]Form -> [TTestControl]B.Caption=Missing &Text",
                       "[TTestControl]Form -> [TTestControl]B.Hint=Missing &Text"}));
  EXPECT_NE(ReadFile("app.lng.new").find("EN:>[TTestControl]Form -> [TTestControl]B.Hint=Missing &Text\r\nDE:>\r\n"),
            std::string::npos);
}

TEST_F(TranslatorTest, SaveUnusedKeepsEntriesNeverAskedForAcrossReloads) {
  WriteFile("app.lng", std::string("//saveunused\n\n") + kEntries);
  {
    auto tr = MakeTranslator({"app.lng"});
    TranslateSample(*tr);
    timer_.tick();  // unload; the next run reads the file again
    TTestControl other(nullptr, "Other");
    tr->Translate("DE", &other);
    EXPECT_EQ(tr->TestTexts(), (std::multiset<std::string>{"Unused"}));
  }
  std::string out = ReadFile("app.lng.unused");
  EXPECT_NE(out.find("EN:>Unused\r\nDE:>\r\n"), std::string::npos);
  EXPECT_EQ(out.find("EN:>Open"), std::string::npos);
}

TEST_F(TranslatorTest, TestFileModesChooseNewNumberedOrAppendedOutput) {
  WriteFile("new.lng", std::string("//saveuntr\n//filenew\n\n") + kEntries);
  WriteFile("new.lng.new", "old");
  WriteFile("new.lng.1.new", "old");
  MakeTranslator({"new.lng"}).reset();  // nothing collected: nothing written
  EXPECT_EQ(ReadFile("new.lng.2.new"), "");
  TranslateSample(*MakeTranslator({"new.lng"}));
  EXPECT_EQ(ReadFile("new.lng.new"), "old");
  EXPECT_NE(ReadFile("new.lng.2.new").find("EN:>Missing &Text"), std::string::npos);

  WriteFile("add.lng", std::string("//saveuntr\n//fileappend\n\n") + kEntries);
  WriteFile("add.lng.new", "[Languages]\r\n\r\n");
  TranslateSample(*MakeTranslator({"add.lng"}));
  EXPECT_EQ(ReadFile("add.lng.new"), "[Languages]\r\n\r\nEN:>Missing &Text\r\nDE:>\r\n\r\n\r\n");

  WriteFile("re.lng", std::string("//saveuntr\n//filerewrite\n\n") + kEntries);
  WriteFile("re.lng.new", "old");
  TranslateSample(*MakeTranslator({"re.lng"}));
  EXPECT_EQ(ReadFile("re.lng.new").rfind("[Languages]\r\n", 0), 0u);
}

TEST_F(TranslatorTest, SaveAllTranslatesNothingAndWritesNothing) {
  WriteFile("app.lng", std::string("//saveall\n\n") + kEntries);
  auto tr = MakeTranslator({"app.lng"});
  TranslateSample(*tr);
  EXPECT_EQ(tr->TestMode(), kiv::tmSaveAll);
  EXPECT_TRUE(tr->TestTexts().empty());
}

}  // namespace
}  // namespace kiv_test
