#include "settings/wreg.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "settings/file_stream.h"
#include "settings/ini_file.h"
#include "settings/lock_holder_helper.h"
#include "settings/named_ini_lock.h"
#include "settings/registry.h"
#include "settings/registry_key_helper.h"
#include "settings/setting_value.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

// Plays the part of the framework's handlers: a kind and a value per item index.
struct Handlers {
  std::map<int, TTypeKind> kinds;
  std::map<int, Variant> toSave;  // what GetValue answers
  std::map<int, Variant> loaded;  // what SetValue received
  std::vector<int> asked;         // indexes GetValue was asked for
  int beforeCalls = 0;
  bool failSetValue = false, failGetValue = false;

  void Attach(TWreg& wreg) {
    wreg.BeforeProcessItem = [this, &wreg](TObject* sender, const std::string& name, int index,
                                           bool& process, bool& isVirtual, TTypeKind& kind) {
      ++beforeCalls;
      EXPECT_EQ(sender, &wreg);
      EXPECT_TRUE(name.empty());
      EXPECT_FALSE(process);
      EXPECT_TRUE(isVirtual);
      EXPECT_EQ(kind, tkUnknown);
      const auto it = kinds.find(index);
      if (it != kinds.end()) process = true, kind = it->second;
    };
    wreg.GetValue = [this](TObject*, const std::string&, int index, Variant& value) {
      asked.push_back(index);
      if (failGetValue) throw Exception("handler failed");
      const auto it = toSave.find(index);
      if (it != toSave.end()) value = it->second;
    };
    wreg.SetValue = [this](TObject*, const std::string&, int index, const Variant& value) {
      if (failSetValue) throw Exception("handler failed");
      loaded[index] = value;
    };
  }
};

class WregTest : public ::testing::Test {
 protected:
  // A component on the test key with `lines` as item list and the handlers attached.
  std::unique_ptr<TWreg> Make(const std::vector<std::string>& lines,
                              const std::string& iniFile = "") {
    auto wreg = std::make_unique<TWreg>();
    wreg->SetRegistryRoot(rrHKEY_CURRENT_USER);
    wreg->SetSecondRegistryRoot(rrNone);
    wreg->SetRegistryPath(key_.Path() + "\\");
    wreg->SetINIFile(iniFile);
    wreg->SetComponents(lines);
    handlers_.Attach(*wreg);
    return wreg;
  }
  // Raw registry value below the test key.
  bool Stored(const std::string& subKey, const std::string& name, std::uint32_t& type,
              std::string& data) {
    TRegistry reg(kHKeyCurrentUser);
    return reg.OpenKey(key_.Path() + subKey, false) && reg.ReadValue(name, type, data);
  }
  void Store(const std::string& name, std::uint32_t type, const std::string& data) {
    TRegistry reg(kHKeyCurrentUser);
    ASSERT_TRUE(reg.OpenKey(key_.Path(), true));
    ASSERT_TRUE(reg.WriteValue(name, type, data));
  }

  test::TestRegistryKey key_;
  test::TempFolder dir_;
  Handlers handlers_;
};

TEST_F(WregTest, DefaultsAndPublishedProperties) {
  TWreg wreg;
  EXPECT_EQ(wreg.RegistryRoot(), rrHKEY_LOCAL_MACHINE);
  EXPECT_EQ(wreg.SecondRegistryRoot(), rrHKEY_CURRENT_USER);
  EXPECT_EQ(wreg.RegistryPath(), "\\Software\\Company name\\App name");
  EXPECT_EQ(wreg.INIFile(), "");
  ASSERT_NE(wreg.FindProperty("inifile"), nullptr);
  wreg.FindProperty("INIFileSectionPrefix")->SetText("Dev");
  EXPECT_EQ(wreg.INIFileSectionPrefix(), "Dev");
  wreg.FindProperty("RegistryRoot")->SetOrdinal(42);  // out of range: unusable
  EXPECT_EQ(wreg.RegistryRoot(), rrNone);
  EXPECT_EQ(RegistryRootKey(rrHKEY_CURRENT_CONFIG), 0x80000005u);
}

