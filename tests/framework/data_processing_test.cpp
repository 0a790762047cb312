// Data calls through the framework: refused records, each Options bit, the handler frame and its
// messages, pass-through, the consumed-input rule, the record given back, the wait for a running
// call on a terminating instance, and the log handed to the host through GetLogEx.
#include "framework/data_processing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "framework/parsed_data.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"
#include "platform/module_allocator.h"

namespace kiv {
namespace {

using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

// A log entry as level and text.
struct Entry {
  int level;
  std::string text;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
  return out << entry.level << ":" << entry.text;
}

class DataCallTest : public ::testing::Test {
 protected:
  DataCallTest() {
    FrameworkInitialize();
    HostCallRecord creating;
    creating.SetParams(params_.Object());
    EXPECT_EQ(CreatePluginInstanceImpl(Rec(creating)), 0);
    handle_ = creating.Instance();
    plugin_ = FindInstance(Rec(creating)).get();  // stays registered until finalisation
    host_.SetInstance(handle_);
    host_.SetParams(params_.Object());
    host_.SetFlags(0x05);
    previous_output_ = SetDebugOutputHandler([](const std::string&) {});
  }
  ~DataCallTest() override {
    FrameworkFinalize();
    SetDebugOutputHandler(previous_output_);
    CrashReportStart();
  }

  static TPluginCallRec* Rec(HostCallRecord& host) { return static_cast<TPluginCallRec*>(host.data()); }

  int32_t Call(uint8_t options) {
    host_.SetOptions(options);
    return ProcessDataImpl(Rec(host_));
  }
  void SetInputList(const HostParamsList& list) {
    host_.SetInput(HostSlot{0, 0, ckParams, reinterpret_cast<uintptr_t>(list.Object())});
  }
  void SetInputInteger(uintptr_t value) { host_.SetInput(HostSlot{0, 0, ckInteger, value}); }

  // Sets a handler that counts its calls and returns `result`.
  void Handler(int32_t result) {
    plugin_->OnProcessData = [this, result](TObject*, TPluginCallRec*, int32_t& r) {
      ++handled_;
      r = result;
    };
  }

  void ClearLog() { WriteLocked<TStringList>(plugin_->LogList())->Clear(); }

  std::vector<Entry> LogEntries() {
    std::vector<Entry> entries;
    ReadLocked<TStringList> lines(plugin_->LogList());
    for (int i = 0; i < lines->Count(); ++i)
      entries.push_back({LogEntryLevel(lines->Strings(i)), std::string(LogEntryText(lines->Strings(i)))});
    return entries;
  }

