// The module-parameter table: reads and writes of an instance's named properties, the custom
// values and the folders reported among the parameters.
#include "framework/module_params.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "kiv/kiv_defs.h"
#include "paramlist/variant_change.h"
#include "platform/code_page.h"
#include "platform/path_names.h"
#include "platform/special_folders.h"
#include "platform/text_utils.h"
#include "platform/version_info.h"
#include "translation/translator.h"

namespace kiv {

namespace {

Variant Text(std::string_view text) { return Variant::Wide(AnsiToWide(text)); }

// A handle or address as the host's 32-bit integer.
template <class Handle>
Variant HandleValue(Handle handle) {
  return Variant::Int32(static_cast<int32_t>(reinterpret_cast<uintptr_t>(handle)));
}

// The value as 8-bit text; an empty value is the empty text. Nullopt when it does not convert.
std::optional<std::string> ValueText(const Variant& value) {
  if (value.IsEmptyOrNull()) return std::string();
  Variant text;
  if (!VarChangeTypeEx(text, value.Data(), varOleStr)) return std::nullopt;
  return WideToAnsi(text.AsWide());
}

// The value as an integer; an empty value is 0. Nullopt when it is not a number.
std::optional<int32_t> ValueInt(const Variant& value) {
  if (value.IsEmptyOrNull()) return 0;
  if (auto text = ValueText(value); text && TrimBlanks(*text).empty()) return 0;
  Variant number;
  if (!VarChangeTypeEx(number, value.Data(), varInteger)) return std::nullopt;
  return number.Data().VInteger;
}

std::optional<bool> ValueBool(const Variant& value) {
  if (value.IsEmptyOrNull()) return false;
  Variant flag;
  if (!VarChangeTypeEx(flag, value.Data(), varBoolean)) return std::nullopt;
  return flag.Data().VBoolean != 0;
}

// A decimal number of digits only; nullopt for anything else.
std::optional<int> Decimal(std::string_view text) {
  int number = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.front() == '-') return std::nullopt;
  return number;
}

// Whether `text` holds more than line breaks: a list text with an entry to read.
bool HasTextLine(std::string_view text) { return text.find_first_not_of("\r\n") != std::string_view::npos; }

// One row of the table: its name, what a read gives and what a write does (null: read-only).
struct ParameterRow {
  std::string_view Name;
  Variant (*Get)(TkivPlugin& p);
  bool (*Set)(TkivPlugin& p, const Variant& value);
};

template <void (TkivPlugin::*Setter)(std::string)>
bool SetText(TkivPlugin& p, const Variant& value) {
  auto text = ValueText(value);
  if (!text) return false;
  (p.*Setter)(std::move(*text));
  return true;
}

std::string ComponentPropertiesText(TkivPlugin& p) {
  std::string text;
  if (TWtransl* translator = p.Translator()) {
    const TStringList& names = translator->ComponentProperties();
    for (int i = 0; i < names.Count(); ++i) text += names.Strings(i) + "\r\n";
  }
  return text;
}

const ParameterRow kParameterRows[] = {
    {"LogTitle", [](TkivPlugin& p) { return Text(p.LogTitle()); }, &SetText<&TkivPlugin::SetLogTitle>},
    {"Description", [](TkivPlugin& p) { return Text(p.Description()); }, &SetText<&TkivPlugin::SetDescription>},
    {"EventsSupported", [](TkivPlugin& p) { return Text(p.EventsSupported()); },
     &SetText<&TkivPlugin::SetEventsSupported>},
    {"CustomCommands", [](TkivPlugin& p) { return Text(p.CustomCommands().AsText()); },
     [](TkivPlugin& p, const Variant& value) {
       auto text = ValueText(value);
       if (!text) return false;
       // Added to what is there, never cleared first; a text without one command is refused.
       return p.CustomCommands().AddFromText(*text) > 0 || !HasTextLine(*text);
     }},
    {"TranslatorComponentProperties", [](TkivPlugin& p) { return Text(ComponentPropertiesText(p)); },
     [](TkivPlugin& p, const Variant& value) {
       auto text = ValueText(value);
       if (!text) return false;
       if (TWtransl* translator = p.Translator()) {
         TextLines entries;
         SplitTextBy(entries, *text, ";|");
         for (const std::string& entry : entries)
           if (!entry.empty()) translator->ComponentProperties().Add(entry);
       }
       return true;
     }},
    {"ModuleType", [](TkivPlugin& p) { return Variant::Int32(p.ModuleType()); },
     [](TkivPlugin& p, const Variant& value) {
       auto bits = ValueInt(value);
       if (!bits) return false;
       p.SetModuleType(static_cast<uint8_t>(*bits & 0xFF));
       return true;
     }},
    {"ModuleEnabled", [](TkivPlugin& p) { return Variant::Int32(p.ModuleEnabled()); }, nullptr},
    {"ModuleDllHandle", [](TkivPlugin& p) { return HandleValue(p.ModuleDllHandle()); }, nullptr},
    {"ModuleLoadCount", [](TkivPlugin& p) { return Variant::Int32(p.ModuleLoadCount()); }, nullptr},
    {"ModuleIndex", [](TkivPlugin& p) { return Variant::Int32(p.ModuleIndex()); }, nullptr},
    {"ModulePluginHandle", [](TkivPlugin& p) { return Variant::Int32(static_cast<int32_t>(p.ModulePluginHandle())); },
     nullptr},
    {"ModulePath", [](TkivPlugin& p) { return Text(p.ModulePath()); }, nullptr},
    {"ModuleDataPath", [](TkivPlugin& p) { return Text(ModuleDataPath(p)); }, nullptr},
    {"AppDataPath", [](TkivPlugin& p) { return Text(AppDataPath(p)); }, nullptr},
    {"ModuleName", [](TkivPlugin& p) { return Text(p.ModuleName()); }, nullptr},
    {"ModuleLoadForConfig", [](TkivPlugin& p) { return Variant::UInt32(p.ModuleLoadForConfig()); }, nullptr},
    {"ModuleConfigId", [](TkivPlugin& p) { return Text(ModuleConfigId(p)); }, nullptr},
    {"ApplicationFullName", [](TkivPlugin& p) { return Text(p.ApplicationFullName()); }, nullptr},
    {"INIFile", [](TkivPlugin& p) { return Text(p.INIFile()); }, nullptr},
    {"ModuleRegistryRoot1", [](TkivPlugin& p) { return Variant::Int32(p.ModuleRegistryRoot1()); }, nullptr},
    {"ModuleRegistryRoot2", [](TkivPlugin& p) { return Variant::Int32(p.ModuleRegistryRoot2()); }, nullptr},
    {"ModuleRegistryPath", [](TkivPlugin& p) { return Text(p.ModuleRegistryPath()); }, nullptr},
    {"INISectionPrefix", [](TkivPlugin& p) { return Text(p.INISectionPrefix()); }, nullptr},
    {"DisplayFullVersion", [](TkivPlugin& p) { return Text(p.DisplayFullVersion()); }, nullptr},
    {"SdkVersion", [](TkivPlugin&) { return Text(SdkVersionText(KIV_SDK_VERSION)); }, nullptr},
    {"ParserItems", [](TkivPlugin& p) { return Text(ParserItemsText(p.ParserItems())); },
     [](TkivPlugin& p, const Variant& value) {
       auto text = ValueText(value);
       if (!text) return false;
       return p.SetParserItemsText(*text);
     }},
    {"ParserItemsCount",
     [](TkivPlugin& p) { return Variant::Int32(static_cast<int32_t>(ParserItemCount(p.ParserItems()))); }, nullptr},
    {"DataSourceLoadFor", [](TkivPlugin& p) { return Text(p.DataSourceLoadFor()); }, nullptr},
    {"TerminateNow", [](TkivPlugin& p) { return Variant::Bool(p.TerminateNow()); }, nullptr},
    {"IsTemporaryLoad", [](TkivPlugin& p) { return Variant::Bool(p.IsTemporaryLoad()); }, nullptr},
    {"ParentApp", [](TkivPlugin& p) { return HandleValue(p.ParentApp()); }, nullptr},
    {"OWNER-FORM", [](TkivPlugin& p) { return HandleValue(p.OwnerForm()); },
     [](TkivPlugin& p, const Variant& value) {
       auto handle = ValueInt(value);
       if (!handle) return false;
       p.SetOwnerForm(reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(static_cast<uint32_t>(*handle))));
       return true;
     }},
    {"SUBSCRIBE-FOR-DATA", [](TkivPlugin&) { return Variant(); },
     [](TkivPlugin& p, const Variant& value) {
       auto on = ValueBool(value);
       if (!on) return false;
       p.SetDataSubscription(*on ? 1 : 0);
       return true;
     }},
};

