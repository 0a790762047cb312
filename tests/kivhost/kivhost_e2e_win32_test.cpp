// kivhost.exe as its users run it: a child process with a script or requests on its command line,
// against the framework's test module and against varnolet.dll. Its output is compared with the
// expected text and JSON, with what varies from run to run (handles, addresses, folders) masked.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "host/temp_folder.h"
#include "kiv/kiv_defs.h"
#include "platform/version_info.h"
#include "platform/win32_test_files.h"

namespace kivhost {
namespace {

struct Outcome {
  DWORD Exit = 0;
  std::string Out;
  std::string Err;
};

// One argument quoted for CommandLineToArgv: backslashes before a quote are doubled.
std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, '\\');
  return out + "\"";
}

std::string ReadAll(HANDLE pipe) {
  std::string text;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
  return text;
}

// Runs kivhost.exe with `args`; standard error goes to a file read afterwards, so that neither
// pipe can fill while the other is read.
Outcome Kivhost(const std::vector<std::string>& args) {
  const std::string folder = kiv::test::ExeFolder();
  std::string command = Quote(folder + "kivhost.exe");
  for (const std::string& arg : args) command += " " + Quote(arg);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_out = nullptr, write_out = nullptr;
  EXPECT_TRUE(CreatePipe(&read_out, &write_out, &inherit, 0));
  SetHandleInformation(read_out, HANDLE_FLAG_INHERIT, 0);
  // A file of its own per run: an exited child's handle may close a little after its exit.
  static int runs = 0;
  const std::string err_path =
      folder + "kivhost_e2e_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++runs) + ".err";
  HANDLE err = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(err, INVALID_HANDLE_VALUE);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = write_out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  Outcome outcome;
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                                      &si, &pi);
  EXPECT_TRUE(started) << command;
  CloseHandle(write_out);
  CloseHandle(err);
  if (started) {
    outcome.Out = ReadAll(read_out);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &outcome.Exit);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(read_out);
  std::ifstream err_file(err_path, std::ios::binary);
  outcome.Err.assign(std::istreambuf_iterator<char>(err_file), std::istreambuf_iterator<char>());
  err_file.close();
  DeleteFileA(err_path.c_str());
  return outcome;
}

// Masks what varies: handles and addresses, the test folder, the data address a module sends.
std::string Masked(std::string text) {
  const std::string folder = kiv::test::ExeFolder();
  for (size_t at; (at = text.find(folder)) != std::string::npos;) text.replace(at, folder.size(), "<dir>\\");
  const std::string json_folder = std::regex_replace(folder, std::regex(R"(\\)"), R"(\\)");
  for (size_t at; (at = text.find(json_folder)) != std::string::npos;)
    text.replace(at, json_folder.size(), "<dir>\\\\");
  text = std::regex_replace(text, std::regex("0x[0-9a-f]{8}"), "0x*");
  text = std::regex_replace(text, std::regex(R"((Vantrel_SendDataEx\((?:-?\d+, ){5})\d+)"), "$1*");
  text = std::regex_replace(text, std::regex(R"(("args":\[(?:-?\d+,){5})\d+)"), "$1*");
  return text;
}

class KivhostE2E : public ::testing::Test {
 protected:
  // Writes a file into the test's temporary folder; its full path.
  std::string Write(const std::string& name, const std::string& content) { return dir_.Write(name, content); }
  static std::string TestModule() { return kiv::test::ExeFolder() + "kiv_test_module.dll"; }
  // varnolet.dll alone in its folder, or with an inner test plugin beside it as plugin.dll.
  static std::string Varnolet(const char* folder = "kivhost_varnolet") {
    return kiv::test::ExeFolder() + folder + "\\varnolet.dll";
  }

 private:
  const kiv::test::TempFolder dir_{"kivhost_e2e"};
};

// A session with the test module: every kind of request, the values its handlers write back,
// its log lines with the title set in between, the host's window messages and exports.
constexpr const char* kSession =
    "# a whole session\n"
    "set ACTION LOG\n"
    "create\n"
    "load LANGUAGE=en TEST-ACTION=$ACTION\n"
    "get-param ModuleIndex\n"
    "set-param LogTitle \"Port 1\"\n"
    "event PORT-OPEN TEST-ACTION=EVENT\n"
    "command READ-ALL TEST-ACTION=LOG\n"
    "feed ${SCRIPT_DIR}\\data.txt chunk=6 source=3 TEST-ACTION=DELIVER\n"
    "feed data.txt chunk=100 path=plain options=8\n"
    "info\n"
    "dialog-form\n"
    "dialog options=2\n"
    "log\n"
    "unload\n"
    "free\n";

constexpr const char* kSessionText =
    "[0] module <dir>\\kiv_test_module.dll -> 0\n"
    "[3] create -> 0\n"
    "  instance: 0x*\n"
    "[4] load LANGUAGE=en TEST-ACTION=LOG -> 0\n"
    "  RESULT: loaded\n"
    "  log[1]: loaded logged\n"
    "  message: 1809 wparam=1 lparam=0\n"
    "[5] get-param ModuleIndex -> 0\n"
    "  RESULT: 1 (int)\n"
    "[6] set-param LogTitle \"Port 1\" -> 0\n"
    "  RESULT: true (bool)\n"
    "[7] event PORT-OPEN TEST-ACTION=EVENT -> 0\n"
    "  RESULT: event\n"
    "  export: Vantrel_SendDataEx(1, 0, 0, 0, 7, *, 0) EVENT-TYPE=\"PORT-OPEN\"\n"
    "[8] command READ-ALL TEST-ACTION=LOG -> 7\n"
    "  RESULT: custom\n"
    "  log[1]: Port 1. custom logged\n"
    "  message: 1809 wparam=1 lparam=0\n"
    "[9] feed <tmp>\\data.txt chunk=6 source=3 TEST-ACTION=DELIVER -> 0\n"
    "  calls: 2\n"
    "  bytes: 12\n"
    "  failed: 0\n"
    "  deliveries: 2\n"
    "  packet: packet1\n"
    "  packet: packet1\n"
    "  item: ITEM = 1\n"
    "  item: ITEM = 1\n"
    "[10] feed data.txt chunk=100 path=plain options=8 -> 1\n"
    "  RESULT: input\n"
    "  calls: 1\n"
    "  bytes: 12\n"
    "  failed: 0\n"
    "  deliveries: 0\n"
    "  log[2]: Port 1. Data have been processed successfully\n"
    "  message: 1809 wparam=1 lparam=0\n"
    "[11] info -> 1\n"
    "  module-type: 0\n"
    "  module-options: 0\n"
    "  framework: 4.0\n"
    "  version: 4.0\n"
    "  description: \n"
    "  custom-commands: \n"
    "  size: 33\n"
    "[12] dialog-form -> 0\n"
    "  status: 0\n"
    "  size: 96\n"
    "  form: object PortForm\\r\\n  Caption = 'Port'\\r\\nend\\r\\n\n"
    "  form-data: \n"
    "  code: procedure Defaults; begin end;\n"
    "[13] dialog options=2 -> 1\n"
    "  RESULT: 770 (int)\n"
    "  item: SEEN = Dialog\n"
    "[14] log -> 0\n"
    "[15] unload -> 0\n"
    "  RESULT: unloaded\n"
    "[16] free -> 0\n";