  HostParamsList params_;
  HostCallRecord host_;
  uintptr_t handle_ = 0;
  TkivPlugin* plugin_ = nullptr;
  int handled_ = 0;
  DebugOutputHandler previous_output_ = nullptr;
};

TEST_F(DataCallTest, RefusedRecordsAndHandlesGiveMinusOneWithoutTheHandler) {
  Handler(7);
  EXPECT_EQ(ProcessDataImpl(nullptr), -1);
  host_.SetSize(101);
  EXPECT_EQ(Call(0x08), -1);
  host_.SetSize(HostCallRecord::kRecordSize);
  host_.SetParams(nullptr);
  EXPECT_EQ(Call(0x08), -1);
  host_.SetParams(params_.Object());
  host_.SetInstance(0);
  EXPECT_EQ(Call(0x08), -1);
  host_.SetInstance(handle_ + 4);  // not a registered handle
  EXPECT_EQ(Call(0x08), -1);
  EXPECT_EQ(handled_, 0);
  host_.SetInstance(handle_);
  SetInputInteger(1);
  EXPECT_EQ(Call(0x08), 7);
  EXPECT_EQ(handled_, 1);
}

TEST_F(DataCallTest, EmptyOptionsSkipTheHandlerAndConsumeTheInput) {
  Handler(7);
  SetInputInteger(42);
  EXPECT_EQ(Call(0), 0);
  EXPECT_EQ(handled_, 0);
  EXPECT_EQ(host_.Input().Value, 0u);
  EXPECT_TRUE(LogEntries().empty());
}

TEST_F(DataCallTest, AnEmptyInputListIsNoDataUnlessTheCheckIsSwitchedOff) {
  HostParamsList empty;
  uintptr_t seen = 1;
  plugin_->OnProcessData = [&](TObject*, TPluginCallRec* rec, int32_t&) { seen = rec->Input.Value; };
  SetInputList(empty);
  EXPECT_EQ(Call(0x08), 0);
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(host_.Input().Value, 0u);

  SetInputList(empty);
  EXPECT_EQ(Call(0x08 | 0x01), 0);
  EXPECT_NE(seen, 0u);
  // Not replaced by the handler: consumed.
  EXPECT_EQ(host_.Input().Value, 0u);
}

TEST_F(DataCallTest, WritingCallsReportMissingDataWithoutTheHandler) {
  Handler(7);
  HostParamsList empty;
  SetInputList(empty);
  EXPECT_EQ(Call(0x04), 0);
  SetInputInteger(0);
  EXPECT_EQ(Call(0x04), 0);
  EXPECT_EQ(handled_, 0);
  EXPECT_EQ(LogEntries(), (std::vector<Entry>{{1, "No data for processing"}}));
  EXPECT_EQ(plugin_->LogList().Count(), 1);  // the second one is a repeat of the first

  plugin_->FindProperty("MsgNoData")->SetText("");
  ClearLog();
  EXPECT_EQ(Call(0x04), 0);
  EXPECT_TRUE(LogEntries().empty());
}

TEST_F(DataCallTest, WritingCallsCloseTheRowOfAHostList) {
  Handler(0);
  HostParamsList input;
  input.Add("A", HostValue::Int(1));
  SetInputList(input);
  EXPECT_EQ(Call(0x04), 0);
  ASSERT_EQ(input.Items().size(), 2u);
  EXPECT_EQ(input.Items()[1].DataType, HostParamsList::kRowMarkerType);
  // A closed row gets no second marker.
  SetInputList(input);
  EXPECT_EQ(Call(0x04), 0);
  EXPECT_EQ(input.Items().size(), 2u);
  // Only writing calls close the row.
  HostParamsList other;
  other.Add("B", HostValue::Int(2));
  SetInputList(other);
  EXPECT_EQ(Call(0x08), 0);
  EXPECT_EQ(other.Items().size(), 1u);
}

TEST_F(DataCallTest, OutcomeMessagesFollowTheResultWhenTheOptionsAskForThem) {
  for (uint8_t options : {uint8_t{0x04}, uint8_t{0x08}}) {
    ClearLog();
    Handler(3);
    SetInputInteger(1);
    EXPECT_EQ(Call(options), 3);
    Handler(-2);
    SetInputInteger(1);
    EXPECT_EQ(Call(options), -2);
    EXPECT_EQ(LogEntries(), (std::vector<Entry>{{2, "Data have been processed successfully"},
                                                 {1, "Data have been processed with errors"}}));
  }
  // Neither bit: no message.
  ClearLog();
  SetInputInteger(1);
  EXPECT_EQ(Call(0x02), -2);
  EXPECT_TRUE(LogEntries().empty());
  // An empty text is not logged.
  plugin_->FindProperty("MsgWriteCompleteError")->SetText("");
  SetInputInteger(1);
  EXPECT_EQ(Call(0x08), -2);
  EXPECT_TRUE(LogEntries().empty());
}

TEST_F(DataCallTest, APositiveResultWithoutInputLeftBecomesZero) {
  plugin_->OnProcessData = [](TObject*, TPluginCallRec* rec, int32_t& result) {
    rec->Input.Value = 0;
    result = 5;
  };
  SetInputInteger(9);
  EXPECT_EQ(Call(0x02), 0);
}

TEST_F(DataCallTest, InputReplacedByTheHandlerIsKeptAndUnchangedInputIsConsumed) {
  HostParamsList output;
  host_.SetOutput(HostSlot{0, 0, ckParams, reinterpret_cast<uintptr_t>(output.Object())});
  plugin_->OnProcessData = [](TObject*, TPluginCallRec* rec, int32_t& result) {
    TParsedDataList parsed;
    parsed.AddPacket("packet");
    parsed.Add("ITEM", Variant::Int32(1));
    DeliverParsedData(rec, parsed, true);
    result = 1;
  };
  SetInputInteger(9);
  EXPECT_EQ(Call(0x02), 1);
  const HostSlot input = host_.Input();
  ASSERT_EQ(input.Kind, ckMemory);
  ASSERT_NE(input.Value, 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(input.Value), input.Size), "packet");
  ModuleFree(reinterpret_cast<void*>(input.Value));
  EXPECT_EQ(host_.Output().Counter, 1u);
  EXPECT_EQ(host_.Output().Kind, ckParams);
  EXPECT_EQ(output.Items().size(), 1u);
}

TEST_F(DataCallTest, HandlerExceptionsBecomeMinusThree) {
  plugin_->OnProcessData = [](TObject*, TPluginCallRec*, int32_t&) { throw EAssertionFailed("bad packet"); };
  SetInputInteger(9);
  EXPECT_EQ(Call(0x02), -3);
  EXPECT_EQ(LogEntries(), (std::vector<Entry>{{1, "Data have been processed with errors: bad packet"}}));
  EXPECT_EQ(host_.Input().Value, 0u);  // the frame caught it: the input still counts as consumed

  // Any other exception is caught at the boundary, logged with its context, and leaves the
  // input as it was.
  ClearLog();
  plugin_->OnProcessData = [](TObject*, TPluginCallRec*, int32_t&) { throw std::runtime_error("broken"); };
  SetInputInteger(9);
  EXPECT_EQ(Call(0x02), -3);
  const std::vector<Entry> entries = LogEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0], (Entry{0, "{PROCESS} broken"}));
  EXPECT_EQ(host_.Input().Value, 9u);
  EXPECT_FALSE(plugin_->Processing().load());
}

