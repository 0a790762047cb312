// Differential driver for the hash lists: runs one operation stream against the string lists,
// the pointer-keyed lists (real and deliberately weak hash) and std::unordered_map, and reports
// the first disagreement. Shared by the differential test and the fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/code_page.h"
#include "support/ptr_uint_object_hash_list.h"
#include "support/string_wide_string_hash_list.h"

namespace kiv_test {

// An owned object that counts its live instances, so that leaks and double frees show.
struct Tracked {
  explicit Tracked(int v, int* live) : value(v), live(live) { ++*live; }
  ~Tracked() { --*live; }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;
  int value;
  int* live;
};

// Few distinct 32-bit hashes: many keys share all hash bits, so the deepest chains grow long.
class WeakHashList : public kiv::TkivPtrUIntObjectHashList<Tracked> {
 protected:
  uint32_t KeyHashOf(uintptr_t key) const override {
    return static_cast<uint32_t>(key % 5) * 0x9E3779B1u;
  }
};

class HashListModel {
 public:
  // Returns "" when every list agreed with the reference map throughout, else what differed.
  std::string Run(const uint8_t* data, size_t size) {
    pos_ = data;
    end_ = data + size;
    while (pos_ < end_) {
      const uint8_t op = Next();
      std::string error = Step(op);
      if (!error.empty()) return error;
    }
    Clear();
    if (live_ != 0) return "objects leaked or freed twice: " + std::to_string(live_);
    return "";
  }

 private:
  uint8_t Next() { return pos_ < end_ ? *pos_++ : 0; }
  unsigned NextKey() {
    const unsigned lo = Next();
    return lo | ((Next() & 0x03u) << 8);  // 1024 keys: splits but also replacements
  }
  // A spelling of key `k` whose letter case depends on `style`.
  static std::string Spell(unsigned k, uint8_t style) {
    std::string s = "Key-" + std::to_string(k);
    if (style & 1) s[0] = 'k';
    if (style & 2) s[1] = 'E';
    if (k % 7 == 0) s.clear();  // the empty key is valid too
    if (k % 7 == 0 && k % 2) s = std::string(40, 'x') + std::to_string(k);  // long keys
    return s;
  }
  static kiv::WideString Wide(int v) {
    const std::string s = std::to_string(v);
    return kiv::WideString(s.begin(), s.end());
  }

  std::string Step(uint8_t op) {
    const unsigned k = NextKey();
    const uint8_t style = Next();
    const std::string key = Spell(k, style);
    const std::string lower = kiv::AnsiLowerCase(key);
    const uintptr_t pkey = static_cast<uintptr_t>(k) * 0x10001u;
    switch (op % 8) {
      case 0:
      case 1: {
        const int v = ++counter_;
        exact_.SetValue(key, Wide(v));
        folded_.SetValue(key, Wide(v));
        strong_.Add(pkey, std::make_unique<Tracked>(v, &live_));
        weak_.Add(pkey, std::make_unique<Tracked>(v, &live_));
        refExact_[key] = v;
        refFolded_[lower] = v;
        refPtr_[pkey] = v;
        break;
      }
      case 2:
        exact_.RemoveValue(key);
        folded_.RemoveValue(key);
        strong_.Remove(pkey);
        weak_.Remove(pkey);
        refExact_.erase(key);
        refFolded_.erase(lower);
        refPtr_.erase(pkey);
        break;
      case 3:
      case 4: {
        if (Get(exact_, key) != Find(refExact_, key)) return "exact lookup of " + key;
        if (Get(folded_, key) != Find(refFolded_, lower)) return "folded lookup of " + key;
        if (Get(strong_, pkey) != Find(refPtr_, pkey)) return "pointer lookup";
        if (Get(weak_, pkey) != Find(refPtr_, pkey)) return "weak-hash lookup";
        break;
      }
      case 5: {  // take the value out
        const kiv::WideString want = Wide(Find(refExact_, key));
        const kiv::WideString got = exact_.RemoveValue(key);
        if (got != (Find(refExact_, key) ? want : kiv::WideString())) return "RemoveValue";
        refExact_.erase(key);
        std::unique_ptr<Tracked> taken(weak_.Extract(pkey));
        if ((taken ? taken->value : 0) != Find(refPtr_, pkey)) return "Extract";
        strong_.Remove(pkey);
        refPtr_.erase(pkey);
        break;
      }
      case 6:
        if (style < 8) Clear();
        break;
      case 7: {
        if (style >= 32) break;  // walks are costly: one in eight
        std::string error = CompareWalks(style);
        if (!error.empty()) return error;
        break;
      }
    }
    if (exact_.Count() != static_cast<int32_t>(refExact_.size())) return "exact Count";
    if (folded_.Count() != static_cast<int32_t>(refFolded_.size())) return "folded Count";
    if (strong_.Count() != static_cast<int32_t>(refPtr_.size())) return "pointer Count";
    if (weak_.Count() != static_cast<int32_t>(refPtr_.size())) return "weak-hash Count";
    if (live_ != 2 * static_cast<int>(refPtr_.size())) return "live objects";
    return "";
  }

