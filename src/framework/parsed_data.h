// Parsed data of one data call and its delivery into the host's call record: the packet text
// goes into a block of the module allocator in Input (kind 4), the items are appended to the
// Output list and Output.Counter counts the deliveries.
//
// A TParsedDataList is filled and delivered by one thread at a time (the data call that owns
// it). DeliverParsedData runs inside that call, on its prepared record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/call_record.h"
#include "paramlist/params_list.h"

namespace kiv {

// Joins the data packets of one delivery, in the packet text and in the Input block.
constexpr std::string_view kDataSeparator = "<{[::]}>";

// Options bits of a data call.
enum : uint8_t {
  kDataNoEmptyCheck = KIV_OPTION_NO_EMPTY_CHECK,  // do not treat an empty Input list as no data
  kDataParse = KIV_OPTION_PARSER_PATH,  // route the data through the parser clients
  kDataWrites = KIV_OPTION_WRITES,  // the call writes data: report missing data and the outcome
  kDataReport = KIV_OPTION_REPORT,  // report the outcome
  kDataPassThrough = KIV_OPTION_COPY_INPUT,  // with no handler, copy Input to Output
};

// A parameter list with the raw packets of one delivery. Clearing the list also empties the
// packet text.
class TParsedDataList : public TkivParamsList {
 public:
  static const TkivParamsListClass kClass;

  TParsedDataList() : TkivParamsList(&kClass) {}
  ~TParsedDataList() { BeginDestroy(); }

  const std::string& PacketText() const noexcept { return packet_text_; }
  void SetPacketText(std::string_view text) { packet_text_.assign(text); }
  // Appends a packet: it becomes the text when that is empty, else follows a separator.
  void AddPacket(std::string_view text);
  // The same for a packet held as UTF-16 text, converted to the system code page; ASCII text is
  // narrowed straight into the packet text.
  void AddPacket(std::u16string_view text);
  // Removes every item and the packet text but keeps their memory, for a list that serves one
  // call after another.
  void Empty() noexcept;

 private:
  static void ClearParsed(TkivParamsList& list);

  std::string packet_text_;
  // The list serves call after call, its parser adding the same fields each time.
  TkivNameRefs names_;
};

// Writes `list` into the prepared record `rec` (null: nothing). Without a list in Output (no
// slot interface) nothing happens. Otherwise a non-empty packet text goes into Input: a block
// that an earlier delivery left there (kind 4, Size and Value set) is resized with the module
// allocator and, with `append`, extended after a separator unless it already ends with one
// (without `append` it is overwritten); any other Input gets a new block and kind 4. Then
// Output.Counter grows by one and the items are copied, in order, to the Output list through its
// interface, which is cleared first unless `append`.
// Throws EAssertionFailed when the block in Input is not readable for its Size (Input is left
// as it was), when the sizes overflow, or when the Output list refuses an item; std::bad_alloc
// when out of memory (the old block stays intact).
void DeliverParsedData(TPluginCallRec* rec, TParsedDataList& list, bool append);
// DeliverParsedData for a list that is emptied after the delivery: when the Output list is one
// of this module's lists (a prepared record lends it), the items move there instead of being
// copied, with the same result in Output; `list` may then hold none of them.
void HandOverParsedData(TPluginCallRec* rec, TParsedDataList& list, bool append);

// Input.Value and Output.Counter of a record when a data call began.
struct TConsumedInputNote {
  uintptr_t InputValue;
  uint32_t OutputCounter;
};
TConsumedInputNote NoteInput(const TPluginCallRec& rec) noexcept;

// The end of a data call: an Input whose Value still equals the noted one was consumed with
// nothing put in its place, so its Value becomes 0. A block that a delivery left in Input stays,
// also when resizing it kept its address: a delivery counts in Output.Counter and leaves a
// kind-4 block with a size, and clearing its Value then would lose the host's block.
void ClearConsumedInput(TPluginCallRec& rec, const TConsumedInputNote& noted) noexcept;

}  // namespace kiv