const ParameterRow* FindRow(std::string_view name) {
  for (const ParameterRow& row : kParameterRows)
    if (AnsiSameText(row.Name, name)) return &row;
  return nullptr;
}

// "ParserItemName", "ParserItemDesc" and "ParserItemType" with a decimal index of up to three
// digits from the 15th character. An index outside the items reads as empty.
std::optional<Variant> ParserItemField(TkivPlugin& p, std::string_view name) {
  constexpr std::size_t kPrefix = 14;
  if (name.size() <= kPrefix) return std::nullopt;
  const std::string_view field = name.substr(0, kPrefix);
  if (field != "ParserItemName" && field != "ParserItemDesc" && field != "ParserItemType") return std::nullopt;
  const auto index = Decimal(name.substr(kPrefix, 3));
  const TParserItemList items = p.ParserItems();
  if (!index || static_cast<std::size_t>(*index) >= items.size()) return Variant();
  const TParserItem& item = items[static_cast<std::size_t>(*index)];
  if (field == "ParserItemName") return Text(item.Name);
  if (field == "ParserItemDesc") return Text(item.Description);
  return Variant::Int32(item.Type);
}

// The value name of a custom value ("Custom" + optional " ", ":" or "_" + name); nullopt when
// `name` is no custom value.
std::optional<std::string_view> CustomValueName(std::string_view name) {
  constexpr std::string_view kCustom = "Custom";
  if (name.substr(0, kCustom.size()) != kCustom) return std::nullopt;
  std::string_view rest = name.substr(kCustom.size());
  if (!rest.empty() && (rest.front() == ' ' || rest.front() == ':' || rest.front() == '_')) rest.remove_prefix(1);
  if (rest.empty()) return std::nullopt;
  return rest;
}

