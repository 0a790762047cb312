#include "support/hash_list.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

namespace kiv {

// One entry of a chain. The chain is owned by the node whose slot holds its head.
namespace {

constexpr uintptr_t kChildBit = TTreeItem::kChildBit;

bool IsChild(uintptr_t slot) { return (slot & kChildBit) != 0; }
TTreeItem* AsChild(uintptr_t slot) { return reinterpret_cast<TTreeItem*>(slot & ~kChildBit); }
TLinkedItem* AsChain(uintptr_t slot) { return reinterpret_cast<TLinkedItem*>(slot); }
uintptr_t FromChild(TTreeItem* node) { return reinterpret_cast<uintptr_t>(node) | kChildBit; }
uintptr_t FromChain(TLinkedItem* link) { return reinterpret_cast<uintptr_t>(link); }

// The slot of `hash` in a node of `depth`: each level consumes the next 8 bits by rotation.
int SlotIndex(uint32_t hash, int depth) {
  const unsigned shift = (8u * static_cast<unsigned>(depth)) & 31u;
  const uint32_t rotated = shift == 0 ? hash : (hash >> shift) | (hash << (32u - shift));
  return static_cast<int>(rotated & 0xFFu);
}

// Node allocations left before the one that fails (0: none fails).
int g_node_allocations_before_failure = 0;

}  // namespace

TTreeItem::~TTreeItem() {
  for (int i = 0; ChildSlots_ > 0 && i < kSlots; ++i) {
    if (IsChild(Slots_[i])) {
      std::unique_ptr<TTreeItem> freed(AsChild(Slots_[i]));
      --ChildSlots_;
    }
  }
}

const TTreeItem* TTreeItem::ChildAt(int slot) const {
  if (slot < 0 || slot >= kSlots || !IsChild(Slots_[slot])) return nullptr;
  return AsChild(Slots_[slot]);
}

int TTreeItem::ChainLengthAt(int slot) const {
  if (slot < 0 || slot >= kSlots || IsChild(Slots_[slot])) return 0;
  int n = 0;
  for (const TLinkedItem* l = AsChain(Slots_[slot]); l; l = l->Next) ++n;
  return n;
}

namespace hash_list_testing {
void FailNodeAllocation(int nth) { g_node_allocations_before_failure = nth; }
}  // namespace hash_list_testing

struct TkivCustomHashListBase::FreeBlock {
  FreeBlock* Next;
};

// A slab's header; its blocks follow.
struct alignas(8) TkivCustomHashListBase::Slab {
  Slab* Older;
};

namespace {
// Slabs grow from a few blocks for small lists to this size for large ones.
constexpr size_t kFirstSlabBytes = 512;
constexpr size_t kMaxSlabBytes = 32768;
}  // namespace

TkivCustomHashListBase::~TkivCustomHashListBase() {
  // Subclasses clear in their destructors; entries left over still free their key items.
  if (Root_) FreeNodeKeyItems(*Root_);
  Root_.reset();
  ReleaseEntryMemory();
}

void* TkivCustomHashListBase::AllocateEntryMemory(size_t size) {
  if (size > kMaxPooledBytes) return ::operator new(size);
  const size_t sizeClass = (size + kGrain - 1) / kGrain;
  if (FreeBlock* block = FreeBlocks_[sizeClass - 1]) {
    FreeBlocks_[sizeClass - 1] = block->Next;
    return block;
  }
  const size_t bytes = sizeClass * kGrain;
  if (static_cast<size_t>(BumpEnd_ - Bump_) < bytes) {
    // The rest of the old slab (less than one block) stays unused.
    NextSlabBytes_ = NextSlabBytes_ == 0 ? kFirstSlabBytes : std::min(2 * NextSlabBytes_, kMaxSlabBytes);
    auto* slab = new (::operator new(sizeof(Slab) + NextSlabBytes_)) Slab{Slabs_};
    Slabs_ = slab;
    Bump_ = reinterpret_cast<char*>(slab + 1);
    BumpEnd_ = Bump_ + NextSlabBytes_;
  }
  void* block = Bump_;
  Bump_ += bytes;
  return block;
}

void TkivCustomHashListBase::FreeEntryMemory(void* block, size_t size) {
  if (size > kMaxPooledBytes) {
    ::operator delete(block);
    return;
  }
  const size_t sizeClass = (size + kGrain - 1) / kGrain;
  FreeBlocks_[sizeClass - 1] = new (block) FreeBlock{FreeBlocks_[sizeClass - 1]};
}

void TkivCustomHashListBase::ReleaseEntryMemory() {
  while (Slab* slab = Slabs_) {
    Slabs_ = slab->Older;
    ::operator delete(slab);
  }
  std::fill(std::begin(FreeBlocks_), std::end(FreeBlocks_), nullptr);
  Bump_ = BumpEnd_ = nullptr;
  NextSlabBytes_ = 0;
}

TLinkedItem* TkivCustomHashListBase::NewLink() {
  static_assert(alignof(TLinkedItem) <= kGrain);
  return new (AllocateEntryMemory(sizeof(TLinkedItem))) TLinkedItem();
}

void TkivCustomHashListBase::FreeLink(TLinkedItem* link) {
  link->~TLinkedItem();
  FreeEntryMemory(link, sizeof(TLinkedItem));
}

void TkivCustomHashListBase::FreeNodeKeyItems(TTreeItem& node) {
  for (uintptr_t slot : node.Slots_) {
    if (IsChild(slot))
      FreeNodeKeyItems(*AsChild(slot));
    else
      for (TLinkedItem* l = AsChain(slot); l; l = l->Next) l->KeyItem.reset();
  }
}

std::unique_ptr<TTreeItem> TkivCustomHashListBase::NewNode(int depth) {
  if (g_node_allocations_before_failure > 0 && --g_node_allocations_before_failure == 0)
    throw std::bad_alloc();
  return std::make_unique<TTreeItem>(this, depth);
}

bool TkivCustomHashListBase::KeysEqual(const TkivCustomHashListKeyItemBase& a,
                                       const TkivCustomHashListKeyItemBase& b) const {
  return &a == &b;
}

void TkivCustomHashListBase::Clear() {
  if (Root_) {
    // Detach first so that the list is consistent even while values are being freed.
    std::unique_ptr<TTreeItem> root = std::move(Root_);
    Count_.store(0, std::memory_order_relaxed);
    try {
      if (!FreeAllEntries()) FreeNodeEntries(*root);
    } catch (...) {
      FreeNodeKeyItems(*root);  // those not reached; the memory goes below
      root.reset();
      ReleaseEntryMemory();
      throw;
    }
  }
  // Links hold no key item any more: their memory goes with the slabs, without a walk.
  ReleaseEntryMemory();
}

void TkivCustomHashListBase::FreeNodeEntries(TTreeItem& node) {
  for (uintptr_t& slot : node.Slots_) {
    if (IsChild(slot)) {
      FreeNodeEntries(*AsChild(slot));
      continue;
    }
    for (TLinkedItem* l = AsChain(slot); l; l = l->Next) {
      void* value = std::exchange(l->Value, nullptr);
      FreeEntry(std::move(l->KeyItem), value);
    }
  }
}

void TkivCustomHashListBase::InsertEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key,
                                         void* value, uintptr_t wordKey) {
  if (!key || !key->Valid) throw EkivBadKeyError();
  const uint32_t hash = HashOf(*key);
  if (!Root_) Root_ = NewNode(0);
  LinkAt(*Root_, 0, std::move(key), value, wordKey, hash);
}

