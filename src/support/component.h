// The component model: objects with published properties, components with a name, a tag,
// an owner and the components they own, collections and string lists.
//
// It is what the translator walks by property name and what the plugin component derives
// from. Objects are not thread-safe: one thread uses an object tree at a time (the owner
// serialises access, e.g. under the translator's lock).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv {

// Root of every object the component model can refer to.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name shown in object paths ("TComponent", "TButton", ...).
  virtual std::string ClassName() const { return "TObject"; }
};

// What a published property holds; decides how its accessors are used.
enum class TPropertyKind {
  Text,      // 8-bit text in the system code page: GetText / SetText
  WideText,  // UTF-16 text: GetWide / SetWide
  Variant,   // a variant: GetWide reads it converted to text, SetWide stores a wide-string variant
  Object,    // a reference to another object (may be none): GetObject
  Ordinal,   // an integer or enumeration (e.g. "BiDiMode"): GetOrdinal / SetOrdinal
};

// One published property. Accessors are bound to the object that publishes it; only those of
// the property's kind are set.
struct TPropInfo {
  std::string Name;
  TPropertyKind Kind = TPropertyKind::Text;
  std::function<std::string()> GetText;
  std::function<void(const std::string&)> SetText;
  std::function<std::u16string()> GetWide;
  std::function<void(const std::u16string&)> SetWide;
  std::function<TObject*()> GetObject;
  std::function<int()> GetOrdinal;
  std::function<void(int)> SetOrdinal;
};

// An object with a table of published properties, found by name without regard to ASCII case.
class TPersistent : public TObject {
 public:
  std::string ClassName() const override { return "TPersistent"; }

  // The property called `name` (ASCII case-insensitive), or nullptr.
  const TPropInfo* FindProperty(std::string_view name) const;
  const std::vector<TPropInfo>& Properties() const { return properties_; }

 protected:
  // Publishing a name twice replaces the earlier entry (a subclass overriding a property).
  void PublishText(std::string name, std::function<std::string()> get,
                   std::function<void(const std::string&)> set);
  void PublishWideText(std::string name, std::function<std::u16string()> get,
                       std::function<void(const std::u16string&)> set);
  void PublishVariant(std::string name, std::function<std::u16string()> getAsText,
                      std::function<void(const std::u16string&)> setWideString);
  void PublishObject(std::string name, std::function<TObject*()> get);
  void PublishOrdinal(std::string name, std::function<int()> get, std::function<void(int)> set);
  // Publishes a field of this object by reference.
  void PublishTextField(std::string name, std::string& field);

 private:
  void Publish(TPropInfo info);
  std::vector<TPropInfo> properties_;
};

// A named, tagged object that owns the components created with it as owner. The owner frees
// its components, last created first, when it is destroyed; a component destroyed earlier
// leaves its owner's list. Publishes "Name" and "Tag".
class TComponent : public TPersistent {
 public:
  // Joins `owner`'s list of owned components (owner may be null). Create owned components with
  // MakeOwned; a component without owner is owned by whoever created it.
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  std::string ClassName() const override { return "TComponent"; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // The index-th owned component, in order of ownership; nullptr when out of range.
  TComponent* Components(int index) const;
  // The first owned component called `name` (ASCII case-insensitive), or nullptr.
  TComponent* FindComponent(std::string_view name) const;

  // Moves `component` from its present owner (if any) to this one, at the end of the list.
  void InsertComponent(TComponent& component);
  // Detaches `component` from this owner; the caller becomes responsible for freeing it.
  void RemoveComponent(TComponent& component);

 private:
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;  // owned
  std::string name_;
  std::intptr_t tag_ = 0;
};

// Creates a T owned by `owner` (T's constructor takes the owner first) and returns it; the
// owner frees it.
template <class T, class... Args>
T& MakeOwned(TComponent& owner, Args&&... args) {
  auto component = std::make_unique<T>(&owner, std::forward<Args>(args)...);
  return *component.release();  // now held by owner's list of components
}

// One item of a collection; an object with published properties but no name or tag.
class TCollectionItem : public TPersistent {
 public:
  std::string ClassName() const override { return "TCollectionItem"; }
};

// An ordered list of items that it owns.
class TCollection : public TPersistent {
 public:
  std::string ClassName() const override { return "TCollection"; }

  int Count() const { return static_cast<int>(items_.size()); }
  // The index-th item; nullptr when out of range.
  TCollectionItem* Items(int index) const;
  // Appends a new T (a TCollectionItem) constructed from args and returns it.
  template <class T = TCollectionItem, class... Args>
  T& Add(Args&&... args) {
    auto item = std::make_unique<T>(std::forward<Args>(args)...);
    T& result = *item;
    items_.push_back(std::move(item));
    return result;
  }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};

// ASCII case-insensitive equality of property and component names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace kiv
