#include "script.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace kivhost {
namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Expands the variable reference at line[i] ('$'); returns the index after it.
size_t ExpandVariable(std::string_view line, size_t i, const std::map<std::string, std::string>& variables,
                      std::string& word) {
  size_t next = i + 1;
  if (next < line.size() && line[next] == '$') {
    word += '$';
    return next + 1;
  }
  std::string name;
  if (next < line.size() && line[next] == '{') {
    const size_t close = line.find('}', next + 1);
    if (close == std::string_view::npos) throw std::invalid_argument("unterminated ${");
    name = std::string(line.substr(next + 1, close - next - 1));
    next = close + 1;
  } else {
    while (next < line.size() && IsNameChar(line[next])) name += line[next++];
  }
  if (name.empty()) {  // a lone '$' stays as it is
    word += '$';
    return i + 1;
  }
  const auto found = variables.find(name);
  if (found == variables.end()) throw std::invalid_argument("unknown variable $" + name);
  word += found->second;
  return next;
}

// Resolves the escape at line[i] ('\\' inside quotes); returns the index after it.
size_t Unescape(std::string_view line, size_t i, std::string& word) {
  if (i + 1 >= line.size()) throw std::invalid_argument("unterminated quote");
  switch (const char c = line[i + 1]) {
    case '"': case '\\': case '$': word += c; return i + 2;
    case 'n': word += '\n'; return i + 2;
    case 'r': word += '\r'; return i + 2;
    case 't': word += '\t'; return i + 2;
    case 'x': {
      const int hi = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
      const int lo = i + 3 < line.size() ? HexDigit(line[i + 3]) : -1;
      if (hi < 0 || lo < 0) throw std::invalid_argument("\\x needs two hex digits");
      word += static_cast<char>(hi * 16 + lo);
      return i + 4;
    }
    default:
      throw std::invalid_argument(std::string("unknown escape \\") + c);
  }
}

int64_t ParseNumber(const std::string& text, const std::string& what, int64_t low, int64_t high) {
  if (text.empty()) throw std::invalid_argument(what + " needs a number");
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value < low || value > high)
    throw std::invalid_argument(what + " must be a number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

// A call value written NAME=text, NAME:int=N, NAME:real=X, NAME:text=T or NAME:null.
CallValue ParseCallValue(const std::string& word) {
  const size_t eq = word.find('=');
  std::string key = word.substr(0, eq);
  CallValue value;
  const size_t colon = key.find(':');
  std::string type = colon == std::string::npos ? "text" : key.substr(colon + 1);
  value.Name = key.substr(0, colon);
  if (value.Name.empty()) throw std::invalid_argument("value without a name: " + word);
  const std::string text = eq == std::string::npos ? std::string() : word.substr(eq + 1);
  if (type == "null") {
    if (eq != std::string::npos) throw std::invalid_argument(value.Name + ":null takes no value");
    value.Kind = CallValue::Type::Null;
  } else if (eq == std::string::npos) {
    throw std::invalid_argument("value " + word + " needs =");
  } else if (type == "text") {
    value.Text = text;
  } else if (type == "int") {
    value.Kind = CallValue::Type::Int;
    value.Int = ParseNumber(text, value.Name, INT32_MIN, INT32_MAX);
  } else if (type == "real") {
    value.Kind = CallValue::Type::Real;
    char* end = nullptr;
    value.Real = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw std::invalid_argument(value.Name + " needs a real number");
  } else {
    throw std::invalid_argument("unknown value type :" + type + " (int, real, text, null)");
  }
  return value;
}

// A request option is written key=value with a key of lower-case letters only; every other
// word with "=" or ":null" is a call value.
bool IsOption(const std::string& word) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  for (size_t i = 0; i < eq; ++i)
    if (word[i] < 'a' || word[i] > 'z') return false;
  return true;
}
bool IsCallValue(const std::string& word) {
  return word.find('=') != std::string::npos || word.find(":null") != std::string::npos;
}

struct KindInfo {
  const char* Name;
  RequestKind Kind;
  int Positional;     // required positional words
  bool TakesValues;   // call values allowed
  const char* Options;  // allowed option keys, space-separated
  bool MorePositional = false;  // further positional words allowed (feed: more files)
};

