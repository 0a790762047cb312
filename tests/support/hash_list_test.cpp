#include "support/hash_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "support/hash_list_model.h"
#include "support/key_hash.h"
#include "support/key_hash_word.h"
#include "support/ptr_uint_object_hash_list.h"

namespace {

using kiv::TkivPtrUIntKeyItem;
using kiv_test::Tracked;
using List = kiv::TkivPtrUIntObjectHashList<Tracked>;

// A pointer-keyed list whose hashes the test chooses.
class ChosenHashList : public List {
 public:
  explicit ChosenHashList(std::function<uint32_t(uintptr_t)> hash) : hash_(std::move(hash)) {}

 protected:
  uint32_t KeyHashOf(uintptr_t key) const override {
    return hash_(key);
  }

 private:
  std::function<uint32_t(uintptr_t)> hash_;
};

// Look-ups through the inline key path and through a key item, side by side.
template <class Base>
class BothLookUps : public Base {
 public:
  using Base::Base;
  // Empty when both agree for `key`, else a description of the difference.
  std::string Compare(uintptr_t key) const {
    void* fast = nullptr;
    void* general = nullptr;
    const bool found_fast = this->FindObject(key, fast);
    const bool found_general = this->FindEntry(TkivPtrUIntKeyItem(key), general);
    if (found_fast == found_general && fast == general) return "";
    return "key " + std::to_string(key) + ": " + std::to_string(found_fast) + " vs " +
           std::to_string(found_general);
  }
};

class HashListTest : public ::testing::Test {
 protected:
  void Add(List& list, uintptr_t key, int value) {
    list.Add(key, std::make_unique<Tracked>(value, &live_));
  }
  static std::vector<uintptr_t> Walk(const List& list, size_t stopAfter, bool* result = nullptr) {
    std::vector<uintptr_t> keys;
    const bool r = list.ForEach([&](uintptr_t k, Tracked*, bool& stop) {
      keys.push_back(k);
      if (keys.size() == stopAfter) stop = true;
    });
    if (result) *result = r;
    return keys;
  }
  int live_ = 0;
};

TEST_F(HashListTest, NewListIsEmptyAndHarmless) {
  List list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Root(), nullptr);
  int calls = 0;
  EXPECT_FALSE(list.ForEach([&](uintptr_t, Tracked*, bool&) { ++calls; }));
  EXPECT_EQ(calls, 0);
  list.Clear();
  list.Remove(42);  // missing key: nothing happens
  EXPECT_EQ(list.GetValue(42), nullptr);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(HashListTest, NinthKeyWithSharedLowHashByteSplitsTheSlotIntoAChild) {
  // Nine real keys whose XXH32 hashes share the low byte.
  std::vector<uintptr_t> keys;
  const uint32_t low = TkivPtrUIntKeyItem(1).Hash & 0xFF;
  for (uintptr_t k = 1; keys.size() < 9; ++k)
    if ((TkivPtrUIntKeyItem(k).Hash & 0xFF) == low) keys.push_back(k);

  List list;
  for (size_t i = 0; i < 8; ++i) Add(list, keys[i], static_cast<int>(i));
  EXPECT_EQ(list.Root()->ChainLengthAt(low), 8);
  EXPECT_EQ(list.Root()->ChildAt(low), nullptr);

  Add(list, keys[8], 8);
  const kiv::TTreeItem* child = list.Root()->ChildAt(low);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->Depth(), 1);
  EXPECT_EQ(child->OwnerList(), &list);
  EXPECT_EQ(list.Root()->UsedSlots(), 1);
  EXPECT_EQ(list.Count(), 9);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(list.GetValue(keys[i])->value, static_cast<int>(i));

