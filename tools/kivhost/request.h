// The requests kivhost sends to a plugin module, as parsed from a script line or a command-line
// argument (script.h), independent of how they are carried out (runner.h). Plain values; any
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivhost {

enum class RequestKind {
  Module,      // module <path>: load the plugin module (before any other request)
  Create,      // create [NAME=VALUE...]: CreatePluginInstance with those values
  Load,        // load [NAME=VALUE...]: the LOAD command
  Unload,      // unload [NAME=VALUE...]: the UNLOAD command
  Command,     // command <name> [NAME=VALUE...]: any command by name
  GetParam,    // get-param <name>: GET-MODULE-PARAMETER
  SetParam,    // set-param <name> <value>: SET-MODULE-PARAMETER
  Event,       // event <type> [NAME=VALUE...]: the EVENT command
  Dialog,      // dialog [options=N] [NAME=VALUE...]: ShowOptionsDialog
  DialogForm,  // dialog-form [form=<name>] [size=N]: GetOptionsDialog
  Info,        // info: GetModuleInfo
  Feed,        // feed <file>... [source=N[,N...]] [name=S[,S...]] [chunk=N] [path=parser|plain] [options=N]: ProcessData
  Log,         // log [size=N]: GetLogEx
  Free,        // free: FreePluginInstance
  DebugBreak,  // debug-break: stops in an attached debugger (nothing without one)
  Stress,      // stress <file> [threads=N] [sources=N] [chunk=N] [path=...] [options=N] [setup=<script>] [NAME=VALUE...]
};

// The request word of a kind ("get-param").
const char* RequestKindName(RequestKind kind) noexcept;

// A named value for the call's parameter list: NAME=text, NAME:int=N, NAME:real=X, NAME:null.
struct CallValue {
  enum class Type { Text, Int, Real, Null };
  std::string Name;
  Type Kind = Type::Text;
  std::string Text;  // Text: the value as written
  int64_t Int = 0;
  double Real = 0;
};

// How data is fed: from one file per data source, in chunks; with several files their chunks
// interleave (one chunk of each source in turn, while it has data).
struct FeedOptions {
  std::vector<std::string> Files;
  std::vector<int32_t> SourceIds;       // one per file, or one: the first id, the next ones follow (1)
  std::vector<std::string> SourceNames; // one per file, or none: "source<id>"
  uint32_t Chunk = 4096;      // bytes per data call, at least 1
  bool ParserPath = true;     // Options bit 0x02
  uint8_t Options = 0;        // further Options bits, or'ed in
};

// One data source of a feed: its file, identifier and name.
struct FeedSource {
  std::string File;
  int32_t Id = 1;
  std::string Name;
  bool operator==(const FeedSource&) const = default;
};
// The data sources of a feed, one per file, ids and names resolved.
std::vector<FeedSource> FeedSources(const FeedOptions& feed);

// A stress run: `Threads` threads, each with its own instance, feeding `Sources` data sources
// (source s on thread s % Threads) from one file.
struct StressOptions {
  int Threads = 8;
  int Sources = 16;
  std::string Setup;  // a script of requests each thread runs on its instance before feeding ("": none)
};

struct Request {
  RequestKind Kind = RequestKind::Create;
  int Line = 0;               // the script line, or the argument's position on the command line
  std::string Text;           // the request as written, variables expanded
  std::string Name;           // module path, command, parameter name, event type or form name
  std::string Value;          // set-param's value
  std::vector<CallValue> Values;
  FeedOptions Feed;           // feed and stress
  StressOptions Stress;       // stress
  std::optional<uint32_t> Size;  // log, dialog-form: the buffer size, when given
  uint8_t Options = 0;        // dialog: the record's Options
};

}  // namespace kivhost
