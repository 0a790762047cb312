#include "settings/section_values.h"

#include "platform/code_page.h"
#include "platform/exception.h"
#include "settings/ini_text.h"

namespace kiv {

namespace {

// Printable ASCII compares alike under ASCII and locale case folding, so only text with other
// bytes needs the (much slower) locale comparison.
bool IsPlainAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) return false;
  return true;
}

bool LocaleSameText(std::string_view a, std::string_view b) {
  return AsciiSameText(a, b) || AnsiSameText(a, b);
}

}  // namespace

void TSectionValues::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError::OutOfBounds(index);
}

const std::string& TSectionValues::Strings(int index) const {
  CheckIndex(index);
  return lines_[static_cast<std::size_t>(index)].text;
}

void TSectionValues::Put(int index, std::string text) {
  CheckIndex(index);
  Line& line = lines_[static_cast<std::size_t>(index)];
  line.text = std::move(text);
  line.equalsPos = 0;
  line.original.reset();
}

void TSectionValues::Add(std::string text) { lines_.emplace_back().text = std::move(text); }

void TSectionValues::Add(std::string text, WideString original) {
  Line& line = lines_.emplace_back();
  line.text = std::move(text);
  if (!original.empty()) line.original = std::make_unique<const WideString>(std::move(original));
}

const WideString* TSectionValues::Original(int index) const {
  CheckIndex(index);
  return lines_[static_cast<std::size_t>(index)].original.get();
}

void TSectionValues::Delete(int index) {
  CheckIndex(index);
  lines_.erase(lines_.begin() + index);
}

void TSectionValues::Clear() {
  lines_.clear();
  lastFound_ = 0;
}

const TSectionValues::Line& TSectionValues::Parsed(int index) const {
  CheckIndex(index);
  const Line& line = lines_[static_cast<std::size_t>(index)];
  if (line.equalsPos == 0) {
    const std::size_t p = line.text.find('=');
    line.equalsPos = p == std::string::npos ? -1 : static_cast<int>(p) + 1;
    const std::string_view all = line.text;
    const std::string_view key = TrimBlanks(p == std::string::npos ? all : all.substr(0, p));
    line.keyBegin = static_cast<std::uint32_t>(key.data() - all.data());
    line.keyLength = static_cast<std::uint32_t>(key.size());
    line.plainKey = IsPlainAscii(key);
  }
  return line;
}

int TSectionValues::EqualsPos(int index) const { return Parsed(index).equalsPos; }

std::string_view TSectionValues::Key(int index) const {
  const Line& line = Parsed(index);
  return std::string_view(line.text).substr(line.keyBegin, line.keyLength);
}

std::string_view TSectionValues::Value(int index) const {
  const Line& line = Parsed(index);
  if (line.equalsPos < 0) return {};
  return TrimBlanks(std::string_view(line.text).substr(static_cast<std::size_t>(line.equalsPos)));
}

int TSectionValues::IndexOf(std::string_view text) const {
  const int n = Count();
  const int start = lastFound_ < n ? lastFound_ : 0;
  for (int k = 0; k < n; ++k) {
    const int i = (start + k) % n;
    if (AsciiSameText(Key(i), text)) return lastFound_ = i;
  }
  return -1;
}

int TSectionValues::IndexOfName(std::string_view text) const {
  const bool plainText = IsPlainAscii(text);
  for (int i = 0; i < Count(); ++i) {
    // Parsed only once per line; after that the fields are read in place.
    const Line& stored = lines_[static_cast<std::size_t>(i)];
    const Line& line = stored.equalsPos != 0 ? stored : Parsed(i);
    const std::string_view key(line.text.data() + line.keyBegin, line.keyLength);
    if (plainText && line.plainKey ? AsciiSameText(key, text) : LocaleSameText(key, text)) return i;
  }
  return -1;
}

void TSectionList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError::OutOfBounds(index);
}

const std::string& TSectionList::Name(int index) const {
  CheckIndex(index);
  return sections_[static_cast<std::size_t>(index)].name;
}

TSectionValues& TSectionList::Values(int index) const {
  CheckIndex(index);
  return *sections_[static_cast<std::size_t>(index)].values;
}

int TSectionList::Add(std::string name) { return Add(std::move(name), {}, {}); }

int TSectionList::Add(std::string name, std::string header, WideString original) {
  sections_.push_back(Section{std::move(name), std::make_unique<TSectionValues>(),
                              std::move(header), std::move(original)});
  return Count() - 1;
}

std::string TSectionList::HeaderLine(int index) const {
  CheckIndex(index);
  const Section& section = sections_[static_cast<std::size_t>(index)];
  return section.header.empty() ? "[" + section.name + "]" : section.header;
}

const WideString* TSectionList::HeaderOriginal(int index) const {
  CheckIndex(index);
  const Section& section = sections_[static_cast<std::size_t>(index)];
  return section.headerOriginal.empty() ? nullptr : &section.headerOriginal;
}

void TSectionList::Delete(int index) {
  CheckIndex(index);
  sections_.erase(sections_.begin() + index);
}

void TSectionList::Clear() {
  sections_.clear();
  lastFound_ = 0;
}

int TSectionList::IndexOf(std::string_view name) const {
  const int n = Count();
  const int start = lastFound_ < n ? lastFound_ : 0;
  for (int k = 0; k < n; ++k) {
    const int i = (start + k) % n;
    if (AsciiSameText(sections_[static_cast<std::size_t>(i)].name, name)) return lastFound_ = i;
  }
  return -1;
}

}  // namespace kiv