TEST_F(WregTest, RegistryStoresEachKindInItsFormat) {
  handlers_.kinds = {{0, tkInteger}, {1, tkFloat}, {2, tkWString}, {3, tkInt64}};
  handlers_.toSave[0] = Variant::Int32(-42);
  handlers_.toSave[1] = Variant::Double(3.5);
  handlers_.toSave[2] = Variant::Wide(u"  \tx ");
  handlers_.toSave[3] = Variant::Ansi("17");  // text converted to an integer
  EXPECT_TRUE(Make({"A,A", "B,Port\\B", "C,C", "D,D"})->Save());
  std::uint32_t type = 0;
  std::string data;
  ASSERT_TRUE(Stored("", "A", type, data));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(data, std::string("\xD6\xFF\xFF\xFF", 4));
  ASSERT_TRUE(Stored("\\Port", "B", type, data));
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(data.size(), 8u);
  ASSERT_TRUE(Stored("", "C", type, data));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, "++%09x ");
  ASSERT_TRUE(Stored("", "D", type, data));
  EXPECT_EQ(data, std::string("\x11\0\0\0", 4));

  EXPECT_TRUE(Make({"A,A", "B,Port\\B", "C,C", "D,D"})->Load());
  EXPECT_EQ(handlers_.loaded[0].VType(), varInteger);
  EXPECT_EQ(handlers_.loaded[0].Data().VInteger, -42);
  EXPECT_EQ(handlers_.loaded[1].VType(), varDouble);
  EXPECT_EQ(handlers_.loaded[1].Data().VDouble, 3.5);
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[2]), "  \tx ");  // decoded, trailing space kept
  EXPECT_EQ(handlers_.loaded[3].Data().VInteger, 17);
}

TEST_F(WregTest, TextItemsReadAnyRegistryTypeThatHasATextForm) {
  Store("Num", kRegDword, std::string("\x07\0\0\0", 4));
  Store("Real", kRegBinary, std::string("\0\0\0\0\0\0\x04\x40", 8));  // 2.5
  Store("Text", kRegExpandSz, "50%% off");
  handlers_.kinds = {{0, tkString}, {1, tkString}, {2, tkString}};
  EXPECT_TRUE(Make({"a,Num", "b,Real", "c,Text"})->Load());
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[0]), "7");
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[1]), FloatToStr(2.5, UserFormatSettings()));
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[2]), "50% off");
}

TEST_F(WregTest, BadStoredDataIsDeletedOnLoad) {
  Store("Count", kRegSz, "12");                            // text for an integer item
  Store("Ratio", kRegBinary, std::string("\0\0\0\0", 4));  // not 8 bytes
  Store("Fine", kRegDword, std::string("\x05\0\0\0", 4));
  handlers_.kinds = {{0, tkInteger}, {1, tkFloat}, {2, tkInteger}};
  EXPECT_TRUE(Make({"Count,Count", "Ratio,Ratio", "Fine,Fine"})->Load());
  EXPECT_EQ(handlers_.loaded.count(0), 0u);  // the item keeps its current value
  EXPECT_EQ(handlers_.loaded.count(1), 0u);
  EXPECT_EQ(handlers_.loaded[2].Data().VInteger, 5);
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(Stored("", "Count", type, data));
  EXPECT_FALSE(Stored("", "Ratio", type, data));
  EXPECT_TRUE(Stored("", "Fine", type, data));
}

TEST_F(WregTest, FailingSetValueDeletesTheRegistryValueButNotTheIniKey) {
  Store("V", kRegSz, "x");
  handlers_.kinds = {{0, tkString}};
  handlers_.failSetValue = true;
  EXPECT_TRUE(Make({"V,V"})->Load());
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(Stored("", "V", type, data));

  const std::string file = dir_.Path("s.ini");
  test::WriteFileBytes(file, "[Common]\r\nV=x\r\n");
  EXPECT_TRUE(Make({"V,V"}, file)->Load());
  EXPECT_EQ(TkivIniFile(file).ReadString("Common", "V", "gone"), "x");
}

TEST_F(WregTest, EmptyValueDeletesTheStoredEntryAndFailingGetValueKeepsIt) {
  Store("Gone", kRegSz, "x");
  Store("Kept", kRegSz, "y");
  handlers_.kinds = {{0, tkString}};
  EXPECT_TRUE(Make({"Gone,Gone"})->Save());
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(Stored("", "Gone", type, data));
  handlers_.failGetValue = true;
  EXPECT_TRUE(Make({"Kept,Kept"})->Save());
  EXPECT_TRUE(Stored("", "Kept", type, data));

  const std::string file = dir_.Path("s.ini");
  test::WriteFileBytes(file, "[Common]\r\nGone=x\r\nKept=y\r\n");
  handlers_.failGetValue = false;
  EXPECT_TRUE(Make({"Gone,Gone"}, file)->Save());
  TkivIniFile ini(file);
  EXPECT_FALSE(ini.ValueExists("Common", "Gone"));
  EXPECT_TRUE(ini.ValueExists("Common", "Kept"));
}

