#include "command_line.h"

#include <cstddef>
#include <string_view>

namespace kivhost {
namespace {

// Subcommands and the arguments they take; main_win32.cpp has the matching table of what runs them.
struct SubcommandInfo {
  const char* Name;
  size_t MinArgs;
  size_t MaxArgs;  // SIZE_MAX: any number
};

constexpr SubcommandInfo kSubcommands[] = {
    {"run", 1, 2},
    {"exec", 2, SIZE_MAX},
    {"stress", 2, SIZE_MAX},
    {"check", 1, SIZE_MAX},
    {"help", 0, 0},
};

// Quotes a command-line argument for the request grammar, so that it stays one word.
std::string QuoteWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"\\#$") == std::string::npos) return word;
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\' || c == '$') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

const char* UsageText() noexcept {
  return "usage: kivhost [--json] [--progress|--no-progress] [-D NAME=VALUE]... <subcommand> ...\n"
         "  run <script> [<module>] [--expect <file>]   run a script of requests\n"
         "  exec <module> <request>... [--expect <file>]   run the requests given as arguments\n"
         "  stress <module> <file> [threads=N] [sources=N] [chunk=N] [path=parser|plain] [NAME=VALUE]...\n"
         "  check <plugin.dll> [data=<file>] [chunk=N]   check an inner plugin behind varnolet.dll\n"
         "  help                               this text\n"
         "--expect <file>: compare the packets delivered with those of a file of JSON lines\n"
         "exit codes: 0 ok, 1 a check or request failed or packets differ, 2 usage or script error,\n"
         "3 module not loaded\n";
}

std::optional<CommandLineError> ParseCommandLine(const std::vector<std::string>& args, Invocation& out) {
  out = Invocation{};
  size_t i = 0;
  for (; i < args.size() && !args[i].empty() && args[i][0] == '-'; ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      out.Json = true;
    } else if (arg == "--progress") {
      out.ShowProgress = Progress::On;
    } else if (arg == "--no-progress") {
      out.ShowProgress = Progress::Off;
    } else if (arg == "--expect") {
      if (++i >= args.size() || args[i].empty()) return CommandLineError{"--expect needs a file"};
      out.Expect = args[i];
    } else if (arg == "-D") {
      if (++i >= args.size()) return CommandLineError{"-D needs NAME=VALUE"};
      const size_t eq = args[i].find('=');
      if (eq == std::string::npos || eq == 0) return CommandLineError{"-D needs NAME=VALUE, not " + args[i]};
      out.Defines.emplace_back(args[i].substr(0, eq), args[i].substr(eq + 1));
    } else {
      return CommandLineError{"unknown option " + arg};
    }
  }
  if (i >= args.size()) return CommandLineError{"no subcommand"};
  out.Subcommand = args[i++];
  const SubcommandInfo* info = nullptr;
  for (const SubcommandInfo& s : kSubcommands)
    if (out.Subcommand == s.Name) info = &s;
  if (!info) return CommandLineError{"unknown subcommand " + out.Subcommand};
  // "--expect <file>" may also follow the subcommand's arguments.
  std::vector<std::string> rest;
  for (size_t k = i; k < args.size(); ++k) {
    if (args[k] != "--expect") {
      rest.push_back(args[k]);
    } else if (++k >= args.size() || args[k].empty()) {
      return CommandLineError{"--expect needs a file"};
    } else {
      out.Expect = args[k];
    }
  }
  if (!out.Expect.empty() && out.Subcommand != "run" && out.Subcommand != "exec")
    return CommandLineError{"--expect is for run and exec"};
  if (rest.size() < info->MinArgs || rest.size() > info->MaxArgs)
    return CommandLineError{"wrong number of arguments for " + out.Subcommand};
  if (out.Subcommand == "run") {
    out.Script = rest[0];
    if (rest.size() > 1) out.Module = rest[1];
  } else if (out.Subcommand == "exec") {
    out.Module = rest[0];
    out.Lines.assign(rest.begin() + 1, rest.end());
  } else if (out.Subcommand == "check") {
    out.Module = rest[0];  // the inner plugin; its options follow
    out.Lines.assign(rest.begin() + 1, rest.end());
  } else if (out.Subcommand == "stress") {
    // The stress options become one stress request, so that scripts and the command line agree.
    out.Module = rest[0];
    std::string line = "stress";
    for (size_t k = 1; k < rest.size(); ++k) line += " " + QuoteWord(rest[k]);
    out.Lines.push_back(line);
  }
  return std::nullopt;
}

}  // namespace kivhost
