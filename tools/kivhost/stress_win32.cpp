#include "stress.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <cstdio>
#include <thread>
#include <vector>

#include "call_values.h"
#include "data_call.h"
#include "host/host_call_record.h"
#include "host/host_exports.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "host/host_window.h"
#include "packet_text.h"
#include "progress.h"
#include "stress_tally.h"

namespace kivhost {
namespace {

struct Shared {
  const Request& q;
  const std::vector<Request>& setup;
  const std::string& data;
  const std::string& module_path;
  StressTally tally;
  std::atomic<uint64_t> fed{0};
  std::atomic<uint64_t> packets{0};
  std::atomic<uint64_t> log_lines{0};
};

// Runs a command (its values, "COMMAND" among them) on `instance`; its code, or a problem noted
// in the tally.
int32_t Command(Shared& shared, HostModule& module, uintptr_t instance, int32_t index,
                const std::vector<CallValue>& values) {
  HostParamsList params;
  AddValues(params, values);
  HostCallRecord rec;
  rec.SetInstance(instance);
  rec.SetModuleIndex(index);
  rec.SetParams(params.Object());
  const CallResult call = module.ExecutePluginCommand(rec.data());
  if (!call.Returned()) shared.tally.Problem("thread " + std::to_string(index) + ": a command did not return");
  return call.Value;
}

int32_t Command(Shared& shared, HostModule& module, uintptr_t instance, int32_t index, const char* name) {
  return Command(shared, module, instance, index, {{"COMMAND", CallValue::Type::Text, name}});
}

// LOAD, unless the setup brings its own, then the setup's requests in order. A refused request
// (a code below 0) is a problem: the run would not be the one asked for.
void LoadAndSetUp(Shared& shared, HostModule& module, uintptr_t instance, int32_t index, uintptr_t window) {
  const auto handles = [&](std::vector<CallValue>& values) {
    AddHostHandles(values, static_cast<int64_t>(window), reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
  };
  bool loaded = false;
  for (const Request& q : shared.setup) loaded |= q.Kind == RequestKind::Load;
  if (!loaded) {
    std::vector<CallValue> load{{"COMMAND", CallValue::Type::Text, "LOAD"}};
    handles(load);
    if (Command(shared, module, instance, index, load) != 0)
      shared.tally.Problem("thread " + std::to_string(index) + ": LOAD failed");
  }
  for (const Request& q : shared.setup) {
    std::vector<CallValue> values = CommandValues(q).value_or(std::vector<CallValue>{});
    if (q.Kind == RequestKind::Load) handles(values);
    if (const int32_t code = Command(shared, module, instance, index, values); code < 0)
      shared.tally.Problem("setup line " + std::to_string(q.Line) + " (" + q.Text + ") returned " + std::to_string(code));
  }
}

// Collects the log of `instance` until it is empty, counting its lines. A few rounds at most:
// a module whose log never empties must not hold the thread.
void CollectLog(Shared& shared, HostModule& module, uintptr_t instance) {
  std::vector<char> buffer(64 * 1024);
  for (int round = 0; round < 8; ++round) {
    HostCallRecord rec;
    rec.SetInstance(instance);
    rec.SetInput(HostSlot{0, static_cast<uint32_t>(buffer.size()), 2, reinterpret_cast<uintptr_t>(buffer.data())});
    const CallResult call = module.GetLogEx(rec.data());
    if (!call.Returned() || call.Value <= 0) {
      if (call.Returned() && rec.Output().Value > buffer.size()) {
        buffer.resize(rec.Output().Value);
        continue;
      }
      return;
    }
    const std::string_view text(buffer.data(), static_cast<size_t>(call.Value));
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2)) ++lines;
    shared.log_lines += lines;
  }
}

// One host thread: its own window, module reference and instance; feeds sources t, t+T, ...
void HostThread(Shared& shared, int t) {
  const int32_t index = t + 1;
  const std::string who = "thread " + std::to_string(index) + ": ";
  HostModule module;
  if (!module.Load(shared.module_path)) {
    shared.tally.Problem(who + "module not loaded: " + module.Error());
    return;
  }
  HostWindow window;
  HostParamsList creating;
  HostCallRecord rec;
  rec.SetParams(creating.Object());
  rec.SetModuleIndex(index);
  const CallResult created = module.CreatePluginInstance(rec.data());
  if (!created.Returned() || created.Value != 0) {
    shared.tally.Problem(who + "no instance created");
    return;
  }
  const uintptr_t instance = rec.Instance();
  shared.tally.InstanceCreated();
  LoadAndSetUp(shared, module, instance, index, window.HandleValue());

  const FeedOptions& feed = shared.q.Feed;
  const uint8_t options = FeedOptionsByte(feed);
  const size_t chunks = shared.data.empty() ? 1 : (shared.data.size() + feed.Chunk - 1) / feed.Chunk;
  for (size_t c = 0; c < chunks; ++c) {
    for (int source = t; source < shared.q.Stress.Sources; source += shared.q.Stress.Threads) {
      const std::string_view chunk = std::string_view(shared.data).substr(c * feed.Chunk, feed.Chunk);
      const int32_t id = FirstSourceId(feed) + source;
      const DataCallOutcome out =
          FeedChunk(module, instance, index, id, FeedSourceName(feed, id), options, chunk, shared.q.Values);
      if (!out.Call.Returned()) {
        shared.tally.Problem(who + "data call " + (out.Call.Status == CallStatus::Faulted ? "faulted" : "missing"));
        shared.tally.Unanswered(source, chunk.size());
        continue;
      }
      shared.tally.DataCall(source, chunk.size(), out.Call.Value, out.Taken);
      const std::vector<std::string> packets = SplitPackets(out.Block);
      uint64_t bytes = 0;
      for (const std::string& p : packets) bytes += p.size();
      shared.tally.Delivered(source, packets.size(), bytes);
      shared.fed += chunk.size();
      shared.packets += packets.size();
    }
    window.Pump(0);
    if (window.Count(kMsgLogNotify) > 0) {
      window.Clear();
      CollectLog(shared, module, instance);
    }
  }
  window.Pump(0);
  CollectLog(shared, module, instance);
  if (Command(shared, module, instance, index, "UNLOAD") != 0) shared.tally.Problem(who + "UNLOAD failed");
  HostCallRecord free_rec;
  free_rec.SetInstance(instance);
  const CallResult freed = module.FreePluginInstance(free_rec.data());
  if (!freed.Returned() || freed.Value != 0) {
    shared.tally.Problem(who + "free " + (freed.Status == CallStatus::Missing ? "missing" : "failed"));
    return;
  }
  // The handle must be gone from the module's registry now.
  if (module.FreePluginInstance(free_rec.data()).Value == -1) shared.tally.InstanceGone();
}

// A thread's work; nothing may escape the thread.
void GuardedHostThread(Shared& shared, int t) {
  try {
    HostThread(shared, t);
  } catch (const std::exception& e) {
    shared.tally.Problem("thread " + std::to_string(t + 1) + ": " + e.what());
  }
}

}  // namespace

