// The native stand-in for the registry: one process-wide tree of keys, compared without
// regard to ASCII case as Windows does, each key holding typed values.
#include <algorithm>
#include <map>

#include "platform/mutex.h"
#include "settings/ini_text.h"
#include "settings/registry.h"

namespace kiv {

namespace {

struct StoredValue {
  std::uint32_t type;
  std::string data;
};

struct Store {
  Mutex mutex;
  // Full key name "<root>\<path in lower case>" -> lower-case value name -> value.
  std::map<std::string, std::map<std::string, StoredValue>> keys GUARDED_BY(mutex);
};

Store& TheStore() {
  static Store store;
  return store;
}

// The store's name of a key: the root, then each non-empty path component in lower case.
std::string FullName(std::uint32_t root, std::string_view path) {
  std::string name = std::to_string(root);
  while (!path.empty()) {
    const std::size_t end = std::min(path.find('\\'), path.size());
    if (end > 0) name += "\\" + AsciiLower(path.substr(0, end));
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return name;
}

}  // namespace

bool TRegistry::OpenKey(std::string_view path, bool create) {
  CloseKey();
  if (root_ < kHKeyClassesRoot || root_ > kHKeyCurrentConfig || root_ == 0x80000004u) return false;
  const std::string name = FullName(root_, path);
  Store& store = TheStore();
  LockGuard<Mutex> guard(store.mutex);
  if (store.keys.count(name) == 0) {
    if (!create && name.find('\\') != std::string::npos) return false;
    // Creating a key creates its parents too.
    for (std::size_t p = name.find('\\'); p != std::string::npos; p = name.find('\\', p + 1))
      store.keys[name.substr(0, p)];
    store.keys[name];
  }
  path_ = name;
  open_ = true;
  return true;
}

void TRegistry::CloseKey() {
  open_ = false;
  path_.clear();
}

// The native store opens no system key.
void TRegistry::KeyTraits::Close(type) noexcept {}

bool TRegistry::ReadValue(std::string_view name, std::uint32_t& type, std::string& data) {
  if (!open_) return false;
  Store& store = TheStore();
  LockGuard<Mutex> guard(store.mutex);
  const auto key = store.keys.find(path_);
  if (key == store.keys.end()) return false;
  const auto value = key->second.find(AsciiLower(name));
  if (value == key->second.end()) return false;
  type = value->second.type;
  data = value->second.data;
  return true;
}

bool TRegistry::ValueExists(std::string_view name) {
  std::uint32_t type;
  std::string data;
  return ReadValue(name, type, data);
}

bool TRegistry::WriteValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (!open_) return false;
  Store& store = TheStore();
  LockGuard<Mutex> guard(store.mutex);
  const auto key = store.keys.find(path_);
  if (key == store.keys.end()) return false;
  key->second[AsciiLower(name)] = StoredValue{type, std::string(data)};
  return true;
}

bool TRegistry::DeleteValue(std::string_view name) {
  if (!open_) return false;
  Store& store = TheStore();
  LockGuard<Mutex> guard(store.mutex);
  const auto key = store.keys.find(path_);
  return key != store.keys.end() && key->second.erase(AsciiLower(name)) != 0;
}

bool DeleteRegistryTree(std::uint32_t rootKey, std::string_view path) {
  const std::string name = FullName(rootKey, path);
  if (name.find('\\') == std::string::npos) return false;  // never the whole root
  Store& store = TheStore();
  LockGuard<Mutex> guard(store.mutex);
  bool found = false;
  for (auto it = store.keys.lower_bound(name);
       it != store.keys.end() && it->first.compare(0, name.size(), name) == 0;) {
    if (it->first.size() == name.size() || it->first[name.size()] == '\\') {
      it = store.keys.erase(it);
      found = true;
    } else {
      ++it;
    }
  }
  return found;
}

}  // namespace kiv
