#include "framework/list_save.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/log_list.h"
#include "framework/plugin.h"
#include "paramlist/params_list.h"
#include "platform/code_page.h"
#include "plugin_call_helper.h"
#include "settings/registry.h"
#include "settings/registry_key_helper.h"
#include "settings/setting_codec.h"
#include "settings/setting_value.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

constexpr int32_t kParser = static_cast<int32_t>(0x80000000u);

std::string Text(const TkivParamsListItem* item) { return VarTextAnsi(item->Value()); }

// One item of every parser-item type (and two plain variant types) with a sample value.
struct Sample {
  const char* name;
  int32_t dataType;
  Variant value;
};

std::vector<Sample> Samples() {
  std::vector<Sample> s;
  s.push_back({"Text", kParser | 0, Variant::Wide(u"caf\u00e9 50% a+b")});
  s.push_back({"Flag", kParser | 4, Variant::Bool(true)});
  s.push_back({"Off", kParser | 4, Variant::Bool(false)});
  s.push_back({"Ratio", kParser | 5, Variant::Double(2.625)});
  s.push_back({"Small", kParser | 6, Variant::Int16(-1234)});
  s.push_back({"Word", kParser | 7, Variant::UInt16(65000)});
  s.push_back({"Int", kParser | 8, Variant::Int32(-100000)});
  s.push_back({"When", kParser | 11, Variant::Date(45000.75)});
  s.push_back({"Big", kParser | 12, Variant::UInt32(4000000000u)});
  s.push_back({"Byte", kParser | 13, Variant::UInt8(200)});
  s.push_back({"Tiny", kParser | 14, Variant::Int8(-100)});
  s.push_back({"Long", kParser | 15, Variant::Int64(123456789)});
  s.push_back({"Money", kParser | 16, Variant::Currency(12345)});
  s.push_back({"Plain", varOleStr, Variant::Wide(u"plain")});
  s.push_back({"Any", 0, Variant::Wide(u"anything")});
  return s;
}

// `withValues`: the samples' values; otherwise every item starts empty.
ParamsListPtr SampleList(bool withValues, int32_t tag) {
  ParamsListPtr list = TkivParamsList::Create();
  list->SetTag(tag);
  for (const Sample& s : Samples()) {
    TkivParamsListItem* item = list->Add(s.name, Variant());
    item->SetDataType(s.dataType);
    if (withValues) item->SetValue(s.value);  // the store form keeps the value's own type
  }
  return list;
}

void ExpectSamplesLoaded(const TkivParamsList& list) {
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.name);
    const TkivParamsListItem* item = list.Find(s.name);
    ASSERT_NE(item, nullptr);
    const TVarType type = ItemVariantType(s.dataType);
    if (type == varOleStr || type == varEmpty) {
      EXPECT_EQ(Text(item), VarTextAnsi(s.value));
    } else {
      EXPECT_EQ(item->Value().VType, type);
      EXPECT_EQ(VarToText(item->Value()), VarToText(s.value));
    }
  }
}

class ListSave : public ::testing::Test {
 protected:
  // Settings stored through the instance: the registry below a test key of the current user,
  // and INI files in a temporary folder.
  ListSave() : plugin_(nullptr, nullptr) {
    testing::PreparedCall call;
    call.Text("REGISTRY-PATH", AnsiToWide(key_.Path()));
    plugin_.PluginLoad(call.Rec());
    plugin_.SetModuleRegistryRoots(rrHKEY_CURRENT_USER, rrNone);
  }

  std::string Ini() const { return dir_.Path("settings.ini"); }
  std::string IniText() const { return test::ReadFileBytes(Ini()); }

  test::TestRegistryKey key_;
  test::TempFolder dir_;
  TkivPlugin plugin_;
};

TEST_F(ListSave, EveryItemTypeRoundTripsThroughAnIniFileAndTheRegistry) {
  for (const std::string& ini : {Ini(), std::string()}) {
    SCOPED_TRACE(ini.empty() ? "registry" : "INI file");
    ParamsListPtr saved = SampleList(true, 1);
    ASSERT_TRUE(SaveListSettings(plugin_, *saved, "Device", ini));
    ParamsListPtr loaded = SampleList(false, 1);
    ASSERT_TRUE(LoadListSettings(plugin_, *loaded, "Device", ini));
    ExpectSamplesLoaded(*loaded);
  }
  // The registry holds them below the instance's path and the section, typed by kind.
  TRegistry registry(kHKeyCurrentUser);
  ASSERT_TRUE(registry.OpenKey(key_.Path() + "\\Device", false));
  uint32_t type = 0;
  std::string data;
  ASSERT_TRUE(registry.ReadValue("Flag", type, data));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, "True");
  ASSERT_TRUE(registry.ReadValue("Int", type, data));
  EXPECT_EQ(type, kRegDword);
  ASSERT_TRUE(registry.ReadValue("Ratio", type, data));
  EXPECT_EQ(type, kRegBinary);
  EXPECT_NE(IniText().find("[Device]"), std::string::npos);
  EXPECT_NE(IniText().find("Flag=True"), std::string::npos);
  EXPECT_NE(IniText().find("Off=False"), std::string::npos);
}