void TkivCustomHashListBase::ReplaceEntry(std::unique_ptr<TkivCustomHashListKeyItemBase> key,
                                          void* value, uintptr_t wordKey) {
  if (!key || !key->Valid) throw EkivBadKeyError();
  if (!Root_) {
    InsertEntry(std::move(key), value, wordKey);
    return;
  }
  const uint32_t hash = HashOf(*key);
  // The node whose slot holds the chain of `hash`: where both the removal and the insertion
  // would arrive.
  // The depth is counted rather than read, so that each level's slot is read without waiting
  // for the node's header.
  TTreeItem* node = Root_.get();
  int depth = 0;
  uintptr_t* slot = &node->Slot(SlotIndex(hash, 0));
  while (IsChild(*slot)) {
    node = AsChild(*slot);
    slot = &node->Slot(SlotIndex(hash, ++depth));
  }
  TLinkedItem* prev = nullptr;
  TLinkedItem* old = AsChain(*slot);
  while (old && (old->Hash != hash || !KeysEqual(*old->KeyItem, *key))) {
    prev = old;
    old = old->Next;
  }
  if (old) {
    if (node != Root_.get() && node->UsedSlots_ == 1 && !prev && !old->Next) {
      // The removal empties this child node and frees it; the general path keeps the trie
      // exactly as removal and insertion shape it.
      RemoveEntry(*key, nullptr);
      InsertEntry(std::move(key), value, wordKey);
      return;
    }
    UnlinkEntry(*node, *slot, prev, old, nullptr);
  }
  LinkAt(*node, depth, std::move(key), value, wordKey, hash);
}

void TkivCustomHashListBase::LinkAt(TTreeItem& node, int depth,
                                    std::unique_ptr<TkivCustomHashListKeyItemBase> key,
                                    void* value, uintptr_t wordKey, uint32_t hash) {
  TLinkedItem* link = NewLink();
  link->KeyItem = std::move(key);
  link->Value = value;
  link->Hash = hash;
  link->WordKey = wordKey;
  try {
    InsertAt(node, depth, link);
  } catch (...) {
    FreeLink(link);  // with the key item, which this call took
    throw;
  }
  AddToCount(1);
}

// The nodes of one split, first the child of the split slot, then one per further level.
struct TkivCustomHashListBase::SpareNodes {
  std::unique_ptr<TTreeItem> Nodes[kUnsplitDepth];
  int Count = 0;
  int Taken = 0;
  std::unique_ptr<TTreeItem> Take() { return std::move(Nodes[Taken++]); }
};

