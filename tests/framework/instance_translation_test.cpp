// Translation of plugin instances: the module's own language file decides whether the instance
// translates, the messages translate once, and LOAD's language application re-applies only the
// language in use.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "framework/plugin.h"
#include "host/temp_folder.h"
#include "plugin_call_helper.h"
#include "translation/translator.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

std::string g_module_file, g_application_file;

class InstanceTranslationTest : public ::testing::Test {
 protected:
  InstanceTranslationTest() {
    fs::create_directories(folder_ / "app");
    g_module_file = (folder_ / "module.dll").string();
    g_application_file = (folder_ / "app" / "host.exe").string();
    fake_ = SystemHostPlatform();
    fake_.ModuleFileName = [](ModuleHandle) { return g_module_file; };
    fake_.ApplicationFileName = [] { return g_application_file; };
    previous_ = SetHostPlatform(&fake_);
    // The shared file alone never translates anything.
    Write(folder_ / "app" / "plugins.lng",
          "[Languages]\n$EN = English\n$FR = Francais\nDefault = FR\n\nEN:>No data for processing\nFR:>Pas de donnees\n\n");
  }
  ~InstanceTranslationTest() override {
    SetHostPlatform(previous_);
  }
  static void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
  void WriteOwnFile() {
    Write(folder_ / "module.lng", "[Languages]\n$EN = English\n$DE = Deutsch\nDefault = DE\n\n"
                                  "EN:>No data for processing\nDE:>Keine Daten\n\n");
  }

  const test::TempFolder dir_{"kiv_instance_translation"};
  const fs::path folder_{dir_.Folder()};
  HostPlatform fake_;
  const HostPlatform* previous_ = nullptr;
};

TEST_F(InstanceTranslationTest, WithoutTheModulesOwnFileNothingIsTranslated) {
  TkivPlugin plugin(nullptr, nullptr);
  plugin.AfterConstruction();
  ASSERT_NE(plugin.Translator(), nullptr);
  EXPECT_EQ(plugin.Translator()->LanguageFile(), "");
  EXPECT_EQ(plugin.Language(), "EN");
  EXPECT_FALSE(plugin.Translated());
  EXPECT_EQ(plugin.MsgNoData(), "No data for processing");
}

TEST_F(InstanceTranslationTest, OwnFileChoosesTheLanguageAndTranslatesOnce) {
  WriteOwnFile();
  TkivPlugin plugin(nullptr, nullptr);
  const std::string expected_files =
      (folder_ / "app" / "plugins.lng").string() + "|" + (folder_ / "module.lng").string();
  EXPECT_EQ(plugin.Translator()->LanguageFile(), expected_files);
  // The shared file comes first and names the default language; both files give texts.
  EXPECT_EQ(plugin.Language(), "FR");
  EXPECT_GE(plugin.Translator()->ComponentProperties().IndexOf("MsgWriteCompleteError"), 0);
  plugin.AfterConstruction();
  EXPECT_TRUE(plugin.Translated());
  EXPECT_EQ(plugin.MsgNoData(), "Pas de donnees");
  // Translated already: a second call changes nothing.
  plugin.FindProperty("MsgNoData")->SetText("No data for processing");
  plugin.Translate();
  EXPECT_EQ(plugin.MsgNoData(), "No data for processing");
}

TEST_F(InstanceTranslationTest, LanguageApplicationReappliesOnlyTheLanguageInUse) {
  WriteOwnFile();
  TkivPlugin plugin(nullptr, nullptr);
  plugin.AfterConstruction();
  int changed = 0;
  plugin.OnLanguageChanged = [&](TObject*) {
    ++changed;
    throw std::runtime_error("handler failed");
  };
  plugin.FindProperty("MsgNoData")->SetText("No data for processing");

  testing::PreparedCall other;
  other.Text("LANGUAGE", u"DE");
  plugin.ApplyLanguage(CallParams(*other.Rec()));
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(plugin.MsgNoData(), "No data for processing");

  testing::PreparedCall same;
  same.Text("LANGUAGE", u"FR");
  plugin.ApplyLanguage(CallParams(*same.Rec()));
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(plugin.MsgNoData(), "Pas de donnees");
  EXPECT_EQ(plugin.Language(), "FR");
  // The handler's exception is logged, not raised.
  ReadLocked<TStringList> lines(plugin.LogList());
  ASSERT_EQ(lines->Count(), 1);
  EXPECT_EQ(lines->Strings(0), MakeLogEntry(0, "{TRANSL} handler failed", false));
}

}  // namespace
}  // namespace kiv
