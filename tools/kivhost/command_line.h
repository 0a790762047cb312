// The kivhost command line: global options, then a subcommand and its arguments.
//
//   kivhost [--json] [--progress|--no-progress] [-D NAME=VALUE]... <subcommand> <args>...
//     run <script> [<module>] [--expect <file>]   run a script; <module> replaces its "module" request
//     exec <module> <request>... [--expect <file>]   each argument is one request line
//     stress <module> <file> [option=value]...   a stress run (see README.md)
//     check <plugin.dll> [key=value]...   check an inner plugin behind varnolet.dll (check.h)
//     help                           the usage text
//
// Pure: parsing reads no file. A further subcommand adds a row to the argument table in
// command_line.cpp and one to the table of what runs it in main_win32.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kivhost {

// Exit codes of kivhost, for CI.
enum ExitCode : int {
  kExitOk = 0,          // every request ran and every check passed
  kExitCheckFailed = 1, // a stress check or a request failed (a fault, a missing entry point)
  kExitUsage = 2,       // the command line or the script is wrong
  kExitNoModule = 3,    // the module could not be loaded
};

enum class Progress { Auto, On, Off };

struct Invocation {
  std::string Subcommand;                 // "run", "exec", "stress", "check", "help"
  bool Json = false;
  Progress ShowProgress = Progress::Auto;
  std::vector<std::pair<std::string, std::string>> Defines;
  std::string Module;                     // may be empty for run (the script names it); check: the plugin
  std::string Script;                     // run: the script file
  std::vector<std::string> Lines;         // exec: request lines; stress: the one stress line; check: options
  std::string Expect;                     // run, exec: the file of expected packets ("": none)
};

struct CommandLineError {
  std::string Message;
};

// Parses argv[1..]; an error tells what is wrong (printed with the usage text, exit code 2).
std::optional<CommandLineError> ParseCommandLine(const std::vector<std::string>& args, Invocation& out);

// The usage text.
const char* UsageText() noexcept;

}  // namespace kivhost
