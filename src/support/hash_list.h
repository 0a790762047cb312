// The trie core of the hash lists: a 256-way trie indexed by successive bytes of a 32-bit key
// hash, whose leaves are chains of at most 8 links that split into a child node when they grow.
//
// A container has no lock of its own: the caller serialises every operation except Count,
// which is kept with atomic increments and may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/exception.h"

namespace kiv {

class EkivHashListError : public Exception {
 public:
  using Exception::Exception;
};

// A read of a missing key on a list whose DefaultOnMissing is off.
class EkivNoSuchElementError : public EkivHashListError {
 public:
  EkivNoSuchElementError() : EkivHashListError("Value not found") {}
};

// A key item that is not Valid was passed to a changing operation.
class EkivBadKeyError : public EkivHashListError {
 public:
  EkivBadKeyError() : EkivHashListError("Bad key value") {}
};

// A key together with its hash, computed once when the key item is made.
class TkivCustomHashListKeyItemBase {
 public:
  virtual ~TkivCustomHashListKeyItemBase() = default;
  uint32_t Hash = 0;
  bool Valid = true;
};

class TkivCustomHashListBase;

// One entry: a link in the chain of a trie slot. The fields a look-up reads come first, so
// that a hit reads one cache line of the link and not the separately allocated key item.
struct TLinkedItem {
  uint32_t Hash;  // HashOf(KeyItem), kept for splits and a quick mismatch test
  // A copy of the key for lists whose keys are one machine word (pointer keys), compared
  // inline by their look-ups; 0 for other lists.
  uintptr_t WordKey = 0;
  void* Value;
  TLinkedItem* Next = nullptr;
  std::unique_ptr<TkivCustomHashListKeyItemBase> KeyItem;
};

// One trie node. Slot i holds nothing, a chain of links or a child node; a child replaces
// its slot's chain when the chain would grow past 8 links.
class TTreeItem {
 public:
  static constexpr int kSlots = 256;
  // Set in a slot that holds a child node; clear in one that holds a chain head (or is 0).
  static constexpr uintptr_t kChildBit = 1;

  TTreeItem(TkivCustomHashListBase* owner, int depth) : OwnerList_(owner), Depth_(depth) {}
  ~TTreeItem();  // frees child nodes; links belong to the owner's link pool
  TTreeItem(const TTreeItem&) = delete;
  TTreeItem& operator=(const TTreeItem&) = delete;

  TkivCustomHashListBase* OwnerList() const { return OwnerList_; }
  int Depth() const { return Depth_; }
  int UsedSlots() const { return UsedSlots_; }
  // Read-only views for inspection: the child node of a slot (or nullptr), and the number of
  // links in a slot's chain (0 for an empty slot or a child).
  const TTreeItem* ChildAt(int slot) const;
  int ChainLengthAt(int slot) const;

 private:
  friend class TkivCustomHashListBase;
  // Bit 0 set: a child node; clear: a chain head (or 0 for empty).
  uintptr_t& Slot(int i) { return Slots_[i]; }

  TkivCustomHashListBase* OwnerList_;
  int Depth_;
  int UsedSlots_ = 0;
  int ChildSlots_ = 0;  // slots holding a child node, so that freeing a leaf scans no slot
  uintptr_t Slots_[kSlots] = {};
};

// The container. Subclasses give the key semantics (HashOf, KeysEqual) and free values
// (FreeEntry). Values are opaque pointers here; the typed lists above decide ownership.
// Every concrete subclass must call Clear() in its destructor, because FreeEntry cannot be
// reached from this destructor.
class TkivCustomHashListBase {
 public:
  // Chains in nodes of this depth never split: the node consumes the hash's last byte, so
  // the keys of one chain share all 32 bits and a further level could not separate them.
  // Such chains grow without limit instead.
  static constexpr int kUnsplitDepth = 3;
  static constexpr int kMaxChain = 8;

  using EntryVisitor = void (*)(void* context, const TkivCustomHashListKeyItemBase& key,
                                void* value, bool& stop);

