#include "platform/path_names.h"

namespace kiv {

namespace {

#ifdef _WIN32
constexpr std::string_view kFolderDelims = "\\:";
#else
constexpr std::string_view kFolderDelims = "/";
#endif

// Calls visit(index) for every byte that starts a character (single byte or lead byte).
template <typename Visit>
void ForEachCharStart(std::string_view text, LeadByteTest isLead, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    visit(i);
    if (isLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ++i;
  }
}

std::string WithTrailing(std::string_view text, char delim, LeadByteTest isLead) {
  std::string result(text);
  if (text.empty() || text.back() != delim || EndsInTrailByte(text, isLead)) result += delim;
  return result;
}

}  // namespace

bool EndsInTrailByte(std::string_view text, LeadByteTest isLead) {
  std::size_t lastStart = 0;
  ForEachCharStart(text, isLead, [&](std::size_t i) { lastStart = i; });
  return text.size() > 1 && lastStart != text.size() - 1;
}

std::string WithBackslash(std::string_view text, LeadByteTest isLead) {
  return WithTrailing(text, '\\', isLead);
}

std::string WithPathDelim(std::string_view text) {
  return WithTrailing(text, kPathDelim, IsAnsiLeadByte);
}

std::string FileFolder(std::string_view fileName, LeadByteTest isLead) {
  std::size_t end = 0;  // one past the last delimiter
  ForEachCharStart(fileName, isLead, [&](std::size_t i) {
    if (kFolderDelims.find(fileName[i]) != std::string_view::npos) end = i + 1;
  });
  return std::string(fileName.substr(0, end));
}

}  // namespace kiv