void TkivCustomHashListBase::InsertAt(TTreeItem& node, int depth, TLinkedItem* link,
                                      SpareNodes* spare) {
  uintptr_t& slot = node.Slot(SlotIndex(link->Hash, depth));
  if (slot == 0) {
    link->Next = nullptr;
    slot = FromChain(link);
    ++node.UsedSlots_;
    return;
  }
  if (IsChild(slot)) {
    InsertAt(*AsChild(slot), depth + 1, link, spare);
    return;
  }
  int length = 0;
  for (TLinkedItem* l = AsChain(slot); l && length < kMaxChain; l = l->Next) ++length;
  if (length < kMaxChain || depth >= kUnsplitDepth) {
    link->Next = AsChain(slot);  // newest first
    slot = FromChain(link);
    return;
  }
  // Split: the full chain moves into a new child node, in chain order, then the new link
  // follows. The links are relinked rather than copied, and every node the split needs is
  // allocated first, so a failure leaves the chain as it was.
  SpareNodes reserved;
  if (!spare) {
    ReserveSplit(reserved, AsChain(slot), link, depth + 1);
    spare = &reserved;
  }
  std::unique_ptr<TTreeItem> child = spare->Take();
  TLinkedItem* moving = AsChain(slot);
  while (moving) {
    TLinkedItem* next = moving->Next;
    InsertAt(*child, depth + 1, moving, spare);
    moving = next;
  }
  InsertAt(*child, depth + 1, link, spare);
  slot = FromChild(child.release());
  ++node.ChildSlots_;
}

void TkivCustomHashListBase::ReserveSplit(SpareNodes& spare, const TLinkedItem* chain,
                                          const TLinkedItem* link, int depth) {
  // The child splits again while the full chain and the new link all fall into one of its
  // slots (the keys share that hash byte too), down to the depth whose chains never split.
  for (;; ++depth) {
    spare.Nodes[spare.Count++] = NewNode(depth);
    if (depth >= kUnsplitDepth) return;
    const int s = SlotIndex(link->Hash, depth);
    for (const TLinkedItem* l = chain; l; l = l->Next)
      if (SlotIndex(l->Hash, depth) != s) return;
  }
}

bool TkivCustomHashListBase::RemoveEntry(const TkivCustomHashListKeyItemBase& key, void** taken) {
  if (!key.Valid) throw EkivBadKeyError();
  if (!Root_) return false;
  return RemoveAt(*Root_, 0, HashOf(key), key, taken);
}

bool TkivCustomHashListBase::RemoveAt(TTreeItem& node, int depth, uint32_t hash,
                                      const TkivCustomHashListKeyItemBase& key, void** taken) {
  uintptr_t& slot = node.Slot(SlotIndex(hash, depth));
  if (slot == 0) return false;
  if (IsChild(slot)) {
    TTreeItem* child = AsChild(slot);
    if (!RemoveAt(*child, depth + 1, hash, key, taken)) return false;
    if (child->UsedSlots_ == 0) {
      std::unique_ptr<TTreeItem> freed(child);
      slot = 0;
      --node.UsedSlots_;
      --node.ChildSlots_;
    }
    return true;
  }
  TLinkedItem* prev = nullptr;
  for (TLinkedItem* l = AsChain(slot); l; prev = l, l = l->Next) {
    if (l->Hash != hash || !KeysEqual(*l->KeyItem, key)) continue;
    UnlinkEntry(node, slot, prev, l, taken);
    return true;
  }
  return false;
}

void TkivCustomHashListBase::UnlinkEntry(TTreeItem& node, uintptr_t& slot, TLinkedItem* prev,
                                         TLinkedItem* link, void** taken) {
  if (prev)
    prev->Next = link->Next;
  else
    slot = FromChain(link->Next);
  if (slot == 0) --node.UsedSlots_;
  AddToCount(-1);
  std::unique_ptr<TkivCustomHashListKeyItemBase> keyItem = std::move(link->KeyItem);
  void* value = link->Value;
  FreeLink(link);
  if (taken) {
    *taken = value;
    value = nullptr;
  }
  FreeEntry(std::move(keyItem), value);
}

bool TkivCustomHashListBase::FindEntry(const TkivCustomHashListKeyItemBase& key,
                                       void*& value) const {
  const uint32_t hash = HashOf(key);
  for (const TLinkedItem* l = ChainOf(hash); l; l = l->Next) {
    if (l->Hash == hash && KeysEqual(*l->KeyItem, key)) {
      value = l->Value;
      return true;
    }
  }
  return false;
}

bool TkivCustomHashListBase::ForEachEntry(EntryVisitor visit, void* context) const {
  bool stop = false;
  if (Root_) VisitNode(*Root_, visit, context, stop);
  return stop;
}

void TkivCustomHashListBase::VisitNode(const TTreeItem& node, EntryVisitor visit, void* context,
                                       bool& stop) const {
  for (uintptr_t slot : node.Slots_) {
    if (IsChild(slot)) {
      VisitNode(*AsChild(slot), visit, context, stop);
    } else {
      for (const TLinkedItem* l = AsChain(slot); l; l = l->Next)
        visit(context, *l->KeyItem, l->Value, stop);
    }
    if (stop) return;
  }
}

}  // namespace kiv
