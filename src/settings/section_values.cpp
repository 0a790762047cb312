#include "settings/section_values.h"

#include <algorithm>

#include "platform/code_page.h"
#include "platform/exception.h"
#include "settings/ini_text.h"

namespace kiv {

namespace {

// Lists this long are searched through the index; shorter ones line by line.
constexpr int kIndexedCount = 16;

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

namespace section_detail {

std::uint32_t FoldedIndex::Hash(std::string_view text) {
  std::uint32_t h = 2166136261u;  // FNV-1a over the lower-cased bytes
  for (char c : text) h = (h ^ static_cast<unsigned char>(AsciiLowerChar(c))) * 16777619u;
  return h;
}

void FoldedIndex::Prepare(std::size_t count) {
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  slots_.assign(size, Slot{0, 0});
  used_ = 0;
}

void FoldedIndex::Insert(std::uint32_t hash, std::uint32_t position) {
  if (2 * (used_ + 1) > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].position != 0) i = (i + 1) & mask;
  slots_[i] = Slot{hash, position + 1};
  ++used_;
}

void FoldedIndex::Grow() {
  std::vector<Slot> old = std::move(slots_);
  Prepare(old.size());  // twice the slots of `old`
  for (const Slot& slot : old)
    if (slot.position != 0) Insert(slot.hash, slot.position - 1);
}

}  // namespace section_detail

using section_detail::FoldedIndex;

void TSectionValues::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError::OutOfBounds(index);
}

std::string_view TSectionValues::Strings(int index) const {
  CheckIndex(index);
  return lines_[static_cast<std::size_t>(index)].Text();
}

void TSectionValues::SetOwned(Line& line, std::string text, WideString original) {
  line.owned = std::make_unique<Line::Owned>(Line::Owned{std::move(text), std::move(original)});
  line.data = line.owned->text.data();
  line.size = static_cast<std::uint32_t>(line.owned->text.size());
  line.equalsPos = 0;
}

void TSectionValues::Put(int index, std::string text) {
  CheckIndex(index);
  Line& line = lines_[static_cast<std::size_t>(index)];
  Line fresh;
  SetOwned(fresh, std::move(text), {});
  Parse(fresh);
  Parse(line);
  // A replacement under the same plain key (a value written again) keeps the index valid.
  const bool sameKey =
      line.plainKey && fresh.plainKey && AsciiSameText(line.KeyText(), fresh.KeyText());
  line = std::move(fresh);
  if (!sameKey) ResetIndex();
}

void TSectionValues::ResetIndex() {
  index_.Reset();
  otherKeys_.clear();
}

void TSectionValues::Add(std::string text) { Add(std::move(text), {}); }

void TSectionValues::Add(std::string text, WideString original) {
  SetOwned(lines_.emplace_back(), std::move(text), std::move(original));
  if (index_.Built()) IndexLine(lines_.size() - 1);
}

void TSectionValues::AddView(std::string_view text) {
  Line& line = lines_.emplace_back();
  line.data = text.data();
  line.size = static_cast<std::uint32_t>(text.size());
  if (index_.Built()) IndexLine(lines_.size() - 1);
}

const WideString* TSectionValues::Original(int index) const {
  CheckIndex(index);
  const Line& line = lines_[static_cast<std::size_t>(index)];
  return line.owned && !line.owned->original.empty() ? &line.owned->original : nullptr;
}

void TSectionValues::Delete(int index) {
  CheckIndex(index);
  lines_.erase(lines_.begin() + index);
  ResetIndex();
}

void TSectionValues::Clear() {
  lines_.clear();
  lastFound_ = 0;
  ResetIndex();
}

void TSectionValues::Parse(const Line& line) {
  if (line.equalsPos != 0) return;
  const std::string_view all = line.Text();
  const std::size_t p = all.find('=');
  line.equalsPos = p == std::string_view::npos ? -1 : static_cast<int>(p) + 1;
  const std::string_view key = TrimBlanks(p == std::string_view::npos ? all : all.substr(0, p));
  line.keyBegin = static_cast<std::uint32_t>(key.data() - all.data());
  line.keyLength = static_cast<std::uint32_t>(key.size());
  line.plainKey = IsPlainAscii(key);
}

const TSectionValues::Line& TSectionValues::Parsed(int index) const {
  CheckIndex(index);
  const Line& line = lines_[static_cast<std::size_t>(index)];
  Parse(line);
  return line;
}

