// What a thread holds for one call into the module (an instance reference, a command lock), noted
// so that the entry point can release it when a contained fault abandoned the frames that held
// it: a structured exception skips their destructors.
//
// The list lives in the entry point's frame, which the fault does not abandon, and is reached
// through a per-thread slot; a hold made on a thread outside any entry point is not noted. Each
// list and hold is used by its own thread only.
#pragma once

namespace kiv {

using CallHoldRelease = void (*)(void* object) noexcept;

// The holds of one call; the thread's current list from construction to destruction (an entry
// point called from inside another gets its own, and the outer one is current again afterwards).
class CallHoldList {
 public:
  static constexpr int kCapacity = 16;  // holds beyond it are not noted

  CallHoldList() noexcept;
  ~CallHoldList();
  CallHoldList(const CallHoldList&) = delete;
  CallHoldList& operator=(const CallHoldList&) = delete;

  // Releases every hold still noted, newest first, and forgets them. Only after a contained
  // fault: a hold whose frame returned normally has already been dropped.
  void ReleaseAll() noexcept;
  // Number of holds noted now.
  int Count() const noexcept { return count_; }

 private:
  friend class CallHold;
  struct Entry {
    CallHoldRelease release;
    void* object;
  };
  // The thread's current list, or null.
  static CallHoldList* Current() noexcept;
  int Note(CallHoldRelease release, void* object) noexcept;
  void Drop(int index) noexcept;

  Entry entries_[kCapacity];
  int count_ = 0;
  CallHoldList* previous_;
};

// One noted hold: the owner releases what it holds itself and then drops the note (destruction
// or Drop); the note only matters when the owner's frame is abandoned. Movable with its owner.
class [[nodiscard]] CallHold {
 public:
  CallHold() noexcept = default;
  CallHold(CallHoldRelease release, void* object) noexcept;
  CallHold(CallHold&& other) noexcept;
  CallHold& operator=(CallHold&& other) noexcept;
  CallHold(const CallHold&) = delete;
  CallHold& operator=(const CallHold&) = delete;
  ~CallHold() { Drop(); }
  void Drop() noexcept;

 private:
  CallHoldList* list_ = nullptr;
  int index_ = -1;
};

}  // namespace kiv
