// The counted strings of the names a list meets again and again (a parser adds the same fields
// to its parsed-data list on every call): each name with its key, made once and shared by every
// item that carries them, so that such an item costs one allocation instead of three.
//
// Belongs to one list and is used under that list's ownership (one thread at a time). The
// strings are reference-counted: an item keeps its references after the cache replaced or
// dropped the entry, in whichever list or module it ends up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "paramlist/counted_string.h"

namespace kiv {

class TkivNameRefs {
 public:
  static constexpr size_t kEntries = 16;
  // Longer names are not kept: a field name is short, and comparing a long one costs more than
  // the allocations it saves.
  static constexpr size_t kMaxName = 64;

  // New references to `name` and to its key (`key`, the name's key), owned by the caller: the
  // kept ones when the name was met before, else new strings, kept for later (the oldest entry
  // gives way). Throws std::bad_alloc.
  struct Refs {
    CountedString Name;
    CountedString Key;
  };
  Refs Take(std::string_view name, std::string_view key);

 private:
  struct Entry {
    CountedString Name;
    CountedString Key;
  };
  Entry entries_[kEntries];
  size_t next_ = 0;  // the entry that gives way next
};

}  // namespace kiv
