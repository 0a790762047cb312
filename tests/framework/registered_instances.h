// Plugin instances created through the registry as the host creates them, for tests of the
// exports that look an instance up by its handle.
#pragma once

#include <gtest/gtest.h>

#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace kiv::testing {

class RegisteredInstances : public ::testing::Test {
 protected:
  RegisteredInstances() {
    FrameworkInitialize();
    host_.SetParams(params_.Object());
  }
  ~RegisteredInstances() override {
    FrameworkFinalize();
    CrashReportStart();
  }

  // A new registered instance's handle.
  uintptr_t Create() {
    kivhost::HostCallRecord host;
    host.SetParams(params_.Object());
    EXPECT_EQ(CreatePluginInstanceImpl(static_cast<TPluginCallRec*>(host.data())), 0);
    return host.Instance();
  }
  TkivPlugin& Plugin(uintptr_t handle) {
    kivhost::HostCallRecord host;
    host.SetInstance(handle);
    TPluginRef ref = FindInstance(static_cast<TPluginCallRec*>(host.data()));
    EXPECT_TRUE(ref);
    return *ref.get();  // stays registered until the fixture ends
  }
  // The fixture's record addressed to `handle`.
  TPluginCallRec* RecFor(uintptr_t handle) {
    host_.SetInstance(handle);
    return static_cast<TPluginCallRec*>(host_.data());
  }

  kivhost::HostParamsList params_;
  kivhost::HostCallRecord host_;
};

}  // namespace kiv::testing