constexpr KindInfo kKinds[] = {
    {"module", RequestKind::Module, 1, false, ""},
    {"create", RequestKind::Create, 0, true, ""},
    {"load", RequestKind::Load, 0, true, ""},
    {"unload", RequestKind::Unload, 0, true, ""},
    {"command", RequestKind::Command, 1, true, ""},
    {"get-param", RequestKind::GetParam, 1, false, ""},
    {"set-param", RequestKind::SetParam, 2, false, ""},
    {"event", RequestKind::Event, 1, true, ""},
    {"dialog", RequestKind::Dialog, 0, true, " options "},
    {"dialog-form", RequestKind::DialogForm, 0, false, " form size "},
    {"info", RequestKind::Info, 0, false, ""},
    {"feed", RequestKind::Feed, 1, true, " source name chunk path options ", true},
    {"log", RequestKind::Log, 0, false, " size "},
    {"free", RequestKind::Free, 0, false, ""},
    {"debug-break", RequestKind::DebugBreak, 0, false, ""},
    {"stress", RequestKind::Stress, 1, true, " threads sources chunk path options setup "},
};

const KindInfo* FindKind(std::string_view name) {
  for (const KindInfo& info : kKinds)
    if (name == info.Name) return &info;
  return nullptr;
}

// The comma-separated parts of an option's value ("1,2,5").
std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t comma = value.find(',', start);
    parts.push_back(value.substr(start, comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

void ApplyOption(Request& request, const std::string& key, const std::string& value) {
  constexpr int64_t kMaxSize = 64 * 1024 * 1024;
  if (key == "source") {
    request.Feed.SourceIds.clear();
    for (const std::string& id : SplitList(value))
      request.Feed.SourceIds.push_back(static_cast<int32_t>(ParseNumber(id, key, INT32_MIN, INT32_MAX)));
  } else if (key == "name") request.Feed.SourceNames = SplitList(value);
  else if (key == "chunk") request.Feed.Chunk = static_cast<uint32_t>(ParseNumber(value, key, 1, kMaxSize));
  else if (key == "options") {
    const uint8_t options = static_cast<uint8_t>(ParseNumber(value, key, 0, 255));
    request.Feed.Options = options;
    request.Options = options;
  } else if (key == "path") {
    if (value != "parser" && value != "plain") throw std::invalid_argument("path is parser or plain");
    request.Feed.ParserPath = value == "parser";
  } else if (key == "threads") request.Stress.Threads = static_cast<int>(ParseNumber(value, key, 1, 64));
  else if (key == "sources") request.Stress.Sources = static_cast<int>(ParseNumber(value, key, 1, 1024));
  else if (key == "size") request.Size = static_cast<uint32_t>(ParseNumber(value, key, 0, kMaxSize));
  else if (key == "form") request.Name = value;
  else if (key == "setup") request.Stress.Setup = value;
}

// A feed's files, ids and names must pair up: one id (the first of consecutive ones) or one per
// file, one name per file or none, and no data source twice.
void CheckFeedSources(const Request& request) {
  const FeedOptions& feed = request.Feed;
  const size_t files = feed.Files.size();
  if (feed.SourceIds.size() > 1 && feed.SourceIds.size() != files)
    throw std::invalid_argument("source= gives " + std::to_string(feed.SourceIds.size()) + " ids for " +
                                std::to_string(files) + " file(s)");
  if (!feed.SourceNames.empty() && feed.SourceNames.size() != files)
    throw std::invalid_argument("name= gives " + std::to_string(feed.SourceNames.size()) + " names for " +
                                std::to_string(files) + " file(s)");
  const std::vector<FeedSource> sources = FeedSources(feed);
  for (size_t i = 0; i < sources.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (sources[i].Id == sources[k].Id)
        throw std::invalid_argument("data source " + std::to_string(sources[i].Id) + " is given twice: each file needs a source of its own");
}

}  // namespace

std::vector<FeedSource> FeedSources(const FeedOptions& feed) {
  std::vector<FeedSource> sources;
  const int32_t first = feed.SourceIds.empty() ? 1 : feed.SourceIds[0];
  for (size_t i = 0; i < feed.Files.size(); ++i) {
    FeedSource source;
    source.File = feed.Files[i];
    source.Id = feed.SourceIds.size() > 1 ? feed.SourceIds[i] : static_cast<int32_t>(first + static_cast<int64_t>(i));
    source.Name = i < feed.SourceNames.size() && !feed.SourceNames[i].empty() ? feed.SourceNames[i]
                                                                               : "source" + std::to_string(source.Id);
    sources.push_back(std::move(source));
  }
  return sources;
}

const char* RequestKindName(RequestKind kind) noexcept {
  for (const KindInfo& info : kKinds)
    if (info.Kind == kind) return info.Name;
  return "?";
}

std::vector<std::string> SplitWords(std::string_view line, const std::map<std::string, std::string>& variables) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      const char c = line[i];
      if (c == '"') {
        quoted = !quoted;
        ++i;
      } else if (c == '$') {
        i = ExpandVariable(line, i, variables, word);
      } else if (c == '\\' && quoted) {
        i = Unescape(line, i, word);
      } else {
        word += c;
        ++i;
      }
    }
    if (quoted) throw std::invalid_argument("unterminated quote");
    words.push_back(std::move(word));
  }
  return words;
}

