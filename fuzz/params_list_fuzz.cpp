// Differential fuzz target: a byte-driven sequence of list operations checked against a
// plain vector model of names, keys, values and row markers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "paramlist/params_list.h"

namespace {

struct ModelItem {
  std::string key;
  int32_t value;
  bool marker;
};

const char* const kNames[] = {"a", "A", " a ", "b", "B", "$new_row$", " ", "c"};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

bool Blank(const std::string& s) { return s.find_first_not_of(" ") == std::string::npos; }

int ModelIndexOf(const std::vector<ModelItem>& m, const std::string& name, int from, int to) {
  if (m.empty()) return -1;
  int n = static_cast<int>(m.size());
  int first = from < 0 ? 0 : from, last = (to < 0 || to >= n) ? n - 1 : to;
  for (int i = first; i <= last; ++i) {
    if (m[i].key == Lower(name)) return i;
    if (to == -2 && m[i].marker) break;
  }
  return -1;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return pos_ < size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int Small() { return static_cast<int8_t>(Byte()) % 12; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  TkivParamsList list;
  std::vector<ModelItem> model;
  Reader in(data, size);
  while (in.More() && model.size() < 200) {
    uint8_t op = in.Byte() % 8;
    std::string name = kNames[in.Byte() % 8];
    int32_t value = in.Byte();
    switch (op) {
      case 0:
        Check((list.Add(name, Variant::Int32(value)) == nullptr) == Blank(name));
        if (!Blank(name)) model.push_back({Lower(name), value, false});
        break;
      case 1: {
        int index = in.Small();
        bool bad = index < 0 || index > static_cast<int>(model.size());
        try {
          TkivParamsListItem* item = list.Insert(index, name, Variant::Int32(value));
          Check(!bad || Blank(name));
          if (item) model.insert(model.begin() + index, {Lower(name), value, false});
        } catch (const EListError&) {
          Check(bad && !Blank(name));
        }
        break;
      }
      case 2: {
        int index = in.Small();
        list.Delete(index);
        if (index >= 0 && index < static_cast<int>(model.size())) model.erase(model.begin() + index);
        break;
      }
      case 3:
        list.NewRow();
        if (model.empty() || !model.back().marker) model.push_back({"$new_row$", 0, true});
        break;
      case 4: {
        int from = in.Small(), to = in.Small();
        Check(list.IndexOf(name, from, to) == ModelIndexOf(model, name, from, to));
        break;
      }
      case 5: {
        bool add = value & 1;
        TkivParamsListItem* item = list.SetValue(name, Variant::Int32(value), add);
        int at = ModelIndexOf(model, name, 0, -1);
        if (at < 0 && add && !Blank(name)) {
          model.push_back({Lower(name), 0, false});
          at = static_cast<int>(model.size()) - 1;
        }
        Check((item != nullptr) == (at >= 0));
        if (at >= 0) model[at].value = value;
        break;
      }
      case 6: {
        int from = in.Small();
        TkivRowEnd end = list.FindRowEnd(from);
        int first = from < 0 ? 0 : from, n = static_cast<int>(model.size());
        Check(end.Found == (first <= n - 1));
        if (end.Found) {
          int i = first;
          while (i < n - 1 && !model[i].marker) ++i;
          Check(end.Index == i && end.IsMarker == model[i].marker);
        }
        break;
      }
      default: {
        bool appended = list.Append(&list);
        Check(appended == !model.empty());
        std::vector<ModelItem> copy = model;
        model.insert(model.end(), copy.begin(), copy.end());
        break;
      }
    }
    Check(list.Count() == static_cast<int>(model.size()));
  }
  for (int i = 0; i < list.Count(); ++i) {
    const TkivParamsListItem* item = list.Items(i);
    Check(item->Key() == model[i].key && item->IsRowMarker() == model[i].marker);
    if (!model[i].marker) Check(item->Value().VInteger == model[i].value);
  }
  return 0;
}
