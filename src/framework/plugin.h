// TkivPlugin: the component behind every plugin instance. It holds what the host told the
// instance, its texts for the host, its lists (log, custom commands, parser items, data sources,
// named objects, module configurations, custom values), its translator and the thirteen event
// slots through which an application's subclass does the work.
//
// Threads: commands are serialised by CommandLock (taken by the command protocol); LOAD/UNLOAD
// run under it. The log, named objects, module configurations and custom values are guarded
// lists usable from any thread. Event slots are set by the subclass before the instance is
// handed to the host and not changed afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "framework/call_record.h"
#include "framework/custom_cmd.h"
#include "framework/host_services.h"
#include "framework/log_list.h"
#include "framework/parser_items.h"
#include "paramlist/thread_params_list.h"
#include "paramlist/variant.h"
#include "support/component.h"
#include "support/object_list.h"
#include "support/recursive_mutex.h"
#include "support/rw_lock.h"
#include "support/thread_string_list.h"

namespace kiv {

class TWtransl;

// A set over 0..7 as a bit mask (bit i: member i).
using TStateSet = uint8_t;
constexpr int kStateLow = 0;
constexpr int kStateHigh = 7;
// Module option: the instance takes a configuration identifier at LOAD.
constexpr uint8_t kModuleOptionConfigId = 1u << 2;
// The framework version seeding each instance's version number.
constexpr uint16_t kFrameworkVersionMajor = 4;
constexpr uint16_t kFrameworkVersionMinor = 0;

// A configured data source, set by SET-STATE from one line "id;name;extra...".
class TConfigDataSource : public TObject {
 public:
  TConfigDataSource() = default;
  TConfigDataSource(std::string line, int32_t id, std::string name, std::string extra)
      : Line(std::move(line)), Id(id), Name(std::move(name)), Extra(std::move(extra)) {}
  std::string ClassName() const override { return "TConfigDataSource"; }
  std::string Line;   // the whole line
  int32_t Id = 0;     // field 1
  std::string Name;   // field 2
  std::string Extra;  // field 3
};

// Configuration names, each with its 32-bit identifier in the object slot.
using TModuleConfigList = TThreadStringList;

class TkivPlugin : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TObject* Sender)>;
  using TShowOptionsDialogEvent = std::function<void(TObject* Sender, TPluginCallRec* Rec, bool& Result)>;
  using TGetOptionsDialogEvent = std::function<void(TObject* Sender, TPluginCallRec* Rec,
                                                    std::string& FormName, std::string& FormData)>;
  using TCustomCommandEvent = std::function<void(TObject* Sender, const std::string& Command,
                                                 TPluginCallRec* Rec, int32_t& Result)>;
  using TCallEvent = std::function<void(TObject* Sender, TPluginCallRec* Rec, int32_t& Result)>;
  using TStateChangedEvent = std::function<void(TObject* Sender, TStateSet States)>;
  using THostEventEvent = std::function<void(TObject* Sender, const std::string& EventType,
                                             TPluginCallRec* Rec, int32_t& Result)>;

  // Builds the instance in the documented order from the creating record (prepared by the
  // caller, or null) and
  // the module whose file names it (null: this module). OnCreate and the initial translation
  // follow in AfterConstruction, once the subclass has set its slots.
  TkivPlugin(TPluginCallRec* rec, ModuleHandle module);
  // Fires OnDestroy (unless BeforeDestruction did), then frees the owned objects in order.
  ~TkivPlugin() override;
  std::string ClassName() const override { return "TkivPlugin"; }

  // The end of construction: fires OnCreate, then translates the instance the first time.
  // Runs once; the registry calls it after the subclass's constructor.
  void AfterConstruction();
  // The start of destruction: fires OnDestroy while the subclass still exists. Runs once.
  void BeforeDestruction();

  // Read-only module parameters that the application adds to the framework's table: the value
  // of `name` (compared without regard to case), or nullopt for a name it does not know. Read
  // by GET-MODULE-PARAMETER under the command lock; a write of such a name gives false.
  virtual std::optional<Variant> ApplicationModuleParameter(std::string_view name);

  // Event slots, in declaration order.
  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TShowOptionsDialogEvent OnShowOptionsDialog;
  TGetOptionsDialogEvent OnGetOptionsDialog;
  TCustomCommandEvent OnExecuteCustomCommand;
  TCallEvent OnPluginLoad;
  TCallEvent OnPluginUnload;
  TNotifyEvent OnSaveSettingsNow;
  TNotifyEvent OnLoadSettingsNow;
  TNotifyEvent OnGetParserItems;
  TNotifyEvent OnSetParserItems;
  TStateChangedEvent OnStateChanged;
  TCallEvent OnProcessData;
  THostEventEvent OnEvent;
  TNotifyEvent OnLanguageChanged;

  // First LOAD: counts the load and, the first time, reads the host's parameters from the
  // prepared record, finds the host module and its exports and fires OnPluginLoad, whose result
  // is returned (0 when nothing ran). Exceptions of the handler propagate to the command.
  int32_t PluginLoad(TPluginCallRec* rec);
  // Last UNLOAD: counts the unload (never below 0) and, at 0, stops the instance, saves
  // settings when the host names another INI file, and fires OnPluginUnload (its exceptions
  // swallowed). Returns the handler's result, 0 when nothing ran.
  int32_t PluginUnload(TPluginCallRec* rec);

  // Adds a log entry (with the log title) and tells the host. Swallows every failure; nothing
  // once destruction has begun.
  void Log(uint8_t level, std::string_view text, bool flag = false) noexcept;
  // Tells the host's message window that log lines wait: a post, else a send with time-out.
  void NotifyLog() noexcept;

  // Passes an event to the host (Vantrel_SendDataEx, kind 7): a new list with "EVENT-GLOBAL"
  // (see the rule in the source), the upper-cased "EVENT-TYPE", then the items of `list` (may
  // be null). The list lives for the call only. Nothing when the export is missing or faults.
  void RaiseHostEvent(bool global, std::string_view eventType, IkivParamsListA* list);
  // Passes data to the host (kind 129) with the record's Context and DataSourceId (0 without a
  // record); the export's result, -1 when it is missing or faults.
  int32_t SendHostData(const TPluginCallRec* rec, intptr_t p1, intptr_t p2);

  // Named objects (names compared without regard to case; the objects are never freed here).
  void SetNamedObject(std::string_view name, TObject* object);
  TObject* GetNamedObject(std::string_view name);
  TObject* RemoveNamedObject(std::string_view name);

  // The module configurations, created on first use.
  TModuleConfigList& ModuleConfigs();
  // One line per configuration, "name<TAB>XXXXXXXX" (identifier in 8 upper-case hex digits),
  // joined by CR LF.
  std::string ModuleConfigsText();
  // Index of the first configuration with identifier `id` and its name; -1 when none or id 0.
  int ModuleConfigName(uint32_t id, std::string* name = nullptr);

  // The custom values, created on first use.
  TkivThreadParamsList& CustomValues();

  // The states that are on.
  TStateSet StateSet() const;
  // Members i whose bit i is set in `value` (and, with `onlyActive`, whose state is on).
  TStateSet StateSetFromValue(uint32_t value, bool onlyActive) const;
  bool State(int index) const { return index >= 0 && index < 8 && states_[index]; }
  void SetState(int index, bool on) {
    if (index >= 0 && index < 8) states_[index] = on;
  }

  // "INI-FILE" of `params` (empty when absent); with `store` the field takes it too.
  std::string ReadIniFile(IkivParamsListA* params, bool store);

  // Translation: applies the language once (see instance_translation.cpp).
  void Translate();
  // The LOAD command's language application for the "LANGUAGE" of `params`.
  void ApplyLanguage(IkivParamsListA* params);
  TWtransl* Translator() const { return translator_.get(); }
  const std::string& Language() const { return language_; }
  bool Translated() const { return translated_; }

  // Fields reported or set as module parameters, under their parameter names.
  uintptr_t ModulePluginHandle() const { return own_handle_; }
  void SetModulePluginHandle(uintptr_t handle) { own_handle_ = handle; }
  ModuleHandle ModuleDllHandle() const { return module_handle_; }
  int32_t ModuleLoadCount() const { return load_count_.load(); }
  int32_t ModuleIndex() const { return module_index_; }
  const std::string& Description() const { return description_; }
  void SetDescription(std::string text) { description_ = std::move(text); }
  const std::string& LogTitle() const { return log_title_; }
  void SetLogTitle(std::string text) { log_title_ = std::move(text); }
  uint8_t ModuleType() const { return module_types_; }
  void SetModuleType(uint8_t types) { module_types_ = types; }
  uint8_t ModuleOptions() const { return module_options_; }
  void SetModuleOptions(uint8_t options) { module_options_ = options & 0x07; }
  uint8_t EnabledByte() const { return enabled_byte_; }
  void SetEnabledByte(uint8_t value) { enabled_byte_ = value; }
  const std::string& ModuleFileName() const { return module_file_name_; }
  const std::string& ModulePath() const { return module_path_; }
  const std::string& ModuleName() const { return module_name_; }
  uint32_t ModuleLoadForConfig() const { return config_id_; }
  const std::string& ApplicationFullName() const { return application_name_; }
  const std::string& DisplayFullVersion() const { return version_text_; }
  bool TerminateNow() const { return terminate_; }
  void SetTerminateNow(bool on) { terminate_ = on; }
  const std::string& DataSourceLoadFor() const { return data_source_selection_; }
  void SetDataSourceLoadFor(std::string text) { data_source_selection_ = std::move(text); }
  float FrameworkVersion() const { return framework_version_; }
  void SetFrameworkVersion(float version) { framework_version_ = version; }
  const std::string& INIFile() const { return ini_file_; }
  void SetINIFile(std::string name) { ini_file_ = std::move(name); }
  uint8_t ModuleRegistryRoot1() const { return registry_root1_; }
  uint8_t ModuleRegistryRoot2() const { return registry_root2_; }
  void SetModuleRegistryRoots(uint8_t root1, uint8_t root2) {
    registry_root1_ = root1;
    registry_root2_ = root2;
  }
  const std::string& ModuleRegistryPath() const { return registry_path_; }
  const std::string& INISectionPrefix() const { return ini_section_prefix_; }
  TStateSet ModuleEnabled() const { return StateSet(); }
  const std::string& EventsSupported() const { return events_text_; }
  void SetEventsSupported(std::string text) { events_text_ = std::move(text); }
  bool IsTemporaryLoad() const { return temporary_load_; }
  void SetIsTemporaryLoad(bool on) { temporary_load_ = on; }
  WindowHandle OwnerForm() const { return owner_window_; }
  void SetOwnerForm(WindowHandle window) { owner_window_ = window; }
  WindowHandle MessageWindow() const { return message_window_.load(); }
  void SetMessageWindow(WindowHandle window) { message_window_.store(window); }
  ModuleHandle ParentApp() const { return host_module_; }
  const THostFunctions& HostFunctions() const { return host_functions_; }
  uint8_t DataSubscription() const { return data_subscription_; }
  void SetDataSubscription(uint8_t value) { data_subscription_ = value; }
  uint32_t LoaderThread() const { return loader_thread_; }
  bool DialogOpen() const { return dialog_open_; }
  void SetDialogOpen(bool open) { dialog_open_ = open; }
  uint8_t DialogOptions() const { return dialog_options_; }
  void SetDialogOptions(uint8_t options) { dialog_options_ = options; }
  IkivParamsListW* DialogParams() const { return dialog_params_; }
  void SetDialogParams(IkivParamsListW* params) { dialog_params_ = params; }
  bool SettingsBusy() const { return settings_busy_; }
  void SetSettingsBusy(bool busy) { settings_busy_ = busy; }
  // Whether the instance has logged that it has no place for settings; under the settings lock.
  bool SettingsPlaceMissingLogged() const { return settings_place_missing_logged_; }
  void SetSettingsPlaceMissingLogged() { settings_place_missing_logged_ = true; }
  std::atomic<bool>& Processing() { return processing_; }

  // Published message texts.
  const std::string& MsgNoData() const { return msg_no_data_; }
  const std::string& MsgWriteComplete() const { return msg_write_complete_; }
  const std::string& MsgWriteCompleteError() const { return msg_write_complete_error_; }

  // Owned lists and locks.
  TLogDataList& LogList() { return *log_; }
  TkivPluginCustomCmdList& CustomCommands() { return *custom_commands_; }
  TParserItemList& ParserItems() { return parser_items_; }
  std::string& ParserItemsText() { return parser_items_text_; }
  TObjectList& ConfigDataSources() { return *config_data_sources_; }
  ReaderWriterLock& SettingsLock() { return *settings_lock_; }
  RecursiveMutex& CommandLock() { return command_lock_; }
  std::atomic<int32_t>& CommandDepth() { return command_depth_; }
  // Holds on this instance: one of the registry while it is registered, one per call that found
  // it (see TPluginRef). The last one to end destroys the instance.
  std::atomic<int32_t>& CallRefs() { return call_refs_; }

 private:
  // Construction step 7 and its translation set-up (instance_translation.cpp).
  void SetUpTranslation();
  void ReadHostParameters(IkivParamsListA* params);

  std::unique_ptr<TWtransl> translator_;
  std::unique_ptr<ReaderWriterLock> settings_lock_;
  RecursiveMutex command_lock_;
  std::atomic<int32_t> command_depth_{0};
  uintptr_t own_handle_ = 0;
  ModuleHandle module_handle_ = nullptr;
  std::atomic<int32_t> load_count_{0};
  int32_t module_index_ = 0;
  std::string parser_items_text_;
  std::string description_;
  std::string log_title_;
  uint8_t module_types_ = 0;
  uint8_t module_options_ = 0;
  uint8_t enabled_byte_ = 1;
  std::string module_file_name_;
  std::string module_path_;
  std::string module_name_;
  uint32_t config_id_ = 0;
  std::string application_name_;
  std::string version_text_;
  TParserItemList parser_items_;
  std::unique_ptr<TkivPluginCustomCmdList> custom_commands_;
  std::unique_ptr<TkivThreadParamsList> custom_values_;
  std::unique_ptr<TLogDataList> log_;
  std::atomic<bool> terminate_{false};  // read by data calls while a command may set it
  std::unique_ptr<TObjectList> config_data_sources_;
  std::string data_source_selection_;
  std::string msg_no_data_;
  std::string msg_write_complete_;
  std::string msg_write_complete_error_;
  float framework_version_ = 0;
  std::string ini_file_;
  uint8_t registry_root1_ = 2;
  uint8_t registry_root2_ = 1;
  std::string registry_path_;
  std::string ini_section_prefix_;
  bool states_[8] = {};
  std::string events_text_;
  bool temporary_load_ = false;
  bool settings_busy_ = false;
  bool settings_place_missing_logged_ = false;
  WindowHandle owner_window_ = nullptr;
  std::atomic<WindowHandle> message_window_{nullptr};  // read by Log on any thread
  ModuleHandle host_module_ = nullptr;
  uint8_t data_subscription_ = 0;
  std::unique_ptr<TModuleConfigList> module_configs_;
  std::unique_ptr<TThreadStringList> named_objects_;
  std::atomic<bool> processing_{false};
  bool translated_ = false;
  bool dialog_open_ = false;
  uint8_t dialog_options_ = 0;
  IkivParamsListW* dialog_params_ = nullptr;
  uint32_t loader_thread_ = 0;
  std::string language_;
  THostFunctions host_functions_;

  std::mutex lazy_lock_;  // creation of the module configurations and custom values
  std::atomic<int32_t> call_refs_{0};
  std::atomic<bool> constructed_{false};
  std::atomic<bool> destroying_{false};
};

}  // namespace kiv
