#include "translation/translator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process_messages.h"
#include "translation/custom_translators.h"
#include "translation/thread_locale.h"
#include "translation/translation_fixture.h"

namespace kiv_test {
namespace {

using kiv::MakeOwned;

constexpr const char* kMenu =
    "EN:>&File\nDE:>&Datei\n\n"
    "EN:>Save\nDE:>&Speichern\n\n"
    "EN:>Line1%0D%0ALine2\nDE:>Zeile1%0D%0AZeile2\n\n"
    "EN:>Open File\nDE:>Datei oeffnen\n\n"
    "EN:>close\nDE:>schliessen\n\n"
    "EN:>Hint\nDE:>Hinweis\n\n"
    "EN:>Caption\nDE:>Titel\n\n"
    "EN:>Text\nDE:>Wort\n\n";

TEST_F(TranslatorTest, AcceleratorsFollowTheIncomingText) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  EXPECT_EQ(TranslateCaption(*tr, "&File"), "&Datei");
  EXPECT_EQ(TranslateCaption(*tr, "File"), "Datei");
  EXPECT_EQ(TranslateCaption(*tr, "Save"), "Speichern");
  EXPECT_EQ(TranslateCaption(*tr, "&Save"), "&Speichern");
  EXPECT_EQ(TranslateCaption(*tr, "  &Save \t"), "&Speichern");  // surrounding blanks dropped
  EXPECT_EQ(TranslateCaption(*tr, "Unknown"), "Unknown");
  EXPECT_EQ(tr->EntryCount(), 8);
}

TEST_F(TranslatorTest, ControlCharactersMatchEscapedEntries) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  EXPECT_EQ(TranslateCaption(*tr, "Line1\r\nLine2"), "Zeile1\r\nZeile2");
  bool found = true;
  EXPECT_EQ(tr->TranslateText(u"Line1%0D%0ALine2", found), u"Zeile1%0D%0AZeile2");
  EXPECT_TRUE(found);  // an escaped text finds the entry too, but keeps its escapes
}

TEST_F(TranslatorTest, LowerCaseDictionaryCatchesOtherLetterCase) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  EXPECT_EQ(TranslateCaption(*tr, "OPEN FILE"), "Datei oeffnen");
  EXPECT_EQ(TranslateCaption(*tr, "open file"), "Datei oeffnen");
  EXPECT_EQ(TranslateCaption(*tr, "close"), "schliessen");
  EXPECT_EQ(TranslateCaption(*tr, "Close"), "Close");  // an all-lower source matches only itself
}

TEST_F(TranslatorTest, LaterBlocksAndFilesWinAndMissingFilesAreSkipped) {
  WriteFile("a.lng", "EN:>Open\nDE:>Auf\n\nEN:>Open\nDE:>Oeffnen\n\nEN:>Close\nDE:>Zu\n\n");
  WriteFile("b.lng", "EN:>Close\nDE:>Schliessen\n\n");
  auto tr = MakeTranslator({"a.lng", "missing.lng", "b.lng"});
  EXPECT_EQ(TranslateCaption(*tr, "Open"), "Oeffnen");
  EXPECT_EQ(TranslateCaption(*tr, "Close"), "Schliessen");
  EXPECT_EQ(tr->EntryCount(), 4);
  EXPECT_EQ(tr->LoadLanguage("EN", "FR"), 0);  // files read, no entry for that pair

  auto none = MakeTranslator({"missing.lng"});
  TTestControl c(nullptr, "C");
  EXPECT_FALSE(none->Translate("DE", &c));
  EXPECT_EQ(none->EntryCount(), -1);
  EXPECT_EQ(timer_.created, 1);  // only the translator that ran made a timer
}

TEST_F(TranslatorTest, DirectiveOnLineTwentyHasNoEffect) {
  WriteFile("late.lng", std::string(19, '\n') + "//saveuntr\nBiDiMode=RightToLeft\nEN:>A\nDE:>B\n\n");
  auto tr = MakeTranslator({"late.lng"});
  EXPECT_EQ(TranslateCaption(*tr, "A"), "B");
  EXPECT_EQ(tr->TestMode(), kiv::tmNone);
  EXPECT_EQ(tr->BiDiMode(), 0);
}

