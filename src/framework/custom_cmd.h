// Custom commands an instance offers the host, and their text form.
//
// Text form: one line per command, "first|second|third|flag1|flag2" with flags "1" or "0", every
// line ended by CR LF. The module stores and relays the fields without giving them a meaning.
// A list is not guarded: its owner (the plugin instance) serialises access to it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct TkivPluginCustomCmd {
  std::string FirstText;
  std::string SecondText;
  std::string ThirdText;
  bool FirstFlag = false;
  bool SecondFlag = false;

  bool operator==(const TkivPluginCustomCmd&) const = default;
};

// Commands in order of addition. With the owns-items flag (set at creation) the list frees a
// command when it is deleted, or when the list is cleared or destroyed. Commands the list
// creates itself (Add with fields, AddFromText) are always freed by it.
class TkivPluginCustomCmdList {
 public:
  explicit TkivPluginCustomCmdList(bool ownsItems = true);
  ~TkivPluginCustomCmdList();
  TkivPluginCustomCmdList(const TkivPluginCustomCmdList&) = delete;
  TkivPluginCustomCmdList& operator=(const TkivPluginCustomCmdList&) = delete;

  bool OwnsItems() const { return ownsItems_; }
  std::size_t Count() const { return entries_.size(); }
  // The command at `index`; throws EListError when the index is out of bounds.
  TkivPluginCustomCmd* Items(std::size_t index) const;

  // Appends a new command with these fields and returns it (owned by the list).
  TkivPluginCustomCmd* Add(std::string firstText, std::string secondText, std::string thirdText,
                           bool firstFlag, bool secondFlag);
  // Appends a command created elsewhere and takes it over. Null is refused with EListError.
  TkivPluginCustomCmd* Add(std::unique_ptr<TkivPluginCustomCmd> command);
  // Appends a command created elsewhere; the list frees it only when it owns its items. Null is
  // refused with EListError.
  void Add(TkivPluginCustomCmd* command);

  // Removes the command at `index` (freeing it when owned); EListError when out of bounds.
  void Delete(std::size_t index);
  void Clear();

  // The text form of all commands in list order; empty for an empty list.
  std::string AsText() const;
  // Appends the commands parsed from `text`: empty lines and lines with fewer than five fields
  // are skipped; a flag is true only when its field is exactly "1"; further fields are ignored.
  // Returns the number of commands appended.
  std::size_t AddFromText(std::string_view text);

 private:
  struct Entry {
    TkivPluginCustomCmd* command;
    bool owned;
  };
  static void Release(const Entry& entry);

  bool ownsItems_;
  std::vector<Entry> entries_;
};

}  // namespace kiv
