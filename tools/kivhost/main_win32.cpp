// kivhost: loads a plugin module as the host application does and drives it with requests from a
// script or the command line, printing what each request produced. See README.md.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "check.h"
#include "command_line.h"
#include "expect.h"
#include "json_format.h"
#include "runner.h"
#include "script.h"
#include "text_format.h"

namespace {

using namespace kivhost;

std::string FullPath(const std::string& path) {
  char full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "kivhost: %s\n%s", message.c_str(), UsageText());
  return kExitUsage;
}

// The requests of the invocation, with the module request first; false after a reported error.
bool CollectRequests(const Invocation& inv, ScriptParser& parser, std::vector<Request>& requests) {
  if (inv.Subcommand == "run") {
    std::ifstream file(inv.Script, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "kivhost: cannot read %s\n", inv.Script.c_str());
      return false;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ParsedScript parsed = parser.ParseScript(text);
    if (parsed.Error) {
      std::fprintf(stderr, "%s:%d: %s\n", inv.Script.c_str(), parsed.Error->Line, parsed.Error->Message.c_str());
      return false;
    }
    requests = std::move(parsed.Requests);
  } else {
    for (size_t i = 0; i < inv.Lines.size(); ++i) {
      if (auto error = parser.ParseLine(inv.Lines[i], static_cast<int>(i + 1), requests)) {
        std::fprintf(stderr, "kivhost: request %d: %s\n", error->Line, error->Message.c_str());
        return false;
      }
    }
  }
  if (inv.Module.empty()) return true;
  // A module named on the command line takes the place of the script's own.
  const std::string module = FullPath(inv.Module);
  bool named = false;
  for (Request& q : requests)
    if (q.Kind == RequestKind::Module) q.Name = module, q.Text = "module " + module, named = true;
  if (!named) {
    Request q;
    q.Kind = RequestKind::Module;
    q.Name = module;
    q.Text = "module " + module;
    requests.insert(requests.begin(), q);
  }
  return true;
}

void Print(const RequestResult& result, bool json) {
  const std::string text = json ? FormatJson(result) + "\n" : FormatText(result);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Runs the requests of `run`, `exec` and `stress`, printing each result; the exit code.
int RunRequests(const Invocation& inv) {
  ScriptParser parser;
  Runner::Settings settings;
  if (inv.Subcommand == "run") {
    settings.BaseDir = FolderOf(FullPath(inv.Script));
    parser.Define("SCRIPT_DIR", settings.BaseDir);
  }
  for (const auto& [name, value] : inv.Defines) parser.Define(name, value);
  std::vector<Request> requests;
  if (!CollectRequests(inv, parser, requests)) return kExitUsage;
  // The expected packets are read before anything runs: a bad file is a usage error.
  std::vector<std::string> expected, delivered;
  if (!inv.Expect.empty()) {
    std::ifstream file(inv.Expect, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::optional<std::string> error = file ? ReadExpectedPackets(text, expected) : "cannot read it";
    if (error) {
      std::fprintf(stderr, "kivhost: %s: %s\n", inv.Expect.c_str(), error->c_str());
      return kExitUsage;
    }
  }

  settings.Progress = inv.ShowProgress == Progress::On ||
                      (inv.ShowProgress == Progress::Auto && _isatty(_fileno(stdout)) && _isatty(_fileno(stderr)));
  Runner runner(settings);
  int exit_code = kExitOk;
  for (const Request& q : requests) {
    const RequestResult result = runner.Run(q);
    Print(result, inv.Json);
    delivered.insert(delivered.end(), result.Packets.begin(), result.Packets.end());
    if (runner.ModuleLoadFailed()) return kExitNoModule;
    if (result.Status != RequestStatus::Returned) exit_code = kExitCheckFailed;
  }
  for (const RequestResult& result : runner.Finish()) {
    Print(result, inv.Json);
    if (result.Status != RequestStatus::Returned) exit_code = kExitCheckFailed;
  }
  if (!inv.Expect.empty()) {
    const PacketComparison comparison = ComparePackets(expected, delivered);
    const std::string report =
        inv.Json ? FormatComparisonJson(comparison, inv.Expect) : FormatComparisonText(comparison, inv.Expect);
    std::fwrite(report.data(), 1, report.size(), stdout);
    if (!comparison.Match()) exit_code = kExitCheckFailed;
  }
  return exit_code;
}

int Help(const Invocation&) {
  std::fputs(UsageText(), stdout);
  return kExitOk;
}

// What each subcommand runs; command_line.cpp lists the arguments they take.
struct Subcommand {
  const char* Name;
  int (*Run)(const Invocation&);
};
constexpr Subcommand kSubcommands[] = {
    {"run", RunRequests},
    {"exec", RunRequests},
    {"stress", RunRequests},
    {"check", RunCheck},
    {"help", Help},
};

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  Invocation inv;
  if (auto error = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), inv)) return UsageError(error->Message);
  for (const Subcommand& sub : kSubcommands)
    if (inv.Subcommand == sub.Name) return sub.Run(inv);
  return UsageError("unknown subcommand " + inv.Subcommand);
}