TEST_F(TranslatorTest, TagsAndUnderscoresSteerTheWalk) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  TTestControl root(nullptr, "Form");
  auto& flags = MakeOwned<TTestControl>(root, "Flags", 10002);  // keeps its caption
  auto& hidden = MakeOwned<TTestControl>(root, "Hidden", 9999);
  auto& hiddenChild = MakeOwned<TTestControl>(hidden, "HiddenChild");
  auto& shell = MakeOwned<TTestControl>(root, "Shell", 9998);
  auto& shellChild = MakeOwned<TTestControl>(shell, "ShellChild");
  auto& custom = MakeOwned<TTestControl>(root, "Custom", 9997);
  auto& panel = MakeOwned<TTestControl>(root, "_Panel");
  auto& panelChild = MakeOwned<TTestControl>(panel, "PanelChild");
  auto& secret = MakeOwned<TTestControl>(root, "__Panel");
  auto& secretChild = MakeOwned<TTestControl>(secret, "SecretChild");
  for (TTestControl* c : {&root, &flags, &hidden, &hiddenChild, &shell, &shellChild, &custom, &panel,
                          &panelChild, &secret, &secretChild})
    c->Caption = "Caption", c->Hint = "Hint";
  std::vector<std::string> customSeen;
  tr->OnCustomTranslate = [&](kiv::TObject*, kiv::TObject* comp, kiv::TWtranslLanguagesList* lng) {
    EXPECT_NE(lng, nullptr);
    customSeen.push_back(static_cast<kiv::TComponent*>(comp)->Name());
  };

  ASSERT_TRUE(tr->Translate("DE", &root));
  EXPECT_EQ(root.Caption, "Titel");
  EXPECT_EQ(flags.Caption, "Caption");
  EXPECT_EQ(flags.Hint, "Hinweis");
  EXPECT_EQ(hidden.Caption, "Caption");
  EXPECT_EQ(hiddenChild.Caption, "Caption");
  EXPECT_EQ(shell.Caption, "Caption");
  EXPECT_EQ(shellChild.Caption, "Titel");
  EXPECT_EQ(custom.Caption, "Caption");
  EXPECT_EQ(panel.Caption, "Titel");
  EXPECT_EQ(panelChild.Caption, "Caption");
  EXPECT_EQ(secret.Caption, "Caption");
  EXPECT_EQ(secretChild.Caption, "Caption");
  EXPECT_EQ(customSeen, (std::vector<std::string>{"Form", "Flags", "ShellChild", "Custom", "_Panel"}));

  TTestControl shellRoot(nullptr, "Root", 9998);  // a 9998 root: only what it owns
  auto& inner = MakeOwned<TTestControl>(shellRoot, "Inner");
  shellRoot.Caption = inner.Caption = "Caption";
  tr->Translate("DE", &shellRoot);
  EXPECT_EQ(shellRoot.Caption, "Caption");
  EXPECT_EQ(inner.Caption, "Titel");
}

TEST_F(TranslatorTest, VetoedObjectKeepsItsTextsButItsChildrenAreVisited) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  TTestControl root(nullptr, "Form");
  auto& vetoed = MakeOwned<TTestControl>(root, "Vetoed");
  auto& child = MakeOwned<TTestControl>(vetoed, "Child");
  vetoed.Caption = child.Caption = "Caption";
  tr->OnBeforeTranslateComponent = [&](kiv::TObject*, kiv::TObject* comp, kiv::TWtranslLanguagesList*,
                                       bool& allow) { allow = comp != &vetoed; };
  tr->Translate("DE", &root);
  EXPECT_EQ(vetoed.Caption, "Caption");
  EXPECT_EQ(child.Caption, "Titel");
}

TEST_F(TranslatorTest, EveryPropertyKindIsTranslated) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  tr->ComponentProperties().Add("Items");
  tr->ComponentProperties().Add("Lines");
  tr->ComponentProperties().Add("Columns");
  tr->ComponentProperties().Add("Extra");
  TTestControl c(nullptr, "C");
  c.Text = u"Hint";
  c.Title = u"&File";
  c.Items.Add("Save");
  c.Items.Add("nothing");
  c.Lines.Add(u"OPEN FILE");
  c.Columns.Add<TTestColumn>().Caption = "Caption";
  int itemsChanged = 0;
  c.Items.OnChange = [&] { ++itemsChanged; };
  kiv::TCollection other;
  c.Extra = &other;
  std::vector<std::string> objectProps;
  tr->OnCustomObjectPropertyTranslate = [&](kiv::TObject*, const std::string& prop, kiv::TObject* obj,
                                            kiv::TWtranslLanguagesList*) {
    objectProps.push_back(prop);
    EXPECT_EQ(obj, c.Extra);
  };

  tr->Translate("DE", &c);
  EXPECT_EQ(c.Text, u"Hinweis");
  EXPECT_EQ(c.Title, u"&Datei");
  EXPECT_EQ(c.Items.Get(0), "Speichern");
  EXPECT_EQ(c.Items.Get(1), "nothing");
  EXPECT_EQ(itemsChanged, 1);  // one update bracket around all lines
  EXPECT_EQ(c.Lines.Get(0), u"Datei oeffnen");
  EXPECT_EQ(static_cast<TTestColumn*>(c.Columns.Items(0))->Caption, "Titel");
  EXPECT_TRUE(objectProps.empty());  // a collection is walked, not handed to the handler

  kiv::TObject plain;
  c.Extra = &plain;
  tr->TranslateProperty(&c, "extra");
  EXPECT_EQ(objectProps, (std::vector<std::string>{"Extra"}));
}

