// TkivPlugin: construction, destruction, the log, named objects, module configurations,
// custom values and states.
#include "framework/plugin.h"

#include <cstdio>

#include "framework/call_params.h"
#include "platform/path_names.h"
#include "platform/version_info.h"
#include "translation/translator.h"

namespace kiv {

namespace {

constexpr const char* kInitialMsgNoData = "No data for processing";
constexpr const char* kInitialMsgWriteComplete = "Data have been processed successfully";
constexpr const char* kInitialMsgWriteCompleteError = "Data have been processed with errors";

// The file-name part of `fileName` (after the last folder delimiter).
std::string FileNamePart(const std::string& fileName) {
  return fileName.substr(FileFolder(fileName).size());
}

}  // namespace

TkivPlugin::TkivPlugin(TPluginCallRec* rec, ModuleHandle module) : TComponent(nullptr) {
  // 1. Module handle; the locks and counters are members that start at 0.
  file_.Handle = module;
  // 2. A record without a parameter list means a brief load; "TEMPORARY-LOAD" overrides.
  if (rec) {
    published_.TemporaryLoad = rec->Params == 0;
    bool value = false;
    if (ReadCallBool(CallParams(*rec), "TEMPORARY-LOAD", value)) published_.TemporaryLoad = value;
  }
  // 3. Lists and defaults.
  SetParserItems(TParserItemList(1));
  config_.DataSources = std::make_unique<TObjectList>(true);
  custom_commands_ = std::make_unique<TkivPluginCustomCmdList>();
  log_ = std::make_unique<TLogDataList>(kLogLineLimit);
  // 4. Module file and its version.
  file_.FileName = CurrentHostPlatform().ModuleFileName(file_.Handle);
  try {
    const TkivVersionInfo info(file_.FileName);
    if (info.Valid) file_.VersionText = info.VersionText();
  } catch (...) {
    file_.VersionText.clear();
  }
  // 5. Version number and texts.
  published_.FrameworkVersion = kFrameworkVersionMajor + kFrameworkVersionMinor / 10.0f;
  published_.MsgNoData = kInitialMsgNoData;
  published_.MsgWriteComplete = kInitialMsgWriteComplete;
  published_.MsgWriteCompleteError = kInitialMsgWriteCompleteError;
  PublishTextField("MsgNoData", published_.MsgNoData);
  PublishTextField("MsgWriteComplete", published_.MsgWriteComplete);
  PublishTextField("MsgWriteCompleteError", published_.MsgWriteCompleteError);
  // 6. Name and folder of the module file.
  file_.Name = FileNamePart(file_.FileName);
  file_.Path = FileFolder(file_.FileName);
  // 7. Translator and language.
  SetUpTranslation();
  // 8. Named objects.
  named_objects_ = std::make_unique<TThreadStringList>();
}

void TkivPlugin::AfterConstruction() {
  if (constructed_.exchange(true)) return;
  // 9. The design is the subclass's constructor; OnCreate follows it.
  if (OnCreate) OnCreate(this);
  // 10. Initial translation.
  if (translator_ && !translator_->LanguageFile().empty()) Translate();
}

void TkivPlugin::BeforeDestruction() {
  if (destroying_.exchange(true)) return;
  if (OnDestroy) OnDestroy(this);
}

TkivPlugin::~TkivPlugin() {
  try {
    BeforeDestruction();
  } catch (...) {
    // Destruction goes on.
  }
  {
    LockGuard<Mutex> guard(config_.ItemsLock);
    config_.ParserItemsText.clear();
    config_.ParserItems.clear();
  }
  config_.DataSources.reset();
  translator_.reset();
  custom_commands_.reset();
  custom_values_.reset();
  module_configs_.reset();
  named_objects_.reset();
  log_.reset();
  // The settings lock and then the command gate go with the members.
}

std::optional<Variant> TkivPlugin::ApplicationModuleParameter(std::string_view) { return std::nullopt; }

void TkivPlugin::Log(uint8_t level, std::string_view text, bool flag) noexcept {
  if (!log_ || destroying_.load()) return;
  try {
    log_->AddLine(MakeLogEntry(level, text, flag, published_.LogTitle));
    NotifyLog();
  } catch (...) {
    // Logging never fails its caller.
  }
}

void TkivPlugin::NotifyLog() noexcept {
  WindowHandle window = data_.MessageWindow.load();
  if (!window) return;
  try {
    const HostPlatform& platform = CurrentHostPlatform();
    const auto index = static_cast<uintptr_t>(static_cast<uint32_t>(host_.ModuleIndex));
    if (!platform.PostNotice(window, kMsgLogNotify, index, 0))
      platform.SendNoticeTimeout(window, kMsgLogNotify, index, 0, kNotifySendTimeout);
  } catch (...) {
    // The host learns of the lines at its next collection.
  }
}

void TkivPlugin::SetNamedObject(std::string_view name, TObject* object) {
  WriteLocked<TStringList> list(*named_objects_);
  const int index = list->IndexOf(name);
  if (index >= 0)
    list->PutObject(index, object);
  else
    list->AddObject(std::string(name), object);
}

TObject* TkivPlugin::GetNamedObject(std::string_view name) {
  ReadLocked<TStringList> list(*named_objects_);
  const int index = list->IndexOf(name);
  return index >= 0 ? static_cast<TObject*>(list->Objects(index)) : nullptr;
}

TObject* TkivPlugin::RemoveNamedObject(std::string_view name) {
  WriteLocked<TStringList> list(*named_objects_);
  const int index = list->IndexOf(name);
  if (index < 0) return nullptr;
  auto* object = static_cast<TObject*>(list->Objects(index));
  list->Delete(index);
  return object;
}

TModuleConfigList& TkivPlugin::ModuleConfigs() {
  LockGuard<Mutex> guard(lazy_lock_);
  if (!module_configs_) module_configs_ = std::make_unique<TModuleConfigList>();
  return *module_configs_;
}

std::string TkivPlugin::ModuleConfigsText() {
  TModuleConfigList& configs = ModuleConfigs();
  ReadLocked<TStringList> list(configs);
  std::string text;
  for (int i = 0; i < list->Count(); ++i) {
    if (i > 0) text += "\r\n";
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(list->Objects(i))));
    text += list->Strings(i);
    text += '\t';
    text += hex;
  }
  return text;
}

