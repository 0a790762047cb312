#include "settings/wreg.h"

#include <cstring>
#include <memory>

#include "settings/file_stream.h"
#include "settings/format_settings.h"
#include "settings/ini_file.h"
#include "settings/named_ini_lock.h"
#include "settings/registry.h"
#include "settings/setting_codec.h"
#include "settings/setting_value.h"

namespace kiv {

namespace {

enum class KindClass { kNone, kInteger, kFloat, kText };

KindClass ClassOf(TTypeKind kind) {
  switch (kind) {
    case tkInteger:
    case tkInt64:
      return KindClass::kInteger;
    case tkFloat:
      return KindClass::kFloat;
    case tkChar:
    case tkEnumeration:
    case tkString:
    case tkClass:
    case tkWChar:
    case tkLString:
    case tkWString:
    case tkVariant:
      return KindClass::kText;
    default:
      return KindClass::kNone;
  }
}

// A stored value that does not fit its item, or a registry call that failed.
class EBadSetting : public Exception {
 public:
  using Exception::Exception;
};

std::string LittleEndian(std::uint64_t bits, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(bits >> (8 * i));
  return bytes;
}

std::uint64_t FromLittleEndian(const std::string& bytes) {
  std::uint64_t bits = 0;
  for (std::size_t i = bytes.size(); i-- > 0;)
    bits = bits << 8 | static_cast<unsigned char>(bytes[i]);
  return bits;
}

double DoubleFromBytes(const std::string& bytes) {
  const std::uint64_t bits = FromLittleEndian(bytes);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string DoubleToBytes(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return LittleEndian(bits, 8);
}

// A text value of the same string type as `like`.
Variant TextLike(const Variant& like, const std::string& text) {
  return (like.VType() & varTypeMask) == varOleStr ? Variant::Wide(AnsiToWide(text))
                                                   : Variant::Ansi(text);
}

}  // namespace

struct TWreg::Place {
  Storage storage = Storage::kRegistry;
  TRegistry* registry = nullptr;
  TkivIniFile* ini = nullptr;
  std::string section;  // INI and custom storage

