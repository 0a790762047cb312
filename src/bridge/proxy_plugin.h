// TaPlugin: the plugin class of varnolet.dll. Every instance loads `plugin.dll` from the module's
// own folder and forwards each host request to the inner plugin's entry points, handing it the
// plugin interface, converted call records and, per data source, a FIFO buffer of raw bytes.
//
// Threads: commands (Load, Unload, events, settings, the options dialog) are serialised by the
// framework's command lock. Data calls run beside them and beside each other: the parser path
// holds the client list's read lock, creation and the expiry sweep promote to its write lock,
// and ClientsLock keeps the list alive while any of them uses it (Unload and destruction free it
// under its write lock). Data calls of one instance take turns on the parsed-data slot of the
// plugin interface (ParsedDataLock); one made on the thread that holds the turn (from inside the
// inner plugin's data call) is refused with -3 and logged. Every call into the inner plugin runs
// inside the structured-exception guard.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/inner_library.h"
#include "bridge/parser_client.h"
#include "bridge/plugin_wrap.h"
#include "framework/parsed_data.h"
#include "framework/plugin.h"
#include "support/rw_lock.h"
#include "support/timer_ex.h"

namespace kiv {

// The period of the parser clients' expiry sweep.
constexpr uint32_t kParserClientSweepInterval = 500;
// The framework version an instance reports, and its module types {0, 1, 2, 5}.
constexpr float kProxyFrameworkVersion = 5.0f;
constexpr uint8_t kProxyModuleTypes = 0x27;
constexpr const char* kProxyDescription = "Varnolet";
// Logged (level 0, context "PROCESS") when a data call is refused for running inside another
// data call of the same instance on the same thread.
constexpr std::string_view kNestedDataCallMessage = "Nested data calls are not allowed";

class TaPlugin : public TkivPlugin, private TParserClientSource {
 public:
  TaPlugin(TPluginCallRec* rec, ModuleHandle module);
  // Calls the inner plugin's kivPluginDestroy and ends its use of the shared library; an
  // instance freed without Unload first stops its timer and frees its parser clients.
  ~TaPlugin() override;
  std::string ClassName() const override { return "TaPlugin"; }

  const std::string& LibraryName() const { return library_name_; }
  bool LibraryLoaded() const { return library_ != nullptr; }
  // Why the instance has no usable inner plugin: the file and the system's reason when it could
  // not be loaded, or a note that it exports no entry point; empty when it is in use.
  const std::string& LibraryError() const { return library_error_; }
  // The read-only module parameters "InnerPluginPath" (the loaded inner plugin's file, empty when
  // none) and "InnerPluginLoadError" (LibraryError), so that an integrator sees what the module
  // keeps silent towards the host.
  std::optional<Variant> ApplicationModuleParameter(std::string_view name) override;
  const TInnerPluginExports& Exports() const { return exports_; }
  // The interface handed to every inner entry point.
  IkivPluginW* PluginIntf() const { return plugin_; }
  // Clients of the data sources; 0 outside Load..Unload.
  int ParserClientCount();
  // Whether the sweep timer is switched on (false without one).
  bool SweepTimerEnabled() const;
  // One sweep, as the timer runs it: forgets clients idle longer than the limit and keeps the
  // timer on only while at least two clients remain.
  void ParserClientTimerTick(TObject* sender);

 private:
  // Handlers, named after the inner entry points they forward to.
  void kivPluginCreate(TObject* sender);
  void kivPluginDestroy(TObject* sender);
  void kivPluginLoad(TObject* sender, TPluginCallRec* rec, int32_t& result);
  void kivPluginUnload(TObject* sender, TPluginCallRec* rec, int32_t& result);
  void kivPluginLoadSettingsNow(TObject* sender);
  void kivPluginSaveSettingsNow(TObject* sender);
  void kivPluginShowOptionsDialog(TObject* sender, TPluginCallRec* rec, bool& shown);
  void kivPluginEvent(TObject* sender, const std::string& eventType, TPluginCallRec* rec, int32_t& result);
  void kivPluginExecuteCustomCommand(TObject* sender, const std::string& command, TPluginCallRec* rec,
                                     int32_t& result);
  void kivPluginStateChanged(TObject* sender, TStateSet states);
  void kivPluginSetParserItems(TObject* sender);
  void kivPluginProcessData(TObject* sender, TPluginCallRec* rec, int32_t& result);

  // The parser path of a data call (step 5 with bit 0x02): the block goes to the data source's
  // stream in pieces that fit, one inner call per piece.
  void ProcessParserPath(TPluginCallRec& rec, TParsedDataList& parsed, int32_t& result);
  // One kivPluginProcessData call with `rec` converted; EInnerPluginCall when it faulted.
  void CallInnerProcessData(const TPluginCallRec& rec, int32_t& result);
  // The once-per-call log line of bytes a data call had to discard (`faulted`: the rest of a
  // block whose piece faulted).
  void LogDiscardedBytes(const TPluginCallRec& rec, uint32_t dropped, bool faulted) noexcept;
  // A buffer over the record's client stream for IkivPluginEx (TParserClientSource).
  IkivFifoBuffer* NewParserClientBuffer(const TPluginCallRec& rec) override;
  // Switches the sweep timer (nothing without one); failures are dropped.
  void SetSweepTimer(bool on) noexcept;
  // Stops and frees the timer, then frees the parser clients.
  void FreeParserClients() noexcept;

  IkivPluginW* plugin_ = nullptr;
  std::unique_ptr<TkivPluginWrapEx> plugin_wrap_;
  std::unique_ptr<TkivTimerEx> parser_client_timer_;
  std::unique_ptr<TCustomParserClientList> parser_clients_;
  ReaderWriterLock clients_lock_;  // keeps parser_clients_ and the timer alive while used
  Mutex parsed_data_lock_;         // one data call at a time owns the parsed-data slot and list
  std::atomic<uint32_t> data_call_thread_{0};  // the thread holding parsed_data_lock_, 0 for none
  std::unique_ptr<TParsedDataList> parsed_data_ GUARDED_BY(parsed_data_lock_);
  std::string library_name_;
  std::string library_error_;
  LibraryHandle library_ = nullptr;
  TInnerPluginExports exports_;
};

// Makes TaPlugin the class that CreatePluginInstance builds, and the host's shutdown request
// free the shared inner library.
void RegisterProxyPluginClass();

}  // namespace kiv
