#include "translation/translator.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/code_page.h"
#include "platform/scope_exit.h"
#include "settings/ini_file.h"
#include "translation/custom_translators.h"
#include "translation/text_escape.h"
#include "translation/thread_locale.h"

namespace kiv {
namespace {

constexpr std::intptr_t kTagSkipTree = 9999;      // neither it nor what it owns
constexpr std::intptr_t kTagSkipSelf = 9998;      // not it, but what it owns
constexpr std::intptr_t kTagCustomOnly = 9997;    // only OnCustomTranslate
constexpr std::intptr_t kTagSkipFlagsBase = 10000;  // 10000..10047: skip flags in the low bits

// Properties that the skip flags of a tag 10000..10047 leave out, by bit.
constexpr const char* kSkipFlagNames[] = {"hint", "caption", "items", "strings", "text", "pages"};

// Splits a "|"-separated list of file names, dropping empty parts.
std::vector<std::string> SplitFileList(std::string_view list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t bar = list.find('|', start);
    if (bar == std::string_view::npos) bar = list.size();
    if (bar > start) parts.emplace_back(list.substr(start, bar - start));
    start = bar + 1;
  }
  return parts;
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(name), ec);
}

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& name, std::string& contents) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  // One read of the size the file has; whatever follows (a file that grew meanwhile) is
  // appended by the character loop.
  contents.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (in && size > 0) {
    contents.resize(static_cast<std::size_t>(size));
    in.read(contents.data(), size);
    contents.resize(static_cast<std::size_t>(in.gcount()));
  }
  if (in) contents.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

void LowerAsciiInPlace(std::string& s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// "[TClass]Name -> [TClass]Name" from the outermost owner in; the class name for other objects.
std::string ObjectPath(TObject* obj, const TPropInfo* pi) {
  std::string path;
  if (auto* c = dynamic_cast<TComponent*>(obj)) {
    std::vector<TComponent*> chain;
    for (; c; c = c->Owner()) chain.push_back(c);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!path.empty()) path += " -> ";
      path += "[" + (*it)->ClassName() + "]" + (*it)->Name();
    }
  } else if (obj) {
    path = obj->ClassName();
  }
  if (pi) path += "." + pi->Name;
  return path;
}

// A numbered alternative to `name`: ".N" inserted before the last extension.
std::string NumberedName(const std::string& name, int n) {
  std::size_t dot = name.rfind('.');
  std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return name + "." + std::to_string(n);
  return name.substr(0, dot) + "." + std::to_string(n) + name.substr(dot);
}

}  // namespace

// Feeds what the parser finds into a translator's settings and dictionary.
class TDictionarySink : public TLanguageFileSink {
 public:
  explicit TDictionarySink(TWtransl& translator) : translator_(translator) {}
  void Directive(const TLanguageDirective& directive) override {
    translator_.ApplyDirective(directive);
  }
  // Called by LoadLanguage's parser, under the translator's lock.
  void Entry(std::string_view source, std::string_view translation) override REQUIRES(translator_.lock_) {
    translator_.AddEntry(source, translation);
    ++count;
  }
  int count = 0;

 private:
  TWtransl& translator_;
};

void TWtranslLanguagesList::Clear() {
  Exact.Clear();
  LowerCase.Clear();
  WithoutAccel.Clear();
}

TWtransl::TWtransl(TComponent* owner, bool noUnload, TUnloadTimerFactory timerFactory)
    : TComponent(owner),
      noUnload_(noUnload),
      timerFactory_(timerFactory ? std::move(timerFactory) : TUnloadTimerFactory(CreateSystemUnloadTimer)),
      locale_(GetThreadLocaleId()),
      startLocale_(locale_) {
  PublishObject("ComponentProperties", [this] { return &componentProperties_; });
  PublishTextField("LanguageFile", languageFile_);
}

TWtransl::~TWtransl() {
  if (testMode_ != tmNone && !testTexts_.empty()) {
    try {
      WriteTestFile();
    } catch (...) {
      // The test output is a help for language-file writers; failing to write it is ignored.
    }
  }
  // The timer goes first so that no tick runs while the rest is freed.
  std::unique_ptr<TUnloadTimer> timer;
  {
    LockGuard<RecursiveMutex> guard(lock_);
    timer = std::move(timer_);
  }
  timer.reset();
}

