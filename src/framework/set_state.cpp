// SET-STATE: configured data sources from "DATA-SOURCES-IN-CFG", the data-source selection from
// "DATA-SOURCE-LOAD", and the states named by the record's Options switched by "RESULT".
#include <charconv>
#include <memory>

#include "framework/call_params.h"
#include "framework/command_rows.h"
#include "framework/commands.h"
#include "framework/data_processing.h"
#include "platform/exception.h"
#include "platform/text_utils.h"

namespace kiv {

namespace {

// Field 1 of a data-source line as a decimal integer; false when it is not one.
bool DataSourceId(std::string_view field, int32_t& id) {
  field = TrimBlanks(field);
  if (!field.empty() && field.front() == '+') field.remove_prefix(1);
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), id);
  return !field.empty() && error == std::errc() && end == field.data() + field.size();
}

// Replaces the configured data sources by the numbered lines of `text`. A line whose first
// field is no number or is -1 is skipped; a line that fails is logged and the rest are taken.
int32_t SetDataSources(TkivPlugin& plugin, std::string_view text) {
  int32_t result = kCmdNotDone;
  TObjectList& sources = plugin.ConfigDataSources();
  sources.Clear();
  for (const std::string& line : SplitLines(text)) {
    try {
      int32_t id = 0;
      if (!DataSourceId(GetToken(line, ";", 1), id) || id == -1) continue;
      sources.Add(std::make_unique<TConfigDataSource>(line, id, GetToken(line, ";", 2), GetToken(line, ";", 3)));
    } catch (const Exception&) {
      LogCaughtException(plugin, "SETSTATE");
      result = kCmdFailed;
    }
  }
  return result;
}

}  // namespace

int32_t RunSetState(TkivPlugin& plugin, TPluginCallRec* rec, IkivParamsListA* params) {
  int32_t result = kCmdNotDone;
  std::string text;
  if (ReadCallText(params, "DATA-SOURCES-IN-CFG", text)) result = SetDataSources(plugin, text);
  if (ReadCallText(params, "DATA-SOURCE-LOAD", text)) plugin.SetDataSourceLoadFor(text);
  int32_t value = 0;
  if (ReadCallInt(params, kCallRecResult, value)) {
    const TStateSet members = rec->Options;
    for (int i = kStateLow; i <= kStateHigh; ++i)
      if (members & (1u << i)) plugin.SetState(i, value == 1);
    if (plugin.OnStateChanged) plugin.OnStateChanged(&plugin, members);
    result = kCmdDone;  // also after a failed line
  }
  return result;
}

}  // namespace kiv