std::string WithTempDir(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find(dir)) != std::string::npos;) text.replace(at, dir.size(), "<tmp>");
  return text;
}

TEST_F(KivhostE2E, ScriptSessionWithTheTestModulePrintsTheExpectedText) {
  Write("data.txt", "line1\nline2\n");
  const std::string script = Write("session.kvh", kSession);
  const Outcome run = Kivhost({"run", script, TestModule()});
  EXPECT_EQ(run.Exit, 0u) << run.Err;
  EXPECT_EQ(WithTempDir(Masked(run.Out), script.substr(0, script.rfind('\\'))), kSessionText);
  EXPECT_EQ(run.Err, "");  // no progress line when the output is not a terminal
}

TEST_F(KivhostE2E, ExecOnTheCommandLineAgreesWithTheSameRequestsInAScript) {
  const std::vector<std::string> lines{"create", "debug-break", "load TEST-ACTION=LOG", "set-param LogTitle \"A b\"",
                                       "command X TEST-ACTION=LOG", "free"};
  std::string script;
  for (const std::string& line : lines) script += line + "\n";
  std::vector<std::string> exec{"exec", TestModule()};
  exec.insert(exec.end(), lines.begin(), lines.end());
  const Outcome from_script = Kivhost({"run", Write("s.kvh", script), TestModule()});
  const Outcome from_args = Kivhost(exec);
  EXPECT_EQ(from_script.Exit, 0u);
  EXPECT_EQ(from_args.Exit, 0u);
  EXPECT_EQ(Masked(from_args.Out), Masked(from_script.Out));
  EXPECT_NE(from_args.Out.find("log[1]: A b. custom logged"), std::string::npos) << from_args.Out;
  EXPECT_NE(from_args.Out.find("debug-break -> 0\n  debugger: none\n"), std::string::npos) << from_args.Out;
}

TEST_F(KivhostE2E, JsonLinesCarryTheSameOutcomes) {
  Write("data.txt", "abc");
  const std::string script = Write("j.kvh",
                                   "create\n"
                                   "load TEST-ACTION=$ACTION\n"
                                   "event PORT-OPEN TEST-ACTION=SEND\n"
                                   "feed data.txt TEST-ACTION=DELIVER\n");
  const Outcome run = Kivhost({"--json", "-D", "ACTION=LOG", "run", script, TestModule()});
  EXPECT_EQ(run.Exit, 0u) << run.Err;
  EXPECT_EQ(Masked(run.Out),
            "{\"line\":0,\"request\":\"module <dir>\\\\kiv_test_module.dll\",\"status\":\"returned\",\"code\":0,"
            "\"values\":{},\"types\":{},\"packets\":[],\"items\":[],\"log\":[],\"messages\":[],\"exports\":[]}\n"
            "{\"line\":1,\"request\":\"create\",\"status\":\"returned\",\"code\":0,\"values\":{\"instance\":\"0x*\"},"
            "\"types\":{\"instance\":\"text\"},\"packets\":[],\"items\":[],\"log\":[],\"messages\":[],\"exports\":[]}\n"
            "{\"line\":2,\"request\":\"load TEST-ACTION=LOG\",\"status\":\"returned\",\"code\":0,"
            "\"values\":{\"RESULT\":\"loaded\"},\"types\":{\"RESULT\":\"text\"},\"packets\":[],\"items\":[],"
            "\"log\":[{\"level\":1,\"flag\":false,\"text\":\"loaded logged\"}],"
            "\"messages\":[{\"message\":1809,\"wparam\":1,\"lparam\":0}],\"exports\":[]}\n"
            "{\"line\":3,\"request\":\"event PORT-OPEN TEST-ACTION=SEND\",\"status\":\"returned\",\"code\":0,"
            "\"values\":{\"RESULT\":0},\"types\":{\"RESULT\":\"int\"},\"packets\":[],\"items\":[],\"log\":[],\"messages\":[],"
            "\"exports\":[{\"name\":\"Vantrel_SendDataEx\",\"args\":[1,0,0,0,129,*,6],"
            "\"data\":\"data\\u0000\\u00ff\",\"items\":[]}]}\n"
            "{\"line\":4,\"request\":\"feed data.txt TEST-ACTION=DELIVER\",\"status\":\"returned\",\"code\":0,"
            "\"values\":{\"calls\":1,\"bytes\":3,\"failed\":0,\"deliveries\":1},"
            "\"types\":{\"calls\":\"int\",\"bytes\":\"int\",\"failed\":\"int\",\"deliveries\":\"int\"},"
            "\"packets\":[\"packet1\"],\"items\":[{\"name\":\"ITEM\",\"value\":\"1\",\"type\":\"text\"}],\"log\":[],\"messages\":[],"
            "\"exports\":[]}\n"
            // The instance still live at the end is unloaded and freed, as a host does.
            "{\"line\":0,\"request\":\"unload\",\"status\":\"returned\",\"code\":0,"
            "\"values\":{\"RESULT\":\"unloaded\"},\"types\":{\"RESULT\":\"text\"},\"packets\":[],\"items\":[],\"log\":[],\"messages\":[],"
            "\"exports\":[]}\n"
            "{\"line\":0,\"request\":\"free\",\"status\":\"returned\",\"code\":0,\"values\":{},\"types\":{},\"packets\":[],"
            "\"items\":[],\"log\":[],\"messages\":[],\"exports\":[]}\n");
}

