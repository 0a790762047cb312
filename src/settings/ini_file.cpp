#include "settings/ini_file.h"

#include <cstring>
#include <memory>
#include <unordered_set>

#include "platform/code_page.h"
#include "settings/file_stream.h"
#include "settings/ini_text.h"

namespace kiv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// The whole file in one block, which lines then point into.
struct FileBytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};

FileBytes ReadWholeFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::Mode::kOpenReadDenyWrite);
  FileBytes bytes;
  std::size_t capacity = 0;
  for (;;) {
    if (bytes.size == capacity) {
      // Doubling, without zeroing what the reads overwrite anyway.
      capacity = capacity == 0 ? 1 << 16 : 2 * capacity;
      auto grown = std::make_unique_for_overwrite<char[]>(capacity);
      if (bytes.size > 0) std::memcpy(grown.get(), bytes.data.get(), bytes.size);
      bytes.data = std::move(grown);
    }
    const std::size_t n = file.Read(bytes.data.get() + bytes.size, capacity - bytes.size);
    if (n == 0) return bytes;
    bytes.size += n;
  }
}

// Calls `f` with each line of `text` without its break (CR, LF or CR LF); a break at the end
// starts no further line.
template <class Char, class F>
void ForEachLine(std::basic_string_view<Char> text, F&& f) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t j = i;
    while (j < text.size() && text[j] != Char('\r') && text[j] != Char('\n')) ++j;
    f(text.substr(i, j - i));
    if (j + 1 < text.size() && text[j] == Char('\r') && text[j + 1] == Char('\n')) ++j;
    i = j + 1;
  }
}

// The same for 8-bit text, with memchr: the next LF, then a CR before it.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const auto find = [](const char* from, const char* to, char c) {
      return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(to - from)));
    };
    const char* lf = find(p, end, '\n');
    if (lf == nullptr) lf = end;
    const char* cr = find(p, lf, '\r');
    const char* stop = cr != nullptr ? cr : lf;
    f(std::string_view(p, static_cast<std::size_t>(stop - p)));
    p = stop + 1;
    if (cr != nullptr && p == lf && lf != end) ++p;  // CR LF
  }
}

// A section header is a line whose first character after blanks is "[" and that has a "]"
// after it; the name lies between the "[" and the last "]", not trimmed. What follows the "]"
// (blanks, a comment) is ignored, as the system's INI functions do.
template <class Char>
bool FindHeaderName(std::basic_string_view<Char> line, std::size_t& begin, std::size_t& end) {
  std::size_t open = 0;
  while (open < line.size() && line[open] >= Char(0) && line[open] <= Char(' ')) ++open;
  if (open == line.size() || line[open] != Char('[')) return false;
  end = line.rfind(Char(']'));
  if (end == std::basic_string_view<Char>::npos || end <= open) return false;
  begin = open + 1;
  return true;
}

// The 8-bit text of a line of a Unicode file, and that line itself when the text cannot give
// it back (characters the code page lacks, or ones it maps to lookalikes).
std::string AnsiLine(std::u16string_view line, WideString& original) {
  bool ascii = true;
  for (char16_t c : line) ascii = ascii && c < 0x80;
  original.clear();
  if (ascii) return std::string(line.begin(), line.end());
  std::string text = WideToAnsi(line);
  if (AnsiToWide(text) != line) original.assign(line);
  return text;
}

WideString Utf16LeToWide(std::string_view bytes) {
  WideString wide(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return wide;
}

std::string WideToUtf16Le(std::u16string_view wide) {
  std::string bytes(wide.size() * 2, '\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(wide[i] >> 8);
  }
  return bytes;
}

}  // namespace

bool IsStorableIniKey(std::string_view ident) {
  if (ident.empty() || ident.front() == '[' || ident.front() == ' ' || ident.back() == ' ')
    return false;
  for (char c : ident)
    if (c == '=' || static_cast<unsigned char>(c) < 32) return false;
  return true;
}

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
  encoding_ = TIniEncoding::kAnsi;
  fileName_ = fileName;
  if (!fileName.empty()) AppendFromFile(fileName);
  changed_ = false;
}

void TkivIniFile::ParseLine(std::string_view line, WideString original, bool kept, int& current) {
  if (line.empty()) return;
  std::size_t begin, end;
  if (FindHeaderName(line, begin, end)) {
    std::string name(line.substr(begin, end - begin));
    const bool plain = begin == 1 && end + 1 == line.size();
    current = plain && original.empty()
                  ? sections_.Add(std::move(name))
                  : sections_.Add(std::move(name), std::string(line), std::move(original));
  } else if (current >= 0) {
    TSectionValues& values = sections_.Values(current);
    if (kept && original.empty())
      values.AddView(line);
    else
      values.Add(std::string(line), std::move(original));
  }
}