TEST_F(TranslatorTest, PropertyHandlerCanOverrideOrVetoAndErrorsStayWithTheirProperty) {
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  TTestControl c(nullptr, "C");
  c.Caption = "Caption";
  c.Hint = "Hint";
  c.Text = u"Text";
  tr->OnPropertyTranslate = [](kiv::TObject*, kiv::TObject*, const kiv::TPropInfo* pi,
                               const std::u16string& old, std::u16string& nv, bool found,
                               bool& doDefault) {
    EXPECT_TRUE(found);
    if (pi->Name == "Caption") nv = u"<" + old + u">";
    if (pi->Name == "Hint") doDefault = false;
    if (pi->Name == "Text") throw std::runtime_error("broken setter");
  };
  // "TITLE" follows the failing "TEXT" in the default property list.
  c.Title = u"Hint";
  bool titleSeen = false;
  auto inner = tr->OnPropertyTranslate;
  tr->OnPropertyTranslate = [&](kiv::TObject* s, kiv::TObject* o, const kiv::TPropInfo* pi,
                                const std::u16string& old, std::u16string& nv, bool f, bool& d) {
    if (pi->Name == "Title") titleSeen = true;
    inner(s, o, pi, old, nv, f, d);
  };
  tr->Translate("DE", &c);
  EXPECT_EQ(c.Caption, "<Caption>");
  EXPECT_EQ(c.Hint, "Hint");
  EXPECT_EQ(c.Text, u"Text");
  EXPECT_TRUE(titleSeen);
  EXPECT_EQ(c.Title, u"Hinweis");
}

TEST_F(TranslatorTest, CustomTranslatorHandlesItsClassByPropertyName) {
  struct TNote : kiv::TObject {
    std::string ClassName() const override { return "TNote"; }
    std::u16string text = u"Hint";
  };
  struct NoteTranslator : kiv::TCustomTranslator {
    void Translate(kiv::TWtransl& tr, kiv::TObject* owner, const kiv::TPropInfo* pi,
                   kiv::TObject& obj) override {
      auto& note = static_cast<TNote&>(obj);
      std::u16string nv;
      if (tr.TranslateValue(owner, pi, note.text, nv)) note.text = nv;
    }
  };
  kiv::RegisterCustomTranslator<TNote>("NoteProp", std::make_shared<NoteTranslator>());
  WriteFile("app.lng", kMenu);
  auto tr = MakeTranslator({"app.lng"});
  TTestControl c(nullptr, "C");
  TNote note;
  c.Extra = &note;
  tr->Translate("DE", &c);
  tr->TranslateProperty(&c, "Extra");  // not the registered name: left alone
  EXPECT_EQ(note.text, u"Hint");
  EXPECT_NE(kiv::FindCustomTranslator(note, "noteprop"), nullptr);
  EXPECT_EQ(kiv::FindCustomTranslator(note, "Extra"), nullptr);
  EXPECT_NE(kiv::FindCustomTranslator(c.Lines, "Anything"), nullptr);  // wide-string lists
}

TEST_F(TranslatorTest, DirectivesSetEncodingCharsetBiDiModeAndLocale) {
  WriteFile("utf8.lng", "Encoding=UTF-8\nBiDiMode=RightToLeftNoAlign\nLocale=1031\n\nEN:>Caption\nDE:>\xC3\x9C" "ber\n\n");
  WriteFile("ansi.lng", "Charset=windows-1252\nEncoding=unicode\n\nEN:>Hint\nDE:>\xDC" "ber\n\n");
  auto tr = MakeTranslator({"utf8.lng", "ansi.lng"});
  const std::uint32_t before = kiv::GetThreadLocaleId();
  TTestControl c(nullptr, "C");
  c.Caption = "Caption";
  c.Hint = "Hint";
  c.Text = u"Caption";
  ASSERT_TRUE(tr->Translate("DE", &c));
  EXPECT_EQ(c.Text, u"\u00DCber");
  EXPECT_EQ(kiv::AnsiToWide(c.Hint), u"\u00DCber");  // "unicode" reads through the code page
  EXPECT_EQ(c.BiDiMode, 2);
  EXPECT_EQ(tr->CodePage(), 1252u);
  EXPECT_EQ(tr->Locale(), 1031u);
  EXPECT_EQ(kiv::GetThreadLocaleId(), 1031u);
  tr->LoadLanguage("EN", "DE");  // restores the start locale before reading again
  EXPECT_EQ(tr->StartLocale(), before);
  tr->SetLanguageFile("");
  tr->LoadLanguage("EN", "DE");
  EXPECT_EQ(kiv::GetThreadLocaleId(), before);
  EXPECT_EQ(tr->Encoding(), kiv::TLanguageEncoding::None);
}