TEST_F(WregTest, ValueThatCannotBeWrittenDeletesTheRegistryEntry) {
  Store("Big", kRegDword, std::string("\x01\0\0\0", 4));
  handlers_.kinds = {{0, tkInteger}};
  handlers_.toSave[0] = Variant::Int64(1LL << 40);
  EXPECT_TRUE(Make({"Big,Big"})->Save());
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(Stored("", "Big", type, data));
}

TEST_F(WregTest, ItemsTheHandlerDeclinesAreNeitherReadNorWritten) {
  Store("A", kRegSz, "1");
  handlers_.kinds = {{1, tkUnknown}, {2, tkSet}};  // 0 declined, 1 kind 0, 2 not storable
  handlers_.toSave[2] = Variant::Ansi("x");
  EXPECT_FALSE(Make({"A,A", "B,B", "C,C", "Skipped"})->Load());
  EXPECT_TRUE(handlers_.loaded.empty());
  EXPECT_EQ(handlers_.beforeCalls, 3);               // the line without a location is no item
  EXPECT_TRUE(Make({"A,A", "B,B", "C,C"})->Save());  // item 2 is processed, but nothing stored
  EXPECT_EQ(handlers_.asked, std::vector<int>{2});
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(Stored("", "C", type, data));
  EXPECT_TRUE(Stored("", "A", type, data));
}

TEST_F(WregTest, ItemWhoseKeyIsMissingIsSkippedOnLoadAndCreatedOnSave) {
  Store("A", kRegSz, "1");
  handlers_.kinds = {{0, tkString}, {1, tkString}};
  EXPECT_TRUE(Make({"A,A", "B,Missing\\B"})->Load());
  EXPECT_EQ(handlers_.beforeCalls, 1);  // the missing key's item is not even offered
  handlers_.toSave[1] = Variant::Ansi("made");
  EXPECT_TRUE(Make({"A,A", "B,Missing\\B"})->Save());
  std::uint32_t type;
  std::string data;
  ASSERT_TRUE(Stored("\\Missing", "B", type, data));
  EXPECT_EQ(data, "made");
}

TEST_F(WregTest, NoneAsFirstRootDoesNothing) {
  Store("A", kRegSz, "1");
  handlers_.kinds = {{0, tkString}};
  auto wreg = Make({"A,A"});
  wreg->SetRegistryRoot(rrNone);
  wreg->SetSecondRegistryRoot(rrHKEY_CURRENT_USER);
  EXPECT_FALSE(wreg->Load());
  EXPECT_EQ(wreg->Failure(), TSettingsFailure::kNone);  // nothing stored is no failure
  EXPECT_FALSE(wreg->Save());
  EXPECT_EQ(wreg->Failure(), TSettingsFailure::kNoRegistryKey);
  EXPECT_NE(wreg->FailureText().find(key_.Path()), std::string::npos) << wreg->FailureText();
  EXPECT_EQ(handlers_.beforeCalls, 0);
}

TEST_F(WregTest, WithoutRegistryPathOrIniFileNothingIsStoredAtTheRoot) {
  handlers_.kinds = {{0, tkString}, {1, tkString}};
  handlers_.toSave = {{0, Variant::Ansi("a")}, {1, Variant::Ansi("b")}};
  const std::string unsaved = dir_.Path("unsaved.ini");
  for (const char* path : {"", "\\", "\\\\"}) {
    SCOPED_TRACE(path);
    auto wreg = Make({"RootA,RootA", "RootB,Sub\\RootB"});
    wreg->SetRegistryPath(path);
    for (const bool save : {true, false}) {
      EXPECT_FALSE(save ? wreg->Save() : wreg->Load());
      EXPECT_EQ(wreg->Failure(), TSettingsFailure::kNoPlace);
      EXPECT_FALSE(wreg->FailureText().empty());
    }
    // A load before the named INI file was first saved finds nothing, which is no failure.
    wreg->SetINIFile(unsaved);
    EXPECT_FALSE(wreg->Load());
    EXPECT_EQ(wreg->Failure(), TSettingsFailure::kNone);
  }
  EXPECT_EQ(handlers_.beforeCalls, 0);
  TRegistry root(kHKeyCurrentUser);
  ASSERT_TRUE(root.OpenKey("", false));
  EXPECT_FALSE(root.ValueExists("RootA"));
  EXPECT_FALSE(root.OpenKey("Sub", false));
}

