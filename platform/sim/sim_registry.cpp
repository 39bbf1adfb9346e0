#include "platform/sim/sim_registry.h"

#include "base/strings.h"

namespace kv::platform::sim {

class SimRegistry::KeyRef : public RegistryKey {
 public:
  KeyRef(SimRegistry& owner, std::string key) : owner_(owner), key_(std::move(key)) {}

  std::optional<RegistryValue> QueryValue(std::string_view name) override {
    std::lock_guard lock(owner_.mutex_);
    Key* key = owner_.Find(key_);
    if (!key) return std::nullopt;
    for (auto& [n, v] : key->values)
      if (EqualsIgnoreCase(n, name)) return v;
    return std::nullopt;
  }

  void SetBinary(std::string_view name, std::span<const std::uint8_t> data) override {
    Set(name, RegistryValue{ValueKind::Binary, 3, {data.begin(), data.end()}});
  }

  void SetDword(std::string_view name, std::uint32_t value) override {
    Set(name,
        RegistryValue{
            ValueKind::Dword,
            4,
            {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}});
  }

  bool DeleteValue(std::string_view name) override {
    std::lock_guard lock(owner_.mutex_);
    Key* key = owner_.Find(key_);
    if (!key) return false;
    if (owner_.failWrites_) throw RegistryError("simulated registry refuses writes");
    for (auto it = key->values.begin(); it != key->values.end(); ++it)
      if (EqualsIgnoreCase(it->first, name)) {
        key->values.erase(it);
        ++owner_.writeCount_;
        return true;
      }
    return false;
  }

  std::vector<std::string> ValueNames() override {
    std::lock_guard lock(owner_.mutex_);
    std::vector<std::string> names;
    if (Key* key = owner_.Find(key_))
      for (auto& [n, v] : key->values) names.push_back(n);
    return names;
  }

 private:
  void Set(std::string_view name, RegistryValue value) {
    std::lock_guard lock(owner_.mutex_);
    if (owner_.failWrites_) throw RegistryError("simulated registry refuses writes");
    Key& key = owner_.keys_[key_];  // a key deleted meanwhile comes back, as a handle keeps it
    ++owner_.writeCount_;
    for (auto& [n, v] : key.values)
      if (EqualsIgnoreCase(n, name)) {
        v = std::move(value);
        return;
      }
    key.values.emplace_back(std::string(name), std::move(value));
  }

  SimRegistry& owner_;
  std::string key_;
};

std::string SimRegistry::Normalise(RootKey root, std::string_view path) {
  std::string out = std::to_string(static_cast<std::uint32_t>(root));
  for (const auto& part : Split(path, '\\'))
    if (!part.empty()) out += "\\" + AsciiLower(part);
  return out;
}

SimRegistry::Key* SimRegistry::Find(const std::string& normalised) {
  auto it = keys_.find(normalised);
  return it == keys_.end() ? nullptr : &it->second;
}

std::unique_ptr<RegistryKey> SimRegistry::CreateKey(RootKey root, std::string_view path) {
  if (root != RootKey::CurrentUser && root != RootKey::LocalMachine) return nullptr;
  if (path.find_first_not_of('\\') == std::string_view::npos) return nullptr;  // no key named
  std::lock_guard lock(mutex_);
  // Create every missing parent on the way down.
  std::string key = std::to_string(static_cast<std::uint32_t>(root));
  for (const auto& part : Split(path, '\\')) {
    if (part.empty()) continue;
    key += "\\" + AsciiLower(part);
    keys_.try_emplace(key);
  }
  return std::make_unique<KeyRef>(*this, key);
}

std::unique_ptr<RegistryKey> SimRegistry::OpenKey(RootKey root, std::string_view path) {
  if (root != RootKey::CurrentUser && root != RootKey::LocalMachine) return nullptr;
  if (path.find_first_not_of('\\') == std::string_view::npos) return nullptr;
  const std::string key = Normalise(root, path);
  std::lock_guard lock(mutex_);
  if (!Find(key)) return nullptr;
  return std::make_unique<KeyRef>(*this, key);
}

void SimRegistry::SetRawValue(RootKey root, std::string_view path, std::string_view name,
                              std::uint32_t type, std::vector<std::uint8_t> data) {
  auto key = CreateKey(root, path);
  std::lock_guard lock(mutex_);
  Key& k = keys_[Normalise(root, path)];
  const ValueKind kind = type == 3   ? ValueKind::Binary
                         : type == 4 ? ValueKind::Dword
                                     : ValueKind::Other;
  for (auto& [n, v] : k.values)
    if (EqualsIgnoreCase(n, name)) {
      v = RegistryValue{kind, type, std::move(data)};
      return;
    }
  k.values.emplace_back(std::string(name), RegistryValue{kind, type, std::move(data)});
}

bool SimRegistry::KeyExists(RootKey root, std::string_view path) {
  std::lock_guard lock(mutex_);
  return Find(Normalise(root, path)) != nullptr;
}

std::optional<RegistryValue> SimRegistry::Value(RootKey root, std::string_view path,
                                                std::string_view name) {
  auto key = OpenKey(root, path);
  return key ? key->QueryValue(name) : std::nullopt;
}

}  // namespace kv::platform::sim