int TWtransl::EntryCount() const {
  LockGuard<RecursiveMutex> guard(lock_);
  return entryCount_;
}

std::string TWtransl::LoadedPair() const {
  LockGuard<RecursiveMutex> guard(lock_);
  return loadedPair_;
}

bool TWtransl::DictionaryLoaded() const {
  LockGuard<RecursiveMutex> guard(lock_);
  return dictionary_ != nullptr;
}

// --- loading ---

std::string TWtransl::GetDefaultLanguage() const {
  std::string result;
  for (const std::string& file : SplitFileList(languageFile_)) {
    if (!FileExists(file)) continue;
    // Not bound to the file: reading must never write the language file back.
    TkivIniFile ini;
    try {
      ini.AppendFromFile(file);
    } catch (...) {
      continue;  // an unreadable file offers no language list
    }
    result = ini.ReadString("Languages", "Default", "");
    std::vector<std::string> keys;
    ini.ReadSection("Languages", keys);
    bool hasLanguages = std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
      return StartsWith(key, "$") && !ini.ReadString("Languages", key, "").empty();
    });
    if (hasLanguages) break;
  }
  return result;
}

void TWtransl::ApplyDirective(const TLanguageDirective& d) {
  using K = TLanguageDirective::TKind;
  switch (d.Kind) {
    case K::TestFileMode: testFileMode_ = static_cast<int>(d.Value); break;
    case K::TestMode: testMode_ = static_cast<int>(d.Value); break;
    case K::Encoding: encoding_ = static_cast<TLanguageEncoding>(d.Value); break;
    case K::BiDiMode: biDiMode_ = static_cast<int>(d.Value); break;
    case K::Charset: codePage_ = d.Value; break;
    case K::Locale:
      // Number and date formats are read from the locale by their users when needed, so
      // switching the thread locale is all that is to do here.
      locale_ = d.Value;
      SetThreadLocaleId(locale_);
      break;
  }
}

std::u16string TWtransl::ConvertTranslation(std::string_view text) const {
  std::u16string wide;
  if (WidenAsciiText(text, wide)) return wide;  // most translations: no system conversion
  unsigned codePage = encoding_ == TLanguageEncoding::Utf8 ? kCodePageUtf8 : codePage_;
  try {
    return CodePageToWide(codePage, text);
  } catch (const ECodePageError&) {
    return AnsiToWide(text);  // a code page this system lacks: read as the system's
  }
}

void TWtransl::AddEntry(std::string_view source, std::string_view translation) {
  std::u16string wide = ConvertTranslation(translation);
  dictionary_->Exact.SetValue(source, wide);
  // The derived keys are built in buffers kept across entries (loading runs under the lock).
  std::string& lowered = loadScratch_[0];
  lowered.assign(source);
  LowerAsciiInPlace(lowered);
  if (lowered != source) dictionary_->LowerCase.SetValue(lowered, wide);
  // Entries with an accelerator are also found by texts without one. Only a source with an "&"
  // has one; an ASCII source (nearly every one) is escaped as it is, any other through UTF-16
  // as texts are at look-up.
  if (source.find('&') != std::string_view::npos) {
    if (IsAscii(source)) {
      std::string& withAccel = loadScratch_[1];
      std::string& withoutAccel = loadScratch_[2];
      withAccel.clear();
      withoutAccel.clear();
      if (EscapeAsciiText(source, withAccel, withoutAccel).HasAccel)
        dictionary_->WithoutAccel.SetValue(withoutAccel, std::move(wide));
    } else {
      TEscapedText plain = EscapeText(AnsiToWide(source));
      if (plain.HasAccel)
        dictionary_->WithoutAccel.SetValue(WideToAnsi(plain.WithoutAccel), std::move(wide));
    }
  }
  if (testMode_ == tmSaveUnused) {
    std::string key(source);
    if (!usedTexts_.count(key) && !testTexts_.count(key)) testTexts_.insert(std::move(key));
  }
}

