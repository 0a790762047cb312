// The accounting of a stress run: per data source, the bytes fed to data calls and how each call
// accounted for them (the module took the input, or reported a failure code), the packets
// delivered, the instances created and freed, and anything unexpected. Check() lists what does
// not add up. Every method may be called from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kivhost {

struct SourceTally {
  uint64_t Fed = 0;        // bytes handed to data calls
  uint64_t Consumed = 0;   // bytes of calls that returned 0 or more and took the input
  uint64_t Reported = 0;   // bytes of calls that returned a failure code
  uint64_t Calls = 0;
  uint64_t Packets = 0;    // packets delivered
  uint64_t PacketBytes = 0;
};

class StressTally {
 public:
  explicit StressTally(int sources) : sources_(static_cast<size_t>(sources)) {}

  // One data call on `source` with `bytes` of input: its result code and whether the input was
  // taken (Input.Value no longer addresses the caller's bytes afterwards).
  void DataCall(int source, uint64_t bytes, int32_t code, bool taken);
  // A data call that did not return (a contained fault, a missing entry point): its bytes count
  // as fed and stay unaccounted.
  void Unanswered(int source, uint64_t bytes);
  void Delivered(int source, uint64_t packets, uint64_t bytes);
  void InstanceCreated();
  // An instance was freed and a second free of its handle found no instance.
  void InstanceGone();
  // Something that must not happen (a fault, a missing entry point, a failed request). The same
  // text reported again is counted, not repeated.
  void Problem(const std::string& text);

  SourceTally Source(int source) const;
  SourceTally Total() const;
  // What does not add up: empty when the run passed.
  std::vector<std::string> Check() const;

 private:
  mutable std::mutex mutex_;
  std::vector<SourceTally> sources_;
  int created_ = 0;
  int gone_ = 0;
  std::vector<std::pair<std::string, int>> problems_;
};

}  // namespace kivhost
