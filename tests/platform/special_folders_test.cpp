#include "platform/special_folders.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/path_names.h"

namespace kiv {
namespace {

const std::string D(1, kPathDelim);

// Sources whose every answer the test sets; records the registry reads.
class FakeSources : public SpecialFolderSources {
 public:
  ShellLookup shell = ShellLookup::kFailed;
  std::string shellFolder;
  std::map<std::string, std::string> registry;  // "root|key|value" -> text
  std::map<std::string, std::string> environment;
  std::string moduleFolder = "M" + D;
  std::vector<std::string> registryReads;

  ShellLookup ShellFolder(int, std::string& folder) override {
    if (shell == ShellLookup::kFound) folder = shellFolder;
    return shell;
  }
  std::optional<std::string> RegistryText(RegistryRoot root, const std::string& key,
                                          const std::string& value) override {
    const std::string id =
        std::string(root == RegistryRoot::kCurrentUser ? "HKCU" : "HKLM") + "|" + key + "|" + value;
    registryReads.push_back(id);
    auto it = registry.find(id);
    if (it == registry.end()) return std::nullopt;
    return it->second;
  }
  std::string Environment(const std::string& name) override {
    auto it = environment.find(name);
    return it == environment.end() ? std::string() : it->second;
  }
  std::string ModuleFolder() override { return moduleFolder; }
};

const std::string kShellKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST(CleanFileName, PathSafeSetReplacesOrDropsCharacters) {
  EXPECT_EQ(CleanFileName("a:b", true, ' '), "a b");
  EXPECT_EQ(CleanFileName("\"*/:<>?\\|", true, '_'), "_________");
  EXPECT_EQ(CleanFileName("a:b<c>", true, '\0'), "abc");
  // The strict-only characters pass the path-safe set.
  EXPECT_EQ(CleanFileName("x'+;=[]", true, '_'), "x'+;=[]");
}

TEST(CleanFileName, StrictSetAlsoReplacesQuotesBracketsAndOperators) {
  EXPECT_EQ(CleanFileName("x'+;=[]y", false, '-'), "x------y");
  EXPECT_EQ(CleanFileName("a:b|c", false, '\0'), "abc");
}

TEST(CleanFileName, DefusesReservedDeviceNames) {
  EXPECT_EQ(CleanFileName("com1", true, ' '), "_com1");
  EXPECT_EQ(CleanFileName("LPT9.txt", true, ' '), "_LPT9.txt");
  EXPECT_EQ(CleanFileName("Con", true, ' '), "_Con");
  EXPECT_EQ(CleanFileName("nul", true, ' '), "_nul");
  EXPECT_EQ(CleanFileName("console", true, ' '), "console");
  EXPECT_EQ(CleanFileName("aux1", true, ' '), "aux1");
  // The rule looks at the cleaned name.
  EXPECT_EQ(CleanFileName("C:ON", true, '\0'), "_CON");
  EXPECT_EQ(CleanFileName("", true, ' '), "");
}

TEST(GetSpecialFolder, ShellFolderComesFirstWithTheCleanedSubFolder) {
  FakeSources s;
  s.shell = ShellLookup::kFound;
  s.shellFolder = "C:" + D + "ProgramData";
  s.registry["HKLM|" + kShellKey + "|Common AppData"] = "R";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "Vendor:App", false),
            "C:" + D + "ProgramData" + D + "Vendor App" + D);
  EXPECT_TRUE(s.registryReads.empty());
}

TEST(GetSpecialFolder, RegistryFallbackReadsTheRightRootKeyAndValue) {
  FakeSources s;
  s.registry["HKLM|" + kShellKey + "|Common AppData"] = "C:" + D + "All";
  s.registry["HKCU|" + kShellKey + "|AppData"] = "C:" + D + "Me";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", false),
            "C:" + D + "All" + D + "sub" + D);
  EXPECT_EQ(GetSpecialFolder(s, kCsidlAppData, "sub", false), "C:" + D + "Me" + D + "sub" + D);
  // Other identifiers have no registry fallback.
  s.registryReads.clear();
  EXPECT_EQ(GetSpecialFolder(s, 5, "sub", false), "");
  EXPECT_TRUE(s.registryReads.empty());
}

TEST(GetSpecialFolder, EmptyRegistryValueGivesARootedSubFolder) {
  FakeSources s;
  s.registry["HKLM|" + kShellKey + "|Common AppData"] = "";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", true), D + "sub" + D);
}

TEST(GetSpecialFolder, EmptySubFolderLeavesExactlyOneTrailingDelimiter) {
  FakeSources s;
  s.shell = ShellLookup::kFound;
  s.shellFolder = "C:" + D + "Data" + D;
  EXPECT_EQ(GetSpecialFolder(s, kCsidlAppData, "", false), "C:" + D + "Data" + D);
  s.shell = ShellLookup::kFailed;
  s.environment["CommonProgramFiles"] = "C:" + D + "Common";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlAppData, "", false), "C:" + D + "Common" + D);
}

TEST(GetSpecialFolder, CommonProgramFilesFollowsAFailedRegistry) {
  FakeSources s;
  s.environment["CommonProgramFiles"] = "C:" + D + "Common";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "com2", true),
            "C:" + D + "Common" + D + "_com2" + D);
  s.environment["CommonProgramFiles"] = "";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", true), "M" + D);
}

TEST(GetSpecialFolder, ModuleFolderWithoutSubFolderIsTheLastResort) {
  FakeSources s;
  s.moduleFolder = "C:" + D + "Host" + D + "Plugins";  // missing delimiter gets added
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", true),
            "C:" + D + "Host" + D + "Plugins" + D);
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", false), "");
}

TEST(GetSpecialFolder, UnavailableShellSkipsRegistryAndEnvironment) {
  FakeSources s;
  s.shell = ShellLookup::kUnavailable;
  s.registry["HKLM|" + kShellKey + "|Common AppData"] = "R";
  s.environment["CommonProgramFiles"] = "E";
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", true), "M" + D);
  EXPECT_EQ(GetSpecialFolder(s, kCsidlCommonAppData, "sub", false), "");
  EXPECT_TRUE(s.registryReads.empty());
}

TEST(ModuleFolder, IsTheFolderOfTheModuleFileEndingWithTheDelimiter) {
  const std::string folder = ModuleFolder();
  ASSERT_GT(folder.size(), 1u);
  EXPECT_EQ(folder.back(), kPathDelim);
  const std::string file = ModuleFileName();
  EXPECT_EQ(file.substr(0, folder.size()), folder);
  EXPECT_EQ(file.substr(folder.size(), 16), "kiv_platform_tes");
  EXPECT_EQ(GetSpecialFolder(SystemFolderSources(), -1, "", true).empty(), false);
}

}  // namespace
}  // namespace kiv