  // Emptying the child frees it; the list works again afterwards.
  for (uintptr_t k : keys) list.Remove(k);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Root()->ChildAt(low), nullptr);
  EXPECT_EQ(list.Root()->UsedSlots(), 0);
  EXPECT_EQ(live_, 0);
  Add(list, keys[3], 33);
  EXPECT_EQ(list.GetValue(keys[3])->value, 33);
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(HashListTest, KeysWithIdenticalHashesStayInOneBoundedChainAndAreAllFound) {
  ChosenHashList list([](uintptr_t) { return 0xA1B2C3D4u; });
  const int n = 100;
  for (int k = 0; k < n; ++k) Add(list, static_cast<uintptr_t>(k), k);
  EXPECT_EQ(list.Count(), n);
  // Every byte of the hash is used up at depth 3: the chain there holds all keys.
  const kiv::TTreeItem* node = list.Root();
  for (uint32_t slot : {0xD4u, 0xC3u, 0xB2u}) node = node->ChildAt(static_cast<int>(slot));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Depth(), 3);
  EXPECT_EQ(node->ChainLengthAt(0xA1), n);
  for (int k = 0; k < n; ++k) EXPECT_EQ(list.GetValue(static_cast<uintptr_t>(k))->value, k);
  Add(list, 50, 500);  // replace inside the long chain
  EXPECT_EQ(list.GetValue(50)->value, 500);
  EXPECT_EQ(list.Count(), n);
  for (int k = 0; k < n; ++k) list.Remove(static_cast<uintptr_t>(k));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Root()->UsedSlots(), 0);
  EXPECT_EQ(live_, 0);
}

// Hits and misses, with the default hash and with one that makes long shared chains; keys
// that differ only in their upper bits as well.
TEST_F(HashListTest, InlineKeyLookUpAgreesWithKeyItemLookUp) {
  BothLookUps<List> plain;
  BothLookUps<kiv_test::WeakHashList> weak;
  const uintptr_t high = sizeof(uintptr_t) > 4 ? uintptr_t{1} << (4 * sizeof(uintptr_t)) : 0x8000u;
  for (uintptr_t k = 0; k < 3000; k += 3) {
    Add(plain, k * 16, 1);
    Add(weak, k * 16, 1);
  }
  for (uintptr_t k = 0; k < 9000; ++k) {
    ASSERT_EQ(plain.Compare(k * 16), "");
    ASSERT_EQ(plain.Compare(k * 16 + high), "");
    ASSERT_EQ(weak.Compare(k * 16), "");
  }
}

TEST_F(HashListTest, SplitThatCannotAllocateANodeLeavesTheListAsItWas) {
  // Keys 1..9 share the two low hash bytes: the ninth splits slot 0 into a child whose slot 0
  // must split again, so the split needs two nodes.
  ChosenHashList list([](uintptr_t k) { return static_cast<uint32_t>(k << 16); });
  for (uintptr_t k = 1; k <= 8; ++k) Add(list, k, static_cast<int>(k));
  const std::vector<uintptr_t> before = Walk(list, 0);

  for (int failing = 1; failing <= 2; ++failing) {
    kiv::hash_list_testing::FailNodeAllocation(failing);
    EXPECT_THROW(Add(list, 9, 9), std::bad_alloc) << "node " << failing;
    kiv::hash_list_testing::FailNodeAllocation(0);
    EXPECT_EQ(list.Count(), 8);
    EXPECT_EQ(list.Root()->ChainLengthAt(0), 8);
    EXPECT_EQ(list.Root()->ChildAt(0), nullptr);
    EXPECT_EQ(Walk(list, 0), before);
    for (uintptr_t k = 1; k <= 8; ++k) EXPECT_EQ(list.GetValue(k)->value, static_cast<int>(k));
    EXPECT_EQ(live_, 8);  // the refused object was freed, the stored ones were not
  }

  Add(list, 9, 9);
  const kiv::TTreeItem* child = list.Root()->ChildAt(0);
  ASSERT_NE(child, nullptr);
  ASSERT_NE(child->ChildAt(0), nullptr);
  EXPECT_EQ(child->ChildAt(0)->Depth(), 2);
  EXPECT_EQ(list.Count(), 9);
  for (uintptr_t k = 1; k <= 9; ++k) EXPECT_EQ(list.GetValue(k)->value, static_cast<int>(k));
}