TEST_F(DataCallTest, WithoutAHandlerPassThroughCopiesInputToOutput) {
  host_.SetInput(HostSlot{3, 16, ckInteger, 77});
  EXPECT_EQ(Call(0x08), 0);
  EXPECT_EQ(host_.Output().Kind, 0);  // without the bit nothing is copied
  host_.SetInput(HostSlot{3, 16, ckInteger, 77});
  EXPECT_EQ(Call(0x20), 0);
  const HostSlot output = host_.Output();
  EXPECT_EQ(output.Counter, 3u);
  EXPECT_EQ(output.Size, 16u);
  EXPECT_EQ(output.Kind, ckInteger);
  EXPECT_EQ(output.Value, 77u);
  // With a handler the bit does nothing.
  Handler(0);
  host_.SetOutput(HostSlot{});
  host_.SetInput(HostSlot{3, 16, ckInteger, 77});
  EXPECT_EQ(Call(0x20), 0);
  EXPECT_EQ(host_.Output().Value, 0u);
}

TEST_F(DataCallTest, PassThroughOfAListHandsTheHostItsOwnList) {
  HostParamsList input;
  input.Add("A", HostValue::Int(1));
  SetInputList(input);
  EXPECT_EQ(Call(0x20), 0);
  const HostSlot output = host_.Output();
  EXPECT_EQ(output.Kind, ckParams);
  EXPECT_EQ(output.Value, reinterpret_cast<uintptr_t>(input.Object()));
}

TEST_F(DataCallTest, TheRecordIsGivenBackWithParamsFlagsAndOutputList) {
  HostParamsList output;
  host_.SetOutput(HostSlot{0, 0, ckParams, reinterpret_cast<uintptr_t>(output.Object())});
  TPluginCallRec seen{};
  plugin_->OnProcessData = [&](TObject*, TPluginCallRec* rec, int32_t&) {
    seen = *rec;
    rec->Output.Counter = 4;
  };
  SetInputInteger(1);
  EXPECT_EQ(Call(0x02), 0);
  const uintptr_t seen_params = seen.Params;  // packed fields are read by value
  const uint8_t seen_kind = seen.Output.Kind;
  EXPECT_NE(seen_params, reinterpret_cast<uintptr_t>(params_.Object()));
  EXPECT_EQ(seen_kind, ckParamsIntf);
  EXPECT_EQ(host_.Params(), reinterpret_cast<uintptr_t>(params_.Object()));
  EXPECT_EQ(host_.Flags(), 0x05);
  EXPECT_EQ(host_.Output().Kind, ckParams);
  EXPECT_EQ(host_.Output().Value, reinterpret_cast<uintptr_t>(output.Object()));
  EXPECT_EQ(host_.Output().Counter, 4u);  // plugin changes to the slot stay
}

TEST_F(DataCallTest, ACallRunsBesideAnotherOnALiveInstance) {
  Handler(1);
  plugin_->Processing().store(true);
  SetInputInteger(1);
  EXPECT_EQ(Call(0x02), 1);
  EXPECT_FALSE(plugin_->Processing().load());
}

