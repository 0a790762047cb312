#include "paramlist/name_refs.h"

namespace kiv {

TkivNameRefs::Refs TkivNameRefs::Take(std::string_view name, std::string_view key) {
  if (name.size() > kMaxName) return {CountedString::For(name), CountedString::For(key)};
  for (const Entry& entry : entries_)
    if (entry.Name.view() == name) return {entry.Name, entry.Key};
  CountedString name_ref = CountedString::For(name);
  // A name that is its own key (lower case already) shares one string for both.
  CountedString key_ref = key == name ? name_ref : CountedString::For(key);
  Entry& slot = entries_[next_];
  next_ = (next_ + 1) % kEntries;
  slot.Name = name_ref;
  slot.Key = key_ref;
  return {std::move(name_ref), std::move(key_ref)};
}

}  // namespace kiv