Request BuildRequest(const std::vector<std::string>& words) {
  if (words.empty()) throw std::invalid_argument("empty request");
  const KindInfo* info = FindKind(words[0]);
  if (!info) throw std::invalid_argument("unknown request \"" + words[0] + "\"");
  Request request;
  request.Kind = info->Kind;
  std::vector<std::string> positional;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    // set-param takes its name and value as they are, "=" and all.
    if (info->Kind == RequestKind::SetParam || static_cast<int>(positional.size()) < info->Positional) {
      if (!IsOption(word) || info->Kind == RequestKind::SetParam) {
        positional.push_back(word);
        continue;
      }
    }
    if (IsOption(word)) {
      const std::string key = word.substr(0, word.find('='));
      if (std::string_view(info->Options).find(" " + key + " ") == std::string_view::npos)
        throw std::invalid_argument(std::string(info->Name) + " has no option " + key);
      ApplyOption(request, key, word.substr(key.size() + 1));
    } else if (info->TakesValues && IsCallValue(word)) {
      request.Values.push_back(ParseCallValue(word));
    } else {
      positional.push_back(word);
    }
  }
  const bool count_ok = static_cast<int>(positional.size()) == info->Positional ||
                        (info->MorePositional && static_cast<int>(positional.size()) > info->Positional);
  if (!count_ok)
    throw std::invalid_argument(std::string(info->Name) + " takes " + std::to_string(info->Positional) +
                                " argument(s) besides options and values, not " + std::to_string(positional.size()));
  switch (info->Kind) {
    case RequestKind::Module: case RequestKind::Command: case RequestKind::GetParam: case RequestKind::Event:
      request.Name = positional[0];
      break;
    case RequestKind::SetParam:
      request.Name = positional[0];
      request.Value = positional[1];
      break;
    case RequestKind::Feed: case RequestKind::Stress:
      request.Feed.Files = positional;
      if (info->Kind == RequestKind::Stress && request.Feed.SourceIds.size() > 1)
        throw std::invalid_argument("stress takes one first source id");
      CheckFeedSources(request);
      break;
    default:
      break;
  }
  return request;
}

std::optional<ScriptError> ScriptParser::ParseLine(std::string_view text, int line, std::vector<Request>& out) {
  try {
    const std::vector<std::string> words = SplitWords(text, variables_);
    if (words.empty()) return std::nullopt;
    if (words[0] == "set") {
      if (words.size() != 3) throw std::invalid_argument("set takes a name and a value");
      if (words[1].empty() || !IsNameStart(words[1][0]))
        throw std::invalid_argument("bad variable name \"" + words[1] + "\"");
      for (char c : words[1])
        if (!IsNameChar(c)) throw std::invalid_argument("bad variable name \"" + words[1] + "\"");
      variables_[words[1]] = words[2];
      return std::nullopt;
    }
    Request request = BuildRequest(words);
    request.Line = line;
    // The request as written, its variables expanded: the words joined by blanks.
    for (size_t i = 0; i < words.size(); ++i) {
      if (i) request.Text += ' ';
      const bool quote = words[i].empty() || words[i].find_first_of(" \t") != std::string::npos;
      request.Text += quote ? "\"" + words[i] + "\"" : words[i];
    }
    out.push_back(std::move(request));
    return std::nullopt;
  } catch (const std::invalid_argument& e) {
    return ScriptError{line, e.what()};
  }
}

ParsedScript ScriptParser::ParseScript(std::string_view script) {
  ParsedScript parsed;
  int line = 0;
  while (!script.empty() || line == 0) {
    ++line;
    const size_t end = script.find('\n');
    const std::string_view text = script.substr(0, end);
    script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
    if (auto error = ParseLine(text, line, parsed.Requests)) {
      parsed.Error = error;
      break;
    }
  }
  return parsed;
}

}  // namespace kivhost
