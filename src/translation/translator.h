// TWtransl translates the user-visible texts of a component tree from language files: it loads
// the dictionary for a language pair on demand, walks objects by their published properties,
// lets handlers veto or override each step, collects texts for language-file writers in test
// mode, and frees the dictionary after 20 seconds without use.
//
// Translate and the unload timer's tick are serialised by the translator's lock; handlers run
// inside it. Settings (LanguageFile, ComponentProperties, handlers) belong to the owner thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/mutex.h"
#include "support/component.h"
#include "support/recursive_mutex.h"
#include "support/string_list.h"
#include "support/string_wide_string_hash_list.h"
#include "translation/language_file.h"
#include "translation/unload_timer.h"

namespace kiv {

// The dictionary of one language pair, handed to handlers as LngResources. Keys are escaped
// 8-bit source texts (system code page), values their wide translations; missing keys read as
// empty.
class TWtranslLanguagesList : public TObject {
 public:
  std::string ClassName() const override { return "TWtranslLanguagesList"; }
  void Clear();

  TkivStringWideStringHashList Exact{true};      // source text -> translation
  TkivStringWideStringHashList LowerCase{true};  // source with ASCII letters lowered
  // Source texts that carry an accelerator, keyed without it, so that a text without
  // accelerator finds an entry written with one.
  TkivStringWideStringHashList WithoutAccel{true};
};

// TestMode values, set by directives of the language files.
enum TTestMode { tmNone = 0, tmSaveUntr = 1, tmSaveAll = 2, tmSaveUnused = 3, tmSaveUntrObj = 4 };
// TestFileMode values.
enum TTestFileMode { tfmNew = 0, tfmRewrite = 1, tfmAppend = 2 };

class TWtransl : public TComponent {
 public:
  using TTranslateNotify = std::function<void(TObject* Sender, TWtranslLanguagesList* LngResources)>;
  using TCustomTranslateNotify =
      std::function<void(TObject* Sender, TObject* Comp, TWtranslLanguagesList* LngResources)>;
  using TBeforeTranslateComponentNotify = std::function<void(
      TObject* Sender, TObject* Comp, TWtranslLanguagesList* LngResources, bool& Allow)>;
  using TPropertyTranslateNotify = std::function<void(
      TObject* Sender, TObject* Obj, const TPropInfo* pi, const std::u16string& OldValue,
      std::u16string& NewValue, bool Found, bool& DoDefault)>;
  using TCustomObjectPropertyTranslateNotify = std::function<void(
      TObject* Sender, const std::string& Prop, TObject* Obj, TWtranslLanguagesList* LngResources)>;

  static constexpr std::uint32_t kUnloadIntervalMs = 20000;

  // noUnload: keep the dictionary loaded (no unload timer). timerFactory: how the unload timer
  // is made; empty means the platform's timer.
  explicit TWtransl(TComponent* owner, bool noUnload = false, TUnloadTimerFactory timerFactory = {});
  // Writes the test output file when collecting (errors ignored), then frees everything.
  ~TWtransl() override;
  std::string ClassName() const override { return "TWtransl"; }

  // Published properties.
  TStringList& ComponentProperties() { return componentProperties_; }
  void SetComponentProperties(const TStrings& names) { componentProperties_.Assign(names); }
  const std::string& LanguageFile() const { return languageFile_; }
  void SetLanguageFile(std::string files) { languageFile_ = std::move(files); }
  TPropertyTranslateNotify OnPropertyTranslate;
  TCustomTranslateNotify OnCustomTranslate;
  TTranslateNotify OnBeforeTranslate;
  TTranslateNotify OnAfterTranslate;
  TCustomObjectPropertyTranslateNotify OnCustomObjectPropertyTranslate;
  TBeforeTranslateComponentNotify OnBeforeTranslateComponent;

  std::string CurrentLanguage;
  const std::string& SourceLanguage() const { return sourceLanguage_; }
  const std::string& TargetLanguage() const { return targetLanguage_; }

