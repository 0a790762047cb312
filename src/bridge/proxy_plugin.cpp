// TaPlugin: creation, the forwarding handlers, data processing on the plain and the parser path,
// the expiry sweep and destruction.
#include "bridge/proxy_plugin.h"

#include <cstring>
#include <optional>

#include "bridge/inner_call_rec.h"
#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "framework/parsed_data.h"
#include "interfaces/diagnostics.h"
#include "interfaces/params_list_wrap.h"
#include "paramlist/counted_string.h"
#include "platform/bstr.h"
#include "platform/code_page.h"
#include "platform/readable_memory.h"
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
// A contained fault is logged with its report and the entry point's name; false then.
template <class Call>
static bool GuardedInnerCall(TkivPlugin& plugin, const char* entry, Call& call) {
  SehException fault;
  if (CallInnerGuarded(call, &fault)) return true;
  CountContainedFault(entry);
  const std::string report = CrashReportStructured(fault, entry);
  plugin.Log(0, report.empty() ? std::string() : report + "\r\n" + entry);
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
  library_ = AcquireInnerLibrary(library_name_, exports_);
  // 5. The plugin interface.
  plugin_wrap_ = std::make_unique<TkivPluginWrapEx>(*this, static_cast<TParserClientSource&>(*this));
  plugin_ = plugin_wrap_->W();
  // 6.
  if (library_ && exports_.Create) {
    auto call = [this] { exports_.Create(plugin_); };
    GuardedInnerCall(*this, "kivPluginCreate", call);
  }
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
  }
}

void TaPlugin::kivPluginProcessData(TObject*, TPluginCallRec* rec, int32_t& result) {
  result = 0;
  if (rec->Input.Value == 0) {
    if (rec->Options & kDataPassThrough) std::memcpy(&rec->Output, &rec->Input, sizeof rec->Input);
    return;
  }
  if (!library_ || !exports_.ProcessData) return;
  // Data calls of this instance take turns on the parsed-data slot.
  std::lock_guard turn(parsed_data_lock_);
  // One list serves every data call of the instance, emptied before and after each.
  if (!parsed_data_) parsed_data_ = std::make_unique<TParsedDataList>();
  TParsedDataList& parsed = *parsed_data_;
  parsed.Empty();
  struct EmptyAfter {
    TParsedDataList& list;
    ~EmptyAfter() { list.Empty(); }
  } emptyAfter{parsed};
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
  struct ClearSlot {
    TkivPluginWrapEx& wrap;
    ~ClearSlot() { wrap.SetParsedData(nullptr); }
  } clearSlot{*plugin_wrap_};
  try {
    if (!(rec->Options & kDataParse)) {
      proxy::InnerCallRec inner(*rec);
      kivPluginCallRecIntf* innerRec = inner.Sdk();
      auto call = [this, innerRec, &result] { exports_.ProcessData(plugin_, innerRec, &result); };
      if (!GuardedInnerCall(*this, "kivPluginProcessData", call))
        throw EInnerPluginCall("The inner plugin failed in kivPluginProcessData");
      return;  // what the inner plugin put into the parsed data is not delivered on this path
    }
    ProcessParserPath(*rec, parsed, result);
  } catch (const Exception&) {
    result = -3;
  }
}

void TaPlugin::ProcessParserPath(TPluginCallRec& rec, TParsedDataList& parsed, int32_t& result) {
  ReadGuard alive(clients_lock_);
  if (!parser_clients_) throw EInnerPluginCall("No parser clients outside Load and Unload");
  ReadLocked<TCustomParserClientList::List> clients(*parser_clients_);
  TCustomParserClient* client = parser_clients_->FindOrCreate(rec, this, false, &CreateCustomParserClient);
  if (!client) throw EInnerPluginCall("No parser client for the data source");
  if (rec.Input.Kind == ckNotify) {
    if (rec.Input.Value == KIV_NOTIFY_SOURCE_CLOSING) client->StartSourceClosing();
    SetSweepTimer(parser_clients_->Count() >= 1);
    return;
  }
  // The block comes from the host: read only what is readable for its stated size.
  const void* data = reinterpret_cast<const void*>(rec.Input.Value);
  if (rec.Input.Size > 0 && !IsReadableMemory(data, rec.Input.Size))
    throw EInnerPluginCall("The data block is not readable");
  client->AddData(data, static_cast<int32_t>(rec.Input.Size));
  {
    proxy::InnerCallRec inner(rec);
    kivPluginCallRecIntf* innerRec = inner.Sdk();
    auto call = [this, innerRec, &result] { exports_.ProcessData(plugin_, innerRec, &result); };
    if (!GuardedInnerCall(*this, "kivPluginProcessData", call))
      throw EInnerPluginCall("The inner plugin failed in kivPluginProcessData");
  }
  const int count = parsed.Count();
  if (count == 0) return;
  for (int i = 0; i < count; ++i) {
    const TkivParamsListItem* item = parsed.Items(i);
    if (!item || item->Name() != kFullDataPacket) continue;
    const TVarData& value = item->Value();
    if (value.VType == varOleStr)
      parsed.AddPacket(BstrView(value.VOleStr));
    else
      parsed.AddPacket(VarToText(value));
  }
  HandOverParsedData(&rec, parsed, true);  // the list is emptied after the call anyway
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
  }
}

void TaPlugin::ParserClientTimerTick(TObject*) {
  ReadGuard alive(clients_lock_);
  if (!parser_clients_) return;
  SetSweepTimer(false);
  try {
    parser_clients_->RemoveIdle(kParserClientIdleLimit, true);
  } catch (...) {
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