int TkivPlugin::ModuleConfigName(uint32_t id, std::string* name) {
  if (name) name->clear();
  if (id == 0) return -1;
  TModuleConfigList& configs = ModuleConfigs();
  ReadLocked<TStringList> list(configs);
  for (int i = 0; i < list->Count(); ++i) {
    if (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(list->Objects(i))) == id) {
      if (name) *name = list->Strings(i);
      return i;
    }
  }
  return -1;
}

TkivThreadParamsList& TkivPlugin::CustomValues() {
  LockGuard<Mutex> guard(lazy_lock_);
  if (!custom_values_) custom_values_ = std::make_unique<TkivThreadParamsList>();
  return *custom_values_;
}

TStateSet TkivPlugin::StateSet() const {
  TStateSet set = 0;
  for (int i = kStateLow; i <= kStateHigh; ++i)
    if (config_.States[i]) set |= static_cast<TStateSet>(1u << i);
  return set;
}

TStateSet TkivPlugin::StateSetFromValue(uint32_t value, bool onlyActive) const {
  TStateSet set = 0;
  for (int i = kStateLow; i <= kStateHigh; ++i)
    if ((value & (1u << i)) && (!onlyActive || config_.States[i])) set |= static_cast<TStateSet>(1u << i);
  return set;
}

std::string TkivPlugin::ReadIniFile(IkivParamsListA* params, bool store) {
  std::string name;
  ReadCallText(params, "INI-FILE", name);
  if (store) settings_.IniFile = name;
  return name;
}

TParserItemList TkivPlugin::ParserItems() const {
  LockGuard<Mutex> guard(config_.ItemsLock);
  return config_.ParserItems;
}

void TkivPlugin::SetParserItems(TParserItemList items) {
  LockGuard<Mutex> guard(config_.ItemsLock);
  config_.ParserItems = std::move(items);
}

bool TkivPlugin::SetParserItemsText(std::string_view text) {
  LockGuard<Mutex> guard(config_.ItemsLock);
  return kiv::SetParserItemsText(config_.ParserItems, text);
}

std::string TkivPlugin::ParserItemsText() {
  LockGuard<Mutex> guard(config_.ItemsLock);
  config_.ParserItemsText = kiv::ParserItemsText(config_.ParserItems);
  return config_.ParserItemsText;
}

}  // namespace kiv