  // Removes a registry value that could not be read or written; failures are ignored.
  void DropBadValue(const std::string& valueName) const {
    if (storage == Storage::kRegistry) registry->DeleteValue(valueName);
  }
};

std::uint32_t RegistryRootKey(TRegistryRoot root) {
  switch (root) {
    case rrHKEY_CLASSES_ROOT:
      return kHKeyClassesRoot;
    case rrHKEY_CURRENT_USER:
      return kHKeyCurrentUser;
    case rrHKEY_LOCAL_MACHINE:
      return kHKeyLocalMachine;
    case rrHKEY_USERS:
      return kHKeyUsers;
    case rrHKEY_CURRENT_CONFIG:
      return kHKeyCurrentConfig;
    default:
      return 0;
  }
}

TWreg::TWreg(TComponent* owner) : TComponent(owner) {
  const auto asRoot = [](int value) {
    return value >= rrHKEY_CLASSES_ROOT && value <= rrNone ? static_cast<TRegistryRoot>(value)
                                                           : rrNone;
  };
  PublishOrdinal(
      "RegistryRoot", [this] { return static_cast<int>(registryRoot_); },
      [this, asRoot](int v) { registryRoot_ = asRoot(v); });
  PublishOrdinal(
      "SecondRegistryRoot", [this] { return static_cast<int>(secondRegistryRoot_); },
      [this, asRoot](int v) { secondRegistryRoot_ = asRoot(v); });
  PublishTextField("RegistryPath", registryPath_);
  PublishTextField("INIFile", iniFile_);
  PublishTextField("INIFileSectionPrefix", iniFileSectionPrefix_);
  PublishObject("Components", [this] { return &components_; });
}

TWreg::~TWreg() = default;

void TWreg::SetComponents(const std::vector<std::string>& lines) {
  components_.BeginUpdate();
  components_.Clear();
  for (const std::string& line : lines) components_.Add(line);
  components_.EndUpdate();
}

bool TWreg::Load() { return Run(false); }
bool TWreg::Save() { return Run(true); }

bool TWreg::ChooseRegistryRoot(TRegistry& registry, bool save) const {
  // The probe asks for full access, so a root the user may not write to is passed over.
  const auto probe = [&](TRegistryRoot root) {
    const std::uint32_t key = RegistryRootKey(root);
    if (key == 0) return false;
    registry.SetRootKey(key);
    const bool opened = registry.OpenKey(registryPath_, save && !registryPath_.empty());
    registry.CloseKey();
    return opened;
  };
  if (registryRoot_ == rrNone || RegistryRootKey(registryRoot_) == 0) return false;
  return probe(registryRoot_) || probe(secondRegistryRoot_);
}

bool TWreg::Fail(TSettingsFailure failure, std::string text) {
  failure_ = failure;
  failureText_ = std::move(text);
  return false;
}

bool TWreg::Run(bool save) {
  failure_ = TSettingsFailure::kNone;
  failureText_.clear();
  std::vector<std::string> lines;
  for (int i = 0; i < components_.Count(); ++i) lines.push_back(components_.Get(i));
  const std::vector<TSettingItem> items = ParseSettingItems(lines);

  Place place;
  if (iniFile_ == kCustomStorage)
    place.storage = Storage::kCustom;
  else if (!iniFile_.empty() && (save || FileExists(iniFile_)))
    place.storage = Storage::kIni;

  const auto processItems = [&] {
    bool result = false;
    for (const TSettingItem& item : items) {
      try {
        if (place.storage == Storage::kRegistry) {
          if (!place.registry->OpenKey(RegistryStoreKey(registryPath_, item.KeyPath), save))
            continue;
        } else {
          place.section = IniSectionName(iniFileSectionPrefix_, item.KeyPath);
        }
        bool isRequireProcessing = false, isVirtual = true;
        TTypeKind kind = tkUnknown;
        DoBeforeProcessItem(this, std::string(), item.Index, isRequireProcessing, isVirtual, kind);
        if (!isRequireProcessing || kind == tkUnknown) continue;
        if (place.storage == Storage::kIni && !IsStorableIniKey(item.ValueName)) {
          // Written as a key, such a name would add a line on every save or start a section.
          if (ItemSkipped) ItemSkipped(this, item.Index, item.ValueName);
          continue;
        }
        if (save) {
          result = true;
          SaveItem(place, item, kind);
        } else if (LoadItem(place, item, kind)) {
          result = true;
        }
      } catch (...) {
        // An error inside one item does not stop the others.
      }
    }
    return result;
  };

  switch (place.storage) {
    case Storage::kCustom:
      return processItems();
    case Storage::kRegistry: {
      // An empty path would put every value at the root key itself, where it mixes with
      // everything else there and outlives its owner.
      if (registryPath_.find_first_not_of('\\') == std::string::npos) {
        if (!iniFile_.empty()) return false;  // a load before the INI file was first saved
        return Fail(TSettingsFailure::kNoPlace, "Neither a registry path nor an INI file is set");
      }
      TRegistry registry;
      if (!ChooseRegistryRoot(registry, save)) {
        if (!save) return false;  // nothing stored yet
        return Fail(TSettingsFailure::kNoRegistryKey,
                    "Cannot open or create the registry key \"" + registryPath_ + "\"");
      }
      place.registry = &registry;
      return processItems();
    }
    case Storage::kIni:
      break;
  }
  std::unique_ptr<TNamedIniLock> lock;
  try {
    lock = std::make_unique<TNamedIniLock>(IniLockName(iniFile_));
  } catch (const std::exception& e) {
    // Without the lock another process could lose our writes or we its.
    return Fail(TSettingsFailure::kLockUnavailable, e.what());
  }
  TNamedIniLockGuard guard(*lock, lockTimeoutMs_);
  if (!guard.Owns()) {  // the holder outlasted the wait: touch nothing
    return Fail(TSettingsFailure::kLockTimeout,
                "The INI file \"" + iniFile_ + "\" was locked by another user for more than " +
                    std::to_string(lockTimeoutMs_) + " ms");
  }
  TkivIniFile ini(iniFile_);  // an existing file that cannot be opened raises to the caller
  place.ini = &ini;
  const bool result = processItems();
  try {
    ini.UpdateFile();
  } catch (const std::exception& e) {
    // The old file stays as it was: a save has failed, while a load still read its values.
    if (save) return Fail(TSettingsFailure::kFileNotWritten, e.what());
  }
  return result;
}

bool TWreg::LoadItem(Place& place, const TSettingItem& item, TTypeKind kind) {
  Variant value = Variant::Null();
  try {
    if (!ReadValue(place, item, kind, value)) return false;
  } catch (...) {
    place.DropBadValue(item.ValueName);  // bad stored data cleans itself up
    return false;
  }
  try {
    DoSetValue(this, std::string(), item.Index, value);
  } catch (...) {
    place.DropBadValue(item.ValueName);
  }
  return true;
}

void TWreg::SaveItem(Place& place, const TSettingItem& item, TTypeKind kind) {
  Variant value;
  try {
    DoGetValue(this, std::string(), item.Index, value);
  } catch (...) {
    return;  // the handler failed: neither written nor deleted
  }
  try {
    WriteValue(place, item, kind, value);
  } catch (...) {
    place.DropBadValue(item.ValueName);
  }
}

bool TWreg::ReadValue(Place& place, const TSettingItem& item, TTypeKind kind, Variant& value) {
  const std::string& name = item.ValueName;
  if (place.storage == Storage::kCustom)
    return CustomReadValue(this, std::string(), item.Index, kind, place.section, name, value);
  const KindClass kindClass = ClassOf(kind);

  if (place.storage == Storage::kIni) {
    if (!place.ini->ValueExists(place.section, name) || kindClass == KindClass::kNone) return false;
    if (kindClass == KindClass::kInteger)
      value = Variant::Int32(place.ini->ReadInteger(place.section, name, 0));
    else if (kindClass == KindClass::kFloat)
      value = Variant::Double(place.ini->ReadFloat(place.section, name, 0));
    else
      value = Variant::Ansi(place.ini->ReadString(place.section, name, std::string()));
    return true;
  }

  TRegistry& registry = *place.registry;
  if (!registry.ValueExists(name) || kindClass == KindClass::kNone) return false;
  std::uint32_t type = 0;
  std::string data;
  if (!registry.ReadValue(name, type, data))
    throw EBadSetting("Failed to get data for '" + name + "'");
  const bool isDword = type == kRegDword && data.size() == 4;
  const bool isDouble = type == kRegBinary && data.size() == 8;
  if (kindClass == KindClass::kInteger && isDword) {
    value = Variant::Int32(static_cast<std::int32_t>(FromLittleEndian(data)));
  } else if (kindClass == KindClass::kFloat && isDouble) {
    value = Variant::Double(DoubleFromBytes(data));
  } else if (kindClass == KindClass::kText && isDword) {
    value = Variant::Ansi(std::to_string(static_cast<std::int32_t>(FromLittleEndian(data))));
  } else if (kindClass == KindClass::kText && isDouble) {
    value = Variant::Ansi(FloatToStr(DoubleFromBytes(data), UserFormatSettings()));
  } else if (kindClass == KindClass::kText && (type == kRegSz || type == kRegExpandSz)) {
    value = Variant::Ansi(data);
  } else {
    throw EBadSetting("Invalid data type for '" + name + "'");
  }
  return true;
}

void TWreg::WriteValue(Place& place, const TSettingItem& item, TTypeKind kind,
                       const Variant& value) {
  const std::string& name = item.ValueName;
  if (place.storage == Storage::kCustom) {
    CustomWriteValue(this, std::string(), item.Index, kind, place.section, name, value);
    return;
  }
  if (value.IsEmptyOrNull()) {  // an empty value removes the stored entry
    if (place.storage == Storage::kIni)
      place.ini->DeleteKey(place.section, name);
    else
      place.registry->DeleteValue(name);
    return;
  }
  const KindClass kindClass = ClassOf(kind);
  if (place.storage == Storage::kIni) {
    TkivIniFile& ini = *place.ini;
    if (kindClass == KindClass::kInteger)
      ini.WriteInteger(place.section, name, VarToInt32(value));
    else if (kindClass == KindClass::kFloat)
      ini.WriteFloat(place.section, name, VarToDouble(value));
    else if (kindClass == KindClass::kText)
      ini.WriteString(place.section, name, VarToText(value));
    return;
  }
  bool written = true;
  if (kindClass == KindClass::kInteger) {
    const auto bits = static_cast<std::uint32_t>(VarToInt32(value));
    written = place.registry->WriteValue(name, kRegDword, LittleEndian(bits, 4));
  } else if (kindClass == KindClass::kFloat) {
    written = place.registry->WriteValue(name, kRegBinary, DoubleToBytes(VarToDouble(value)));
  } else if (kindClass == KindClass::kText) {
    written = place.registry->WriteValue(name, kRegSz, VarToText(value));
  }
  if (!written) throw EBadSetting("Failed to set data for '" + name + "'");
}

void TWreg::DoSetValue(TObject* Sender, const std::string& Name, int Index, const Variant& Value) {
  if (!SetValue) return;
  Variant copy = Value;
  if (!copy.IsEmptyOrNull() && VarIsText(copy))
    copy = TextLike(copy, DecodeSettingText(VarTextAnsi(copy)));
  SetValue(Sender, Name, Index, copy);
}

void TWreg::DoGetValue(TObject* Sender, const std::string& Name, int Index, Variant& Value) {
  if (!GetValue) return;
  GetValue(Sender, Name, Index, Value);
  if (!Value.IsEmptyOrNull() && VarIsText(Value))
    Value = TextLike(Value, EncodeSettingText(VarTextAnsi(Value)));
}

bool TWreg::CustomWriteValue(TObject*, const std::string&, int, TTypeKind, const std::string&,
                             const std::string&, const Variant&) {
  return false;
}

bool TWreg::CustomReadValue(TObject*, const std::string&, int, TTypeKind, const std::string&,
                            const std::string&, Variant&) {
  return false;
}

void TWreg::DoBeforeProcessItem(TObject* Sender, const std::string& Name, int Index,
                                bool& IsRequireProcessing, bool& IsVirtual, TTypeKind& ItemType) {
  if (BeforeProcessItem)
    BeforeProcessItem(Sender, Name, Index, IsRequireProcessing, IsVirtual, ItemType);
}

}  // namespace kiv
