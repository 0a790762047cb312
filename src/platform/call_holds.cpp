#include "platform/call_holds.h"

#include <utility>

#include "platform/scope_exit.h"
#include "platform/thread_slot.h"

namespace kiv {
namespace {

ThreadSlot g_current;

// Gives the slot back when the module unloads.
ScopeExit g_slot_closer([] { g_current.Close(); });

}  // namespace

CallHoldList* CallHoldList::Current() noexcept { return static_cast<CallHoldList*>(g_current.Get()); }

CallHoldList::CallHoldList() noexcept : previous_(Current()) {
  if (!g_current.Set(this)) previous_ = this;  // no slot: this list stays unused
}

CallHoldList::~CallHoldList() {
  if (previous_ != this) g_current.Set(previous_);
}

int CallHoldList::Note(CallHoldRelease release, void* object) noexcept {
  if (count_ == kCapacity) return -1;
  entries_[count_] = {release, object};
  return count_++;
}

void CallHoldList::Drop(int index) noexcept {
  entries_[index].release = nullptr;
  while (count_ > 0 && !entries_[count_ - 1].release) --count_;
}

void CallHoldList::ReleaseAll() noexcept {
  while (count_ > 0) {
    const Entry entry = entries_[--count_];
    if (entry.release) entry.release(entry.object);
  }
}

CallHold::CallHold(CallHoldRelease release, void* object) noexcept : list_(CallHoldList::Current()) {
  if (list_) index_ = list_->Note(release, object);
  if (index_ < 0) list_ = nullptr;
}

CallHold::CallHold(CallHold&& other) noexcept
    : list_(std::exchange(other.list_, nullptr)), index_(std::exchange(other.index_, -1)) {}

CallHold& CallHold::operator=(CallHold&& other) noexcept {
  if (this != &other) {
    Drop();
    list_ = std::exchange(other.list_, nullptr);
    index_ = std::exchange(other.index_, -1);
  }
  return *this;
}

void CallHold::Drop() noexcept {
  if (!list_) return;
  list_->Drop(index_);
  list_ = nullptr;
  index_ = -1;
}

}  // namespace kiv