TEST_F(HashListTest, OwnedObjectsAreFreedOnReplaceRemoveClearAndDestruction) {
  {
    List list;
    Add(list, 1, 10);
    Add(list, 1, 11);  // replaces and frees the first object
    EXPECT_EQ(live_, 1);
    EXPECT_EQ(list.GetValue(1)->value, 11);
    Tracked* same = list.GetValue(1);
    list.Add(1, same);  // adding the stored object again must not free it
    EXPECT_EQ(list.GetValue(1)->value, 11);
    Add(list, 2, 20);
    list.Remove(2);
    EXPECT_EQ(live_, 1);
    std::unique_ptr<Tracked> taken(list.Extract(1));
    EXPECT_EQ(taken->value, 11);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(live_, 1);
    Add(list, 3, 30);
    Add(list, 4, 40);
    list.Clear();
    EXPECT_EQ(live_, 1);
    Add(list, 5, 50);
  }
  EXPECT_EQ(live_, 0);  // destruction freed the last entry; `taken` was freed by its owner
}

TEST_F(HashListTest, ListNotOwningObjectsLeavesThemAlive) {
  Tracked a(1, &live_), b(2, &live_);
  {
    List list;
    list.SetOwnsObjects(false);
    list.Add(1, &a);
    list.Add(1, &b);
    list.Add(2, &a);
    list.Remove(2);
  }
  EXPECT_EQ(live_, 2);
}

TEST_F(HashListTest, StopFlagFinishesTheCurrentChainThenEndsTheWalk) {
  // Keys 1..3 share slot 0; key 4 is in slot 1, key 5 in slot 2.
  ChosenHashList list([](uintptr_t k) { return k <= 3 ? 0u : static_cast<uint32_t>(k - 3); });
  for (uintptr_t k = 1; k <= 5; ++k) Add(list, k, static_cast<int>(k));
  bool result = false;
  EXPECT_EQ(Walk(list, 1, &result), (std::vector<uintptr_t>{3, 2, 1}));  // newest first
  EXPECT_TRUE(result);
  EXPECT_EQ(Walk(list, 4, &result), (std::vector<uintptr_t>{3, 2, 1, 4}));
  EXPECT_TRUE(result);
  EXPECT_EQ(Walk(list, 0, &result).size(), 5u);
  EXPECT_FALSE(result);
}

TEST_F(HashListTest, StopInsideAChildNodeEndsTheWholeWalk) {
  // Nine keys in slot 0 force a child; key 100 sits in slot 5 after it.
  ChosenHashList list([](uintptr_t k) { return k == 100 ? 5u : static_cast<uint32_t>(k << 8); });
  for (uintptr_t k = 1; k <= 9; ++k) Add(list, k, 0);
  Add(list, 100, 0);
  ASSERT_NE(list.Root()->ChildAt(0), nullptr);
  bool result = false;
  const auto keys = Walk(list, 1, &result);
  EXPECT_TRUE(result);
  EXPECT_EQ(keys.size(), 1u);  // each key has its own slot in the child
  EXPECT_EQ(keys[0], 1u);
}

TEST_F(HashListTest, MissingKeyYieldsNullOrRaisesByDefaultOnMissing) {
  List list;
  Add(list, 7, 70);
  Tracked* found = nullptr;
  EXPECT_TRUE(list.TryGetValue(7, found));
  EXPECT_EQ(found->value, 70);
  EXPECT_FALSE(list.TryGetValue(8, found));
  EXPECT_EQ(found, nullptr);
  list.SetDefaultOnMissing(false);
  try {
    list.GetValue(8);
    FAIL() << "no exception";
  } catch (const kiv::EkivNoSuchElementError& e) {
    EXPECT_STREQ(e.what(), "Value not found");
  }
  EXPECT_EQ(list.Count(), 1);
}

