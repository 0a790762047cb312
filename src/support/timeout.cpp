#include "support/timeout.h"

#include <atomic>

namespace kiv {
namespace {

struct SourceSlot {
  std::atomic<uint64_t (*)()> tick64;
  std::atomic<uint32_t (*)()> tick32;
  explicit SourceSlot(TickSource s) : tick64(s.Tick64), tick32(s.Tick32) {}
};

SourceSlot& Slot() {
  static SourceSlot slot(PlatformTickSource());
  return slot;
}

}  // namespace

TickSource CurrentTickSource() {
  TickSource s;
  s.Tick64 = Slot().tick64.load(std::memory_order_relaxed);
  s.Tick32 = Slot().tick32.load(std::memory_order_relaxed);
  return s;
}

TickSource SetTickSource(TickSource source) {
  if (!source.Tick64 && !source.Tick32) source = PlatformTickSource();
  const TickSource old = CurrentTickSource();
  Slot().tick64.store(source.Tick64, std::memory_order_relaxed);
  Slot().tick32.store(source.Tick32, std::memory_order_relaxed);
  return old;
}

void TTimeout::Init() { *this = TTimeout(); }

int64_t TTimeout::NowTick() {
  const TickSource s = CurrentTickSource();
  if (s.Tick64) return static_cast<int64_t>(s.Tick64());
  const uint32_t reading = s.Tick32();
  if (reading < LastTick) ++WrapCount;
  LastTick = reading;
  return (static_cast<int64_t>(WrapCount) << 32) + LastTick;
}

void TTimeout::StartAt(int64_t offset) {
  const TickSource s = CurrentTickSource();
  if (s.Tick64) {
    StartTick = static_cast<int64_t>(s.Tick64()) + offset;
  } else {
    LastTick = s.Tick32();
    WrapCount = 0;
    StartTick = static_cast<int64_t>(LastTick) + offset;
  }
  Deadline = 0;
}

void TTimeout::Reset() {
  StartAt(0);
  Running = false;
}

void TTimeout::SetPeriod(uint32_t ms) {
  Period = ms;
  Deadline = StartTick + ms;
}

void TTimeout::Start(uint32_t ms) {
  Reset();
  SetPeriod(ms);
  Running = true;
}

void TTimeout::Restart() {
  if (Running)
    Start(Period);
  else
    Reset();
}

void TTimeout::StartShifted(int32_t offset) { StartAt(offset); }

bool TTimeout::Elapsed(uint32_t ms) {
  if (!IsStarted()) return true;
  if (!Running) SetPeriod(ms);
  return NowTick() >= Deadline;
}

bool TTimeout::DeadlinePassed() { return NowTick() >= Deadline; }

}  // namespace kiv
