// A call record with a host-layout parameter list, prepared as an entry point prepares it, for
// driving plugin instances directly in tests.
#pragma once

#include <string_view>

#include "framework/call_record.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace kiv::testing {

class PreparedCall {
 public:
  PreparedCall() { host_.SetParams(params_.Object()); }
  ~PreparedCall() { Restore(); }

  // Adds a parameter; call before Rec().
  PreparedCall& Text(std::string_view name, std::u16string_view value) {
    params_.Add(name, kivhost::HostValue::Wide(value));
    return *this;
  }
  PreparedCall& Int(std::string_view name, int32_t value) {
    params_.Add(name, kivhost::HostValue::Int(value));
    return *this;
  }
  // The host list's Booleans travel as integers (-1 or 0).
  PreparedCall& Bool(std::string_view name, bool value) {
    params_.Add(name, kivhost::HostValue::Int(value ? -1 : 0));
    return *this;
  }
  kivhost::HostCallRecord& Host() { return host_; }

  // The prepared record (prepared on first use).
  TPluginCallRec* Rec() {
    auto* rec = static_cast<TPluginCallRec*>(host_.data());
    if (!saved_.Prepared) PrepareCallRec(rec, saved_);
    return rec;
  }
  void Restore() { RestoreCallRec(static_cast<TPluginCallRec*>(host_.data()), saved_); }

 private:
  kivhost::HostParamsList params_;
  kivhost::HostCallRecord host_;
  TPluginCallRecIntf saved_;
};

}  // namespace kiv::testing
