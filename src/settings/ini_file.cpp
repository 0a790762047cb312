#include "settings/ini_file.h"

#include <unordered_set>

#include "settings/file_stream.h"
#include "settings/ini_text.h"
#include "settings/stream_reader.h"

namespace kiv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

TkivIniFile::TkivIniFile(const std::string& fileName) { SetFileName(fileName); }

TkivIniFile::~TkivIniFile() {
  try {
    FlushFile();
  } catch (...) {
    // Nothing may leave a destructor; UpdateFile reports the failure to callers who care.
  }
}

void TkivIniFile::SetFileName(const std::string& fileName) {
  FlushFile();
  Clear();
  fileName_ = fileName;
  if (!fileName.empty()) AppendFromFile(fileName);
  changed_ = false;
}

void TkivIniFile::ParseLine(std::string_view line, int& current) {
  if (line.empty()) return;
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
    current = sections_.Add(std::string(line.substr(1, line.size() - 2)));
  } else if (current >= 0) {
    sections_.Values(current).Add(std::string(line));
  }
}

void TkivIniFile::RemoveDuplicates() {
  std::unordered_set<std::string> seen;
  bool removed = false;
  for (int i = 0; i < sections_.Count();) {
    if (seen.insert(AsciiLower(sections_.Name(i))).second) {
      ++i;
    } else {
      sections_.Delete(i);
      removed = true;
    }
  }
  if (removed) {
    changed_ = true;
    sections_.ResetSearchStart();
    if (prevSectionIndex_ >= sections_.Count()) prevSectionIndex_ = 0;
  }
}

void TkivIniFile::AppendFromFile(const std::string& fileName) {
  if (!FileExists(fileName)) return;
  TFileStream file(fileName, TFileStream::Mode::kOpenReadDenyWrite);
  TStreamReader reader(&file);
  std::string line;
  int current = -1;
  while (reader.ReadLine(line)) {
    if (line.size() == 1 && line[0] == '\x1A') continue;  // a lone Ctrl-Z counts as empty
    ParseLine(line, current);
  }
  RemoveDuplicates();
}

void TkivIniFile::AppendFromStrings(const std::vector<std::string>& strings) {
  int current = -1;
  for (const std::string& line : strings) ParseLine(line, current);
  RemoveDuplicates();
}

void TkivIniFile::Clear() {
  sections_.Clear();
  prevSectionIndex_ = 0;
}

std::pair<TSectionValues*, int> TkivIniFile::FindKey(std::string_view section,
                                                     std::string_view ident, bool create) {
  const int n = sections_.Count();
  if (n > 0) {
    const int start = prevSectionIndex_ >= 0 && prevSectionIndex_ < n ? prevSectionIndex_ : 0;
    for (int k = 0; k < n; ++k) {
      const int i = (start + k) % n;
      if (AsciiSameText(sections_.Name(i), section)) {
        prevSectionIndex_ = i;
        TSectionValues& values = sections_.Values(i);
        return {&values, values.IndexOfName(ident)};
      }
    }
    prevSectionIndex_ = (start + n - 1) % n;
  }
  if (!create) return {nullptr, -1};
  prevSectionIndex_ = sections_.Add(std::string(section));
  return {&sections_.Values(prevSectionIndex_), -1};
}

void TkivIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  auto [values, index] = FindKey(section, ident, true);
  if (index >= 0) {
    values->Delete(index);
    changed_ = true;
  }
}

void TkivIniFile::EraseSection(std::string_view section) {
  const int index = sections_.IndexOf(section);
  if (index < 0) return;
  sections_.Delete(index);
  changed_ = true;
  sections_.ResetSearchStart();
  if (prevSectionIndex_ >= sections_.Count()) prevSectionIndex_ = 0;
}

void TkivIniFile::SaveToStrings(std::vector<std::string>& strings) const {
  for (int i = 0; i < sections_.Count(); ++i) {
    const TSectionValues& values = sections_.Values(i);
    if (values.Count() == 0) continue;
    strings.push_back("[" + sections_.Name(i) + "]");
    for (int j = 0; j < values.Count(); ++j) strings.push_back(values.Strings(j));
    strings.emplace_back();
  }
}

