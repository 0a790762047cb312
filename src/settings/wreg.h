// TWreg, the settings component: loads and saves a list of named values in the registry, in
// an INI file (serialised across processes by the named INI lock) or in custom storage, and
// hands each value to, or asks it from, its handlers. Create one per operation, set where the
// values live, assign the item list and the handlers, call Load or Save once, free it.
// One thread uses one object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "paramlist/variant.h"
#include "settings/named_ini_lock.h"
#include "settings/setting_items.h"
#include "support/component.h"
#include "support/string_list.h"

namespace kiv {

class TkivIniFile;
class TRegistry;

enum TRegistryRoot : int {
  rrHKEY_CLASSES_ROOT,
  rrHKEY_CURRENT_USER,
  rrHKEY_LOCAL_MACHINE,
  rrHKEY_USERS,
  rrHKEY_CURRENT_CONFIG,
  rrNone,
};

// Run-time type kinds; the kind of an item decides how it is stored.
enum TTypeKind : int {
  tkUnknown,
  tkInteger,
  tkChar,
  tkEnumeration,
  tkFloat,
  tkString,
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkLString,
  tkWString,
  tkVariant,
  tkArray,
  tkRecord,
  tkInterface,
  tkInt64,
  tkDynArray,
};

// Why a Load or Save did not do its work. A load that finds nothing stored yet (no INI file,
// no registry key) and a save with nothing to write are not failures.
enum class TSettingsFailure {
  kNone,
  kNoPlace,          // no INI file and no registry path: settings have no place to live
  kNoRegistryKey,    // Save: no registry root let the key be opened or created
  kLockUnavailable,  // the INI lock's system objects could not be created
  kLockTimeout,      // another holder kept the INI lock beyond LockTimeoutMs
  kFileNotWritten,   // Save: the INI file could not be written back; it keeps its old contents
};

class TWreg : public TComponent {
 public:
  using TSetValueProc = std::function<void(TObject* Sender, const std::string& Name, int Index,
                                           const Variant& Value)>;
  using TGetValueProc =
      std::function<void(TObject* Sender, const std::string& Name, int Index, Variant& Value)>;
  using TBeforeProcessItemProc =
      std::function<void(TObject* Sender, const std::string& Name, int Index,
                         bool& IsRequireProcessing, bool& IsVirtual, TTypeKind& ItemType)>;
  // Told about an item that INI storage skips because its value name would not read back
  // as the same key (see IsStorableIniKey).
  using TItemSkippedProc =
      std::function<void(TObject* Sender, int Index, const std::string& ValueName)>;

  // The literal INI file name that selects custom storage.
  static constexpr const char* kCustomStorage = "$CUSTOM$";

  explicit TWreg(TComponent* owner = nullptr);
  ~TWreg() override;
  std::string ClassName() const override { return "TWreg"; }

  // Reads every item and hands each stored value to SetValue; true when one was read.
  // Only the INI file's open error (EFOpenError) leaves this call. False, with Failure() set,
  // when the INI lock could not be had within LockTimeoutMs or there is no place for settings
  // (no INI file and an empty registry path: the values would land at a registry root).
  bool Load();
  // Asks GetValue for every item and writes it; true when an item was processed. False, with
  // Failure() set, when the INI lock could not be had within LockTimeoutMs, the INI file could
  // not be written (a missing folder, a file held open by another program), no registry key
  // could be opened or created, or there is no place for settings (as for Load).
  bool Save();
  // How the last Load or Save failed (kNone when it did not), and why in words, for a log.
  TSettingsFailure Failure() const { return failure_; }
  const std::string& FailureText() const { return failureText_; }