RequestResult RunStress(const std::string& module_path, const Request& q, const std::string& data,
                        const std::vector<Request>& setup, bool progress) {
  Shared shared{q, setup, data, module_path, StressTally(q.Stress.Sources)};
  std::vector<std::thread> threads;
  const int count = std::min(q.Stress.Threads, q.Stress.Sources);
  std::atomic<int> running{count};
  for (int t = 0; t < count; ++t)
    threads.emplace_back([&shared, &running, t] {
      GuardedHostThread(shared, t);
      --running;
    });
  const ULONGLONG start = GetTickCount64();
  const uint64_t total = static_cast<uint64_t>(data.size()) * static_cast<uint64_t>(q.Stress.Sources);
  while (running > 0) {
    Sleep(100);
    if (progress) {
      const ProgressFigures f{shared.fed, total, shared.packets, GetTickCount64() - start};
      std::fprintf(stderr, "\r%s ", ProgressLine(f).c_str());
    }
  }
  for (std::thread& thread : threads) thread.join();
  if (progress) std::fprintf(stderr, "\r%79s\r", "");

  RequestResult r;
  const SourceTally total_tally = shared.tally.Total();
  r.Values = {Figure("threads", static_cast<uint64_t>(count)),
              Figure("sources", static_cast<uint64_t>(q.Stress.Sources)),
              Figure("calls", total_tally.Calls),
              Figure("fed", total_tally.Fed),
              Figure("taken", total_tally.Consumed),
              Figure("reported", total_tally.Reported),
              Figure("packets", total_tally.Packets),
              Figure("packet-bytes", total_tally.PacketBytes),
              Figure("log-lines", shared.log_lines.load())};
  const std::vector<std::string> findings = shared.tally.Check();
  for (const std::string& finding : findings) r.Values.push_back({"finding", finding});
  r.Code = findings.empty() ? 0 : 1;
  if (!findings.empty()) {
    r.Status = RequestStatus::Failed;
    r.Error = "check failed: " + std::to_string(findings.size()) + " finding(s)";
  }
  return r;
}

}  // namespace kivhost
