// TkivPlugin: the component behind every plugin instance. It holds what the host told the
// instance, its texts for the host, its lists (log, custom commands, parser items, data sources,
// named objects, module configurations, custom values), its translator and the thirteen event
// slots through which an application's subclass does the work.
//
// Threads: commands are serialised by the instance's command gate (taken by the command entry
// point); LOAD/UNLOAD run under it. The fields are grouped by lifetime below, each group with
// its thread rule. The log, named objects, module configurations and custom values are guarded
// lists usable from any thread. Event slots are set by the subclass before the instance is
// handed to the host and not changed afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "framework/call_record.h"
#include "framework/command_gate.h"
#include "framework/custom_cmd.h"
#include "framework/host_services.h"
#include "framework/instance_holds.h"
#include "framework/log_list.h"
#include "framework/parser_items.h"
#include "paramlist/thread_params_list.h"
#include "paramlist/variant.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "support/component.h"
#include "support/object_list.h"
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
  bool State(int index) const { return index >= 0 && index < 8 && config_.States[index]; }
  void SetState(int index, bool on) {
    if (index >= 0 && index < 8) config_.States[index] = on;
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

  // Fields reported or set as module parameters, under their parameter names, by group (the
  // groups and their thread rules are with the fields). Identity and the module file:
  uintptr_t ModulePluginHandle() const { return own_handle_; }
  void SetModulePluginHandle(uintptr_t handle) { own_handle_ = handle; }
  ModuleHandle ModuleDllHandle() const { return file_.Handle; }
  const std::string& ModuleFileName() const { return file_.FileName; }
  const std::string& ModulePath() const { return file_.Path; }
  const std::string& ModuleName() const { return file_.Name; }
  const std::string& DisplayFullVersion() const { return file_.VersionText; }
  int32_t ModuleLoadCount() const { return load_count_.load(); }

  // Host facts of the first LOAD:
  int32_t ModuleIndex() const { return host_.ModuleIndex; }
  uint32_t ModuleLoadForConfig() const { return host_.ConfigId; }
  const std::string& ApplicationFullName() const { return host_.ApplicationName; }
  ModuleHandle ParentApp() const { return host_.HostModule; }
  const THostFunctions& HostFunctions() const { return host_.Functions; }
  uint32_t LoaderThread() const { return host_.LoaderThread; }

  // What the instance publishes:
  const std::string& Description() const { return published_.Description; }
  void SetDescription(std::string text) { published_.Description = std::move(text); }
  const std::string& LogTitle() const { return published_.LogTitle; }
  void SetLogTitle(std::string text) { published_.LogTitle = std::move(text); }
  uint8_t ModuleType() const { return published_.ModuleTypes; }
  void SetModuleType(uint8_t types) { published_.ModuleTypes = types; }
  uint8_t ModuleOptions() const { return published_.ModuleOptions; }
  void SetModuleOptions(uint8_t options) { published_.ModuleOptions = options & 0x07; }
  uint8_t EnabledByte() const { return published_.EnabledByte; }
  void SetEnabledByte(uint8_t value) { published_.EnabledByte = value; }
  float FrameworkVersion() const { return published_.FrameworkVersion; }
  void SetFrameworkVersion(float version) { published_.FrameworkVersion = version; }
  const std::string& EventsSupported() const { return published_.EventsText; }
  void SetEventsSupported(std::string text) { published_.EventsText = std::move(text); }
  bool IsTemporaryLoad() const { return published_.TemporaryLoad; }
  void SetIsTemporaryLoad(bool on) { published_.TemporaryLoad = on; }
  const std::string& MsgNoData() const { return published_.MsgNoData; }
  const std::string& MsgWriteComplete() const { return published_.MsgWriteComplete; }
  const std::string& MsgWriteCompleteError() const { return published_.MsgWriteCompleteError; }

  // The settings location:
  const std::string& INIFile() const { return settings_.IniFile; }
  void SetINIFile(std::string name) { settings_.IniFile = std::move(name); }
  uint8_t ModuleRegistryRoot1() const { return settings_.RegistryRoot1; }
  uint8_t ModuleRegistryRoot2() const { return settings_.RegistryRoot2; }
  void SetModuleRegistryRoots(uint8_t root1, uint8_t root2) {
    settings_.RegistryRoot1 = root1;
    settings_.RegistryRoot2 = root2;
  }
  const std::string& ModuleRegistryPath() const { return settings_.RegistryPath; }
  const std::string& INISectionPrefix() const { return settings_.SectionPrefix; }
  // Held (for writing) while a settings component loads or saves a list of the instance.
  ReaderWriterLock& SettingsLock() RETURN_CAPABILITY(settings_lock_) { return settings_lock_; }
  // Set while a settings component loads or saves (under the settings lock); read by any thread.
  bool SettingsBusy() const { return settings_busy_.load(); }
  void SetSettingsBusy(bool busy) REQUIRES(settings_lock_) { settings_busy_.store(busy); }
  // Whether the instance has logged that it has no place for settings.
  bool SettingsPlaceMissingLogged() const REQUIRES_SHARED(settings_lock_) {
    return settings_place_missing_logged_;
  }
  void SetSettingsPlaceMissingLogged() REQUIRES(settings_lock_) { settings_place_missing_logged_ = true; }

  // The options dialog:
  bool DialogOpen() const { return dialog_.Open; }
  void SetDialogOpen(bool open) { dialog_.Open = open; }
  uint8_t DialogOptions() const { return dialog_.Options; }
  void SetDialogOptions(uint8_t options) { dialog_.Options = options; }
  IkivParamsListW* DialogParams() const { return dialog_.Params; }
  void SetDialogParams(IkivParamsListW* params) { dialog_.Params = params; }
  WindowHandle OwnerForm() const { return dialog_.OwnerWindow; }
  void SetOwnerForm(WindowHandle window) { dialog_.OwnerWindow = window; }

  // The data path:
  bool TerminateNow() const { return data_.Terminate; }
  void SetTerminateNow(bool on) { data_.Terminate = on; }
  WindowHandle MessageWindow() const { return data_.MessageWindow.load(); }
  void SetMessageWindow(WindowHandle window) { data_.MessageWindow.store(window); }
  uint8_t DataSubscription() const { return data_.Subscription; }
  void SetDataSubscription(uint8_t value) { data_.Subscription = value; }
  std::atomic<bool>& Processing() { return data_.Processing; }

  // Configuration exchanged by commands:
  // The parser items are set by commands and by the inner plugin and read by module information
  // and the plugin interface, on any thread: each of these takes their lock.
  TParserItemList ParserItems() const;  // a copy
  void SetParserItems(TParserItemList items);
  // Replaces the items by those of `text` (see SetParserItemsText in parser_items.h).
  bool SetParserItemsText(std::string_view text);
  // The items' text form, remembered as the last text given by ITEMS.
  std::string ParserItemsText();
  TObjectList& ConfigDataSources() { return *config_.DataSources; }
  const std::string& DataSourceLoadFor() const { return config_.DataSourceSelection; }
  void SetDataSourceLoadFor(std::string text) { config_.DataSourceSelection = std::move(text); }
  TStateSet ModuleEnabled() const { return StateSet(); }

  // Owned lists.
  TLogDataList& LogList() { return *log_; }
  TkivPluginCustomCmdList& CustomCommands() { return *custom_commands_; }

  // What serialises the instance's commands; only the command entry point takes it.
  TCommandGate& Commands() { return commands_; }
  // Holds on this instance: one of the registry while it is registered, one per call that found
  // it (see TPluginRef). Only the registry changes them; the last one to end destroys the
  // instance.
  TInstanceHolds& Holds() { return holds_; }

 private:
  // Construction step 7 and its translation set-up (instance_translation.cpp).
  void SetUpTranslation();
  void ReadHostParameters(IkivParamsListA* params);

  // Each group below states once which threads may touch it. The host's contract makes most of
  // them safe without a lock: commands of one instance are serialised by the command gate, the
  // first LOAD comes before any data call and the last UNLOAD after the last, and what data
  // calls read beside commands is atomic.

  // Life: the command gate, the holds and the load count are operated by their units; the
  // flags make construction's end and destruction's start run once.
  TCommandGate commands_;
  TInstanceHolds holds_;
  std::atomic<int32_t> load_count_{0};  // LOAD minus UNLOAD commands, never below 0
  std::atomic<bool> constructed_{false};
  std::atomic<bool> destroying_{false};
  uintptr_t own_handle_ = 0;  // set once, by creation, before the host learns of the instance

  // The module file that names the instance: fixed by the constructor, read by any thread.
  struct ModuleFile {
    ModuleHandle Handle = nullptr;  // null: this module
    std::string FileName;
    std::string Path;  // folder with a trailing delimiter
    std::string Name;  // file name without folder
    std::string VersionText;
  };
  ModuleFile file_;

  // Host facts: written by the first LOAD (the host module and window also by the last UNLOAD)
  // under the command gate; read by any thread in between.
  struct HostFacts {
    int32_t ModuleIndex = 0;
    ModuleHandle HostModule = nullptr;
    std::string ApplicationName;
    uint32_t ConfigId = 0;
    uint32_t LoaderThread = 0;
    THostFunctions Functions;
  };
  HostFacts host_;

  // What the instance publishes: set by the application while it builds the instance and by
  // module parameters and commands under the command gate; read by any thread.
  struct Published {
    std::string Description;
    std::string LogTitle;
    uint8_t ModuleTypes = 0;
    uint8_t ModuleOptions = 0;
    uint8_t EnabledByte = 1;
    float FrameworkVersion = 0;
    std::string EventsText;
    bool TemporaryLoad = false;
    std::string MsgNoData;
    std::string MsgWriteComplete;
    std::string MsgWriteCompleteError;
  };
  Published published_;

  // Where settings live: the names are set by LOAD and the settings commands under the command
  // gate and read by the settings components; the settings lock serialises those components and
  // guards their flags.
  struct SettingsPlace {
    std::string IniFile;
    uint8_t RegistryRoot1 = 2;
    uint8_t RegistryRoot2 = 1;
    std::string RegistryPath;
    std::string SectionPrefix;
  };
  SettingsPlace settings_;
  ReaderWriterLock settings_lock_;
  std::atomic<bool> settings_busy_{false};  // written under the settings lock only
  bool settings_place_missing_logged_ GUARDED_BY(settings_lock_) = false;

  // The options dialog: written by the dialog exports while a dialog opens and closes (one at a
  // time, on the loader's thread or through it) and by LOAD/UNLOAD; read by the application's
  // handlers during the dialog.
  struct DialogState {
    bool Open = false;
    uint8_t Options = 0;
    IkivParamsListW* Params = nullptr;  // not owned; the dialog call's Input list
    WindowHandle OwnerWindow = nullptr;
  };
  DialogState dialog_;

  // The data path: read by data calls beside commands, without a lock.
  struct DataPath {
    std::atomic<bool> Processing{false};  // a data call runs
    std::atomic<bool> Terminate{false};  // set by UNLOAD, cleared by LOAD
    std::atomic<WindowHandle> MessageWindow{nullptr};  // also read by Log on any thread
    uint8_t Subscription = 0;
  };
  DataPath data_;

  // Configuration exchanged by commands: changed under the command gate. Module information and
  // the plugin interface read it from other threads without the gate; the host does not change
  // the data sources and states while it asks for either. The parser items, which the inner
  // plugin also sets during its calls, have a lock of their own.
  struct Configuration {
    mutable Mutex ItemsLock;
    TParserItemList ParserItems GUARDED_BY(ItemsLock);
    std::string ParserItemsText GUARDED_BY(ItemsLock);  // last text given by ITEMS
    std::unique_ptr<TObjectList> DataSources;  // owning
    std::string DataSourceSelection;
    bool States[8] = {};
  };
  Configuration config_;

  // Translation: set up by the constructor, applied by construction's end and LOAD.
  std::unique_ptr<TWtransl> translator_;
  std::string language_;
  bool translated_ = false;

  // Owned lists, each thread-safe itself; made by the constructor and freed by the destructor.
  std::unique_ptr<TkivPluginCustomCmdList> custom_commands_;
  std::unique_ptr<TLogDataList> log_;
  std::unique_ptr<TThreadStringList> named_objects_;
  // Made on first use, by whichever thread asks first.
  Mutex lazy_lock_;
  std::unique_ptr<TModuleConfigList> module_configs_ GUARDED_BY(lazy_lock_);
  std::unique_ptr<TkivThreadParamsList> custom_values_ GUARDED_BY(lazy_lock_);
};

}  // namespace kiv