// A bare container whose key items the test makes, to reach the invalid-key path.
class RawList : public kiv::TkivCustomHashListBaseObjects {
 public:
  ~RawList() override { Clear(); }
  void Insert(bool valid) {
    auto key = std::make_unique<kiv::TkivCustomHashListKeyItemBase>();
    key->Valid = valid;
    InsertEntry(std::move(key), nullptr);
  }
  bool Remove(bool valid) {
    kiv::TkivCustomHashListKeyItemBase key;
    key.Valid = valid;
    return RemoveEntry(key, nullptr);
  }

 protected:
  void FreeEntry(std::unique_ptr<kiv::TkivCustomHashListKeyItemBase>, void*) override {}
};

TEST(HashListKeys, InvalidKeyItemRaisesBadKeyBeforeAnyChange) {
  RawList list;
  list.Insert(true);
  EXPECT_THROW(list.Insert(false), kiv::EkivBadKeyError);
  try {
    list.Remove(false);
    FAIL() << "no exception";
  } catch (const kiv::EkivHashListError& e) {
    EXPECT_STREQ(e.what(), "Bad key value");
  }
  EXPECT_EQ(list.Count(), 1);
  EXPECT_TRUE(list.Remove(true));  // equal stored hashes count as equal keys here
  EXPECT_EQ(list.Count(), 0);
}

// Sets entries through ReplaceEntry (one walk), to compare with Add (removal, then insertion).
class ReplacingList : public ChosenHashList {
 public:
  using ChosenHashList::ChosenHashList;
  void Replace(uintptr_t key, std::unique_ptr<Tracked> object) {
    ReplaceEntry(std::make_unique<TkivPtrUIntKeyItem>(key), object.release(), key);
  }
};

// The trie's shape and contents in walk order: "(" and ")" around child nodes, a chain as its
// keys with their values.
std::string Describe(const List& list) {
  std::string out;
  std::function<void(const kiv::TTreeItem&)> node = [&](const kiv::TTreeItem& n) {
    for (int s = 0; s < kiv::TTreeItem::kSlots; ++s) {
      if (const kiv::TTreeItem* child = n.ChildAt(s)) {
        out += std::to_string(s) + "(";
        node(*child);
        out += ")";
      } else if (n.ChainLengthAt(s) > 0) {
        out += std::to_string(s) + "[" + std::to_string(n.ChainLengthAt(s)) + "]";
      }
    }
  };
  if (list.Root()) node(*list.Root());
  list.ForEach([&](uintptr_t k, Tracked* t, bool&) {
    out += " " + std::to_string(k) + "=" + std::to_string(t->value);
  });
  return out;
}

// Replacing in one walk must leave the trie exactly as removal then insertion does: with
// splits, chains at the deepest level, and child nodes emptied and freed by the removal.
TEST_F(HashListTest, ReplaceInOneWalkShapesTheTrieLikeRemoveThenInsert) {
  const std::function<uint32_t(uintptr_t)> hashes[] = {
      [](uintptr_t k) { return kiv::KeyHash(&k, sizeof k); },
      [](uintptr_t k) { return static_cast<uint32_t>(k % 5) * 0x9E3779B1u; },
      [](uintptr_t k) { return static_cast<uint32_t>(k % 64) << 24; },  // deep, sparse children
      [](uintptr_t k) { return static_cast<uint32_t>((k % 8) | (k << 8)); },  // one key per slot
  };
  for (const auto& hash : hashes) {
    ReplacingList fast(hash);
    ChosenHashList general(hash);
    uint32_t rng = 12345;
    for (int step = 0; step < 6000; ++step) {
      rng = rng * 1103515245u + 12345u;
      const uintptr_t key = (rng >> 8) % 90;
      // Phases that mostly remove and mostly add, so that child nodes fill and empty again.
      const unsigned removeIn6 = (step / 500) % 2 ? 5 : 1;
      if ((rng >> 20) % 6 < removeIn6) {
        fast.Remove(key);
        general.Remove(key);
      } else {
        fast.Replace(key, std::make_unique<Tracked>(step, &live_));
        Add(general, key, step);
      }
      if (step % 50 == 0) ASSERT_EQ(Describe(fast), Describe(general)) << step;
    }
    ASSERT_EQ(fast.Count(), general.Count());
    ASSERT_EQ(Describe(fast), Describe(general));
  }
  EXPECT_EQ(live_, 0);
}

