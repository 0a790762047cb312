#include "translation/custom_translators.h"

#include <vector>

#include "platform/mutex.h"
#include "translation/translator.h"

namespace kiv {
namespace {

// Translates a wide-string list line by line, keeping the text wide.
class TWideStringsTranslator : public TCustomTranslator {
 public:
  void Translate(TWtransl& translator, TObject* owner, const TPropInfo* pi,
                 TObject& object) override {
    translator.TranslateWideStrings(owner, pi, static_cast<TWideStrings&>(object));
  }
};

struct TEntry {
  TObjectClassTest ObjectClass;
  std::string Name;  // lower-cased; empty: any property
  std::shared_ptr<TCustomTranslator> Translator;
};

class TCustomTranslatorList {
 public:
  TCustomTranslatorList() {
    Add({[](const TObject& o) { return dynamic_cast<const TWideStrings*>(&o) != nullptr; }, {},
         std::make_shared<TWideStringsTranslator>()});
  }
  void Add(TEntry entry) {
    LockGuard<Mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::shared_ptr<TCustomTranslator> Find(const TObject& object, std::string_view name) {
    LockGuard<Mutex> lock(mutex_);
    for (const TEntry& e : entries_)
      if ((e.Name.empty() || SameName(e.Name, name)) && e.ObjectClass(object)) return e.Translator;
    return nullptr;
  }

 private:
  Mutex mutex_;
  std::vector<TEntry> entries_ GUARDED_BY(mutex_);
};

TCustomTranslatorList& List() {
  static TCustomTranslatorList list;  // created on first use, freed at unload
  return list;
}

}  // namespace

void RegisterCustomTranslator(TObjectClassTest objectClass, std::string_view name,
                              std::shared_ptr<TCustomTranslator> translator) {
  if (!objectClass || !translator) return;
  std::string lowered(name);
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  List().Add({std::move(objectClass), std::move(lowered), std::move(translator)});
}

std::shared_ptr<TCustomTranslator> FindCustomTranslator(const TObject& object,
                                                        std::string_view propertyName) {
  return List().Find(object, propertyName);
}

}  // namespace kiv