TEST_F(DataCallTest, ATerminatingInstanceWaitsForItsRunningCallThenRefuses) {
  Handler(1);
  plugin_->SetTerminateNow(true);
  SetInputInteger(1);
  EXPECT_EQ(Call(0x02), -1);  // nothing running: refused at once

  plugin_->Processing().store(true);
  std::atomic<bool> released{false};
  std::thread running([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    released = true;
    plugin_->Processing().store(false);
  });
  EXPECT_EQ(Call(0x02), -1);
  EXPECT_TRUE(released.load());  // it returned only after the running call ended
  running.join();
  EXPECT_EQ(handled_, 0);

  plugin_->Processing().store(true);
  EXPECT_FALSE(WaitWhileTerminatingCall(*plugin_, 120));
  plugin_->SetTerminateNow(false);
  EXPECT_TRUE(WaitWhileTerminatingCall(*plugin_, 120));
  plugin_->Processing().store(false);
}

class GetLogTest : public DataCallTest {
 protected:
  GetLogTest() {
    plugin_->Log(1, "first");
    plugin_->Log(2, "second");
    plugin_->Log(2, "second");
    text_ = std::string("\x02" "first\r\n\x03" "second x2\r\n");
  }
  // Collects into a buffer of `size` bytes (filled with '#'), returning the result.
  int32_t Collect(uint32_t size) {
    buffer_.assign(size + 8, '#');
    host_.SetInput(HostSlot{0, size, ckBuffer, reinterpret_cast<uintptr_t>(buffer_.data())});
    host_.SetOutput(HostSlot{0, 0, ckParams, 1234});
    return GetLogExImpl(Rec(host_));
  }
  std::string text_;
  std::string buffer_;
};

TEST_F(GetLogTest, ABufferThatFitsTakesTheTextAndEmptiesTheLog) {
  for (uint32_t extra : {0u, 1000u}) {
    ASSERT_EQ(Collect(static_cast<uint32_t>(text_.size()) + extra), static_cast<int32_t>(text_.size()));
    EXPECT_EQ(buffer_.substr(0, text_.size()), text_);
    EXPECT_EQ(buffer_[text_.size()], '#');  // no terminator
    EXPECT_EQ(host_.Output().Kind, ckInteger);
    EXPECT_EQ(host_.Output().Value, text_.size());
    EXPECT_EQ(plugin_->LogList().Count(), 0);
    // An empty log reports nothing.
    EXPECT_EQ(Collect(100), 0);
    EXPECT_EQ(host_.Output().Value, 0u);
    plugin_->Log(1, "first");
    plugin_->Log(2, "second");
    plugin_->Log(2, "second");
  }
}

TEST_F(GetLogTest, AShortBufferKeepsTheLogAndReportsTheSizeNeeded) {
  EXPECT_EQ(Collect(static_cast<uint32_t>(text_.size()) - 1), 0);
  EXPECT_EQ(buffer_, std::string(text_.size() + 7, '#'));
  EXPECT_EQ(host_.Output().Kind, ckInteger);
  EXPECT_EQ(host_.Output().Value, text_.size());
  // Kept as it was: the next collection with room gets the same text.
  EXPECT_EQ(Collect(static_cast<uint32_t>(text_.size())), static_cast<int32_t>(text_.size()));
  EXPECT_EQ(buffer_.substr(0, text_.size()), text_);
}

TEST_F(GetLogTest, AZeroSizeDropsTheLog) {
  EXPECT_EQ(Collect(0), 0);
  EXPECT_EQ(host_.Output().Value, text_.size());
  EXPECT_EQ(plugin_->LogList().Count(), 0);
}

TEST_F(GetLogTest, NoBufferOrNoInstanceCopiesNothing) {
  host_.SetInput(HostSlot{0, 100, ckBuffer, 0});
  EXPECT_EQ(GetLogExImpl(Rec(host_)), 0);
  EXPECT_EQ(host_.Output().Value, text_.size());
  EXPECT_EQ(plugin_->LogList().Count(), 2);

  host_.SetInstance(handle_ + 4);
  EXPECT_EQ(Collect(100), 0);
  EXPECT_EQ(host_.Output().Kind, ckInteger);
  EXPECT_EQ(host_.Output().Value, 0u);
  EXPECT_EQ(plugin_->LogList().Count(), 2);
  EXPECT_EQ(GetLogExImpl(nullptr), 0);
}

}  // namespace
}  // namespace kiv