int TWtransl::LoadLanguage(const std::string& source, const std::string& target) {
  LockGuard<RecursiveMutex> guard(lock_);
  if (!dictionary_) dictionary_ = std::make_unique<TWtranslLanguagesList>();
  dictionary_->Clear();
  encoding_ = TLanguageEncoding::None;
  codePage_ = 0;
  biDiMode_ = 0;
  locale_ = startLocale_;
  SetThreadLocaleId(locale_);

  int count = -1;
  std::string contents;
  for (const std::string& file : SplitFileList(languageFile_)) {
    if (!FileExists(file)) continue;
    if (!ReadWholeFile(file, contents)) break;  // later files are not read either
    TDictionarySink sink(*this);
    ParseLanguageFile(contents, source, target, sink);
    count = std::max(count, 0) + sink.count;
  }
  return count;
}

// --- translating ---

bool TWtransl::Translate(std::string TargetLanguage, TObject* Root, std::string SourceLanguage) {
  if (SourceLanguage.empty()) SourceLanguage = CurrentLanguage;
  if (TargetLanguage.empty()) TargetLanguage = GetDefaultLanguage();
  sourceLanguage_ = SourceLanguage;
  targetLanguage_ = TargetLanguage;

  bool result = false;
  TUnloadTimer* timer = nullptr;
  {
    LockGuard<RecursiveMutex> guard(lock_);
    if (!dictionary_) {
      dictionary_ = std::make_unique<TWtranslLanguagesList>();
      loadedPair_.clear();
      entryCount_ = 0;
    }
    // The pair is stored with a separator so that e.g. "AB"+"C" and "A"+"BC" differ.
    std::string pair = SourceLanguage + "|" + TargetLanguage;
    if (pair != loadedPair_) {
      loadedPair_ = pair;
      entryCount_ = LoadLanguage(SourceLanguage, TargetLanguage);
    }
    if (timer_) timer_->SetEnabled(false);
    if (OnBeforeTranslate) OnBeforeTranslate(this, dictionary_.get());
    if (testMode_ != tmNone || entryCount_ > 0) {
      result = true;
      auto* rootComponent = dynamic_cast<TComponent*>(Root);
      if (Root && (!rootComponent || rootComponent->Tag() != kTagSkipSelf)) TranslateObject(Root);
      if (rootComponent) TranslateChildren(*rootComponent);
      if (OnAfterTranslate) OnAfterTranslate(this, dictionary_.get());
    }
    if (result && !noUnload_ && !timer_)
      timer_ = timerFactory_(kUnloadIntervalMs, [this] { UnloadTick(); });
    timer = timer_.get();  // lives until destruction
  }
  if (result && timer) timer->SetEnabled(true);
  return result;
}

void TWtransl::UnloadTick() {
  std::unique_ptr<TWtranslLanguagesList> freed;
  {
    LockGuard<RecursiveMutex> guard(lock_);
    if (timer_) timer_->SetEnabled(false);
    entryCount_ = 0;
    loadedPair_.clear();
    freed = std::move(dictionary_);
  }
  // The dictionary is freed outside the lock.
}

void TWtransl::TranslateChildren(TComponent& component) {
  for (int i = 0; i < component.ComponentCount(); ++i) {
    TComponent* child = component.Components(i);
    if (!child || child->Tag() == kTagSkipTree || StartsWith(child->Name(), "__")) continue;
    if (child->Tag() == kTagCustomOnly) {
      if (OnCustomTranslate) OnCustomTranslate(this, child, dictionary_.get());
    } else if (child->Tag() != kTagSkipSelf) {
      TranslateObject(child);
    }
    if (!StartsWith(child->Name(), "_")) TranslateChildren(*child);
  }
}

void TWtransl::TranslateObject(TObject* object) {
  if (!object) return;
  bool allow = true;
  if (OnBeforeTranslateComponent) OnBeforeTranslateComponent(this, object, dictionary_.get(), allow);
  if (!allow) return;

  auto* persistent = dynamic_cast<TPersistent*>(object);
  if (persistent && biDiMode_ != 0) {
    const TPropInfo* bidi = persistent->FindProperty("BiDiMode");
    if (bidi && bidi->Kind == TPropertyKind::Ordinal && bidi->SetOrdinal) bidi->SetOrdinal(biDiMode_);
  }
  unsigned skip = 0;
  if (auto* c = dynamic_cast<TComponent*>(object))
    if (c->Tag() >= kTagSkipFlagsBase && c->Tag() <= kTagSkipFlagsBase + 47)
      skip = static_cast<unsigned>(c->Tag() - kTagSkipFlagsBase);
  // A copy: a handler may change the list while it is being walked.
  std::vector<std::string> names;
  for (int i = 0; i < componentProperties_.Count(); ++i) names.push_back(componentProperties_.Get(i));
  for (const std::string& name : names) {
    bool skipped = false;
    for (unsigned bit = 0; bit < std::size(kSkipFlagNames); ++bit)
      if ((skip & (1u << bit)) && SameName(name, kSkipFlagNames[bit])) skipped = true;
    if (skipped) continue;
    try {
      TranslateProperty(object, name);
    } catch (...) {
      // One property that cannot be translated does not stop the others.
    }
  }
  if (OnCustomTranslate) OnCustomTranslate(this, object, dictionary_.get());
}