TEST_F(TranslatorTest, DictionaryIsFreedByTheUnloadTimerAndReloadedOnNextUse) {
  WriteFile("app.lng", "EN:>Caption\nDE:>Titel\n\n");
  auto tr = MakeTranslator({"app.lng"});
  EXPECT_EQ(TranslateCaption(*tr, "Caption"), "Titel");
  EXPECT_EQ(timer_.interval, kiv::TWtransl::kUnloadIntervalMs);
  EXPECT_TRUE(timer_.enabled);
  EXPECT_TRUE(tr->DictionaryLoaded());

  timer_.tick();
  EXPECT_FALSE(timer_.enabled);
  EXPECT_FALSE(tr->DictionaryLoaded());
  EXPECT_EQ(tr->EntryCount(), 0);
  EXPECT_EQ(tr->LoadedPair(), "");

  WriteFile("app.lng", "EN:>Caption\nDE:>Ueberschrift\n\n");  // proves the reload
  EXPECT_EQ(TranslateCaption(*tr, "Caption"), "Ueberschrift");
  EXPECT_EQ(timer_.created, 1);
  EXPECT_TRUE(timer_.enabled);

  kiv::TWtransl keeper(nullptr, /*noUnload=*/true, [&](std::uint32_t, std::function<void()>) {
    ADD_FAILURE() << "no timer expected";
    return std::unique_ptr<kiv::TUnloadTimer>();
  });
  keeper.SetLanguageFile(Path("app.lng"));
  keeper.CurrentLanguage = "EN";
  EXPECT_EQ(TranslateCaption(keeper, "Caption"), "Ueberschrift");
}

TEST_F(TranslatorTest, SameLanguagePairIsNotReloaded) {
  WriteFile("app.lng", "EN:>Caption\nDE:>Titel\n\n");
  auto tr = MakeTranslator({"app.lng"});
  TranslateCaption(*tr, "Caption");
  WriteFile("app.lng", "EN:>Caption\nDE:>Anders\n\n");
  EXPECT_EQ(TranslateCaption(*tr, "Caption"), "Titel");
  EXPECT_EQ(tr->LoadedPair(), "EN|DE");
}

TEST_F(TranslatorTest, DefaultLanguageComesFromTheFirstFileWithALanguageList) {
  WriteFile("shared.lng", "[Languages]\nDefault = FR\n");
  WriteFile("own.lng", "[Languages]\n$EN = English\n$DE = Deutsch\nDefault = DE\n\nEN:>Caption\nDE:>Titel\n\n");
  WriteFile("last.lng", "[Languages]\n$EN = English\nDefault = IT\n");
  auto tr = MakeTranslator({"shared.lng", "own.lng", "last.lng"});
  EXPECT_EQ(tr->GetDefaultLanguage(), "DE");
  tr = MakeTranslator({"shared.lng", "missing.lng"});
  EXPECT_EQ(tr->GetDefaultLanguage(), "FR");  // no list anywhere: the last existing file
  tr = MakeTranslator({"missing.lng"});
  EXPECT_EQ(tr->GetDefaultLanguage(), "");

  tr = MakeTranslator({"own.lng"});
  TTestControl c(nullptr, "C");
  c.Caption = "Caption";
  tr->Translate("", &c);  // empty target: the default language
  EXPECT_EQ(tr->TargetLanguage(), "DE");
  EXPECT_EQ(c.Caption, "Titel");
  EXPECT_NE(ReadFile("own.lng").find("EN:>Caption"), std::string::npos);  // never rewritten
}

}  // namespace
}  // namespace kiv_test

namespace kiv_test {
namespace {

// A real timer unloading every millisecond while translations run (from its own thread, or on
// Windows from the messages pumped between runs): every run sees a whole dictionary, loaded
// again when a tick took it away.
TEST_F(TranslatorTest, UnloadTickOnAnotherThreadNeverDisturbsARun) {
  WriteFile("app.lng", "EN:>Caption\nDE:>Titel\n\n");
  kiv::TWtransl tr(nullptr, false, [](std::uint32_t, std::function<void()> tick) {
    return kiv::CreateSystemUnloadTimer(1, std::move(tick));
  });
  tr.SetLanguageFile(Path("app.lng"));
  tr.CurrentLanguage = "EN";
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(TranslateCaption(tr, "Caption"), "Titel") << i;
    kiv::ProcessMessages();
  }
}

}  // namespace
}  // namespace kiv_test
