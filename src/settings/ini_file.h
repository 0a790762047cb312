// TkivIniFile keeps a whole INI file in memory as ordered sections of raw lines, answers reads
// and writes from memory and writes the file back only when something changed. Comments and
// line order survive a rewrite; blank lines and later duplicates of a section do not.
// One thread uses one object; processes sharing a file serialise through the named INI lock.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/format_settings.h"
#include "settings/section_values.h"
#include "settings/stream.h"

namespace kiv {

// Whether `ident` reads back as the same key from the line ident=value: not empty, no "=", no
// control character, no blank at either end, and not starting with "[" (a section header).
bool IsStorableIniKey(std::string_view ident);

// How the bound file is written: 8-bit text in the system code page, or the Unicode form the
// file had when it was read (its byte-order mark written too).
enum class TIniEncoding { kAnsi, kUtf8, kUtf16Le };

class TkivIniFile {
 public:
  // Binds the object to `fileName` and loads it when it exists (see SetFileName).
  // Throws EFOpenError when the file exists but cannot be opened for reading.
  explicit TkivIniFile(const std::string& fileName = std::string());
  // Writes the file back when anything changed. A destructor cannot raise: a failed write is
  // dropped here, so callers that must see it call UpdateFile first.
  virtual ~TkivIniFile();
  TkivIniFile(const TkivIniFile&) = delete;
  TkivIniFile& operator=(const TkivIniFile&) = delete;

  // Flushes, clears, stores the name and loads that file when the name is not empty; Changed
  // is false afterwards.
  void SetFileName(const std::string& fileName);

  // Parses an existing file into the present sections (a missing file adds nothing), then
  // drops later duplicates of a section (setting Changed when it drops any). A file that
  // starts with a UTF-16 LE or UTF-8 byte-order mark is read as such, and the object writes
  // its file in that encoding from then on.
  virtual void AppendFromFile(const std::string& fileName);
  // Frees every section; Changed is left as it is.
  virtual void Clear();
  virtual void DeleteKey(std::string_view section, std::string_view ident);
  virtual void EraseSection(std::string_view section);
  // Appends the header line ("[name]", or the header as read when it had blanks or a comment),
  // the section's lines and an empty line for each section with lines.
  virtual void SaveToStrings(std::vector<std::string>& strings) const;
  virtual void AppendFromStrings(const std::vector<std::string>& strings);
  // Rewrites the file when Changed is set and a file name is bound; throws EFCreateError or
  // EWriteError on failure, leaving Changed set. Clears Changed otherwise.
  virtual void FlushFile();
  virtual std::string ReadAnsiString(std::string_view section, std::string_view ident,
                                     std::string_view defaultValue);
  // Writes the bytes of a hexadecimal value to `stream` (0 for a pair that is not hexadecimal);
  // returns the number of bytes written.
  virtual int ReadBinaryData(std::string_view section, std::string_view ident, TStream& stream);
  virtual bool ReadBool(std::string_view section, std::string_view ident, bool defaultValue);
  virtual TDateTime ReadDate(std::string_view section, std::string_view ident,
                             TDateTime defaultValue);
  virtual TDateTime ReadDateTime(std::string_view section, std::string_view ident,
                                 TDateTime defaultValue);
  // Reads "3.5" and "3,5" alike; empty or invalid text gives the default.
  virtual double ReadFloat(std::string_view section, std::string_view ident, double defaultValue);
  // Decimal, "$" or "0x" hexadecimal; empty or invalid text gives the default.
  virtual int ReadInteger(std::string_view section, std::string_view ident, int defaultValue);
  // Appends the non-empty keys of the section's lines; `strings` is not cleared.
  virtual void ReadSection(std::string_view section, std::vector<std::string>& strings);
  // Replaces `strings` by the section names in order.
  virtual void ReadSections(std::vector<std::string>& strings) const;
  // Appends the section's lines unchanged; `strings` is not cleared.
  virtual void ReadSectionValues(std::string_view section, std::vector<std::string>& strings);
  // The trimmed value of the key, or the default when the section or key does not exist.
  virtual std::string ReadString(std::string_view section, std::string_view ident,
                                 std::string_view defaultValue);
  virtual TDateTime ReadTime(std::string_view section, std::string_view ident,
                             TDateTime defaultValue);
  virtual bool SectionExists(std::string_view section) const;
  virtual void UpdateFile();
  virtual bool ValueExists(std::string_view section, std::string_view ident) const;
  virtual void WriteAnsiString(std::string_view section, std::string_view ident,
                               std::string_view value);
  virtual void WriteBool(std::string_view section, std::string_view ident, bool value);
  // Stores the bytes from the stream's position to its end as upper-case hexadecimal.
  virtual void WriteBinaryData(std::string_view section, std::string_view ident, TStream& stream);
  virtual void WriteDate(std::string_view section, std::string_view ident, TDateTime value);
  virtual void WriteDateTime(std::string_view section, std::string_view ident, TDateTime value);
  virtual void WriteFloat(std::string_view section, std::string_view ident, double value);
  virtual void WriteInteger(std::string_view section, std::string_view ident, int value);
  // Sets the line ident=value (no blanks added); an empty ident erases the section instead
  // (or, with section and value empty too, flushes the file).
  virtual void WriteString(std::string_view section, std::string_view ident,
                           std::string_view value);
  virtual void WriteTime(std::string_view section, std::string_view ident, TDateTime value);

  bool Changed() const { return changed_; }
  const std::string& FileName() const { return fileName_; }
  const TSectionList& Sections() const { return sections_; }
  int PrevSectionIndex() const { return prevSectionIndex_; }
  TIniEncoding Encoding() const { return encoding_; }

 private:
  // The section's lines and the index of the key in them (-1: missing); null lines when the
  // section does not exist and `create` is false.
  std::pair<TSectionValues*, int> FindKey(std::string_view section, std::string_view ident,
                                          bool create);
  // `original`: the line's Unicode text when the 8-bit `line` cannot give it back. `kept`: the
  // line lies in a buffer the sections keep, so it is added without a copy.
  void ParseLine(std::string_view line, WideString original, bool kept, int& current);
  // Sections whose keys are equal are duplicates.
  std::string DuplicateKey(int section) const;
  void RemoveDuplicates();
  std::string FileText() const;

  bool changed_ = false;
  std::string fileName_;
  TSectionList sections_;
  int prevSectionIndex_ = 0;
  TIniEncoding encoding_ = TIniEncoding::kAnsi;
};

}  // namespace kiv
