#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kv::platform::sim {

// In-memory registry. Keys are created with their missing parents; names compare without
// regard to case; value names are listed in creation order.
class SimRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> CreateKey(RootKey root, std::string_view path) override;
  std::unique_ptr<RegistryKey> OpenKey(RootKey root, std::string_view path) override;

  // Test controls.
  // Stores a value of any type number (REG_SZ 1, REG_QWORD 11, ...), as another program might.
  void SetRawValue(RootKey root, std::string_view path, std::string_view name, std::uint32_t type,
                   std::vector<std::uint8_t> data);
  // From now on every write throws RegistryError, as a full or read-only store does.
  void FailWrites(bool fail) { failWrites_ = fail; }
  bool KeyExists(RootKey root, std::string_view path);
  std::optional<RegistryValue> Value(RootKey root, std::string_view path, std::string_view name);
  // Every write so far, as "path\name", for tests that assert nothing was written.
  std::size_t WriteCount() const { return writeCount_; }

 private:
  struct Key {
    std::vector<std::pair<std::string, RegistryValue>> values;
  };
  class KeyRef;
  static std::string Normalise(RootKey root, std::string_view path);
  Key* Find(const std::string& normalised);

  std::mutex mutex_;
  std::map<std::string, Key> keys_;
  bool failWrites_ = false;
  std::size_t writeCount_ = 0;
};

}  // namespace kv::platform::sim