  TkivCustomHashListBase() = default;
  virtual ~TkivCustomHashListBase();
  TkivCustomHashListBase(const TkivCustomHashListBase&) = delete;
  TkivCustomHashListBase& operator=(const TkivCustomHashListBase&) = delete;

  // Frees every entry (key items and, as the subclass decides, values); Count becomes 0.
  void Clear();
  int32_t Count() const { return Count_.load(std::memory_order_relaxed); }

  // A read of a missing key yields the empty value (true) or raises EkivNoSuchElementError.
  bool DefaultOnMissing() const { return DefaultOnMissing_; }
  void SetDefaultOnMissing(bool value) { DefaultOnMissing_ = value; }

  // The root node, absent until the first insertion (for inspection).
  const TTreeItem* Root() const { return Root_.get(); }

  // Visits every entry: slots 0..255 in order, child nodes depth first in place of their slot,
  // chains head first. Once `visit` sets the stop flag, the rest of the current chain is still
  // visited and the walk then ends. Returns the final stop flag. `visit` must not change the
  // list; an exception from it propagates and leaves the list unchanged.
  bool ForEachEntry(EntryVisitor visit, void* context) const;

 protected:
  virtual uint32_t HashOf(const TkivCustomHashListKeyItemBase& key) const = 0;
  // Disposes of a removed entry: the key item goes with its unique_ptr; the value as the
  // subclass decides (nullptr when the caller took it).
  virtual void FreeEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key, void* value) = 0;
  // For Clear: frees every entry's key item and value at once, in an order of the subclass's
  // choosing (its allocation order, say, which a walk of the trie is not). The links are left
  // holding the freed key items and are not touched again. Returns false (the default) to have
  // Clear free the entries through FreeEntry, walking the trie.
  virtual bool FreeAllEntries() noexcept { return false; }
  // Same key item by default.
  virtual bool KeysEqual(const TkivCustomHashListKeyItemBase& a,
                         const TkivCustomHashListKeyItemBase& b) const;

