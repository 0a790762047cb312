// The process-wide list of custom translators: each translates objects of one class (and its
// descendants), optionally only under one property name. The list starts with the translator
// for wide-string lists.
//
// Registration and look-up may happen on any thread; the list has its own lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "support/component.h"

namespace kiv {

class TWtransl;

class TCustomTranslator {
 public:
  virtual ~TCustomTranslator() = default;
  // Translates `object`, the value of property `pi` (may be null) of `owner`, through
  // `translator` (whose TranslateValue decides each text).
  virtual void Translate(TWtransl& translator, TObject* owner, const TPropInfo* pi,
                         TObject& object) = 0;
};

// Whether an object belongs to a translator's class.
using TObjectClassTest = std::function<bool(const TObject&)>;

// Adds an entry at the end of the list. `name` (stored lower-cased) limits the entry to
// properties of that name; an empty name makes it a property translator for every property.
void RegisterCustomTranslator(TObjectClassTest objectClass, std::string_view name,
                              std::shared_ptr<TCustomTranslator> translator);

template <class T>
void RegisterCustomTranslator(std::string_view name,
                              std::shared_ptr<TCustomTranslator> translator) {
  RegisterCustomTranslator([](const TObject& o) { return dynamic_cast<const T*>(&o) != nullptr; },
                           name, std::move(translator));
}

// The first entry whose class `object` belongs to and whose name is empty or equals
// `propertyName` (ignoring ASCII case); null when none fits.
std::shared_ptr<TCustomTranslator> FindCustomTranslator(const TObject& object,
                                                        std::string_view propertyName);

}  // namespace kiv