TEST_F(WregTest, LoadFallsBackToTheSecondRootWhenTheFirstHasNoKey) {
  Store("A", kRegSz, "from user");
  handlers_.kinds = {{0, tkString}};
  auto wreg = Make({"A,A"});
  wreg->SetRegistryRoot(rrHKEY_LOCAL_MACHINE);  // the test key exists only for the user
  wreg->SetSecondRegistryRoot(rrHKEY_CURRENT_USER);
  EXPECT_TRUE(wreg->Load());
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[0]), "from user");
  wreg->SetSecondRegistryRoot(rrNone);
  EXPECT_FALSE(wreg->Load());
}

TEST_F(WregTest, MissingIniFileLoadsFromTheRegistryAndSaveCreatesIt) {
  Store("A", kRegSz, "registry");
  const std::string file = dir_.Path("new.ini");
  handlers_.kinds = {{0, tkString}, {1, tkFloat}};
  EXPECT_TRUE(Make({"A,A"}, file)->Load());
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[0]), "registry");
  EXPECT_FALSE(FileExists(file));

  handlers_.toSave[0] = Variant::Ansi(" lead and trail ");
  handlers_.toSave[1] = Variant::Double(0.25);
  auto wreg = Make({"A,A", "R,Port\\Rate"}, file);
  wreg->SetINIFileSectionPrefix("Device1");
  EXPECT_TRUE(wreg->Save());
  EXPECT_EQ(test::ReadFileBytes(file),
            "[Device1.Common]\r\nA=+lead and trail \r\n\r\n[Device1.Port]\r\nRate=" +
                FloatToStr(0.25, UserFormatSettings()) + "\r\n\r\n");
  handlers_.loaded.clear();
  wreg = Make({"A,A", "R,Port\\Rate"}, file);
  wreg->SetINIFileSectionPrefix("Device1");
  EXPECT_TRUE(wreg->Load());
  EXPECT_EQ(VarTextAnsi(handlers_.loaded[0]), " lead and trail");  // the INI reader trims
  EXPECT_EQ(handlers_.loaded[1].Data().VDouble, 0.25);
}

TEST_F(WregTest, IniNamesThatCannotReadBackAreSkippedAndReported) {
  const std::string file = dir_.Path("names.ini");
  const std::vector<std::string> items = {"A,a=b", "B,[X", "C,c\x01" "d", "D,Good", "E,Port\\x]y"};
  handlers_.kinds = {{0, tkString}, {1, tkString}, {2, tkString}, {3, tkString}, {4, tkString}};
  for (int i = 0; i < 5; ++i) handlers_.toSave[i] = Variant::Ansi("v" + std::to_string(i));
  std::vector<std::string> skipped;
  const auto run = [&](bool save) {
    auto wreg = Make(items, file);
    wreg->ItemSkipped = [&](TObject* sender, int index, const std::string& valueName) {
      EXPECT_EQ(sender, wreg.get());
      skipped.push_back(std::to_string(index) + ":" + valueName);
    };
    return save ? wreg->Save() : wreg->Load();
  };
  EXPECT_TRUE(run(true));
  EXPECT_TRUE(run(true));  // a second save changes nothing
  EXPECT_EQ(test::ReadFileBytes(file), "[Common]\r\nGood=v3\r\n\r\n[Port]\r\nx]y=v4\r\n\r\n");
  EXPECT_TRUE(run(false));
  EXPECT_EQ(handlers_.loaded.size(), 2u);
  const std::vector<std::string> once = {"0:a=b", "1:[X", "2:c\x01" "d"};
  std::vector<std::string> expected;
  for (int k = 0; k < 3; ++k) expected.insert(expected.end(), once.begin(), once.end());
  EXPECT_EQ(skipped, expected);

  // The registry stores such names as they are.
  skipped.clear();
  EXPECT_TRUE(Make({"A,a=b", "B,[X"})->Save());
  std::uint32_t type;
  std::string data;
  EXPECT_TRUE(Stored("", "a=b", type, data));
  EXPECT_TRUE(Stored("", "[X", type, data));
  EXPECT_TRUE(skipped.empty());
}