TEST_F(ListSave, TheInstanceIniFileServesWhenNoneIsGiven) {
  plugin_.SetINIFile(Ini());
  ParamsListPtr saved = SampleList(true, 1);
  ASSERT_TRUE(SaveListSettings(plugin_, *saved, "", ""));
  EXPECT_NE(IniText().find("[Common]"), std::string::npos);
  ParamsListPtr loaded = SampleList(false, 1);
  ASSERT_TRUE(LoadListSettings(plugin_, *loaded, "", ""));
  ExpectSamplesLoaded(*loaded);
}

TEST_F(ListSave, StoredBooleanTextsAndNumbersLoadByTheBooleanRules) {
  test::WriteFileBytes(Ini(), "[Common]\nA=TrUe\nB=yes\nC=1\nD=0\nE=true\n");
  ParamsListPtr list = TkivParamsList::Create();
  for (const char* name : {"A", "B", "C", "D", "E"})
    list->Add(name, Variant())->SetDataType(kParser | 4);
  ASSERT_TRUE(LoadListSettings(plugin_, *list, "", Ini()));
  const bool expected[] = {true, false, true, false, true};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list->Items(i)->Value().VType, varBoolean) << i;
    EXPECT_EQ(list->Items(i)->Value().VBoolean != 0, expected[i]) << i;
  }
}

TEST(ListSaveHelper, ItemTypesMapToVariantTypes) {
  EXPECT_EQ(ItemVariantType(varCurrency), varCurrency);
  EXPECT_EQ(ItemVariantType(kParser | 3), varOleStr);
  EXPECT_EQ(ItemVariantType(kParser | 10), varDate);
  EXPECT_EQ(ItemVariantType(kParser | 0x100 | 8), varInteger);  // only the low 7 bits count
  EXPECT_EQ(ItemVariantType(kParser | 17), varUnknown);
  EXPECT_EQ(ItemVariantType(0x1000B), varUnknown);  // not a Boolean by its low bits
}

TEST(ListSaveHelper, BooleanItemsTakeTextNumbersAndBooleansAndIgnoreTheRest) {
  TkivPlugin plugin(nullptr, nullptr);
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Flag", Variant::Bool(false))->SetDataType(varBoolean);
  TListSaveHelper helper(&plugin, list.get());
  auto flag = [&] { return list->Items(0)->Value().VBoolean != 0; };

  helper.SetValue(Variant::Int32(2), 0);
  EXPECT_TRUE(flag());
  helper.SetValue(Variant::Double(0), 0);
  EXPECT_FALSE(flag());
  helper.SetValue(Variant::Bool(true), 0);
  EXPECT_TRUE(flag());
  helper.SetValue(Variant::Null(), 0);  // not a Boolean: unchanged
  EXPECT_TRUE(flag());
  helper.SetValue(Variant::Wide(u"yes"), 0);
  EXPECT_FALSE(flag());
  helper.SetValue(Variant::Ansi("1"), 0);
  EXPECT_TRUE(flag());
  helper.SetValue(Variant::Int32(1), 5);  // outside the list: nothing
  EXPECT_EQ(list->Count(), 1);

  Variant saved;
  helper.GetValue(saved, 0);
  EXPECT_EQ(VarTextAnsi(saved), "True");
  // A value that is no Boolean is not saved (the settings component then skips the item).
  list->Items(0)->SetValue(Variant::Wide(u"maybe"));
  EXPECT_THROW(helper.GetValue(saved, 0), EVariantError);
}

TEST_F(ListSave, ListsWithTagZeroHoldTheirTextsEncoded) {
  test::WriteFileBytes(Ini(), "[Common]\nName=++ab%25\n");
  for (int32_t tag : {0, 7}) {
    ParamsListPtr list = TkivParamsList::Create();
    list->SetTag(tag);
    list->Add("Name", Variant())->SetDataType(varOleStr);
    ASSERT_TRUE(LoadListSettings(plugin_, *list, "", Ini()));
    EXPECT_EQ(Text(list->Items(0)), tag == 0 ? EncodeSettingText("  ab%") : "  ab%") << tag;
  }

  // Saving decodes the held form first, so both lists store the encoded plain text.
  ParamsListPtr encoded = TkivParamsList::Create();
  encoded->Add("Name", Variant::Ansi(EncodeSettingText("  x y")))->SetDataType(varOleStr);
  ASSERT_TRUE(SaveListSettings(plugin_, *encoded, "T0", Ini()));
  ParamsListPtr plain = TkivParamsList::Create();
  plain->SetTag(1);
  plain->Add("Name", Variant::Ansi("  x y"))->SetDataType(varOleStr);
  ASSERT_TRUE(SaveListSettings(plugin_, *plain, "T1", Ini()));
  EXPECT_NE(IniText().find("[T0]\r\nName=++x y"), std::string::npos) << IniText();
  EXPECT_NE(IniText().find("[T1]\r\nName=++x y"), std::string::npos) << IniText();
}