int TSectionValues::EqualsPos(int index) const { return Parsed(index).equalsPos; }

std::string_view TSectionValues::Key(int index) const { return Parsed(index).KeyText(); }

std::string_view TSectionValues::Value(int index) const {
  const Line& line = Parsed(index);
  if (line.equalsPos < 0) return {};
  return TrimBlanks(line.Text().substr(static_cast<std::size_t>(line.equalsPos)));
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

int TSectionValues::IndexOfNameLinear(std::string_view text) const {
  const bool plainText = IsPlainAscii(text);
  for (int i = 0; i < Count(); ++i) {
    // Parsed only once per line; after that the fields are read in place.
    const Line& line = lines_[static_cast<std::size_t>(i)];
    Parse(line);
    if (plainText && line.plainKey ? AsciiSameText(line.KeyText(), text)
                                   : LocaleSameText(line.KeyText(), text))
      return i;
  }
  return -1;
}

bool TSectionValues::UsesIndex() const { return Count() >= kIndexedCount; }

void TSectionValues::IndexLine(std::size_t i) const {
  const Line& line = Parsed(static_cast<int>(i));
  if (line.plainKey)
    index_.Insert(FoldedIndex::Hash(line.KeyText()), static_cast<std::uint32_t>(i));
  else
    otherKeys_.push_back(static_cast<std::uint32_t>(i));
}

void TSectionValues::BuildIndex() const {
  index_.Prepare(lines_.size());
  otherKeys_.clear();
  for (std::size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
}

int TSectionValues::IndexOfName(std::string_view text) const {
  // A plain query matches a plain key by ASCII folding: the index answers for those. Keys with
  // other bytes are compared by the locale, as the linear search does, but only those before
  // the index's answer can come first.
  if (!UsesIndex() || !IsPlainAscii(text)) return IndexOfNameLinear(text);
  if (!index_.Built()) BuildIndex();
  std::uint32_t found = UINT32_MAX;
  index_.ForEach(FoldedIndex::Hash(text), [&](std::uint32_t i) {
    if (i < found && AsciiSameText(lines_[i].KeyText(), text)) found = i;
  });
  for (std::uint32_t i : otherKeys_) {
    if (i >= found) break;
    if (LocaleSameText(lines_[i].KeyText(), text)) return static_cast<int>(i);
  }
  return found == UINT32_MAX ? -1 : static_cast<int>(found);
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
  const int index = Count() - 1;
  if (index_.Built())
    index_.Insert(FoldedIndex::Hash(sections_.back().name), static_cast<std::uint32_t>(index));
  return index;
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
  index_.Reset();
}

void TSectionList::Clear() {
  sections_.clear();
  buffers_.clear();
  lastFound_ = 0;
  index_.Reset();
}

std::string_view TSectionList::Keep(std::unique_ptr<char[]> bytes, std::size_t size) {
  const char* data = bytes.get();
  buffers_.push_back(std::move(bytes));
  return {data, size};
}

int TSectionList::FindLinear(std::string_view name, int start) const {
  const int n = Count();
  if (start < 0 || start >= n) start = 0;
  for (int k = 0; k < n; ++k) {
    const int i = (start + k) % n;
    if (AsciiSameText(sections_[static_cast<std::size_t>(i)].name, name)) return i;
  }
  return -1;
}

int TSectionList::Find(std::string_view name, int start) const {
  const int n = Count();
  if (n < kIndexedCount) return FindLinear(name, start);
  if (start < 0 || start >= n) start = 0;
  if (!index_.Built()) {
    index_.Prepare(sections_.size());
    for (std::size_t i = 0; i < sections_.size(); ++i)
      index_.Insert(FoldedIndex::Hash(sections_[i].name), static_cast<std::uint32_t>(i));
  }
  // The wrapping search finds the first match at or after `start`, else the first one overall.
  int after = -1, first = -1;
  index_.ForEach(FoldedIndex::Hash(name), [&](std::uint32_t p) {
    const int i = static_cast<int>(p);
    if (!AsciiSameText(sections_[p].name, name)) return;
    if (i >= start && (after < 0 || i < after)) after = i;
    if (first < 0 || i < first) first = i;
  });
  return after >= 0 ? after : first;
}

int TSectionList::IndexOf(std::string_view name) const {
  const int index = Find(name, lastFound_);
  if (index >= 0) lastFound_ = index;
  return index;
}

}  // namespace kiv