  // State of the dictionary; read under the lock.
  int EntryCount() const;
  std::string LoadedPair() const;
  bool DictionaryLoaded() const;

  // Settings from the language files' directives.
  TLanguageEncoding Encoding() const { return encoding_; }
  unsigned CodePage() const { return codePage_; }
  int BiDiMode() const { return biDiMode_; }
  std::uint32_t Locale() const { return locale_; }
  std::uint32_t StartLocale() const { return startLocale_; }
  int TestMode() const { return testMode_; }
  int TestFileMode() const { return testFileMode_; }
  // Texts collected in test mode, sorted.
  const std::multiset<std::string>& TestTexts() const { return testTexts_; }

  // Translates Root (unless it is a component tagged 9998) and the components it owns into
  // TargetLanguage (empty: GetDefaultLanguage) from SourceLanguage (empty: CurrentLanguage).
  // True when a translation run took place.
  bool Translate(std::string TargetLanguage, TObject* Root, std::string SourceLanguage = {});
  // The "Default" language of the language files.
  std::string GetDefaultLanguage() const;
  // Reloads the dictionary for source -> target from LanguageFile; returns the number of
  // entries, or -1 when no file could be read.
  int LoadLanguage(const std::string& source, const std::string& target);

  // The translation run's steps, under the translator's lock (which Translate holds).
  void TranslateChildren(TComponent& component) REQUIRES(lock_);
  void TranslateObject(TObject* object) REQUIRES(lock_);
  // One property; takes the lock itself, so it may be called outside a run too.
  void TranslateProperty(TObject* object, std::string_view name);
  // Decides the new text for `text` of property pi of obj; true when it is to be applied.
  bool TranslateValue(TObject* obj, const TPropInfo* pi, const std::u16string& text,
                      std::u16string& newValue);
  // The translation of `text` from the dictionary, with accelerators and control characters
  // handled; `text` unchanged and found false when there is none.
  std::u16string TranslateText(std::u16string_view text, bool& found) const;
  // Translate each line of a list; used for string-list properties and custom translators.
  void TranslateStrings(TObject* owner, const TPropInfo* pi, TStrings& lines);
  void TranslateWideStrings(TObject* owner, const TPropInfo* pi, TWideStrings& lines);

  // The file the test output goes to (before choosing a free numbered name).
  std::string TestFileBaseName() const;
  // Writes the collected texts as a language file with empty translations; errors are thrown.
  void WriteTestFile();

  // Runs the unload timer's tick: frees the dictionary.
  void UnloadTick();

 private:
  void ApplyDirective(const TLanguageDirective& directive);
  void AddEntry(std::string_view source, std::string_view translation) REQUIRES(lock_);
  void RecordTestText(TObject* obj, const TPropInfo* pi, const std::u16string& text, bool found);
  std::u16string ConvertTranslation(std::string_view text) const;
  friend class TDictionarySink;

  mutable RecursiveMutex lock_;
  std::unique_ptr<TWtranslLanguagesList> dictionary_ GUARDED_BY(lock_);
  std::string loadedPair_ GUARDED_BY(lock_);
  int entryCount_ GUARDED_BY(lock_) = 0;
  std::unique_ptr<TUnloadTimer> timer_ GUARDED_BY(lock_);
  const bool noUnload_;
  TUnloadTimerFactory timerFactory_;

  TStringList componentProperties_{"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS"};
  std::string languageFile_ = "app.lng";
  std::string sourceLanguage_, targetLanguage_;

  TLanguageEncoding encoding_ = TLanguageEncoding::None;
  unsigned codePage_ = 0;
  int biDiMode_ = 0;
  std::uint32_t locale_, startLocale_;
  int testMode_ = tmNone;
  int testFileMode_ = tfmNew;
  std::multiset<std::string> testTexts_;
  std::set<std::string> usedTexts_;  // mode 3: texts asked for, not collected again on reload
  std::string loadScratch_[3];       // AddEntry's derived keys, reused from entry to entry
};

}  // namespace kiv