// The row a short decimal value name stands for, else -1 (a named value).
int CustomValueIndex(std::string_view valueName) {
  if (valueName.size() >= 3) return -1;
  return Decimal(valueName).value_or(-1);
}

constexpr std::string_view kCustomCount = "COUNT";

Variant GetCustomValue(TkivPlugin& p, std::string_view valueName) {
  ReadLocked<TkivParamsList> list(p.CustomValues());
  if (valueName == kCustomCount) return Variant::Int32(list->Count());
  const int index = CustomValueIndex(valueName);
  if (index < 0) return list->IndexOf(valueName) >= 0 ? list->GetValue(valueName) : Variant();
  if (index < list->Count()) return Variant::Copy(list->Items(index)->Value());
  return Variant();
}

void SetCustomValue(TkivPlugin& p, std::string_view valueName, const Variant& value) {
  WriteLocked<TkivParamsList> list(p.CustomValues());
  if (valueName == kCustomCount) {
    list->Clear();
    return;
  }
  const int index = CustomValueIndex(valueName);
  if (index < 0) {
    list->SetValue(valueName, value.Data(), true);
  } else if (index < list->Count()) {
    list->Items(index)->SetValue(value.Data());
  }
}

constexpr std::string_view kTestTranslation = "TESTTRANSL";

}  // namespace

Variant GetModuleParameter(TkivPlugin& plugin, std::string_view name) {
  if (const ParameterRow* row = FindRow(name)) return row->Get(plugin);
  if (auto value = plugin.ApplicationModuleParameter(name)) return std::move(*value);
  if (auto field = ParserItemField(plugin, name)) return std::move(*field);
  if (auto valueName = CustomValueName(name)) return GetCustomValue(plugin, *valueName);
  if (AnsiSameText(name, kTestTranslation)) return Variant::Bool(ProgramHasArgument("/TESTTRANSL"));
  return Variant();
}

bool SetModuleParameter(TkivPlugin& plugin, std::string_view name, const Variant& value) {
  if (const ParameterRow* row = FindRow(name)) return row->Set && row->Set(plugin, value);
  if (auto valueName = CustomValueName(name)) {
    SetCustomValue(plugin, *valueName, value);
    return true;
  }
  return false;
}

std::string AppDataPath(const TkivPlugin& plugin) {
  return GetSpecialFolder(kCsidlCommonAppData, GetToken(plugin.ModuleRegistryPath(), "\\", 4), true);
}

std::string ModuleConfigId(const TkivPlugin& plugin) {
  std::string_view part = plugin.INISectionPrefix();
  part = part.substr(0, part.find('}'));
  if (const auto brace = part.find('{'); brace != std::string_view::npos) part.remove_prefix(brace + 1);
  if (const auto colon = part.find(':'); colon != std::string_view::npos) part.remove_prefix(colon + 1);
  return std::string(part);
}

std::string ModuleDataFolderName(TkivPlugin& plugin) {
  std::string name;
  if (plugin.ModuleConfigName(plugin.ModuleLoadForConfig(), &name) < 0) {
    name = plugin.Description().substr(0, plugin.Description().find_first_of("\r\n"));
    if (name.empty()) {
      const std::string& file = plugin.ModuleName();
      return AnsiLowerCase(file.substr(0, file.rfind('.')));
    }
  }
  for (char& c : name)
    if (static_cast<unsigned char>(c) < ' ' || std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) c = '-';
  return name;
}

std::string ModuleDataPath(TkivPlugin& plugin) {
  return WithPathDelim(WithPathDelim(AppDataPath(plugin) + ModuleConfigId(plugin)) + ModuleDataFolderName(plugin));
}

}  // namespace kiv
