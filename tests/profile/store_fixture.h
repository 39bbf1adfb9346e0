#pragma once
// A sim machine with helpers to read and plant the store's records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/sim/sim_platform.h"
#include "profile/dm.h"

namespace kv::testing {

inline constexpr const char* kStoreKey = "software\\software\\KVgmmouse";

struct Store : ::testing::Test {
  platform::sim::SimPlatform sim;

  std::unique_ptr<TDM> Start() { return std::make_unique<TDM>(sim.platform()); }

  std::optional<platform::RegistryValue> Value(std::string_view name) {
    return sim.registry.Value(platform::RootKey::CurrentUser, kStoreKey, name);
  }
  template <typename Record>
  std::unique_ptr<Record> Stored(std::string_view name) {
    auto v = Value(name);
    if (!v || v->data.size() != sizeof(Record)) return nullptr;
    auto r = std::make_unique<Record>();
    std::memcpy(static_cast<void*>(r.get()), v->data.data(), sizeof(Record));
    return r;
  }
  template <typename Record>
  void Plant(std::string_view name, const Record& r, std::size_t size = sizeof(Record)) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&r);
    sim.registry.SetRawValue(platform::RootKey::CurrentUser, kStoreKey, name, 3,
                             std::vector<std::uint8_t>(p, p + size));
  }
};

}  // namespace kv::testing