std::string TkivIniFile::DuplicateKey(int section) const {
  const std::string& name = sections_.Name(section);
  const WideString* original = sections_.HeaderOriginal(section);
  if (original != nullptr) {
    // A name the code page cannot hold is told apart by its Unicode text: two such sections
    // that read alike in 8 bits are still different sections.
    std::size_t begin = 0, end = 0;
    FindHeaderName(std::u16string_view(*original), begin, end);
    const std::u16string_view wideName = std::u16string_view(*original).substr(begin, end - begin);
    if (AnsiToWide(name) != wideName)
      return '\0' + AsciiLower(WideToCodePage(kCodePageUtf8, wideName));
  }
  return AsciiLower(name);
}

void TkivIniFile::RemoveDuplicates() {
  std::unordered_set<std::string> seen;
  bool removed = false;
  for (int i = 0; i < sections_.Count();) {
    if (seen.insert(DuplicateKey(i)).second) {
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
  FileBytes bytes = ReadWholeFile(fileName);
  std::string_view all(bytes.data.get(), bytes.size);
  const bool utf16 = all.substr(0, kUtf16LeMark.size()) == kUtf16LeMark;
  // Lines of 8-bit text stay in the file's block, which the sections keep.
  if (!utf16) all = sections_.Keep(std::move(bytes.data), bytes.size);
  int current = -1;
  const auto parse = [&](std::string_view line, WideString original, bool kept) {
    if (line.size() == 1 && line[0] == '\x1A') return;  // a lone Ctrl-Z counts as empty
    ParseLine(line, std::move(original), kept, current);
  };
  // A Unicode file keeps its encoding: its lines are read into 8-bit text and written back
  // from it, or from their original where the code page cannot hold them.
  WideString original;
  if (utf16) {
    encoding_ = TIniEncoding::kUtf16Le;
    const WideString wide = Utf16LeToWide(all.substr(kUtf16LeMark.size()));
    ForEachLine(std::u16string_view(wide), [&](std::u16string_view line) {
      const std::string text = AnsiLine(line, original);
      parse(text, std::move(original), false);
    });
  } else if (all.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    encoding_ = TIniEncoding::kUtf8;
    ForEachLine(all.substr(kUtf8Mark.size()), [&](std::string_view line) {
      bool ascii = true;
      for (char c : line) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
      if (ascii) return parse(line, {}, true);
      const std::string text = AnsiLine(CodePageToWide(kCodePageUtf8, line), original);
      parse(text, std::move(original), false);
    });
  } else {
    ForEachLine(all, [&](std::string_view line) { parse(line, {}, true); });
  }
  RemoveDuplicates();
}

void TkivIniFile::AppendFromStrings(const std::vector<std::string>& strings) {
  int current = -1;
  for (const std::string& line : strings) ParseLine(line, {}, false, current);
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
    const int i = sections_.Find(section, start);
    if (i >= 0) {
      prevSectionIndex_ = i;
      TSectionValues& values = sections_.Values(i);
      return {&values, values.IndexOfName(ident)};
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
    strings.push_back(sections_.HeaderLine(i));
    for (int j = 0; j < values.Count(); ++j) strings.emplace_back(values.Strings(j));
    strings.emplace_back();
  }
}

std::string TkivIniFile::FileText() const {
  if (encoding_ == TIniEncoding::kAnsi) {
    std::string text;
    for (int i = 0; i < sections_.Count(); ++i) {
      const TSectionValues& values = sections_.Values(i);
      if (values.Count() == 0) continue;
      text += sections_.HeaderLine(i);
      text += "\r\n";
      for (int j = 0; j < values.Count(); ++j) {
        text += values.Strings(j);
        text += "\r\n";
      }
      text += "\r\n";
    }
    return text;
  }
  // Lines keep the Unicode text they were read with, unless they were replaced since.
  WideString wide;
  const auto add = [&wide](const WideString* original, std::string_view text) {
    if (original != nullptr)
      wide += *original;
    else
      wide += AnsiToWide(text);
    wide += u"\r\n";
  };
  for (int i = 0; i < sections_.Count(); ++i) {
    const TSectionValues& values = sections_.Values(i);
    if (values.Count() == 0) continue;
    add(sections_.HeaderOriginal(i), sections_.HeaderLine(i));
    for (int j = 0; j < values.Count(); ++j) add(values.Original(j), values.Strings(j));
    wide += u"\r\n";
  }
  if (encoding_ == TIniEncoding::kUtf16Le)
    return std::string(kUtf16LeMark) + WideToUtf16Le(wide);
  return std::string(kUtf8Mark) + WideToCodePage(kCodePageUtf8, wide);
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
  return TryStrToFloat(text, value, fs) || TryStrToSpecialFloat(text, value) ? value
                                                                             : defaultValue;
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
  for (int i = 0; i < values.Count(); ++i) strings.emplace_back(values.Strings(i));
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
