// Random variant trees, as an inner plugin may pass them, through the interface normalisation:
// references (to variants, to text pointers, to numbers, cycles), arrays of variants, 8-bit and
// UTF-16 text by pointer, BSTRs and nesting. The normalised value must own everything it holds
// and survive the OLE and store forms, a list and the way back out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "interfaces/params_list_wrap.h"
#include "interfaces/value_normalise.h"
#include "fuzz_input.h"
#include "paramlist/safe_array.h"
#include "paramlist/variant_conversion.h"

namespace {

using kiv::fuzz::Check;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word() { return Byte() | (uint32_t{Byte()} << 8) | (uint32_t{Byte()} << 16) | (uint32_t{Byte()} << 24); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Owns every node, text and array of one tree; nothing in the tree owns anything itself.
class Tree {
 public:
  explicit Tree(Reader& in) : in_(in) {}
  ~Tree() {
    for (kiv::TSafeArray* array : arrays_) {
      std::memset(array->pvData, 0, kiv::ArrayElementCount(array) * sizeof(kivVARIANT));
      kiv::ArrayDestroy(array);
    }
  }

  // A node built from the input; depth beyond the normalisation's limit is allowed on purpose.
  kivVARIANT* Build(int depth) {
    kivVARIANT& v = nodes_.emplace_back();
    const uint8_t kind = depth > 24 ? 0 : in_.Byte() % 12;
    switch (kind) {
      case 0: v.vt = KIV_VT_I4; v.lVal = static_cast<int32_t>(in_.Word()); break;
      case 1: v.vt = KIV_VT_ANSI_STRING; v.pszVal = Text(); break;
      case 2: v.vt = KIV_VT_WIDE_POINTER; v.pwszVal = reinterpret_cast<const kivWCHAR*>(Text()); break;
      case 3: v.vt = KIV_VT_BYREF | KIV_VT_VARIANT; v.byref = Build(depth + 1); break;
      case 4: {
        const char*& slot = pointers_.emplace_back(Text());
        v.vt = KIV_VT_BYREF | KIV_VT_ANSI_STRING;
        v.byref = &slot;
        break;
      }
      case 5: v.vt = kiv::varArray | kiv::varVariant; v.byref = Array(depth); break;
      case 6: {
        const char16_t text[] = {static_cast<char16_t>(in_.Byte()), u'x', 0};
        bstrs_.push_back(kiv::Variant::Wide(text));
        v.vt = KIV_VT_BSTR;
        v.bstrVal = reinterpret_cast<kivBSTR>(bstrs_.back().Data().VOleStr);
        break;
      }
      case 7: {
        static const uint16_t kNumeric[] = {KIV_VT_UI2, KIV_VT_I8, KIV_VT_UI4, KIV_VT_R8,
                                            KIV_VT_BOOL, KIV_VT_I1, KIV_VT_CY, KIV_VT_NULL};
        v.vt = kNumeric[in_.Byte() % 8];
        v.ullVal = in_.Word() | (uint64_t{in_.Word()} << 32);
        break;
      }
      case 8: {
        uint64_t& slot = numbers_.emplace_back(in_.Word());
        static const uint16_t kTypes[] = {KIV_VT_I4, KIV_VT_UI2, KIV_VT_R8, KIV_VT_I8, 0x7F};
        v.vt = KIV_VT_BYREF | kTypes[in_.Byte() % 5];
        v.byref = &slot;
        break;
      }
      case 9:  // a reference to any node built so far: shared subtrees and cycles
        v.vt = KIV_VT_BYREF | KIV_VT_VARIANT;
        v.byref = &nodes_[in_.Byte() % nodes_.size()];
        break;
      case 10:  // null payloads
        v.vt = (in_.Byte() & 1) ? KIV_VT_ANSI_STRING : (KIV_VT_BYREF | KIV_VT_VARIANT);
        break;
      default: v.vt = static_cast<uint16_t>(in_.Word()); v.ullVal = 0; break;  // any code
    }
    return &v;
  }

 private:
  // Zero-terminated in both widths: 8-bit text followed by zero bytes up to a whole zero unit.
  const char* Text() {
    const size_t n = in_.Byte() % 12;
    auto& text = texts_.emplace_back(std::make_unique<char[]>(n + 3));  // zero-filled
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(in_.Byte() | 1);
    return text.get();
  }

  kiv::TSafeArray* Array(int depth) {
    const kiv::TSafeArrayBound bound{in_.Byte() % 4u, 0};
    kiv::TSafeArray* array = kiv::ArrayCreate(kiv::varVariant, 1, &bound);
    arrays_.push_back(array);
    for (uint32_t i = 0; i < bound.cElements; ++i)
      static_cast<kivVARIANT*>(array->pvData)[i] = *Build(depth + 1);
    return array;
  }

  Reader& in_;
  std::deque<kivVARIANT> nodes_;  // stable addresses for references
  std::deque<const char*> pointers_;
  std::deque<uint64_t> numbers_;
  std::vector<std::unique_ptr<char[]>> texts_;
  std::vector<kiv::Variant> bstrs_;
  std::vector<kiv::TSafeArray*> arrays_;
};

// The normalised value owns what it holds: no references anywhere, no 8-bit text in the W form
// (but the empty one that a null pointer stands for).
void CheckOwned(const kiv::TVarData& v, kiv::TextForm form) {
  Check(!(v.VType & kiv::varByRef));
  Check(v.VType != KIV_VT_WIDE_POINTER);
  if (form == kiv::TextForm::kWide) Check(v.VType != kiv::varString || v.VString == nullptr);
  if ((v.VType & kiv::varArray) && v.VArray && kiv::ArrayElementType(v.VArray) == kiv::varVariant) {
    const auto* elements = static_cast<const kiv::TVarData*>(v.VArray->pvData);
    for (size_t i = 0; i < kiv::ArrayElementCount(v.VArray); ++i) CheckOwned(elements[i], form);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  Tree tree(in);
  const kivVARIANT* root = tree.Build(0);
  for (kiv::TextForm form : {kiv::TextForm::kAnsi, kiv::TextForm::kWide}) {
    try {
      const kiv::Variant value = kiv::NormaliseIncoming(root, form);
      CheckOwned(value.Data(), form);
      const kiv::Variant stored = kiv::VarStoreForm(value);
      kivVARIANT out;
      kiv::StoreOutgoing(kiv::VarOleForm(stored).Data(), &out);
      kiv::ClearVariant(&out);
    } catch (const kiv::Exception&) {
      // A value that cannot be taken is refused; that is all the interface reports.
    }
  }
  // And through both interface forms, where every failure must be a status code.
  kiv::IntfPtr<IkivParamsListW> w = kiv::TkivParamsListWrap::Create();
  IkivParamsListA* a = nullptr;
  Check(w->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(&a)) == KIV_S_OK);
  const kivHRESULT added = a->Add("a", root, nullptr);
  Check(added == KIV_S_OK || added == KIV_E_UNEXPECTED);
  const kivHRESULT set = w->SetValue(KIV_TEXT_W("w"), root, KIV_TRUE, nullptr);
  Check(set == KIV_S_OK || set == KIV_E_UNEXPECTED);
  kivVARIANT out;
  Check(w->GetValue(KIV_TEXT_W("a"), -1, -1, &out) == KIV_S_OK);
  kiv::ClearVariant(&out);
  const kivHRESULT inserted = a->Insert(0, "i", root, nullptr);
  Check(inserted == KIV_S_OK || inserted == KIV_E_UNEXPECTED);
  a->Release();
  return 0;
}