void TWtransl::TranslateProperty(TObject* object, std::string_view name) {
  LockGuard<RecursiveMutex> guard(lock_);  // re-entered inside a run
  auto* persistent = dynamic_cast<TPersistent*>(object);
  const TPropInfo* pi = persistent ? persistent->FindProperty(name) : nullptr;
  if (!pi) return;
  std::u16string newValue;
  switch (pi->Kind) {
    case TPropertyKind::Text: {
      std::u16string old = AnsiToWide(pi->GetText());
      if (TranslateValue(object, pi, old, newValue) && newValue != old)
        pi->SetText(WideToAnsi(newValue));
      break;
    }
    case TPropertyKind::WideText:
    case TPropertyKind::Variant: {
      std::u16string old = pi->GetWide();
      if (TranslateValue(object, pi, old, newValue) && newValue != old) pi->SetWide(newValue);
      break;
    }
    case TPropertyKind::Object: {
      TObject* value = pi->GetObject ? pi->GetObject() : nullptr;
      if (!value) break;
      if (auto* collection = dynamic_cast<TCollection*>(value)) {
        for (int i = 0; i < collection->Count(); ++i) TranslateObject(collection->Items(i));
      } else if (auto* lines = dynamic_cast<TStrings*>(value)) {
        TranslateStrings(object, pi, *lines);
      } else if (auto custom = FindCustomTranslator(*value, pi->Name)) {
        custom->Translate(*this, object, pi, *value);
      } else if (OnCustomObjectPropertyTranslate) {
        OnCustomObjectPropertyTranslate(this, pi->Name, value, dictionary_.get());
      }
      break;
    }
    case TPropertyKind::Ordinal:
      break;
  }
}

namespace {

// Translates every line of a list inside one update bracket; Line converts to and from wide.
template <class Lines, class ToWide, class FromWide>
void TranslateLines(TWtransl& translator, TObject* owner, const TPropInfo* pi, Lines& lines,
                    ToWide toWide, FromWide fromWide) {
  lines.BeginUpdate();
  ScopeExit endUpdate([&lines] { lines.EndUpdate(); });
  std::u16string newValue;
  for (int i = 0; i < lines.Count(); ++i) {
    std::u16string old = toWide(lines.Get(i));
    if (translator.TranslateValue(owner, pi, old, newValue) && newValue != old)
      lines.Put(i, fromWide(newValue));
  }
}

}  // namespace

void TWtransl::TranslateStrings(TObject* owner, const TPropInfo* pi, TStrings& lines) {
  TranslateLines(
      *this, owner, pi, lines, [](const std::string& s) { return AnsiToWide(s); },
      [](const std::u16string& s) { return WideToAnsi(s); });
}

void TWtransl::TranslateWideStrings(TObject* owner, const TPropInfo* pi, TWideStrings& lines) {
  auto same = [](const std::u16string& s) { return s; };
  TranslateLines(*this, owner, pi, lines, same, same);
}

bool TWtransl::TranslateValue(TObject* obj, const TPropInfo* pi, const std::u16string& text,
                              std::u16string& newValue) {
  bool found = false;
  newValue = TranslateText(text, found);
  bool doDefault = true;
  if (OnPropertyTranslate) OnPropertyTranslate(this, obj, pi, text, newValue, found, doDefault);
  if (testMode_ >= tmSaveUntr && testMode_ <= tmSaveUntrObj) {
    RecordTestText(obj, pi, text, found);
    doDefault = false;
  }
  return doDefault;
}