  // Adds an entry without looking for an equal key. Takes the key item; `wordKey` is stored in
  // the link's WordKey. Raises EkivBadKeyError for an invalid key item before any change.
  void InsertEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key, void* value,
                   uintptr_t wordKey = 0);
  // RemoveEntry(*key, nullptr) followed by InsertEntry(key, value, wordKey), with the same
  // result, in one walk down the trie where the removal frees no node.
  void ReplaceEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key, void* value,
                    uintptr_t wordKey = 0);
  // Removes the first entry whose key equals `key`. With `taken` the value is handed over there
  // and not freed. Returns whether an entry was removed. Raises EkivBadKeyError for an invalid
  // key item before any change.
  bool RemoveEntry(const TkivCustomHashListKeyItemBase& key, void** taken);
  // The value of the first entry whose key equals `key`; false when there is none.
  bool FindEntry(const TkivCustomHashListKeyItemBase& key, void*& value) const;
  // Memory for entries: links, and the key items of subclasses that keep theirs here. Blocks
  // come from slabs owned by the list and are recycled by size through free lists, so that an
  // entry costs no heap allocation of its own; Clear and the destructor release the slabs at
  // once, with any block still handed out (whose object must not be used after that). Blocks
  // above kMaxPooledBytes come from the heap and must be freed. Blocks are aligned to 8 bytes.
  static constexpr size_t kMaxPooledBytes = 256;
  void* AllocateEntryMemory(size_t size);
  void FreeEntryMemory(void* block, size_t size);

  // The chain in which entries of `hash` sit (nullptr when there is none): for look-ups that
  // compare their keys inline, without building a key item. Inline, as it is the whole trie
  // walk of every look-up.
  const TLinkedItem* ChainOf(uint32_t hash) const {
    // Children are always one level deeper than their parent and no node is deeper than
    // kUnsplitDepth, so the depth is counted here rather than read from each node, and the
    // slot index (the hash rotated right by 8 x depth) is a plain shift.
    static_assert(kUnsplitDepth < 4, "slot index by shift needs depths below 4");
    const TTreeItem* root = Root_.get();
    if (!root) return nullptr;
    uintptr_t slot = root->Slots_[hash & 0xFFu];
    for (unsigned shift = 8; slot & TTreeItem::kChildBit; shift += 8)
      slot = reinterpret_cast<const TTreeItem*>(slot - TTreeItem::kChildBit)
                 ->Slots_[(hash >> shift) & 0xFFu];
    return reinterpret_cast<const TLinkedItem*>(slot);
  }

 private:
  friend class TTreeItem;
  friend struct TLinkedItem;
  struct SpareNodes;
  std::unique_ptr<TTreeItem> NewNode(int depth);
  // Puts `link` into the trie below `node`, whose depth is `depth` (counted on the way down,
  // not read from the node). A split takes its nodes from `spare`, or allocates all it needs
  // before changing anything when there is none.
  void InsertAt(TTreeItem& node, int depth, TLinkedItem* link, SpareNodes* spare = nullptr);
  void ReserveSplit(SpareNodes& spare, const TLinkedItem* chain, const TLinkedItem* link,
                    int depth);
  bool RemoveAt(TTreeItem& node, int depth, uint32_t hash,
                const TkivCustomHashListKeyItemBase& key, void** taken);
  // Makes the link for a new entry and puts it below `node`, on the path of `hash`.
  void LinkAt(TTreeItem& node, int depth, std::unique_ptr<TkivCustomHashListKeyItemBase> key,
              void* value, uintptr_t wordKey, uint32_t hash);
  // Takes `link` (after `prev`, or the head) out of the chain in `slot` of `node` and frees the
  // entry; with `taken` its value is handed over there instead.
  void UnlinkEntry(TTreeItem& node, uintptr_t& slot, TLinkedItem* prev, TLinkedItem* link,
                   void** taken);
  void VisitNode(const TTreeItem& node, EntryVisitor visit, void* context, bool& stop) const;
  void FreeNodeEntries(TTreeItem& node);

  TLinkedItem* NewLink();
  // Destroys the link (with a key item it still holds) and recycles its memory.
  void FreeLink(TLinkedItem* link);
  void ReleaseEntryMemory();
  void FreeNodeKeyItems(TTreeItem& node);

  // Changes Count. Every change runs under the caller's serialisation, so a plain atomic store
  // suffices: readers on other threads still see a whole number, and no locked instruction
  // (a full barrier behind every pending store of the insertion) is needed.
  void AddToCount(int32_t delta) {
    Count_.store(Count_.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
  }

  std::unique_ptr<TTreeItem> Root_;
  std::atomic<int32_t> Count_{0};
  bool DefaultOnMissing_ = true;
  // Entry memory: free blocks by size class, the slabs (newest first) and the unused rest of
  // the newest one.
  static constexpr size_t kGrain = 8;
  struct FreeBlock;
  struct Slab;
  FreeBlock* FreeBlocks_[kMaxPooledBytes / kGrain] = {};
  Slab* Slabs_ = nullptr;
  char* Bump_ = nullptr;
  char* BumpEnd_ = nullptr;
  size_t NextSlabBytes_ = 0;
};

// Lists whose key items carry the key and whose values are objects.
class TkivCustomHashListBaseObjects : public TkivCustomHashListBase {
 public:
  // Whether removing or replacing an entry frees its value.
  bool OwnsObjects() const { return OwnsObjects_; }
  void SetOwnsObjects(bool value) { OwnsObjects_ = value; }

 protected:
  uint32_t HashOf(const TkivCustomHashListKeyItemBase& key) const override { return key.Hash; }
  // Equal stored hashes; the typed lists refine this to equal keys.
  bool KeysEqual(const TkivCustomHashListKeyItemBase& a,
                 const TkivCustomHashListKeyItemBase& b) const override {
    return a.Hash == b.Hash;
  }

 private:
  bool OwnsObjects_ = true;
};

namespace hash_list_testing {
// Makes the n-th trie node allocation from now on throw std::bad_alloc (1: the next one); 0
// turns this off. A seam for tests of allocation failure; not thread-safe.
void FailNodeAllocation(int nth);
}  // namespace hash_list_testing

}  // namespace kiv