// Links of removed entries are handed out again: after churn every live key still finds its own
// object and no removed key is found; after Clear the list fills again.
TEST_F(HashListTest, RecycledLinksKeepEveryEntryIntact) {
  List list;
  for (int round = 0; round < 2; ++round) {
    for (uintptr_t k = 0; k < 3000; ++k) Add(list, k * 16, static_cast<int>(k));
    for (uintptr_t k = 1; k < 3000; k += 2) list.Remove(k * 16);
    for (uintptr_t k = 3000; k < 4500; ++k) Add(list, k * 16, static_cast<int>(k));
    EXPECT_EQ(list.Count(), 3000);
    EXPECT_EQ(live_, 3000);
    for (uintptr_t k = 0; k < 4500; ++k) {
      Tracked* t = list.GetValue(k * 16);
      if (k < 3000 && k % 2) {
        ASSERT_EQ(t, nullptr) << k;
      } else {
        ASSERT_NE(t, nullptr) << k;
        ASSERT_EQ(t->value, static_cast<int>(k));
      }
    }
    list.Clear();
    EXPECT_EQ(live_, 0);
  }
}

// A key item that counts its live instances.
struct CountedKey : kiv::TkivCustomHashListKeyItemBase {
  explicit CountedKey(int* live) : live(live) { ++*live; }
  ~CountedKey() override { --*live; }
  int* live;
};

// A container whose destructor does not clear: destroying it still frees every key item.
class UnclearedList : public kiv::TkivCustomHashListBaseObjects {
 public:
  void Insert(uint32_t hash, int* live) {
    auto key = std::make_unique<CountedKey>(live);
    key->Hash = hash;
    InsertEntry(std::move(key), nullptr);
  }

 protected:
  void FreeEntry(std::unique_ptr<kiv::TkivCustomHashListKeyItemBase>, void*) override {}
};

TEST(HashListKeys, ListDestroyedWithoutClearFreesItsKeyItems) {
  int live = 0;
  {
    UnclearedList list;
    for (uint32_t h = 0; h < 500; ++h) list.Insert(h * 0x01000193u, &live);
    EXPECT_EQ(live, 500);
  }
  EXPECT_EQ(live, 0);
}

// The written-out word hash of the look-ups against the reference XXH32 of the key's bytes:
// small, aligned, high-bit and every-bit-pattern words.
TEST(HashListKeys, WordHashAgreesWithTheReferenceHashOfTheKeyBytes) {
  std::vector<uintptr_t> words = {0, 1, 0x80, 0xFFFFFFFFu, ~uintptr_t{0}, uintptr_t{1} << (8 * sizeof(uintptr_t) - 1)};
  uintptr_t w = 0x9E3779B97F4A7C15u & ~uintptr_t{0};
  for (int i = 0; i < 2000; ++i) {
    words.push_back(w);
    words.push_back(static_cast<uintptr_t>(i) * 16);
    w = w * 6364136223846793005u + 1442695040888963407u;
  }
  for (uintptr_t word : words)
    ASSERT_EQ(kiv::KeyHashOfWord(word), kiv::KeyHash(&word, sizeof word)) << word;
}

}  // namespace
