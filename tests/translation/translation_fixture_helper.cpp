#include "translation/translation_fixture.h"


namespace kiv_test {

TTestControl::TTestControl(kiv::TComponent* owner, std::string name, std::intptr_t tag)
    : TComponent(owner) {
  SetName(std::move(name));
  SetTag(tag);
  PublishTextField("Caption", Caption);
  PublishTextField("Hint", Hint);
  PublishWideText(
      "Text", [this] { return Text; }, [this](const std::u16string& v) { Text = v; });
  PublishVariant(
      "Title", [this] { return Title; }, [this](const std::u16string& v) { Title = v; });
  PublishOrdinal(
      "BiDiMode", [this] { return BiDiMode; }, [this](int v) { BiDiMode = v; });
  PublishObject("Items", [this] { return &Items; });
  PublishObject("Lines", [this] { return &Lines; });
  PublishObject("Columns", [this] { return &Columns; });
  PublishObject("Extra", [this] { return Extra; });
}

TTestColumn::TTestColumn() { PublishTextField("Caption", Caption); }

std::string TranslatorTest::Path(const std::string& name) const { return dir_.Path(name); }

std::string TranslatorTest::WriteFile(const std::string& name, const std::string& text) { return dir_.Write(name, text); }

std::string TranslatorTest::ReadFile(const std::string& name) const { return kiv::test::ReadFileBytes(Path(name)); }

std::unique_ptr<kiv::TWtransl> TranslatorTest::MakeTranslator(const std::vector<std::string>& files) {
  auto factory = [this](std::uint32_t interval, std::function<void()> tick) {
    timer_.interval = interval;
    timer_.tick = std::move(tick);
    ++timer_.created;
    return std::make_unique<ManualTimer>(timer_);
  };
  auto tr = std::make_unique<kiv::TWtransl>(nullptr, false, factory);
  std::string list;
  for (const std::string& f : files) list += (list.empty() ? "" : "|") + Path(f);
  tr->SetLanguageFile(list);
  tr->CurrentLanguage = "EN";
  return tr;
}

std::string TranslatorTest::TranslateCaption(kiv::TWtransl& tr, const std::string& text) {
  TTestControl c(nullptr, "C");
  c.Caption = text;
  tr.Translate("DE", &c);
  return c.Caption;
}

}  // namespace kiv_test
