// TaPlugin: creation, the forwarding handlers, data processing on the plain and the parser path,
// the expiry sweep and destruction.
#include "bridge/proxy_plugin.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <optional>

#include "bridge/inner_call_rec.h"
#include "framework/crash_report.h"
#include "framework/host_services.h"
#include "framework/instance_registry.h"
#include "framework/parsed_data.h"
#include "interfaces/diagnostics.h"
#include "interfaces/params_list_wrap.h"
#include "paramlist/counted_string.h"
#include "platform/bstr.h"
#include "platform/caught_exception.h"
#include "platform/code_page.h"
#include "platform/readable_memory.h"
#include "platform/scope_exit.h"
#include "settings/setting_value.h"

namespace kiv {

namespace {

constexpr const char* kPluginFileName = KIV_PLUGIN_FILE_NAME;
constexpr std::string_view kFullDataPacket = "FULL_DATA_PACKET";
// Every delivered packet is an item of this name: its name and key are constants, not strings
// allocated per packet.
constexpr auto kFullDataPacketName = MakeCountedConstant("FULL_DATA_PACKET");
constexpr auto kFullDataPacketKey = MakeCountedConstant("full_data_packet");
[[maybe_unused]] const bool kFullDataPacketConstant =
    RegisterCountedConstant(kFullDataPacketName.Ref()) && RegisterCountedConstant(kFullDataPacketKey.Ref());

// A data call that cannot be completed: the framework's data path turns it into result -3.
class EInnerPluginCall : public Exception {
 public:
  using Exception::Exception;
};

constexpr std::string_view kInnerPluginPathParam = "InnerPluginPath";
constexpr std::string_view kInnerPluginLoadErrorParam = "InnerPluginLoadError";
constexpr const char* kNoEntryPoints =
    "exports none of the twelve entry points under its plain name (a .def file names them)";

bool HasAnyEntryPoint(const TInnerPluginExports& e) {
  return e.Create || e.Destroy || e.Load || e.Unload || e.LoadSettingsNow || e.SaveSettingsNow ||
         e.ShowOptionsDialog || e.Event || e.ExecuteCustomCommand || e.StateChanged || e.SetParserItems ||
         e.ProcessData;
}

// The UTF-16 form of a framework text for an inner entry point (never null).
std::u16string InnerText(const std::string& text) { return AnsiToWide(text); }
const kivWCHAR* InnerChars(const std::u16string& text) { return reinterpret_cast<const kivWCHAR*>(text.c_str()); }

}  // namespace

TaPlugin::TaPlugin(TPluginCallRec* rec, ModuleHandle module) : TkivPlugin(rec, module) {
  OnCreate = [this](TObject* s) { kivPluginCreate(s); };
  OnDestroy = [this](TObject* s) { kivPluginDestroy(s); };
}

TaPlugin::~TaPlugin() {
  // Fires OnDestroy while this class still exists (the base would fire it too late).
  BeforeDestruction();
}

// Runs `call` (the inner entry point with its arguments) inside the structured-exception guard.
// A contained fault is counted and reported in full (debugger output, diagnostic); the log gets
// one line, "{entry point} Exception ... at module+offset", folded when the fault repeats.
// False then.
template <class Call>
static bool GuardedInnerCall(TkivPlugin& plugin, const char* entry, Call& call) {
  SehException fault;
  if (CallInnerGuarded(call, &fault)) return true;
  CountContainedFault(entry);
  CrashReportStructured(fault, entry);
  plugin.Log(0, "{" + std::string(entry) + "} " + CrashSummaryStructured(fault));
  return false;
}

void TaPlugin::kivPluginCreate(TObject*) {
  // 1. What the instance reports to the host.
  SetFrameworkVersion(kProxyFrameworkVersion);
  SetDescription(kProxyDescription);
  SetLogTitle(kProxyDescription);
  SetModuleType(kProxyModuleTypes);
  // 2. The forwarding handlers.
  OnShowOptionsDialog = [this](TObject* s, TPluginCallRec* r, bool& shown) { kivPluginShowOptionsDialog(s, r, shown); };
  OnExecuteCustomCommand = [this](TObject* s, const std::string& c, TPluginCallRec* r, int32_t& res) {
    kivPluginExecuteCustomCommand(s, c, r, res);
  };
  OnEvent = [this](TObject* s, const std::string& t, TPluginCallRec* r, int32_t& res) { kivPluginEvent(s, t, r, res); };
  OnPluginLoad = [this](TObject* s, TPluginCallRec* r, int32_t& res) { kivPluginLoad(s, r, res); };
  OnPluginUnload = [this](TObject* s, TPluginCallRec* r, int32_t& res) { kivPluginUnload(s, r, res); };
  OnSaveSettingsNow = [this](TObject* s) { kivPluginSaveSettingsNow(s); };
  OnLoadSettingsNow = [this](TObject* s) { kivPluginLoadSettingsNow(s); };
  OnSetParserItems = [this](TObject* s) { kivPluginSetParserItems(s); };
  OnStateChanged = [this](TObject* s, TStateSet states) { kivPluginStateChanged(s, states); };
  OnProcessData = [this](TObject* s, TPluginCallRec* r, int32_t& res) { kivPluginProcessData(s, r, res); };
  // 3. and 4. The inner library from this module's own folder only, shared by the instances.
  library_name_ = ModulePath() + kPluginFileName;
  library_ = AcquireInnerLibrary(library_name_, exports_, &library_error_);
  if (!library_) library_error_ = library_name_ + ": " + library_error_;
  else if (!HasAnyEntryPoint(exports_)) library_error_ = library_name_ + ": " + kNoEntryPoints;
  // 5. The plugin interface.
  plugin_wrap_ = std::make_unique<TkivPluginWrapEx>(*this, static_cast<TParserClientSource&>(*this));
  plugin_ = plugin_wrap_->W();
  // 6.
  if (library_ && exports_.Create) {
    auto call = [this] { exports_.Create(plugin_); };
    GuardedInnerCall(*this, "kivPluginCreate", call);
  }
}

std::optional<Variant> TaPlugin::ApplicationModuleParameter(std::string_view name) {
  if (AnsiSameText(name, kInnerPluginPathParam))
    return Variant::Wide(AnsiToWide(library_ ? library_name_ : std::string()));
  if (AnsiSameText(name, kInnerPluginLoadErrorParam)) return Variant::Wide(AnsiToWide(library_error_));
  return std::nullopt;
}

void TaPlugin::kivPluginDestroy(TObject*) {
  // Nothing of the sweep may reach this instance once it goes (an instance freed without Unload).
  FreeParserClients();
  if (library_ && exports_.Destroy) {
    auto call = [this] { exports_.Destroy(plugin_); };
    GuardedInnerCall(*this, "kivPluginDestroy", call);
  }
  ReleaseInnerLibrary(library_);  // it stays loaded for the next instance
  plugin_ = nullptr;
  plugin_wrap_.reset();
}

// The common shape: the converted record lives for the inner call; every reference handed over
// is released and detached when it ends, whatever the inner plugin kept. Exceptions are dropped.
template <class Call>
static bool ForwardWithRecord(TkivPlugin& plugin, const char* entry, TPluginCallRec* rec, Call call) {
  try {
    proxy::InnerCallRec inner(*rec);
    kivPluginCallRecIntf* innerRec = inner.Sdk();
    auto guarded = [&call, innerRec] { call(innerRec); };
    return GuardedInnerCall(plugin, entry, guarded);
  } catch (...) {
    return false;
  }
}

void TaPlugin::kivPluginLoad(TObject*, TPluginCallRec* rec, int32_t& result) {
  if (!library_) return;
  FreeParserClients();  // a list left from an earlier load
  {
    WriteGuard lock(clients_lock_);
    parser_clients_ = std::make_unique<TCustomParserClientList>();
    try {
      parser_client_timer_ = std::make_unique<TkivTimerEx>(nullptr);
      parser_client_timer_->SetEnabled(false);
      parser_client_timer_->SetInterval(kParserClientSweepInterval);
      parser_client_timer_->SetOnTimer([this](TObject* s) { ParserClientTimerTick(s); });
    } catch (const Exception&) {
      parser_client_timer_.reset();  // no platform timer: clients then live until Unload
    }
  }
  if (!exports_.Load) return;
  ForwardWithRecord(*this, "kivPluginLoad", rec,
                    [this, &result](kivPluginCallRecIntf* r) { exports_.Load(plugin_, r, &result); });
}

void TaPlugin::kivPluginUnload(TObject*, TPluginCallRec* rec, int32_t& result) {
  if (library_ && exports_.Unload)
    ForwardWithRecord(*this, "kivPluginUnload", rec,
                      [this, &result](kivPluginCallRecIntf* r) { exports_.Unload(plugin_, r, &result); });
  FreeParserClients();
}

void TaPlugin::kivPluginLoadSettingsNow(TObject*) {
  if (!library_ || !exports_.LoadSettingsNow) return;
  auto call = [this] { exports_.LoadSettingsNow(plugin_); };
  GuardedInnerCall(*this, "kivPluginLoadSettingsNow", call);
}

void TaPlugin::kivPluginSaveSettingsNow(TObject*) {
  if (!library_ || !exports_.SaveSettingsNow) return;
  auto call = [this] { exports_.SaveSettingsNow(plugin_); };
  GuardedInnerCall(*this, "kivPluginSaveSettingsNow", call);
}

void TaPlugin::kivPluginSetParserItems(TObject*) {
  if (!library_ || !exports_.SetParserItems) return;
  auto call = [this] { exports_.SetParserItems(plugin_); };
  GuardedInnerCall(*this, "kivPluginSetParserItems", call);
}

void TaPlugin::kivPluginStateChanged(TObject*, TStateSet states) {
  if (!library_ || !exports_.StateChanged) return;
  const uint32_t mask = states;  // bit n for state n; bits 8 to 31 stay 0
  auto call = [this, mask] { exports_.StateChanged(plugin_, mask); };
  GuardedInnerCall(*this, "kivPluginStateChanged", call);
}

void TaPlugin::kivPluginShowOptionsDialog(TObject*, TPluginCallRec* rec, bool& shown) {
  shown = false;
  if (!library_ || !exports_.ShowOptionsDialog) return;
  kivBOOL answer = KIV_FALSE;
  try {
    if (ForwardWithRecord(*this, "kivPluginShowOptionsDialog", rec, [this, &answer](kivPluginCallRecIntf* r) {
          exports_.ShowOptionsDialog(plugin_, r, &answer);
        }))
      shown = answer != KIV_FALSE;
  } catch (...) {
    const std::string report = CrashReportCurrentException("kivPluginShowOptionsDialog");
    Log(0, report.empty() ? std::string() : report + "\r\nkivPluginShowOptionsDialog");
  }
}

void TaPlugin::kivPluginEvent(TObject*, const std::string& eventType, TPluginCallRec* rec, int32_t& result) {
  if (!library_ || !exports_.Event) return;
  try {
    const std::u16string type = InnerText(eventType);
    ForwardWithRecord(*this, "kivPluginEvent", rec, [this, &type, &result](kivPluginCallRecIntf* r) {
      exports_.Event(plugin_, InnerChars(type), r, &result);
    });
  } catch (...) {
    NoteCaughtException("kivPluginEvent");
  }
}

void TaPlugin::kivPluginExecuteCustomCommand(TObject*, const std::string& command, TPluginCallRec* rec,
                                             int32_t& result) {
  if (!library_ || !exports_.ExecuteCustomCommand) return;
  try {
    const std::u16string name = InnerText(command);
    ForwardWithRecord(*this, "kivPluginExecuteCustomCommand", rec, [this, &name, &result](kivPluginCallRecIntf* r) {
      exports_.ExecuteCustomCommand(plugin_, InnerChars(name), r, &result);
    });
  } catch (...) {
    NoteCaughtException("kivPluginExecuteCustomCommand");
  }
}

void TaPlugin::kivPluginProcessData(TObject*, TPluginCallRec* rec, int32_t& result) {
  result = 0;
  if (rec->Input.Value == 0) {
    if (rec->Options & kDataPassThrough) std::memcpy(&rec->Output, &rec->Input, sizeof rec->Input);
    return;
  }
  if (!library_ || !exports_.ProcessData) return;
  // A data call of this instance from inside one on the same thread (from the inner plugin, or
  // from a host export it called) would wait for itself on the turn below: refused.
  const uint32_t thread = CurrentHostPlatform().CurrentThreadId();
  if (data_call_thread_.load(std::memory_order_acquire) == thread) {
    Log(0, "{PROCESS} " + std::string(kNestedDataCallMessage));
    result = KIV_RESULT_EXCEPTION;
    return;
  }
  // Data calls of this instance take turns on the parsed-data slot.
  LockGuard<Mutex> turn(parsed_data_lock_);
  ScopeExit endTurn([this] { data_call_thread_.store(0, std::memory_order_release); });
  data_call_thread_.store(thread, std::memory_order_release);
  // One list serves every data call of the instance, emptied before and after each.
  if (!parsed_data_) parsed_data_ = std::make_unique<TParsedDataList>();
  TParsedDataList& parsed = *parsed_data_;
  parsed.Empty();
  ScopeExit emptyAfter([&parsed] { parsed.Empty(); });
  // The list is lent to the inner plugin only when it asks for it (most plain-path calls never
  // do), and the loan ends with the request.
  struct Lender final : TParsedDataLender {
    explicit Lender(TParsedDataList& list) : list(list) {}
    IkivParamsListA* LendParsedData() override {
      if (!lent) lent.emplace(list);
      return lent->A();
    }
    TParsedDataList& list;
    std::optional<ParamsListBorrow> lent;
  } lender(parsed);
  plugin_wrap_->SetParsedDataLender(&lender);
  ScopeExit clearSlot([this] { plugin_wrap_->SetParsedData(nullptr); });
  try {
    if (!(rec->Options & kDataParse)) {
      CallInnerProcessData(*rec, result);
      return;  // what the inner plugin put into the parsed data is not delivered on this path
    }
    ProcessParserPath(*rec, parsed, result);
  } catch (const Exception&) {
    result = KIV_RESULT_EXCEPTION;
  }
}

void TaPlugin::CallInnerProcessData(const TPluginCallRec& rec, int32_t& result) {
  proxy::InnerCallRec inner(rec);
  kivPluginCallRecIntf* innerRec = inner.Sdk();
  auto call = [this, innerRec, &result] { exports_.ProcessData(plugin_, innerRec, &result); };
  if (!GuardedInnerCall(*this, "kivPluginProcessData", call))
    throw EInnerPluginCall("The inner plugin failed in kivPluginProcessData");
}

// Appends the FULL_DATA_PACKET items from index `from` on to the list's packet text.
static void FoldPackets(TParsedDataList& parsed, int from) {
  const int count = parsed.Count();
  for (int i = from; i < count; ++i) {
    const TkivParamsListItem* item = parsed.Items(i);
    if (!item || item->Name() != kFullDataPacket) continue;
    const TVarData& value = item->Value();
    if (value.VType == varOleStr)
      parsed.AddPacket(BstrView(value.VOleStr));
    else
      parsed.AddPacket(VarToText(value));
  }
}

void TaPlugin::ProcessParserPath(TPluginCallRec& rec, TParsedDataList& parsed, int32_t& result) {
  ReadGuard alive(clients_lock_);
  if (!parser_clients_) throw EInnerPluginCall("No parser clients outside Load and Unload");
  ReadLocked<TCustomParserClientList::List> clients(*parser_clients_);
  auto findClient = [&] {
    TCustomParserClient* client = parser_clients_->FindOrCreate(rec, this, false, &CreateCustomParserClient);
    if (!client) throw EInnerPluginCall("No parser client for the data source");
    return client;
  };
  TCustomParserClient* client = findClient();
  if (rec.Input.Kind == ckNotify) {
    if (rec.Input.Value == KIV_NOTIFY_SOURCE_CLOSING) client->StartSourceClosing();
    SetSweepTimer(parser_clients_->Count() >= 1);
    return;
  }
  // The block comes from the host: read only what is readable for its stated size.
  const uint8_t* data = reinterpret_cast<const uint8_t*>(rec.Input.Value);
  if (rec.Input.Size > 0 && !IsReadableMemory(data, rec.Input.Size))
    throw EInnerPluginCall("The data block is not readable");
  if (rec.Input.Size > static_cast<uint32_t>(INT32_MAX)) throw EInnerPluginCall("The data block is too large");

  // The block reaches the inner plugin whole, in pieces that fit the stream: each piece is
  // appended and handed over with one inner call, whose record's Input is that piece. Bytes
  // give way only when a call leaves the stream full.
  int32_t left = static_cast<int32_t>(rec.Input.Size);
  const bool rawInput = rec.Input.Kind != ckParams && rec.Input.Kind != ckParamsObject && rec.Input.Kind != ckParamsIntf;
  uint32_t dropped = 0;
  bool faulted = false;
  ScopeExit dropReport([&] {
    if (dropped > 0) LogDiscardedBytes(rec, dropped, faulted);
  });
  int32_t callResult = 0;
  bool failedPiece = false;
  do {
    const int32_t taken = client->AddPiece(data, left, dropped);
    TPluginCallRec piece = rec;
    if (rawInput) {
      piece.Input.Value = reinterpret_cast<uintptr_t>(data);
      piece.Input.Size = static_cast<uint32_t>(taken);
    }
    data += taken;
    left -= taken;
    const int before = parsed.Count();
    int32_t pieceResult = 0;
    try {
      CallInnerProcessData(piece, pieceResult);
    } catch (...) {
      // What the stream has not taken of the block is lost with the call.
      CountDiagnostic(Diagnostics().StreamBytesDiscarded, left);
      dropped += static_cast<uint32_t>(left);
      faulted = left > 0;
      throw;
    }
    FoldPackets(parsed, before);
    // The first failure stands; otherwise the last piece's result.
    if (!failedPiece) callResult = pieceResult;
    failedPiece = failedPiece || pieceResult < 0;
    // Another writer may have run while the inner plugin held the list's read share aside.
    if (left > 0) client = findClient();
  } while (left > 0);
  result = callResult;
  if (parsed.Count() > 0) HandOverParsedData(&rec, parsed, true);  // the list is emptied after the call anyway
}

void TaPlugin::LogDiscardedBytes(const TPluginCallRec& rec, uint32_t dropped, bool faulted) noexcept {
  try {
    Log(1, "Data source " + std::to_string(rec.DataSourceId) + " (" + std::string(CallRecSourceName(rec)) + "): " +
               std::to_string(dropped) + " bytes discarded, the inner plugin " +
               (faulted ? "failed before taking them" : "left its FIFO buffer full"));
  } catch (...) {
    NoteCaughtException("LogDiscardedBytes");
  }
}

IkivFifoBuffer* TaPlugin::NewParserClientBuffer(const TPluginCallRec& rec) {
  ReadGuard alive(clients_lock_);
  if (!parser_clients_) throw EInnerPluginCall("No parser clients outside Load and Unload");
  ReadLocked<TCustomParserClientList::List> clients(*parser_clients_);
  TCustomParserClient* client = parser_clients_->FindOrCreate(rec, this, false, &CreateCustomParserClient);
  if (!client) throw EInnerPluginCall("No parser client for the data source");
  return client->NewBufferReference();
}

int TaPlugin::ParserClientCount() {
  ReadGuard alive(clients_lock_);
  return parser_clients_ ? parser_clients_->Count() : 0;
}

bool TaPlugin::SweepTimerEnabled() const {
  return parser_client_timer_ && parser_client_timer_->Enabled();
}

void TaPlugin::SetSweepTimer(bool on) noexcept {
  try {
    if (parser_client_timer_) parser_client_timer_->SetEnabled(on);
  } catch (...) {
    NoteCaughtException("SetSweepTimer");
  }
}

void TaPlugin::ParserClientTimerTick(TObject*) {
  ReadGuard alive(clients_lock_);
  if (!parser_clients_) return;
  SetSweepTimer(false);
  try {
    parser_clients_->RemoveIdle(kParserClientIdleLimit, true);
  } catch (...) {
    NoteCaughtException("ParserClientTimerTick");
  }
  // Two, not one: a last client is swept again only after the next notification.
  if (parser_clients_->Count() >= 2) SetSweepTimer(true);
}

// Adds what the streams of `clients` still hold to the diagnostic: bytes the inner plugin never
// removed by the time their data sources go.
static void CountUnconsumedBytes(TCustomParserClientList& clients) noexcept {
  try {
    ReadLocked<TCustomParserClientList::List> reader(clients);
    reader->ForEach([](uintptr_t, TCustomParserClient* client, bool&) {
      CountDiagnostic(Diagnostics().StreamBytesLeft, client->Stream()->Size());
    });
  } catch (...) {
    NoteCaughtException("CountUnconsumedBytes");
  }
}

void TaPlugin::FreeParserClients() noexcept {
  std::unique_ptr<TkivTimerEx> timer;
  std::unique_ptr<TCustomParserClientList> clients;
  {
    WriteGuard lock(clients_lock_);
    timer = std::move(parser_client_timer_);
    clients = std::move(parser_clients_);
  }
  // Outside the lock: the timer waits for a tick in progress, which may be waiting for the lock.
  try {
    if (timer) timer->SetEnabled(false);
  } catch (...) {
    NoteCaughtException("FreeParserClients");
  }
  timer.reset();
  if (clients) CountUnconsumedBytes(*clients);
  clients.reset();
}

void RegisterProxyPluginClass() {
  RegisterPluginClass(&PluginClassOf<TaPlugin>);
  AddModuleShutdownProc(&ReleaseSharedInnerLibrary);
}

}  // namespace kiv
