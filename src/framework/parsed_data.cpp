#include "framework/parsed_data.h"
#include "platform/foreign_call.h"

#include <cstdint>
#include <cstring>

#include "interfaces/intf_ptr.h"
#include "interfaces/params_list_wrap.h"
#include "paramlist/name_key.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/module_allocator.h"
#include "platform/readable_memory.h"

namespace kiv {

const TkivParamsListClass TParsedDataList::kClass{
    "TParsedDataList", &kTkivParamsListItemClass, []() -> TkivParamsList* { return new TParsedDataList(); },
    [](TkivParamsList* list) noexcept { delete static_cast<TParsedDataList*>(list); },
    &TParsedDataList::ClearParsed, &TkivParamsList::BaseAddCopy, &TkivParamsList::BaseAddFromItem,
    [](TkivParamsList& list) noexcept -> TkivNameRefs* { return &static_cast<TParsedDataList&>(list).names_; }};

void TParsedDataList::ClearParsed(TkivParamsList& list) {
  TkivParamsList::BaseClear(list);
  static_cast<TParsedDataList&>(list).packet_text_.clear();
}

void TParsedDataList::AddPacket(std::string_view text) {
  if (!packet_text_.empty()) packet_text_.append(kDataSeparator);
  packet_text_.append(text);
}

void TParsedDataList::AddPacket(std::u16string_view text) {
  // Every ANSI code page maps ASCII to itself: such a packet is narrowed in one pass, straight
  // into the packet text; at the first other character the pass is undone and the whole packet
  // goes through the system's conversion.
  const size_t before = packet_text_.size();
  if (before != 0) packet_text_.append(kDataSeparator);
  const size_t at = packet_text_.size();
  packet_text_.resize(at + text.size());
  char* out = packet_text_.data() + at;
  char16_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    seen |= text[i];
    out[i] = static_cast<char>(text[i]);
  }
  if (seen <= 0x7F) return;
  packet_text_.resize(before);
  AddPacket(WideToAnsi(text));
}

void TParsedDataList::Empty() noexcept {
  for (int i = Count() - 1; i >= 0; --i) Delete(i);  // from the end: nothing moves
  packet_text_.clear();
}

namespace {

[[noreturn]] void Fail(const char* what) { throw EAssertionFailed(std::string("DeliverParsedData: ") + what); }

bool EndsWithSeparator(const char* block, size_t size) {
  return size >= kDataSeparator.size() &&
         std::memcmp(block + size - kDataSeparator.size(), kDataSeparator.data(), kDataSeparator.size()) == 0;
}

// Puts `text` into the Input block: a block of an earlier delivery is resized, anything else is
// replaced by a new block. A block shorter than the separator cannot end with it, so appending
// to one writes the separator too: packets are never run together.
void WritePacketText(TPluginCallValue& input, std::string_view text, bool append) {
  const uint32_t old_size = input.Size;
  const uintptr_t old_value = input.Value;
  if (old_size > 0 && old_value != 0 && input.Kind == ckMemory) {
    auto* block = reinterpret_cast<char*>(old_value);
    if (!IsReadableMemory(block, old_size)) Fail("the block in Input is not readable");
    const size_t kept = append ? old_size : 0;
    const size_t separator = kept > 0 && !EndsWithSeparator(block, kept) ? kDataSeparator.size() : 0;
    const uint64_t new_size = uint64_t{kept} + separator + text.size();
    if (new_size > UINT32_MAX) Fail("the block would exceed 4 GiB");
    block = static_cast<char*>(ModuleRealloc(block, static_cast<size_t>(new_size)));
    input.Value = reinterpret_cast<uintptr_t>(block);
    std::memcpy(block + kept, kDataSeparator.data(), separator);
    std::memcpy(block + kept + separator, text.data(), text.size());
    input.Size = static_cast<uint32_t>(new_size);
    return;
  }
  if (text.size() > UINT32_MAX) Fail("the block would exceed 4 GiB");
  auto* block = static_cast<char*>(ModuleAlloc(text.size()));
  std::memcpy(block, text.data(), text.size());
  input.Value = reinterpret_cast<uintptr_t>(block);
  input.Kind = ckMemory;
  input.Size = static_cast<uint32_t>(text.size());
}

// Keys every item by its name as Add would: an item renamed after it was added (SetName keeps the
// key) is found in Output by its new name, as an item copied through the interfaces is. An item
// whose key was made from its present name keeps it without a new look at the name.
void KeyByName(TParsedDataList& list) {
  for (int32_t i = 0; i < list.Count(); ++i) {
    TkivParamsListItem& item = *list.Items(i);
    if (item.KeyedByName()) continue;
    const NameKey key(item.Name());
    if (item.Key() != key.view()) item.SetKey(key.view(), true);
  }
}

void AppendItems(TParsedDataList& list, IkivParamsListW* output, TkivParamsListWrap* own, bool append,
                 bool hand_over) {
  // The Output list of a prepared record is lent through a wrapper of ours: list to list,
  // without the interfaces.
  if (own) {
    if (!append) own->Clear();  // as through the interface
    TkivParamsList& target = own->Live();
    if (hand_over) {
      KeyByName(list);
      return list.MoveItemsTo(target);
    }
    return TkivParamsListWrap::CopyListItems(list, target, 0, -1);
  }
  // Output is another module's interface (the host's): each call into it is guarded.
  IkivParamsListA* queried = nullptr;
  if (ForeignHResult([&] { return output->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(&queried)); }) !=
          KIV_S_OK ||
      !queried)
    Fail("the Output list offers no 8-bit interface");
  const ForeignRef<IkivParamsListA> target(queried);
  auto clear = [&] { queried->Clear(); };
  if (!append && !CallForeign(clear)) Fail("the Output list faulted");
  if (list.Count() == 0) return;
  ParamsListBorrow source(list);
  TkivParamsListWrap::CopyItems(source.A(), target.get(), 0, -1);
}

}  // namespace

namespace {

void Deliver(TPluginCallRec* rec, TParsedDataList& list, bool append, bool hand_over) {
  if (!rec) return;
  TkivParamsListWrap* own = nullptr;
  IkivParamsListW* output = CallSlotIntf(rec->Output, &own);
  if (!output) return;
  if (!list.PacketText().empty()) WritePacketText(rec->Input, list.PacketText(), append);
  rec->Output.Counter += 1;
  AppendItems(list, output, own, append, hand_over);
}

}  // namespace

void DeliverParsedData(TPluginCallRec* rec, TParsedDataList& list, bool append) {
  Deliver(rec, list, append, false);
}

void HandOverParsedData(TPluginCallRec* rec, TParsedDataList& list, bool append) {
  Deliver(rec, list, append, true);
}

TConsumedInputNote NoteInput(const TPluginCallRec& rec) noexcept { return {rec.Input.Value, rec.Output.Counter}; }

void ClearConsumedInput(TPluginCallRec& rec, const TConsumedInputNote& noted) noexcept {
  if (rec.Input.Value != noted.InputValue) return;
  const bool delivered = rec.Output.Counter != noted.OutputCounter && rec.Input.Kind == ckMemory &&
                         rec.Input.Size > 0 && rec.Input.Value != 0;
  if (!delivered) rec.Input.Value = 0;
}

}  // namespace kiv