std::string TkivIniFile::FileText() const {
  std::string text;
  for (int i = 0; i < sections_.Count(); ++i) {
    const TSectionValues& values = sections_.Values(i);
    if (values.Count() == 0) continue;
    text += '[';
    text += sections_.Name(i);
    text += "]\r\n";
    for (int j = 0; j < values.Count(); ++j) {
      text += values.Strings(j);
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

void TkivIniFile::FlushFile() {
  if (changed_ && !fileName_.empty()) {
    const std::string text = FileText();
    ReplaceFileContents(fileName_, text);  // the old file stays whole if this fails
  }
  changed_ = false;
}

void TkivIniFile::UpdateFile() { FlushFile(); }

std::string TkivIniFile::ReadString(std::string_view section, std::string_view ident,
                                    std::string_view defaultValue) {
  auto [values, index] = FindKey(section, ident, false);
  if (values == nullptr || index < 0) return std::string(defaultValue);
  return std::string(values->Value(index));
}

std::string TkivIniFile::ReadAnsiString(std::string_view section, std::string_view ident,
                                        std::string_view defaultValue) {
  return ReadString(section, ident, defaultValue);
}

int TkivIniFile::ReadBinaryData(std::string_view section, std::string_view ident, TStream& stream) {
  const std::string text = ReadAnsiString(section, ident, {});
  std::string bytes(text.size() / 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int hi = HexDigitValue(text[2 * i]), lo = HexDigitValue(text[2 * i + 1]);
    bytes[i] = hi < 0 || lo < 0 ? '\0' : static_cast<char>(hi * 16 + lo);
  }
  stream.WriteBuffer(bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

bool TkivIniFile::ReadBool(std::string_view section, std::string_view ident, bool defaultValue) {
  return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

TDateTime TkivIniFile::ReadDate(std::string_view section, std::string_view ident,
                                TDateTime defaultValue) {
  TDateTime value;
  const std::string text = ReadString(section, ident, {});
  return !text.empty() && TryStrToDate(text, value, UserFormatSettings()) ? value : defaultValue;
}

TDateTime TkivIniFile::ReadDateTime(std::string_view section, std::string_view ident,
                                    TDateTime defaultValue) {
  TDateTime value;
  const std::string text = ReadString(section, ident, {});
  return !text.empty() && TryStrToDateTime(text, value, UserFormatSettings()) ? value
                                                                              : defaultValue;
}

TDateTime TkivIniFile::ReadTime(std::string_view section, std::string_view ident,
                                TDateTime defaultValue) {
  TDateTime value;
  const std::string text = ReadString(section, ident, {});
  return !text.empty() && TryStrToTime(text, value, UserFormatSettings()) ? value : defaultValue;
}

double TkivIniFile::ReadFloat(std::string_view section, std::string_view ident,
                              double defaultValue) {
  std::string text = ReadString(section, ident, {});
  if (text.empty()) return defaultValue;
  const TFormatSettings& fs = UserFormatSettings();
  for (char& c : text) {
    if (fs.DecimalSeparator == '.' ? c == ',' : c == '.') c = fs.DecimalSeparator;
  }
  double value;
  return TryStrToFloat(text, value, fs) ? value : defaultValue;
}

int TkivIniFile::ReadInteger(std::string_view section, std::string_view ident, int defaultValue) {
  std::string text = ReadString(section, ident, {});
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = "$" + text.substr(2, 255);
  int value;
  return TryStrToInt(text, value) ? value : defaultValue;
}

void TkivIniFile::ReadSection(std::string_view section, std::vector<std::string>& strings) {
  const int index = sections_.IndexOf(section);
  if (index < 0) return;
  const TSectionValues& values = sections_.Values(index);
  for (int i = 0; i < values.Count(); ++i) {
    const std::string_view key = values.Key(i);
    if (!key.empty()) strings.emplace_back(key);
  }
}

void TkivIniFile::ReadSections(std::vector<std::string>& strings) const {
  strings.clear();
  for (int i = 0; i < sections_.Count(); ++i) strings.push_back(sections_.Name(i));
}

void TkivIniFile::ReadSectionValues(std::string_view section, std::vector<std::string>& strings) {
  const int index = sections_.IndexOf(section);
  if (index < 0) return;
  const TSectionValues& values = sections_.Values(index);
  for (int i = 0; i < values.Count(); ++i) strings.push_back(values.Strings(i));
}

bool TkivIniFile::SectionExists(std::string_view section) const {
  return sections_.IndexOf(section) >= 0;
}

bool TkivIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  // Same answer as collecting the section's keys and searching them, without the copy.
  const int index = sections_.IndexOf(section);
  if (index < 0 || ident.empty()) return false;
  const TSectionValues& values = sections_.Values(index);
  for (int i = 0; i < values.Count(); ++i)
    if (AsciiSameText(values.Key(i), ident)) return true;
  return false;
}

void TkivIniFile::WriteString(std::string_view section, std::string_view ident,
                              std::string_view value) {
  if (ident.empty()) {
    if (!section.empty() || !value.empty())
      EraseSection(section);
    else
      FlushFile();
    return;
  }
  std::string line;
  line.reserve(ident.size() + 1 + value.size());
  line.append(ident).append("=").append(value);
  auto [values, index] = FindKey(section, ident, true);
  if (index < 0) {
    values->Add(std::move(line));
    changed_ = true;
  } else if (values->Strings(index) != line) {
    values->Put(index, std::move(line));
    changed_ = true;
  }
}

void TkivIniFile::WriteAnsiString(std::string_view section, std::string_view ident,
                                  std::string_view value) {
  WriteString(section, ident, value);
}

void TkivIniFile::WriteBinaryData(std::string_view section, std::string_view ident,
                                  TStream& stream) {
  std::string text;
  unsigned char block[512];
  for (std::size_t n; (n = stream.Read(block, sizeof block)) != 0;) {
    for (std::size_t i = 0; i < n; ++i) {
      text += kHexDigits[block[i] >> 4];
      text += kHexDigits[block[i] & 15];
    }
  }
  WriteAnsiString(section, ident, text);
}

void TkivIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

void TkivIniFile::WriteDate(std::string_view section, std::string_view ident, TDateTime value) {
  WriteString(section, ident, DateToStr(value, UserFormatSettings()));
}

void TkivIniFile::WriteDateTime(std::string_view section, std::string_view ident, TDateTime value) {
  WriteString(section, ident, DateTimeToStr(value, UserFormatSettings()));
}

void TkivIniFile::WriteTime(std::string_view section, std::string_view ident, TDateTime value) {
  WriteString(section, ident, TimeToStr(value, UserFormatSettings()));
}

void TkivIniFile::WriteFloat(std::string_view section, std::string_view ident, double value) {
  WriteString(section, ident, FloatToStr(value, UserFormatSettings()));
}

void TkivIniFile::WriteInteger(std::string_view section, std::string_view ident, int value) {
  WriteString(section, ident, std::to_string(value));
}

}  // namespace kiv