TEST_F(KivhostE2E, ExitCodesTellUsageErrorsMissingModulesAndFailedRequests) {
  const Outcome bad_script = Kivhost({"run", Write("bad.kvh", "create\nload X=$NOPE\n"), TestModule()});
  EXPECT_EQ(bad_script.Exit, 2u);
  EXPECT_EQ(bad_script.Out, "");  // nothing runs when the script does not parse
  EXPECT_NE(bad_script.Err.find("bad.kvh:2: unknown variable $NOPE"), std::string::npos) << bad_script.Err;
  EXPECT_EQ(Kivhost({"frobnicate"}).Exit, 2u);
  EXPECT_EQ(Kivhost({"exec", TestModule(), "create", "feed"}).Exit, 2u);

  const Outcome missing = Kivhost({"exec", kiv::test::ExeFolder() + "no_such_module.dll", "create"});
  EXPECT_EQ(missing.Exit, 3u);
  EXPECT_NE(missing.Out.find("-> failed"), std::string::npos) << missing.Out;

  // A construction that faults: the module refuses the instance, so the request after it fails.
  const Outcome fault = Kivhost({"exec", TestModule(), "create TEST-ACTION=FAULT", "free"});
  EXPECT_EQ(fault.Exit, 1u);
  EXPECT_NE(fault.Out.find("[1] create TEST-ACTION=FAULT -> -1\n[2] free -> failed (no instance: create one first)"),
            std::string::npos)
      << fault.Out;

  const Outcome no_file = Kivhost({"exec", TestModule(), "create", "feed missing.bin"});
  EXPECT_EQ(no_file.Exit, 1u);
  EXPECT_NE(no_file.Out.find("-> failed (cannot read missing.bin)"), std::string::npos) << no_file.Out;
  EXPECT_EQ(Kivhost({"help"}).Exit, 0u);

  // A code the module returns is output, not a failure of the run; a feed reports its first failure.
  Write("three.bin", "abc");
  const Outcome refused =
      Kivhost({"run", Write("r.kvh", "create\nfeed three.bin chunk=1 TEST-ACTION=FAIL\n"), TestModule()});
  EXPECT_EQ(refused.Exit, 0u) << refused.Out;
  EXPECT_NE(refused.Out.find("[2] feed three.bin chunk=1 TEST-ACTION=FAIL -> -1\n  calls: 3\n  bytes: 3\n  failed: 3\n"),
            std::string::npos)
      << refused.Out;
}

