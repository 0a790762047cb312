#include "host/host_exports.h"

#include <utility>

namespace kivhost {

std::string_view HostExportName(HostExport service) noexcept {
  static constexpr std::array<std::string_view, kHostExportCount> kNames = {
      "Vantrel_SendNotify", "Vantrel_SendDataEx", "Vantrel_DataSourceData", "Vantrel_DataSourceState",
      "Vantrel_ManageDynForm"};
  return kNames[static_cast<std::size_t>(service)];
}

HostExportLog& HostExportLog::Instance() {
  static HostExportLog log;
  return log;
}

void HostExportLog::Reset() {
  std::vector<HostExportCall> old;
  std::array<std::function<void()>, kHostExportCount> actions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(calls_);
    results_ = {};
    actions.swap(actions_);
  }
}

void HostExportLog::Record(HostExportCall call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<HostExportCall> HostExportLog::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<HostExportCall> HostExportLog::Calls(HostExport service) const {
  std::vector<HostExportCall> matching;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const HostExportCall& call : calls_) {
    if (call.Service == service) matching.push_back(call);
  }
  return matching;
}

void HostExportLog::SetResult(HostExport service, int32_t result) {
  std::lock_guard<std::mutex> lock(mutex_);
  results_[static_cast<std::size_t>(service)] = result;
}

int32_t HostExportLog::Result(HostExport service) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return results_[static_cast<std::size_t>(service)];
}

void HostExportLog::SetAction(HostExport service, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_[static_cast<std::size_t>(service)] = std::move(action);
}

std::function<void()> HostExportLog::Action(HostExport service) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return actions_[static_cast<std::size_t>(service)];
}

}  // namespace kivhost