TEST_F(ListSave, EmptyItemsAreNeitherWrittenNorDeleted) {
  test::WriteFileBytes(Ini(), "[Common]\nKept=old\n");
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Kept", Variant())->SetDataType(varOleStr);
  list->Add("Null", Variant::Null())->SetDataType(varInteger);
  list->Add("New", Variant::Int32(5))->SetDataType(varInteger);
  ASSERT_TRUE(SaveListSettings(plugin_, *list, "", Ini()));
  EXPECT_NE(IniText().find("Kept=old"), std::string::npos);
  EXPECT_NE(IniText().find("New=5"), std::string::npos);
  EXPECT_EQ(IniText().find("Null="), std::string::npos);
}

// Records, from inside the settings component, what the instance shows.
class ObservingHelper : public TListSaveHelper {
 public:
  using TListSaveHelper::TListSaveHelper;
  void GetValue(Variant& value, int index) override {
    busy = Instance()->SettingsBusy();
    locked = Instance()->SettingsLock().WriteHeldByThisThread();
    TListSaveHelper::GetValue(value, index);
  }
  bool busy = false;
  bool locked = false;
};

TEST_F(ListSave, RunsUnderTheSettingsLockWithTheBusyFlagSet) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Value", Variant::Int32(1))->SetDataType(varInteger);
  ObservingHelper helper(&plugin_, list.get());
  ASSERT_TRUE(ProcessListSettings(helper, "", Ini(), false).Done);
  EXPECT_TRUE(helper.busy);
  EXPECT_TRUE(helper.locked);
  EXPECT_FALSE(helper.Loading());
  EXPECT_FALSE(plugin_.SettingsBusy());
  EXPECT_FALSE(plugin_.SettingsLock().WriteHeldByThisThread());
}

TEST_F(ListSave, WaitsForTheSettingsLockHeldElsewhere) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Value", Variant::Int32(1))->SetDataType(varInteger);
  std::atomic<bool> done{false};
  bool saved = false;
  std::thread saver;
  {
    WriteGuard held(plugin_.SettingsLock());
    saver = std::thread([&] {
      saved = SaveListSettings(plugin_, *list, "", Ini());
      done = true;
    });
    while (plugin_.SettingsLock().WaitingWriters() == 0) std::this_thread::yield();
    EXPECT_FALSE(done);
    EXPECT_FALSE(plugin_.SettingsBusy());
  }
  saver.join();
  EXPECT_TRUE(saved);
  EXPECT_NE(IniText().find("Value=1"), std::string::npos);
}

// The texts of the instance's log entries, each with its level in front.
std::vector<std::string> LogLines(TkivPlugin& plugin) {
  std::vector<std::string> lines;
  ReadLocked<TStringList> entries(plugin.LogList());
  for (int i = 0; i < entries->Count(); ++i)
    lines.push_back(std::to_string(LogEntryLevel(entries->Strings(i))) + " " +
                    std::string(LogEntryText(entries->Strings(i))));
  return lines;
}

TEST_F(ListSave, AFailedSaveIsReportedLoggedAndLeavesTheInstanceIdle) {
  ParamsListPtr list = SampleList(true, 1);
  TListSaveHelper helper(&plugin_, list.get());
  const TListSettingsResult failed =
      ProcessListSettings(helper, "", dir_.Path("missing/folder/settings.ini"), false);
  EXPECT_FALSE(failed.Done);
  EXPECT_EQ(failed.Failure, TSettingsFailure::kFileNotWritten);
  EXPECT_FALSE(plugin_.SettingsBusy());
  std::vector<std::string> log = LogLines(plugin_);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("0 {Settings} Not saved: Cannot create file", 0), 0u) << log[0];

  // Without a usable registry root nothing is written either; a load finds nothing stored.
  plugin_.SetModuleRegistryRoots(rrNone, rrNone);
  EXPECT_FALSE(SaveListSettings(plugin_, *list, "", ""));
  EXPECT_FALSE(LoadListSettings(plugin_, *list, "", ""));
  log = LogLines(plugin_);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("0 {Settings} Not saved: Cannot open or create the registry key", 0), 0u) << log[1];
}

TEST_F(ListSave, WithoutRegistryPathOrIniFileNothingIsStoredAndThatIsLoggedOnce) {
  TkivPlugin nowhere(nullptr, nullptr);  // loaded without "REGISTRY-PATH" or "INI-FILE"
  ParamsListPtr list = SampleList(true, 1);
  EXPECT_FALSE(SaveListSettings(nowhere, *list, "", ""));
  EXPECT_FALSE(SaveListSettings(nowhere, *list, "Device", ""));
  TListSaveHelper helper(&nowhere, list.get());
  EXPECT_EQ(ProcessListSettings(helper, "", "", true).Failure, TSettingsFailure::kNoPlace);
  EXPECT_EQ(LogLines(nowhere),
            std::vector<std::string>{"0 {Settings} Not saved: Neither a registry path nor an INI file is set"});
  // A file named for the call is a place.
  EXPECT_TRUE(SaveListSettings(nowhere, *list, "", Ini()));
}

}  // namespace
}  // namespace kiv