  template <class Map, class Key>
  static int Find(const Map& m, const Key& k) {
    auto it = m.find(k);
    return it == m.end() ? 0 : it->second;
  }
  static int Get(const kiv::TkivStringWideStringHashList& l, const std::string& key) {
    kiv::WideString v;
    if (!l.TryGetValue(key, v)) return 0;
    return std::stoi(std::string(v.begin(), v.end()));
  }
  static int Get(const kiv::TkivPtrUIntObjectHashList<Tracked>& l, uintptr_t key) {
    Tracked* t = l.GetValue(key);
    return t ? t->value : 0;
  }

  // Full walks must list exactly the reference entries; a walk stopped at entry n must be a
  // prefix of the full walk that is at least n + 1 long.
  std::string CompareWalks(uint8_t stopAt) {
    std::map<std::string, int> walked;
    exact_.ForEach([&](std::string_view k, const kiv::WideString& v, bool&) {
      walked[std::string(k)] = std::stoi(std::string(v.begin(), v.end()));
    });
    if (walked != std::map<std::string, int>(refExact_.begin(), refExact_.end()))
      return "exact walk";
    for (auto* list : {static_cast<kiv::TkivPtrUIntObjectHashList<Tracked>*>(&strong_),
                       static_cast<kiv::TkivPtrUIntObjectHashList<Tracked>*>(&weak_)}) {
      std::vector<uintptr_t> full;
      std::map<uintptr_t, int> entries;
      const bool fullStop = list->ForEach([&](uintptr_t k, Tracked* t, bool&) {
        full.push_back(k);
        entries[k] = t->value;
      });
      if (fullStop || entries != std::map<uintptr_t, int>(refPtr_.begin(), refPtr_.end()))
        return "pointer walk";
      std::vector<uintptr_t> part;
      const bool stopped = list->ForEach([&](uintptr_t k, Tracked*, bool& stop) {
        part.push_back(k);
        if (part.size() == stopAt + 1u) stop = true;
      });
      if (stopped != (full.size() > stopAt)) return "stop flag result";
      if (part.size() < std::min<size_t>(full.size(), stopAt + 1u) ||
          !std::equal(part.begin(), part.end(), full.begin()))
        return "stopped walk is not a prefix";
    }
    return "";
  }

  void Clear() {
    exact_.Clear();
    folded_.Clear();
    strong_.Clear();
    weak_.Clear();
    refExact_.clear();
    refFolded_.clear();
    refPtr_.clear();
  }

  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
  int counter_ = 0;
  int live_ = 0;
  kiv::TkivStringWideStringHashList exact_{true};
  kiv::TkivStringWideStringHashList folded_{false};
  kiv::TkivPtrUIntObjectHashList<Tracked> strong_;
  WeakHashList weak_;
  std::unordered_map<std::string, int> refExact_;
  std::unordered_map<std::string, int> refFolded_;
  std::unordered_map<uintptr_t, int> refPtr_;
};

}  // namespace kiv_test
