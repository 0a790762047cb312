// The kivhost script language: one request a line, "#" starts a comment, "set NAME value"
// defines a variable that later lines use as $NAME or ${NAME}. Words are separated by blanks;
// double quotes keep blanks and take the escapes \" \\ \n \r \t \xHH. See README.md.
//
// Parsing is pure: it reads no file and touches no module. A ScriptParser is used by one thread
// at a time.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "request.h"

namespace kivhost {

// Why a line could not be parsed.
struct ScriptError {
  int Line = 0;
  std::string Message;
};

// The result of parsing a whole script or one line: the requests, or the first error.
struct ParsedScript {
  std::vector<Request> Requests;
  std::optional<ScriptError> Error;
};

class ScriptParser {
 public:
  // Variables known before the first line (from the command line, SCRIPT_DIR, ...).
  void Define(const std::string& name, const std::string& value) { variables_[name] = value; }
  const std::map<std::string, std::string>& Variables() const { return variables_; }

  // Parses one line, numbered `line`: appends its request to `out` (nothing for a blank line, a
  // comment or "set"). On failure returns the error and leaves `out` as it was.
  std::optional<ScriptError> ParseLine(std::string_view text, int line, std::vector<Request>& out);
  // Parses a whole script (lines ended by LF or CR LF); stops at the first error.
  ParsedScript ParseScript(std::string_view script);

 private:
  std::map<std::string, std::string> variables_;
};

// Splits a line into words: blanks separate, quotes group, escapes and variables are resolved, a
// "#" outside quotes at the start of a word ends the line. Throws std::invalid_argument with the
// reason (unterminated quote, bad escape, unknown variable).
std::vector<std::string> SplitWords(std::string_view line, const std::map<std::string, std::string>& variables);

// Builds a request from its words (the first word names it). Throws std::invalid_argument.
Request BuildRequest(const std::vector<std::string>& words);

}  // namespace kivhost
