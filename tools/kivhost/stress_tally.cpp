#include "stress_tally.h"


namespace kivhost {

void StressTally::DataCall(int source, uint64_t bytes, int32_t code, bool taken) {
  // The data entry point documents 0 or more and -1 to -3.
  if (code < -3) Problem("source " + std::to_string(source) + ": undocumented result " + std::to_string(code));
  std::lock_guard<std::mutex> lock(mutex_);
  SourceTally& s = sources_.at(static_cast<size_t>(source));
  s.Fed += bytes;
  ++s.Calls;
  if (code < 0) s.Reported += bytes;
  else if (taken) s.Consumed += bytes;
  // The data entry point documents 0 or more and -1 to -3.
}

void StressTally::Unanswered(int source, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  SourceTally& s = sources_.at(static_cast<size_t>(source));
  s.Fed += bytes;
  ++s.Calls;
}

void StressTally::Delivered(int source, uint64_t packets, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  SourceTally& s = sources_.at(static_cast<size_t>(source));
  s.Packets += packets;
  s.PacketBytes += bytes;
}

void StressTally::InstanceCreated() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++created_;
}

void StressTally::InstanceGone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++gone_;
}

void StressTally::Problem(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [known, count] : problems_) {
    if (known == text) {
      ++count;
      return;
    }
  }
  problems_.emplace_back(text, 1);
}

SourceTally StressTally::Source(int source) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sources_.at(static_cast<size_t>(source));
}

SourceTally StressTally::Total() const {
  std::lock_guard<std::mutex> lock(mutex_);
  SourceTally total;
  for (const SourceTally& s : sources_) {
    total.Fed += s.Fed;
    total.Consumed += s.Consumed;
    total.Reported += s.Reported;
    total.Calls += s.Calls;
    total.Packets += s.Packets;
    total.PacketBytes += s.PacketBytes;
  }
  return total;
}

std::vector<std::string> StressTally::Check() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> findings;
  for (const auto& [text, count] : problems_)
    findings.push_back(count == 1 ? text : text + " (" + std::to_string(count) + " times)");
  for (size_t i = 0; i < sources_.size(); ++i) {
    const SourceTally& s = sources_[i];
    if (s.Calls == 0) findings.push_back("source " + std::to_string(i) + ": no data fed");
    const uint64_t accounted = s.Consumed + s.Reported;
    if (accounted != s.Fed)
      findings.push_back("source " + std::to_string(i) + ": " + std::to_string(s.Fed) + " bytes fed, " +
                         std::to_string(s.Consumed) + " taken, " + std::to_string(s.Reported) + " reported, " +
                         std::to_string(s.Fed - accounted) + " unaccounted");
  }
  if (gone_ != created_)
    findings.push_back(std::to_string(created_ - gone_) + " of " + std::to_string(created_) + " instances left");
  return findings;
}

}  // namespace kivhost
