// Millisecond time-outs measured on a 64-bit tick that does not wrap, even where the platform
// offers only a 32-bit tick, and the process-wide tick source behind them.
//
// A TTimeout belongs to one owner, which serialises access; it has no lock. The tick source is
// chosen once at start-up; SetTickSource (for tests) must not race with running time-outs.
#pragma once

#include <cstdint>

namespace kiv {

// Where ticks come from: Tick64 (a 64-bit millisecond count) when set, otherwise Tick32 (a
// 32-bit millisecond count that wraps about every 49.7 days; each record extends it itself).
struct TickSource {
  uint64_t (*Tick64)() = nullptr;
  uint32_t (*Tick32)() = nullptr;
};

// The platform's source: GetTickCount64 when kernel32 exports it, else GetTickCount; natively
// a monotonic clock.
TickSource PlatformTickSource();
// The source every TTimeout reads; chosen from the platform on first use.
TickSource CurrentTickSource();
// Replaces the source (a source without either function restores the platform's). Returns
// the previous one.
TickSource SetTickSource(TickSource source);

// A plain record (no allocation); all zero means never started.
struct TTimeout {
  int64_t StartTick = 0;  // when last started; 0 = never
  int64_t Deadline = 0;   // StartTick + Period, or 0 when no period applies
  uint32_t LastTick = 0;  // last 32-bit reading (32-bit source only)
  uint32_t WrapCount = 0; // wraps seen since the start (32-bit source only)
  uint32_t Period = 0;    // ms, the period last applied
  bool Running = false;   // set by Start: Restart restarts the period, Elapsed keeps it

  // Zeroes every field.
  void Init();
  // The current tick, extended to 64 bits with this record's wrap count on a 32-bit source.
  int64_t NowTick();
  // Starts measuring now without a period; Running := false.
  void Reset();
  // Deadline := StartTick + ms.
  void SetPeriod(uint32_t ms);
  // Reset, then SetPeriod(ms), then Running := true.
  void Start(uint32_t ms);
  // Start(Period) when Running, else Reset.
  void Restart();
  // Dates the start by `offset` ms from now (negative: into the past, possibly before tick 0);
  // Deadline := 0; Running unchanged.
  void StartShifted(int32_t offset);
  bool IsStarted() const { return StartTick != 0; }
  // True at once when never started; otherwise (applying `ms` as the period unless Running)
  // whether the deadline has been reached.
  bool Elapsed(uint32_t ms);
  bool DeadlinePassed();

 private:
  void StartAt(int64_t offset);
};

}  // namespace kiv