std::u16string TWtransl::TranslateText(std::u16string_view text, bool& found) const {
  found = false;
  std::u16string_view s = TrimBlanks(text);
  LockGuard<RecursiveMutex> guard(lock_);
  if (s.empty() || !dictionary_) return std::u16string(text);

  // Fast path: most texts are entries as they stand. Their escape flags come from a scan; the
  // escaped forms are built only when this look-up misses.
  const AnsiOfWide plain(s);
  if (const WideString* exact = dictionary_->Exact.FindValue(plain)) {
    if (exact->empty()) return std::u16string(text);
    found = true;
    const TEscapeFlags flags = EscapeFlags(s);
    return UnescapeText(*exact, !flags.HasAccel, flags.HasControl);
  }

  TEscapedText e = EscapeText(s);
  std::u16string translation;
  bool hit = false;
  // The escaped forms differ from the plain text only when it has "&" or control characters.
  if (!hit && e.WithAccel != s) hit = dictionary_->Exact.TryGetValue(WideToAnsi(e.WithAccel), translation);
  if (!hit && e.WithoutAccel != e.WithAccel) {
    hit = dictionary_->Exact.TryGetValue(WideToAnsi(e.WithoutAccel), translation);
    if (hit) e.HasAccel = true;
  }
  if (!hit && !e.HasAccel)
    hit = dictionary_->WithoutAccel.TryGetValue(WideToAnsi(e.WithAccel), translation);
  if (!hit) hit = dictionary_->LowerCase.TryGetValue(AnsiLowerCase(plain.view()), translation);
  if (!hit || translation.empty()) return std::u16string(text);
  found = true;
  return UnescapeText(translation, !e.HasAccel, e.HasControl);
}

// --- test mode ---

void TWtransl::RecordTestText(TObject* obj, const TPropInfo* pi, const std::u16string& text,
                              bool found) {
  std::u16string_view s = TrimBlanks(text);
  if (s.empty() || !HasLetters(s)) return;
  std::string escaped = WideToAnsi(EscapeText(s).WithAccel);
  switch (testMode_) {
    case tmSaveUntr:
      if (!found && !testTexts_.count(escaped)) testTexts_.insert(std::move(escaped));
      break;
    case tmSaveUntrObj: {
      // Recorded once per place: the same text in another object or property is a new line.
      std::string line = ObjectPath(obj, pi) + "=" + escaped;
      if (!found && !testTexts_.count(line)) testTexts_.insert(std::move(line));
      break;
    }
    case tmSaveUnused: {
      // An empty line keeps the list non-empty, so the file is written even when every
      // entry was used.
      if (testTexts_.empty()) testTexts_.insert(std::string());
      auto it = testTexts_.find(escaped);
      if (it != testTexts_.end()) testTexts_.erase(it);
      usedTexts_.insert(std::move(escaped));
      break;
    }
    default:
      break;
  }
}

std::string TWtransl::TestFileBaseName() const {
  // With several files the output belongs to the last one, the most specific.
  std::vector<std::string> files = SplitFileList(languageFile_);
  std::string base = files.empty() ? std::string() : files.back();
  return base + (testMode_ == tmSaveUnused ? ".unused" : ".new");
}

void TWtransl::WriteTestFile() {
  std::string name = TestFileBaseName();
  if (testFileMode_ == tfmNew && FileExists(name)) {
    // The first free numbered name; bounded so that a full folder cannot loop for ever.
    std::string candidate;
    for (int n = 1; n < 100000; ++n) {
      candidate = NumberedName(name, n);
      if (!FileExists(candidate)) break;
    }
    name = candidate;
  }
  const bool existed = FileExists(name);
  std::ofstream out(name, std::ios::binary | (testFileMode_ == tfmAppend ? std::ios::app : std::ios::trunc));
  if (!out) throw Exception("Cannot create file \"" + name + "\"");
  const std::string& s = sourceLanguage_;
  const std::string& t = targetLanguage_;
  const char* eol = "\r\n";
  if (!existed || testFileMode_ != tfmAppend) {
    out << "[Languages]" << eol << "$" << s << " = #1" << eol << "$" << t << " = #2 (Default)" << eol
        << "Default = " << t << eol << eol;
  }
  for (const std::string& entry : testTexts_) {
    if (entry.empty()) continue;
    out << s << ":>" << entry << eol << t << ":>" << eol << eol;
  }
  out << eol;
  out.flush();
  if (!out) throw Exception("Cannot write file \"" + name + "\"");
}

}  // namespace kiv
