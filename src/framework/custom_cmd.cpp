#include "framework/custom_cmd.h"

#include "platform/exception.h"
#include "platform/text_utils.h"

namespace kiv {

TkivPluginCustomCmdList::TkivPluginCustomCmdList(bool ownsItems) : ownsItems_(ownsItems) {}

TkivPluginCustomCmdList::~TkivPluginCustomCmdList() { Clear(); }

void TkivPluginCustomCmdList::Release(const Entry& entry) {
  if (entry.owned) std::unique_ptr<TkivPluginCustomCmd>(entry.command).reset();
}

TkivPluginCustomCmd* TkivPluginCustomCmdList::Items(std::size_t index) const {
  if (index >= entries_.size()) throw EListError::OutOfBounds(static_cast<long long>(index));
  return entries_[index].command;
}

TkivPluginCustomCmd* TkivPluginCustomCmdList::Add(std::string firstText, std::string secondText,
                                                  std::string thirdText, bool firstFlag,
                                                  bool secondFlag) {
  auto command = std::make_unique<TkivPluginCustomCmd>(TkivPluginCustomCmd{
      std::move(firstText), std::move(secondText), std::move(thirdText), firstFlag, secondFlag});
  entries_.push_back({command.get(), true});
  return command.release();
}

TkivPluginCustomCmd* TkivPluginCustomCmdList::Add(std::unique_ptr<TkivPluginCustomCmd> command) {
  if (!command) throw EListError("Custom command is nil");
  entries_.push_back({command.get(), true});
  return command.release();
}

void TkivPluginCustomCmdList::Add(TkivPluginCustomCmd* command) {
  if (!command) throw EListError("Custom command is nil");
  std::unique_ptr<TkivPluginCustomCmd> guard(ownsItems_ ? command : nullptr);  // if push fails
  entries_.push_back({command, ownsItems_});
  guard.release();
}

void TkivPluginCustomCmdList::Delete(std::size_t index) {
  if (index >= entries_.size()) throw EListError::OutOfBounds(static_cast<long long>(index));
  const Entry entry = entries_[index];
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  Release(entry);
}

void TkivPluginCustomCmdList::Clear() {
  std::vector<Entry> old;
  old.swap(entries_);
  for (const Entry& entry : old) Release(entry);
}

std::string TkivPluginCustomCmdList::AsText() const {
  std::string text;
  for (const Entry& entry : entries_) {
    const TkivPluginCustomCmd& c = *entry.command;
    text += c.FirstText + "|" + c.SecondText + "|" + c.ThirdText + "|" +
            (c.FirstFlag ? "1" : "0") + "|" + (c.SecondFlag ? "1" : "0") + "\r\n";
  }
  return text;
}

std::size_t TkivPluginCustomCmdList::AddFromText(std::string_view text) {
  TextLines fields;
  std::size_t added = 0;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) continue;
    SplitText(fields, line, '|');
    if (fields.size() < 5) continue;
    Add(fields[0], fields[1], fields[2], fields[3] == "1", fields[4] == "1");
    ++added;
  }
  return added;
}

}  // namespace kiv