  TRegistryRoot RegistryRoot() const { return registryRoot_; }
  void SetRegistryRoot(TRegistryRoot root) { registryRoot_ = root; }
  TRegistryRoot SecondRegistryRoot() const { return secondRegistryRoot_; }
  void SetSecondRegistryRoot(TRegistryRoot root) { secondRegistryRoot_ = root; }
  const std::string& RegistryPath() const { return registryPath_; }
  void SetRegistryPath(std::string path) { registryPath_ = std::move(path); }
  const std::string& INIFile() const { return iniFile_; }
  void SetINIFile(std::string file) { iniFile_ = std::move(file); }
  // How long Load and Save wait for the INI lock, in milliseconds.
  unsigned LockTimeoutMs() const { return lockTimeoutMs_; }
  void SetLockTimeoutMs(unsigned ms) { lockTimeoutMs_ = ms; }
  const std::string& INIFileSectionPrefix() const { return iniFileSectionPrefix_; }
  void SetINIFileSectionPrefix(std::string prefix) { iniFileSectionPrefix_ = std::move(prefix); }
  // The item list, one item per line; setting it copies the lines. (The owned components of
  // the base class stay reachable as Components(index).)
  using TComponent::Components;
  const TStringList& Components() const { return components_; }
  void SetComponents(const TStrings& lines) { components_.Assign(lines); }
  void SetComponents(const std::vector<std::string>& lines);

  // The handlers; each may be empty.
  TSetValueProc SetValue;
  TGetValueProc GetValue;
  TBeforeProcessItemProc BeforeProcessItem;
  TItemSkippedProc ItemSkipped;

 protected:
  // Decodes a text value with DecodeSettingText, then calls SetValue.
  virtual void DoSetValue(TObject* Sender, const std::string& Name, int Index,
                          const Variant& Value);
  // Calls GetValue, then encodes a text value with EncodeSettingText.
  virtual void DoGetValue(TObject* Sender, const std::string& Name, int Index, Variant& Value);
  // Storage hooks of custom storage ("$CUSTOM$"); `Section` is computed as for INI storage.
  // Here the write hook stores nothing and the read hook finds nothing (both return false).
  virtual bool CustomWriteValue(TObject* Sender, const std::string& Name, int Index,
                                TTypeKind ItemType, const std::string& Section,
                                const std::string& ValueName, const Variant& Value);
  virtual bool CustomReadValue(TObject* Sender, const std::string& Name, int Index,
                               TTypeKind ItemType, const std::string& Section,
                               const std::string& ValueName, Variant& Value);
  // Calls BeforeProcessItem with the arguments unchanged.
  virtual void DoBeforeProcessItem(TObject* Sender, const std::string& Name, int Index,
                                   bool& IsRequireProcessing, bool& IsVirtual, TTypeKind& ItemType);

 private:
  enum class Storage { kCustom, kIni, kRegistry };
  struct Place;  // where one item lives during the operation

  bool Run(bool save);
  bool ChooseRegistryRoot(TRegistry& registry, bool save) const;
  bool Fail(TSettingsFailure failure, std::string text);
  bool LoadItem(Place& place, const TSettingItem& item, TTypeKind kind);
  void SaveItem(Place& place, const TSettingItem& item, TTypeKind kind);
  bool ReadValue(Place& place, const TSettingItem& item, TTypeKind kind, Variant& value);
  void WriteValue(Place& place, const TSettingItem& item, TTypeKind kind, const Variant& value);

  TRegistryRoot registryRoot_ = rrHKEY_LOCAL_MACHINE;
  TRegistryRoot secondRegistryRoot_ = rrHKEY_CURRENT_USER;
  std::string registryPath_ = "\\Software\\Company name\\App name";
  std::string iniFile_;
  std::string iniFileSectionPrefix_;
  unsigned lockTimeoutMs_ = TNamedIniLock::kDefaultTimeoutMs;
  TStringList components_;
  TSettingsFailure failure_ = TSettingsFailure::kNone;
  std::string failureText_;
};

// The predefined key of a root; 0 for rrNone and values out of range.
std::uint32_t RegistryRootKey(TRegistryRoot root);

}  // namespace kiv
