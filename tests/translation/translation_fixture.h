// Shared pieces of the translator tests: a temporary folder for language files, a manual unload
// timer, and a small control class with every kind of published property.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/temp_folder.h"
#include "support/component.h"
#include "support/string_list.h"
#include "translation/translator.h"
#include "translation/unload_timer.h"

namespace kiv_test {

// A timer that ticks only when the test says so.
class ManualTimer : public kiv::TUnloadTimer {
 public:
  struct State {
    bool enabled = false;
    std::uint32_t interval = 0;
    int created = 0;
    std::function<void()> tick;
  };
  explicit ManualTimer(State& state) : state_(state) {}
  void SetEnabled(bool enabled) override { state_.enabled = enabled; }

 private:
  State& state_;
};

// A control with text, wide text, variant, ordinal and object properties.
class TTestControl : public kiv::TComponent {
 public:
  TTestControl(kiv::TComponent* owner, std::string name, std::intptr_t tag = 0);
  std::string ClassName() const override { return "TTestControl"; }

  std::string Caption, Hint;
  std::u16string Text;      // wide
  std::u16string Title;     // a variant, seen as text
  int BiDiMode = 0;
  kiv::TStringList Items;
  kiv::TWideStringList Lines;
  kiv::TCollection Columns;  // of TTestColumn
  kiv::TObject* Extra = nullptr;
};

class TTestColumn : public kiv::TCollectionItem {
 public:
  TTestColumn();
  std::string ClassName() const override { return "TTestColumn"; }
  std::string Caption;
};

// Per-test folder for language files; removed afterwards.
class TranslatorTest : public ::testing::Test {
 protected:
  // Writes `text` to a file in the folder and returns its full name.
  std::string WriteFile(const std::string& name, const std::string& text);
  std::string Path(const std::string& name) const;
  std::string ReadFile(const std::string& name) const;
  // A translator reading `files` ("|"-joined names in the folder), with a manual timer.
  std::unique_ptr<kiv::TWtransl> MakeTranslator(const std::vector<std::string>& files);
  // Translates `text` through the caption of a fresh control; source "EN", target "DE".
  std::string TranslateCaption(kiv::TWtransl& tr, const std::string& text);

  kiv::test::TempFolder dir_{"kiv_transl"};
  ManualTimer::State timer_;
};

}  // namespace kiv_test
