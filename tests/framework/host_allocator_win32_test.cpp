// Adoption of the allocator that the host's executable publishes, seen through parsed-data
// delivery: this test executable exports the three host functions (counting their calls), so
// blocks of kind 4 come from them and the host frees them; looking in a module that publishes
// nothing keeps the process heap.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "framework/parsed_data.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"
#include "host_allocator_exports.h"
#include "kiv/kiv_host.h"
#include "platform/module_allocator.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostSlot;

// Each test starts as a module that has allocated nothing and ends with the default restored.
class HostAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHostAllocatorForTesting(); }
  void TearDown() override { ResetHostAllocatorForTesting(); }

  // Two appending deliveries into a fresh record whose Output is a host list made with
  // `allocator`; returns the Input slot with the joined block, which the caller frees.
  static HostSlot DeliverTwice(const ModuleAllocator& allocator) {
    HostParamsList output(true, allocator);
    HostCallRecord host;
    host.SetOutput(HostSlot{0, 0, ckParams, reinterpret_cast<uintptr_t>(output.Object())});
    auto* rec = static_cast<TPluginCallRec*>(host.data());
    TPluginCallRecIntf saved;
    EXPECT_TRUE(PrepareCallRec(rec, saved));
    {
      TParsedDataList parsed;
      parsed.AddPacket("packet");
      parsed.Add("Item", Variant::Int32(1));
      DeliverParsedData(rec, parsed, true);
      DeliverParsedData(rec, parsed, true);
    }
    RestoreCallRec(rec, saved);
    EXPECT_EQ(output.Items().size(), 2u);
    EXPECT_EQ(host.Output().Counter, 2u);
    return host.Input();
  }

  static std::string Text(const HostSlot& slot) {
    return std::string(reinterpret_cast<const char*>(slot.Value), slot.Size);
  }
};

TEST_F(HostAllocatorTest, TheExecutablesExportsAreAdoptedAndServeKind4Blocks) {
  ASSERT_EQ(AdoptHostAllocator(), HostAllocatorAdoption::Adopted);
  auto& calls = hostalloc::Calls();
  const int allocs = calls.Allocs, reallocs = calls.ReAllocs, frees = calls.Frees;

  const HostSlot input = DeliverTwice(hostalloc::AsAllocator());
  EXPECT_EQ(input.Kind, ckMemory);
  EXPECT_EQ(Text(input), "packet" + std::string(kDataSeparator) + "packet");
  auto* block = reinterpret_cast<void*>(input.Value);
  EXPECT_TRUE(HeapValidate(hostalloc::Heap(), 0, block));
  EXPECT_GT(calls.Allocs, allocs);
  EXPECT_GT(calls.ReAllocs, reallocs);

  // The host gives the block back through its own export, found as the module finds it.
  auto host_free = reinterpret_cast<kivHostFreeFunc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), KIV_HOST_FREE_NAME)));
  ASSERT_NE(host_free, nullptr);
  const int frees_before = calls.Frees;
  host_free(block);
  EXPECT_EQ(calls.Frees, frees_before + 1);
  EXPECT_GT(frees_before, frees);  // the module freed its own list memory through the host too
}

TEST_F(HostAllocatorTest, AModulePublishingNothingLeavesTheProcessHeap) {
  ASSERT_EQ(AdoptHostAllocatorFrom(GetModuleHandleA("kernel32.dll")), HostAllocatorAdoption::NotPublished);
  const int allocs = hostalloc::Calls().Allocs;
  const HostSlot input = DeliverTwice(DefaultModuleAllocator());
  auto* block = reinterpret_cast<void*>(input.Value);
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, block));
  EXPECT_EQ(hostalloc::Calls().Allocs, allocs);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
}

TEST_F(HostAllocatorTest, AnAllocationBeforeAdoptionKeepsTheProcessHeap) {
  ModuleFree(ModuleAlloc(16));
  EXPECT_EQ(AdoptHostAllocator(), HostAllocatorAdoption::TooLate);
  const int allocs = hostalloc::Calls().Allocs;
  void* block = ModuleAlloc(8);
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, block));
  ModuleFree(block);
  EXPECT_EQ(hostalloc::Calls().Allocs, allocs);
}

TEST_F(HostAllocatorTest, ConcurrentAndRepeatedAdoptionsKeepTheFirstOutcome) {
  std::vector<HostAllocatorAdoption> outcomes(4, HostAllocatorAdoption::TooLate);
  std::vector<std::thread> threads;
  for (auto& outcome : outcomes) threads.emplace_back([&outcome] { outcome = AdoptHostAllocator(); });
  for (auto& t : threads) t.join();
  for (auto outcome : outcomes) EXPECT_EQ(outcome, HostAllocatorAdoption::Adopted);
  EXPECT_EQ(AdoptHostAllocatorFrom(GetModuleHandleA("kernel32.dll")), HostAllocatorAdoption::Adopted);
  const int allocs = hostalloc::Calls().Allocs;
  ModuleFree(ModuleAlloc(4));
  EXPECT_EQ(hostalloc::Calls().Allocs, allocs + 1);
}

}  // namespace
}  // namespace kiv