TEST_F(KivhostE2E, StressRunOfEightThreadsAndSixteenSourcesLosesNothing) {
  std::string data;
  for (int i = 0; i < 3000; ++i) data += "record " + std::to_string(i) + "\n";
  const std::string file = Write("stress.txt", data);
  const Outcome run = Kivhost({"stress", TestModule(), file, "threads=8", "sources=16", "chunk=1000",
                               "TEST-ACTION=DELIVER"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  const size_t chunks = (data.size() + 999) / 1000;
  const std::string fed = std::to_string(16 * data.size());
  EXPECT_NE(run.Out.find("  threads: 8\n  sources: 16\n  calls: " + std::to_string(16 * chunks) + "\n  fed: " + fed +
                         "\n  taken: " + fed + "\n  reported: 0\n  packets: " + std::to_string(16 * chunks) + "\n"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(run.Out.find("finding"), std::string::npos);

  // Failures the module reports count as accounted for: the check still passes.
  const Outcome failing = Kivhost({"stress", TestModule(), file, "threads=2", "sources=4", "chunk=5000",
                                   "TEST-ACTION=FAIL"});
  EXPECT_EQ(failing.Exit, 0u) << failing.Out;
  EXPECT_NE(failing.Out.find("  taken: 0\n  reported: " + std::to_string(4 * data.size()) + "\n"), std::string::npos)
      << failing.Out;
}

// Without a message window the host hears of no new lines and collects the log itself.
TEST_F(KivhostE2E, LogRequestReportsTheSizeNeededKeepsOrDropsTheLines) {
  const Outcome run = Kivhost({"exec", TestModule(), "create", "load MSG-PROC-HANDLE:int=0 TEST-ACTION=LOG",
                               "log size=4", "log", "command X TEST-ACTION=LOG", "log size=0", "log"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  EXPECT_NE(Masked(run.Out).find("[2] load MSG-PROC-HANDLE:int=0 TEST-ACTION=LOG -> 0\n"
                                 "  RESULT: loaded\n"
                                 "[3] log size=4 -> 0\n"
                                 "  needed: 16\n"
                                 "[4] log -> 16\n"
                                 "  log[1]: loaded logged\n"
                                 "[5] command X TEST-ACTION=LOG -> 7\n"
                                 "  RESULT: custom\n"
                                 "[6] log size=0 -> 0\n"
                                 "  needed: 16\n"
                                 "[7] log -> 0\n"),
            std::string::npos)
      << run.Out;
}

TEST_F(KivhostE2E, ProgressLineGoesToStandardErrorOnlyWhenAsked) {
  const std::string file = Write("big.bin", std::string(256 * 1024, 'z'));
  const std::vector<std::string> requests{"create", "feed " + file + " chunk=512 TEST-ACTION=DELIVER"};
  std::vector<std::string> with{"--progress", "exec", TestModule()}, without{"exec", TestModule()};
  with.insert(with.end(), requests.begin(), requests.end());
  without.insert(without.end(), requests.begin(), requests.end());
  const Outcome shown = Kivhost(with);
  const Outcome quiet = Kivhost(without);
  EXPECT_EQ(shown.Exit, 0u);
  EXPECT_NE(shown.Err.find("\rfed "), std::string::npos) << shown.Err;
  EXPECT_NE(shown.Err.find(" of 256.0 KiB ("), std::string::npos) << shown.Err;
  EXPECT_NE(shown.Err.find(" packets"), std::string::npos) << shown.Err;
  EXPECT_EQ(quiet.Err, "");
  // The progress line leaves standard output alone.
  EXPECT_EQ(Masked(shown.Out), Masked(quiet.Out));
  EXPECT_NE(quiet.Out.find("  calls: 512\n"), std::string::npos) << quiet.Out;
}

// A module that refuses LOAD and UNLOAD, leaves the input where it was and exports no
// FreePluginInstance: the check finds each of these, and the run fails.
TEST_F(KivhostE2E, StressCheckFailsWhenBytesAreUnaccountedOrInstancesLeft) {
  const std::string file = Write("d.bin", std::string(3000, 'd'));
  const Outcome run = Kivhost({"--json", "stress", kiv::test::ExeFolder() + "kiv_host_module.dll", file, "threads=2",
                               "sources=3", "chunk=1000"});
  EXPECT_EQ(run.Exit, 1u) << run.Out;
  EXPECT_NE(run.Out.find("\"status\":\"failed\",\"code\":1,\"error\":\"check failed: 10 finding(s)\""),
            std::string::npos)
      << run.Out;
  // Threads finish in any order; the sources and the instances are checked last, in order.
  for (const char* finding : {"thread 1: LOAD failed", "thread 2: UNLOAD failed", "thread 1: free missing",
                              "thread 2: free missing"})
    EXPECT_NE(run.Out.find(std::string(":\"") + finding + "\""), std::string::npos) << finding;
  EXPECT_NE(run.Out.find("\"finding#7\":\"source 0: 3000 bytes fed, 0 taken, 0 reported, 3000 unaccounted\","
                         "\"finding#8\":\"source 1: 3000 bytes fed, 0 taken, 0 reported, 3000 unaccounted\","
                         "\"finding#9\":\"source 2: 3000 bytes fed, 0 taken, 0 reported, 3000 unaccounted\","
                         "\"finding#10\":\"2 of 2 instances left\""),
            std::string::npos)
      << run.Out;
}

// varnolet.dll without an inner plugin beside it: instances live, and data calls are taken
// without anything delivered; kivhost warns that there is no inner plugin.
TEST_F(KivhostE2E, VarnoletWithoutInnerPluginTakesDataAndDeliversNothing) {
  Write("data.bin", std::string(5000, 'x'));
  const std::string script = Write("v.kvh",
                                   "create\n"
                                   "load LANGUAGE=en\n"
                                   "feed data.bin chunk=2048 source=7 name=COM7\n"
                                   "feed data.bin path=plain options=0x20\n"
                                   "unload\n"
                                   "free\n");
  const Outcome run = Kivhost({"run", script, Varnolet()});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  // The module is silent towards the host; kivhost asks it why and warns (the system's wording
  // of the reason varies).
  const std::regex warning(R"(  warning: no inner plugin: <dir>\\kivhost_varnolet\\plugin\.dll: [^\n]*\(error 126\)\n)");
  const std::string out = Masked(run.Out);
  EXPECT_TRUE(std::regex_search(out, warning)) << out;
  EXPECT_EQ(std::regex_replace(out, warning, "  warning: <why>\n"),
            "[0] module <dir>\\kivhost_varnolet\\varnolet.dll -> 0\n"
            "[1] create -> 0\n"
            "  instance: 0x*\n"
            "  warning: <why>\n"
            "[2] load LANGUAGE=en -> 0\n"
            "[3] feed data.bin chunk=2048 source=7 name=COM7 -> 0\n"
            "  calls: 3\n"
            "  bytes: 5000\n"
            "  failed: 0\n"
            "  deliveries: 0\n"
            "[4] feed data.bin path=plain options=0x20 -> 0\n"
            "  calls: 2\n"
            "  bytes: 5000\n"
            "  failed: 0\n"
            "  deliveries: 0\n"
            "[5] unload -> 0\n"
            "[6] free -> 0\n");
  const Outcome stress = Kivhost({"stress", Varnolet(), kiv::test::ExeFolder() + "kivhost.exe", "threads=8",
                                  "sources=16", "chunk=65536"});
  EXPECT_EQ(stress.Exit, 0u) << stress.Out;
}

// varnolet.dll with an inner plugin that parses text lines from each data source's stream:
// lines split across data calls come out whole, the inner plugin's log line and the data it sends
// reach the host.
constexpr const char* kInnerSession =
    "create\n"
    "load LANGUAGE=en\n"
    "info\n"
    "event LOG\n"
    "event SEND\n"
    "feed lines.txt chunk=4 source=2 name=COM2\n"
    "feed lines.txt path=plain options=8\n"
    "unload\n"
    "free\n";

TEST_F(KivhostE2E, VarnoletWithAnInnerLineParserDeliversWholeLines) {
  Write("lines.txt", "alpha\nbeta gamma\npartial");
  const Outcome run = Kivhost({"run", Write("inner.kvh", kInnerSession), Varnolet("kivhost_recorder")});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  EXPECT_EQ(Masked(run.Out),
            "[0] module <dir>\\kivhost_recorder\\varnolet.dll -> 0\n"
            "[1] create -> 0\n"
            "  instance: 0x*\n"
            "[2] load LANGUAGE=en -> 0\n"
            "[3] info -> 1\n"
            "  module-type: 39\n"
            "  module-options: 0\n"
            "  framework: 4.0\n"
            "  version: 5.0\n"
            "  description: Varnolet\n"
            "  custom-commands: \n"
            "  size: 41\n"
            "[4] event LOG -> 0\n"
            "  log[2]: Varnolet. inner log line\n"
            "  message: 1809 wparam=1 lparam=0\n"
            "[5] event SEND -> 0\n"
            "  export: Vantrel_SendDataEx(1, 0, 0, 0, 129, *, 3) data=\"abc\"\n"
            "[6] feed lines.txt chunk=4 source=2 name=COM2 -> 0\n"
            "  calls: 6\n"
            "  bytes: 24\n"
            "  failed: 0\n"
            "  deliveries: 2\n"
            "  packet: alpha\n"
            "  packet: beta gamma\n"
            "  item: FULL_DATA_PACKET = alpha\n"
            "  item: LINE_LENGTH = 5 (int)\n"
            "  item: FULL_DATA_PACKET = beta gamma\n"
            "  item: LINE_LENGTH = 10 (int)\n"
            "[7] feed lines.txt path=plain options=8 -> 5\n"
            "  calls: 1\n"
            "  bytes: 24\n"
            "  failed: 0\n"
            "  deliveries: 0\n"
            "  log[2]: Varnolet. Data have been processed successfully\n"
            "  message: 1809 wparam=1 lparam=0\n"
            "[8] unload -> 0\n"
            "[9] free -> 0\n");

  const Outcome json = Kivhost({"--json", "run", Write("inner.kvh", kInnerSession), Varnolet("kivhost_recorder")});
  EXPECT_EQ(json.Exit, 0u);
  EXPECT_NE(json.Out.find("{\"line\":6,\"request\":\"feed lines.txt chunk=4 source=2 name=COM2\",\"status\":\"returned\","
                          "\"code\":0,\"values\":{\"calls\":6,\"bytes\":24,\"failed\":0,\"deliveries\":2},"
                          "\"types\":{\"calls\":\"int\",\"bytes\":\"int\",\"failed\":\"int\",\"deliveries\":\"int\"},"
                          "\"packets\":[\"alpha\",\"beta gamma\"],"
                          "\"items\":[{\"name\":\"FULL_DATA_PACKET\",\"value\":\"alpha\",\"type\":\"text\"},"
                          "{\"name\":\"LINE_LENGTH\",\"value\":5,\"type\":\"int\"},"
                          "{\"name\":\"FULL_DATA_PACKET\",\"value\":\"beta gamma\",\"type\":\"text\"},"
                          "{\"name\":\"LINE_LENGTH\",\"value\":10,\"type\":\"int\"}],\"log\":[],\"messages\":[],\"exports\":[]}\n"),
            std::string::npos)
      << json.Out;
}

TEST_F(KivhostE2E, StressThroughTheInnerLineParserDeliversEveryLineOfEverySource) {
  std::string data;
  size_t lines = 0;
  for (int i = 0; i < 1500; ++i, ++lines) data += "line " + std::to_string(i) + std::string(i % 53, 'x') + "\n";
  const std::string file = Write("lines.txt", data);
  // Chunks of 333 bytes cut most lines in two: each source's stream must put them together again.
  const Outcome run = Kivhost({"stress", Varnolet("kivhost_recorder"), file, "threads=8", "sources=16", "chunk=333"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  const std::string fed = std::to_string(16 * data.size());
  EXPECT_NE(run.Out.find("  fed: " + fed + "\n  taken: " + fed + "\n  reported: 0\n  packets: " +
                         std::to_string(16 * lines) + "\n  packet-bytes: " + std::to_string(16 * (data.size() - lines)) +
                         "\n"),
            std::string::npos)
      << run.Out;

  // An inner plugin that faults on every call: each data call is reported as failed, none lost.
  const Outcome faulting = Kivhost({"stress", Varnolet("kivhost_faulting"), file, "threads=4", "sources=8"});
  EXPECT_EQ(faulting.Exit, 0u) << faulting.Out;
  EXPECT_NE(faulting.Out.find("  taken: 0\n  reported: " + std::to_string(8 * data.size()) + "\n"), std::string::npos)
      << faulting.Out;
}

// The sample inner plugins behind varnolet.dll on their own sample data (copied beside them).
constexpr const char* kFrameSessionText =
    "[0] module <dir>\\kivhost_frame_parser\\varnolet.dll -> 0\n"
    "[1] create -> 0\n"
    "  instance: 0x*\n"
    "[2] load LANGUAGE=en -> 0\n"
    "  log[2]: Varnolet. Frame parser loaded\n"
    "  message: 1809 wparam=1 lparam=0\n"
    "[3] feed sample.bin chunk=64 source=4 name=COM4 -> 0\n"
    "  calls: 2\n"
    "  bytes: 87\n"
    "  failed: 0\n"
    "  deliveries: 2\n"
    "  packet: 0100D700D8FF\n"
    "  packet: 0200F503\n"
    "  packet: 03006400C8002C019001\n"
    "  packet: 0102D900D9FF\n"
    "  packet: 0201F403\n"
    "  item: FULL_DATA_PACKET = 0100D700D8FF\n"
    "  item: Channel = 1 (int)\n"
    "  item: Sequence = 0 (int)\n"
    "  item: Sample1 = 215 (int)\n"
    "  item: Sample2 = -40 (int)\n"
    "  item: $NEW_ROW$ = (null)\n"
    "  item: FULL_DATA_PACKET = 0200F503\n"
    "  item: Channel = 2 (int)\n"
    "  item: Sequence = 0 (int)\n"
    "  item: Sample1 = 1013 (int)\n"
    "  item: $NEW_ROW$ = (null)\n"
    "  item: FULL_DATA_PACKET = 03006400C8002C019001\n"
    "  item: Channel = 3 (int)\n"
    "  item: Sequence = 0 (int)\n"
    "  item: Sample1 = 100 (int)\n"
    "  item: Sample2 = 200 (int)\n"
    "  item: Sample3 = 300 (int)\n"
    "  item: Sample4 = 400 (int)\n"
    "  item: $NEW_ROW$ = (null)\n"
    "  item: FULL_DATA_PACKET = 0102D900D9FF\n"
    "  item: Channel = 1 (int)\n"
    "  item: Sequence = 2 (int)\n"
    "  item: Sample1 = 217 (int)\n"
    "  item: Sample2 = -39 (int)\n"
    "  item: $NEW_ROW$ = (null)\n"
    "  item: FULL_DATA_PACKET = 0201F403\n"
    "  item: Channel = 2 (int)\n"
    "  item: Sequence = 1 (int)\n"
    "  item: Sample1 = 1012 (int)\n"
    "  item: $NEW_ROW$ = (null)\n"
    "  log[2]: Varnolet. 3 bytes outside frames skipped on data source 4\n"
    "  log[1]: Varnolet. Frame with a bad checksum skipped on data source 4\n"
    "  log[2]: Varnolet. 8 bytes outside frames skipped on data source 4\n"
    "  log[1]: Varnolet. Frame with a bad length skipped on data source 4\n"
    "  log[2]: Varnolet. 29 bytes outside frames skipped on data source 4\n"
    "  message: 1809 wparam=1 lparam=0 x5\n"
    "[4] unload -> 0\n"
    "[5] free -> 0\n";

TEST_F(KivhostE2E, FrameParserSampleDeliversItsGoodFramesAndLogsTheBadOnes) {
  const std::string sample = kiv::test::ExeFolder() + "kivhost_frame_parser\\sample.bin";
  const Outcome run = Kivhost({"exec", Varnolet("kivhost_frame_parser"), "create", "load LANGUAGE=en",
                               "feed " + sample + " chunk=64 source=4 name=COM4", "unload", "free"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  std::string out = Masked(run.Out);
  const std::string shown_sample = "<dir>\\kivhost_frame_parser\\sample.bin";
  for (size_t at; (at = out.find(shown_sample)) != std::string::npos;) out.replace(at, shown_sample.size(), "sample.bin");
  EXPECT_EQ(out, kFrameSessionText);
}

// The sample's non-empty lines, each one packet, in order.
std::vector<std::string> SampleLines(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

TEST_F(KivhostE2E, LineParserSampleDeliversEveryLineAlsoUnderStress) {
  const std::string sample = kiv::test::ExeFolder() + "kivhost_line_parser\\sample.txt";
  const std::vector<std::string> lines = SampleLines(sample);
  ASSERT_GT(lines.size(), 10u);
  const Outcome run = Kivhost({"exec", Varnolet("kivhost_line_parser"), "create", "load",
                               "feed " + sample + " chunk=100 source=1 name=COM1", "command GET-STATS"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  std::string packets;
  for (const std::string& line : lines) packets += "  packet: " + line + "\n";
  EXPECT_NE(run.Out.find("  deliveries: 22\n" + packets + "  item: FULL_DATA_PACKET = " + lines[0] + "\n"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("[4] command GET-STATS -> 0\n  Lines: " + std::to_string(lines.size()) +
                         " (int)\n  Dropped: 0 (int)\n  MaxLine: 1024 (int)\n"),
            std::string::npos)
      << run.Out;

  // Chunks of 97 bytes cut lines anywhere; every source still gets every line once.
  const Outcome stress =
      Kivhost({"stress", Varnolet("kivhost_line_parser"), sample, "threads=8", "sources=16", "chunk=97"});
  EXPECT_EQ(stress.Exit, 0u) << stress.Out;
  EXPECT_NE(stress.Out.find("  reported: 0\n  packets: " + std::to_string(16 * lines.size()) + "\n"),
            std::string::npos)
      << stress.Out;
}

// Two captures fed interleaved, each on its own data source: every source's lines come whole.
TEST_F(KivhostE2E, FeedInterleavesSeveralSourcesChunkByChunk) {
  Write("a.txt", "a1\na2\n");
  Write("b.txt", "b1\nb2\nb3\n");
  const Outcome run = Kivhost({"run", Write("mix.kvh", "create\nload\nfeed a.txt b.txt chunk=3 source=4,9 name=COM4,GPS\n"),
                               Varnolet("kivhost_recorder")});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  EXPECT_NE(run.Out.find("[3] feed a.txt b.txt chunk=3 source=4,9 name=COM4,GPS -> 1\n  sources: 2\n  calls: 5\n"
                         "  bytes: 15\n  failed: 0\n  deliveries: 5\n"
                         "  packet: a1\n  packet: b1\n  packet: a2\n  packet: b2\n  packet: b3\n"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(Kivhost({"exec", Varnolet("kivhost_recorder"), "create", "feed a.txt a.txt source=1,1"}).Exit, 2u);
}

// A reference run's JSON lines are the expected packets of the next run.
TEST_F(KivhostE2E, ExpectComparesTheDeliveredPacketsWithAReferenceRun) {
  Write("lines.txt", "alpha\nbeta\ngamma\n");
  const std::string script = Write("e.kvh", "create\nload\nfeed lines.txt chunk=5\n");
  const Outcome reference = Kivhost({"--json", "run", script, Varnolet("kivhost_recorder")});
  ASSERT_EQ(reference.Exit, 0u) << reference.Out;
  const Outcome same = Kivhost({"run", script, Varnolet("kivhost_recorder"), "--expect", Write("want.jsonl", reference.Out)});
  EXPECT_EQ(same.Exit, 0u) << same.Out << same.Err;
  EXPECT_NE(same.Out.find("\nexpect: pass (3 delivered, 3 expected in "), std::string::npos) << same.Out;

  const Outcome differ = Kivhost({"run", script, Varnolet("kivhost_recorder"), "--expect",
                                  Write("other.jsonl", "\"alpha\"\n\"BETA\"\n\"gamma\"\n\"delta\"\n")});
  EXPECT_EQ(differ.Exit, 1u) << differ.Out;
  EXPECT_NE(differ.Out.find("expect: FAIL: 2 packet(s) differ (3 delivered, 4 expected in ") , std::string::npos) << differ.Out;
  EXPECT_NE(differ.Out.find("  packet 2:\n    expected:  BETA\n    delivered: beta\n"
                            "  packet 4:\n    expected:  delta\n    delivered: (none)\n"),
            std::string::npos)
      << differ.Out;
  // A file that is not JSON lines stops the run before it starts.
  const Outcome bad = Kivhost({"run", script, Varnolet("kivhost_recorder"), "--expect", Write("bad.jsonl", "alpha\n")});
  EXPECT_EQ(bad.Exit, 2u);
  EXPECT_EQ(bad.Out, "");
  EXPECT_NE(bad.Err.find("bad.jsonl: line 1: "), std::string::npos) << bad.Err;
}

// Every stress instance gets the plugin's options from a script before it is fed.
TEST_F(KivhostE2E, StressTakesThePluginsOptionsFromASetupScript) {
  const std::string sample = kiv::test::ExeFolder() + "kivhost_line_parser\\sample.txt";
  Write("short.kvh", "command SET-MAX-LINE Length:int=60   # longer lines are dropped\n");
  Write("refused.kvh", "load LANGUAGE=en\ncommand SET-MAX-LINE Length:int=0\n");
  const auto stress = [&](const std::string& setup) {
    return Kivhost({"-D", "SAMPLE=" + sample, "run",
                    Write("s.kvh", "stress \"$SAMPLE\" threads=2 sources=4 chunk=50 setup=" + setup + "\n"),
                    Varnolet("kivhost_line_parser")});
  };
  const Outcome all = Kivhost({"stress", Varnolet("kivhost_line_parser"), sample, "threads=2", "sources=4", "chunk=50"});
  const Outcome shortened = stress("short.kvh");
  EXPECT_EQ(shortened.Exit, 0u) << shortened.Out;
  const auto packets = [](const std::string& out) {
    const size_t at = out.find("  packets: ");
    return at == std::string::npos ? -1 : std::stol(out.substr(at + 11));
  };
  EXPECT_GT(packets(shortened.Out), 0);
  EXPECT_LT(packets(shortened.Out), packets(all.Out)) << shortened.Out << all.Out;
  const Outcome refused = stress("refused.kvh");
  EXPECT_EQ(refused.Exit, 1u) << refused.Out;
  EXPECT_NE(refused.Out.find("finding: setup line 2 (command SET-MAX-LINE Length:int=0) returned -1"), std::string::npos)
      << refused.Out;
  Write("feeds.kvh", "feed x.bin\n");
  EXPECT_NE(stress("feeds.kvh").Out.find("feed cannot set up a stress instance"), std::string::npos);
}

// ---- kivhost check ---------------------------------------------------------------------------

// `kivhost check` on a plugin of the test folder.
Outcome Check(const std::string& plugin, bool json = false) {
  std::vector<std::string> args;
  if (json) args.push_back("--json");
  args.push_back("check");
  args.push_back(kiv::test::ExeFolder() + plugin);
  return Kivhost(args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(KivhostE2E, CheckPassesTheSamplesAndTheRecorderWithEveryExportStdcall) {
  for (const char* plugin : {"kivhost_line_parser\\plugin.dll", "kivhost_frame_parser\\plugin.dll", "kiv_inner_recorder.dll"}) {
    const Outcome run = Check(plugin);
    EXPECT_EQ(run.Exit, 0u) << plugin << "\n" << run.Out << run.Err;
    EXPECT_TRUE(Has(run.Out, "\nresult: pass\n")) << run.Out;
    EXPECT_TRUE(Has(run.Out, "  kivPluginProcessData           present, stdcall")) << run.Out;
    EXPECT_TRUE(Has(run.Out, "data: 1448 bytes fed on the parser path, 0 discarded, 0 left unconsumed\n")) << run.Out;
    // Loaded and unloaded again and again, the plugin leaves nothing behind.
    EXPECT_TRUE(Has(run.Out, "unload: 24 load/unload cycles, TLS slots 0, handles 0 after the first\n")) << run.Out;
    // The module's own version there is that of varnolet.dll's version resource.
    const kiv::TkivVersionInfo module(kiv::test::ExeFolder() + "kivhost_varnolet\\varnolet.dll");
    EXPECT_TRUE(module.Valid);
    EXPECT_TRUE(Has(run.Out, "\nmodule: version " + module.VersionText() + ",")) << run.Out;
    EXPECT_TRUE(Has(run.Out, ", built with SDK " + kiv::SdkVersionText(KIV_SDK_VERSION) + "\n")) << run.Out;
    EXPECT_FALSE(Has(run.Out, "warning:")) << run.Out;
  }
  // The samples export the SDK version they were built with; the recorder does not.
  const std::string sdk = "\nplugin: built with SDK " + kiv::SdkVersionText(KIV_SDK_VERSION) + "\n";
  EXPECT_TRUE(Has(Check("kivhost_line_parser\\plugin.dll").Out, sdk));
  EXPECT_TRUE(Has(Check("kivhost_frame_parser\\plugin.dll").Out, sdk));
  EXPECT_TRUE(Has(Check("kiv_inner_recorder.dll").Out, "\nplugin: built with SDK unknown (no kivPluginSdkVersion export)\n"));
  // With their own sample data, in other chunk sizes.
  const std::string folder = kiv::test::ExeFolder();
  const Outcome frames = Kivhost({"check", folder + "kivhost_frame_parser\\plugin.dll",
                                  "data=" + folder + "kivhost_frame_parser\\sample.bin", "chunk=5"});
  EXPECT_EQ(frames.Exit, 0u) << frames.Out;
  EXPECT_TRUE(Has(frames.Out, "data: 174 bytes fed on the parser path, 0 discarded, 0 left unconsumed\n")) << frames.Out;
  EXPECT_TRUE(Has(frames.Out, "\nresult: pass\n")) << frames.Out;
  // The recorder exports all twelve, and each behaves as stdcall.
  const Outcome recorder = Check("kiv_inner_recorder.dll");
  size_t stdcall = 0;
  for (size_t at = 0; (at = recorder.Out.find("present, stdcall", at)) != std::string::npos; ++at) ++stdcall;
  EXPECT_EQ(stdcall, 12u) << recorder.Out;
}

TEST_F(KivhostE2E, CheckFindsTheFaultOfEachFaultyPlugin) {
  struct Case {
    const char* plugin;
    std::vector<std::string> findings;
  };
  const Case cases[] = {
      {"kiv_check_leaking.dll",
       {"  kivPluginLoad: [reference-kept] 1 interface reference still held when the call ended",
        "  plugin: [reference-not-released] 1 list interface(s) still alive after the instance was freed",
        "FIFO buffer interface(s) still alive after the instance was freed"}},
      {"kiv_check_unconsuming.dll",
       {"  kivPluginProcessData: [unconsumed-data] 1448 of 1448 bytes fed on the parser path were never removed "
        "from their FIFO buffers (nothing was consumed)"}},
      {"kiv_check_misdeclared.dll",
       {"  kivPluginEvent: [decorated-export] exported as \"kivPluginEvent@16\"",
        "  kivPluginLoad: [calling-convention] behaves as cdecl: it left its 12 argument bytes on the stack"}},
      {"kiv_inner_faulting.dll",
       {"  kivPluginCreate: [fault] 1 fault or exception contained by the module",
        "  kivPluginDestroy: [fault] 1 fault or exception contained by the module",
        "  kivPluginLoad: [fault] 1 fault or exception contained by the module",
        "      log: Varnolet. {kivPluginLoad} Exception 0xC0000005 (access violation, write of address 00000000) "
        "at plugin.dll+0x"}},
      {"kiv_inner_foreign.dll",
       {"  kivPluginSetParserItems: [fault] 1 fault or exception contained by the module",
        "      log: Varnolet. {kivPluginLoad} Exception 0xE0424242 at "}},
      {"kiv_check_unload_leaking.dll",
       {"  plugin: [unload-leak] every load and unload of the plugin leaves 1 TLS slot and 1 handle behind",
        "unload: 24 load/unload cycles, TLS slots +23, handles +23 after the first\n"}},
  };
  for (const Case& c : cases) {
    const Outcome run = Check(c.plugin);
    EXPECT_EQ(run.Exit, 1u) << c.plugin << "\n" << run.Out << run.Err;
    EXPECT_TRUE(Has(run.Out, "\nresult: FAIL (")) << run.Out;
    for (const std::string& finding : c.findings) EXPECT_TRUE(Has(run.Out, finding)) << finding << "\n" << run.Out;
  }
  // Only the leak is reported for the leaking plugin, only the stream for the unconsuming one.
  EXPECT_TRUE(Has(Check("kiv_check_leaking.dll").Out, "result: FAIL (3 findings)"));
  EXPECT_TRUE(Has(Check("kiv_check_unconsuming.dll").Out, "result: FAIL (1 finding)"));
  EXPECT_TRUE(Has(Check("kiv_check_unload_leaking.dll").Out, "result: FAIL (1 finding)"));
}

// A capture that ends inside a record leaves it in the stream: normal, unless the last call
// consumed nothing.
TEST_F(KivhostE2E, CheckTakesATrailingPartialRecordAsNormal) {
  const std::string data = Write("partial.txt", "l one\r\nl two\r\nab");
  const std::string plugin = kiv::test::ExeFolder() + "kivhost_line_parser\\plugin.dll";
  const Outcome partial = Kivhost({"check", plugin, "data=" + data, "chunk=8"});
  EXPECT_EQ(partial.Exit, 0u) << partial.Out;
  EXPECT_TRUE(Has(partial.Out, "data: 32 bytes fed on the parser path, 0 discarded, 4 left unconsumed\n")) << partial.Out;
  EXPECT_TRUE(Has(partial.Out, "\nresult: pass\n")) << partial.Out;
  const Outcome stalled = Kivhost({"check", plugin, "data=" + data, "chunk=2"});
  EXPECT_EQ(stalled.Exit, 1u) << stalled.Out;
  EXPECT_TRUE(Has(stalled.Out, "[unconsumed-data] 4 of 32 bytes fed on the parser path were never removed from their "
                               "FIFO buffers: the last data call consumed nothing"))
      << stalled.Out;
  const Outcome json = Kivhost({"--json", "check", plugin, "data=" + data, "chunk=8"});
  EXPECT_TRUE(Has(json.Out, "\"entry\":\"kivPluginLoad\",\"present\":true,\"convention\":\"stdcall\",\"faults\":0,"
                            "\"kept_past_call\":0,\"log\":[{\"level\":2,\"flag\":false,\"text\":\"Varnolet. Line parser loaded"))
      << json.Out;
}

TEST_F(KivhostE2E, CheckReportsWhatALargeCallHadToDiscardFromAStreamLeftFull) {
  // 20000 bytes in one call for each of the two parser-path sources: 16384 fit, the rest
  // displaces the oldest, since the plugin never consumes.
  const std::string data = Write("large.txt", std::string(20000, 'x'));
  const Outcome run = Kivhost({"check", kiv::test::ExeFolder() + "kiv_check_unconsuming.dll", "data=" + data, "chunk=65536"});
  EXPECT_EQ(run.Exit, 1u) << run.Out;
  EXPECT_TRUE(Has(run.Out, "  kivPluginProcessData: [discarded-data] 7232 of 40000 bytes fed on the parser path were "
                           "discarded"))
      << run.Out;
  EXPECT_TRUE(Has(run.Out, "data: 40000 bytes fed on the parser path, 7232 discarded, 32768 left unconsumed\n")) << run.Out;
}

TEST_F(KivhostE2E, CheckWarnsWhenThePluginWasBuiltAgainstANewerSdk) {
  const std::string newer = kiv::SdkVersionText(KIV_MAKE_VERSION(KIV_SDK_VERSION_MAJOR + 1, 0, 0));
  const Outcome run = Check("kiv_check_misdeclared.dll");
  EXPECT_TRUE(Has(run.Out, "\nplugin: built with SDK " + newer + "\nwarning: the plugin was built against SDK " + newer +
                               ", newer than the module's SDK " + kiv::SdkVersionText(KIV_SDK_VERSION)))
      << run.Out;
  EXPECT_TRUE(Has(Check("kiv_check_misdeclared.dll", true).Out, ",\"plugin_sdk_version\":\"" + newer + "\",\"warning\":\"the plugin"));
}

TEST_F(KivhostE2E, CheckReportsAsJsonLinesAndRefusesWhatItCannotCheck) {
  const Outcome run = Check("kiv_check_misdeclared.dll", true);
  EXPECT_EQ(run.Exit, 1u) << run.Out;
  EXPECT_TRUE(Has(run.Out, "{\"entry\":\"kivPluginLoad\",\"present\":true,\"convention\":\"cdecl\",\"faults\":0,"
                           "\"kept_past_call\":0,\"log\":[]}\n"))
      << run.Out;
  EXPECT_TRUE(Has(run.Out, "{\"finding\":\"calling-convention\",\"entry\":\"kivPluginLoad\",\"text\":")) << run.Out;
  EXPECT_TRUE(Has(Masked(run.Out), "{\"plugin\":\"<dir>\\\\kiv_check_misdeclared.dll\",\"result\":\"fail\",\"findings\":2,"))
      << run.Out;

  const Outcome pass = Check("kivhost_line_parser\\plugin.dll", true);
  EXPECT_EQ(pass.Exit, 0u) << pass.Out;
  EXPECT_TRUE(Has(pass.Out, ",\"result\":\"pass\",\"findings\":0,")) << pass.Out;

  EXPECT_EQ(Kivhost({"check", kiv::test::ExeFolder() + "kiv_check_leaking.dll", "chunk=0"}).Exit, 2u);
  EXPECT_EQ(Kivhost({"check", kiv::test::ExeFolder() + "kivhost_line_parser\\sample.txt"}).Exit, 3u);
}

// ---- inner plugins in Pascal ----------------------------------------------------------------

#ifdef KIV_HAVE_PASCAL
constexpr bool kPascal = true;
#else
constexpr bool kPascal = false;
#endif

TEST_F(KivhostE2E, PascalFrameParserDeliversWhatTheCSampleDeliversAndPassesTheCheck) {
  if (!kPascal) GTEST_SKIP() << "Free Pascal cross compiler not prepared (scripts/setup)";
  const std::string folder = "kivhost_pascal_frame_parser";
  const std::string sample = kiv::test::ExeFolder() + folder + "\\sample.bin";
  const Outcome run = Kivhost({"exec", Varnolet(folder.c_str()), "create", "load LANGUAGE=en",
                               "feed " + sample + " chunk=64 source=4 name=COM4", "unload", "free"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  std::string out = Masked(run.Out);
  const std::string shown_sample = "<dir>\\" + folder + "\\sample.bin";
  for (size_t at; (at = out.find(shown_sample)) != std::string::npos;) out.replace(at, shown_sample.size(), "sample.bin");
  for (size_t at; (at = out.find(folder)) != std::string::npos;) out.replace(at, folder.size(), "kivhost_frame_parser");
  EXPECT_EQ(out, kFrameSessionText);

  const Outcome check = Check(folder + "\\plugin.dll");
  EXPECT_EQ(check.Exit, 0u) << check.Out << check.Err;
  EXPECT_TRUE(Has(check.Out, "  kivPluginLoad                  present, stdcall")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "  kivPluginProcessData           present, stdcall")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "data: 1448 bytes fed on the parser path, 0 discarded, 0 left unconsumed\n")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "\nresult: pass\n")) << check.Out;
  const Outcome chunks = Kivhost({"check", kiv::test::ExeFolder() + folder + "\\plugin.dll", "data=" + sample, "chunk=5"});
  EXPECT_EQ(chunks.Exit, 0u) << chunks.Out;
  EXPECT_TRUE(Has(chunks.Out, "data: 174 bytes fed on the parser path, 0 discarded, 0 left unconsumed\n")) << chunks.Out;
  EXPECT_TRUE(Has(chunks.Out, "\nresult: pass\n")) << chunks.Out;
}

// References the compiler counts, kept in globals past the call: every later call through them
// fails cleanly and the compiler's releases (on reassignment, and by finalization when the
// library goes) reach live wrappers. The check reports the keeping, and, since the module keeps
// plugin.dll loaded until it unloads itself, the list and item the globals still hold after the
// instance was freed.
TEST_F(KivhostE2E, KeptPascalReferencesFailCleanlyAndTheirReleasesAreHarmless) {
  if (!kPascal) GTEST_SKIP() << "Free Pascal cross compiler not prepared (scripts/setup)";
  const std::string data = Write("ten.txt", "abcdefghij");
  const Outcome run = Kivhost({"exec", Varnolet("kivhost_kiv_check_kept_refs"), "create", "load LANGUAGE=en",
                               "feed " + data + " chunk=4 source=4 name=COM4", "unload", "free"});
  EXPECT_EQ(run.Exit, 0u) << run.Out;
  const std::string probe = "count 0, signature 0, Add failed, IndexOf failed";
  EXPECT_TRUE(Has(run.Out, "  calls: 3\n  bytes: 10\n  failed: 0\n")) << run.Out;
  EXPECT_TRUE(Has(run.Out, "  log[2]: Varnolet. kept parameters: " + probe + "\n")) << run.Out;
  const std::string kept = "  log[2]: Varnolet. kept parsed data: " + probe +
                           "; kept item: GetValueW failed, IsRowMarker 0\n";
  EXPECT_TRUE(Has(run.Out, kept + kept)) << run.Out;
  EXPECT_TRUE(Has(run.Out, "[5] free -> 0\n")) << run.Out;

  const Outcome check = Check("kivhost_kiv_check_kept_refs\\plugin.dll");
  EXPECT_EQ(check.Exit, 1u) << check.Out << check.Err;
  EXPECT_TRUE(Has(check.Out, "  kivPluginLoad: [reference-kept] 1 interface reference still held")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "  kivPluginProcessData: [reference-kept] ")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "  plugin: [reference-not-released] 1 list interface(s) still alive")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "  plugin: [reference-not-released] 1 item interface(s) still alive")) << check.Out;
  EXPECT_TRUE(Has(check.Out, "result: FAIL (4 findings)\n")) << check.Out;
}

}  // namespace
}  // namespace kivhost
