#include "support/component.h"

#include <algorithm>

#include "platform/exception.h"

namespace kiv {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// --- TPersistent ---

const TPropInfo* TPersistent::FindProperty(std::string_view name) const {
  for (const TPropInfo& p : properties_)
    if (SameName(p.Name, name)) return &p;
  return nullptr;
}

void TPersistent::Publish(TPropInfo info) {
  for (TPropInfo& p : properties_) {
    if (SameName(p.Name, info.Name)) {
      p = std::move(info);
      return;
    }
  }
  properties_.push_back(std::move(info));
}

namespace {
TPropInfo NewProperty(std::string name, TPropertyKind kind) {
  TPropInfo p;
  p.Name = std::move(name);
  p.Kind = kind;
  return p;
}
}  // namespace

void TPersistent::PublishText(std::string name, std::function<std::string()> get,
                              std::function<void(const std::string&)> set) {
  TPropInfo p = NewProperty(std::move(name), TPropertyKind::Text);
  p.GetText = std::move(get), p.SetText = std::move(set);
  Publish(std::move(p));
}

void TPersistent::PublishWideText(std::string name, std::function<std::u16string()> get,
                                  std::function<void(const std::u16string&)> set) {
  TPropInfo p = NewProperty(std::move(name), TPropertyKind::WideText);
  p.GetWide = std::move(get), p.SetWide = std::move(set);
  Publish(std::move(p));
}

void TPersistent::PublishVariant(std::string name, std::function<std::u16string()> getAsText,
                                 std::function<void(const std::u16string&)> setWideString) {
  TPropInfo p = NewProperty(std::move(name), TPropertyKind::Variant);
  p.GetWide = std::move(getAsText), p.SetWide = std::move(setWideString);
  Publish(std::move(p));
}

void TPersistent::PublishObject(std::string name, std::function<TObject*()> get) {
  TPropInfo p = NewProperty(std::move(name), TPropertyKind::Object);
  p.GetObject = std::move(get);
  Publish(std::move(p));
}

void TPersistent::PublishOrdinal(std::string name, std::function<int()> get,
                                 std::function<void(int)> set) {
  TPropInfo p = NewProperty(std::move(name), TPropertyKind::Ordinal);
  p.GetOrdinal = std::move(get), p.SetOrdinal = std::move(set);
  Publish(std::move(p));
}

void TPersistent::PublishTextField(std::string name, std::string& field) {
  PublishText(
      std::move(name), [&field] { return field; }, [&field](const std::string& v) { field = v; });
}

// --- TComponent ---

TComponent::TComponent(TComponent* owner) {
  PublishTextField("Name", name_);
  PublishOrdinal(
      "Tag", [this] { return static_cast<int>(tag_); }, [this](int v) { tag_ = v; });
  if (owner) owner->InsertComponent(*this);
}

TComponent::~TComponent() {
  // Free owned components last first; each one's destructor removes it from our list.
  while (!components_.empty()) {
    std::unique_ptr<TComponent> last(components_.back());
    last.reset();
  }
  if (owner_) owner_->RemoveComponent(*this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) return nullptr;
  return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameName(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent& component) {
  if (component.owner_ == this) return;
  // Refuse cycles: a component cannot own one of its own owners.
  for (TComponent* o = this; o; o = o->owner_)
    if (o == &component) throw EAssertionFailed("TComponent: a component cannot own its owner");
  if (component.owner_) component.owner_->RemoveComponent(component);
  components_.push_back(&component);
  component.owner_ = this;
}

void TComponent::RemoveComponent(TComponent& component) {
  auto it = std::find(components_.begin(), components_.end(), &component);
  if (it == components_.end()) return;
  components_.erase(it);
  component.owner_ = nullptr;
}

// --- collections and string lists ---

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

}  // namespace kiv