TEST_F(WregTest, LoadAndSaveReturnFalseWhileAnotherHolderKeepsTheIniLock) {
  const std::string file = dir_.Path("held.ini");
  test::WriteFileBytes(file, "[Common]\r\nA=old\r\n");
  handlers_.kinds = {{0, tkString}};
  handlers_.toSave[0] = Variant::Ansi("new");
  {
    test::LockHolder holder(IniLockName(file));
    ASSERT_TRUE(holder.Holds());
    for (const bool save : {false, true}) {
      auto wreg = Make({"A,A"}, file);
      wreg->SetLockTimeoutMs(100);
      EXPECT_FALSE(save ? wreg->Save() : wreg->Load());
      EXPECT_EQ(wreg->Failure(), TSettingsFailure::kLockTimeout);
      EXPECT_NE(wreg->FailureText().find("100 ms"), std::string::npos) << wreg->FailureText();
    }
    EXPECT_TRUE(handlers_.loaded.empty());
    EXPECT_TRUE(handlers_.asked.empty());
  }
  EXPECT_EQ(test::ReadFileBytes(file), "[Common]\r\nA=old\r\n");
  EXPECT_TRUE(Make({"A,A"}, file)->Save());
  EXPECT_EQ(test::ReadFileBytes(file), "[Common]\r\nA=new\r\n\r\n");
}

TEST_F(WregTest, SaveTakesOverTheIniLockOfAThreadThatExitedHoldingIt) {
  const std::string file = dir_.Path("orphaned.ini");
  TNamedIniLock lock(IniLockName(file));  // outlives the thread, as in a host process
  std::thread([&] { ASSERT_TRUE(lock.Enter()); }).join();
  handlers_.kinds = {{0, tkInteger}};
  handlers_.toSave[0] = Variant::Int32(7);
  EXPECT_TRUE(Make({"A,A"}, file)->Save());
  EXPECT_EQ(test::ReadFileBytes(file), "[Common]\r\nA=7\r\n\r\n");
}

TEST_F(WregTest, SaveIntoAMissingFolderReturnsFalse) {
  const std::string file = dir_.Path("missing") + "/settings.ini";
  handlers_.kinds = {{0, tkInteger}};
  handlers_.toSave[0] = Variant::Int32(1);
  auto wreg = Make({"A,A"}, file);
  EXPECT_FALSE(wreg->Save());
  EXPECT_EQ(wreg->Failure(), TSettingsFailure::kFileNotWritten);
  EXPECT_NE(wreg->FailureText().find("settings.ini"), std::string::npos) << wreg->FailureText();
  EXPECT_EQ(handlers_.asked, std::vector<int>{0});
  EXPECT_FALSE(FileExists(file));
  wreg->SetINIFile(dir_.Path("here.ini"));
  EXPECT_TRUE(wreg->Save());
  EXPECT_EQ(wreg->Failure(), TSettingsFailure::kNone);  // each operation starts afresh
}

// Custom storage records what reaches its hooks.
class RecordingWreg : public TWreg {
 public:
  std::vector<std::string> writes;

 protected:
  bool CustomWriteValue(TObject* sender, const std::string& name, int index, TTypeKind kind,
                        const std::string& section, const std::string& valueName,
                        const Variant& value) override {
    writes.push_back(section + "/" + valueName + "=" + VarTextAnsi(value));
    return TWreg::CustomWriteValue(sender, name, index, kind, section, valueName, value);
  }
};

TEST_F(WregTest, CustomStorageGoesThroughTheHooksOnly) {
  RecordingWreg wreg;
  wreg.SetINIFile("$CUSTOM$");
  wreg.SetINIFileSectionPrefix("P/");
  wreg.SetRegistryRoot(rrNone);  // proves no registry root is needed
  wreg.SetComponents(std::vector<std::string>{"A,A", "B,K\\B", "C,C"});
  handlers_.kinds = {{0, tkString}, {1, tkString}};
  handlers_.toSave[0] = Variant::Ansi("a b");
  handlers_.Attach(wreg);
  EXPECT_FALSE(wreg.Load());
  EXPECT_TRUE(handlers_.loaded.empty());
  EXPECT_TRUE(wreg.Save());
  EXPECT_EQ(handlers_.asked, (std::vector<int>{0, 1}));
  EXPECT_EQ(wreg.writes, (std::vector<std::string>{"P/A=a b", "P.K/B="}));  // empty values too
  EXPECT_FALSE(FileExists("$CUSTOM$"));
}

}  // namespace
}  // namespace kiv
