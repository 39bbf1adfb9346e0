#pragma once
// Settings of kvmon's own. They live beside the suite's records in its settings key (the
// registry folder that config.ini names, under the current user); the configurator does not
// know them and leaves them alone. Each read goes to the store, so a change made by kvstore or
// by a settings window applies to a running monitor at once, without a message.
#include <string>

#include "platform/platform.h"

namespace kv {

// REG_DWORD. 0: a toggle of the microphone by the mouse button shows no desktop notification.
// Any other value, or none: it does.
inline constexpr const char* kMuteNotificationsValue = "KvmonMuteNotifications";

class MonitorSettings {
 public:
  // `settingsKey`: the path below the current user (DM.FOptionsFromConfigFile.ProfileRegFolder).
  MonitorSettings(platform::Registry& registry, std::string settingsKey)
      : registry_(registry), key_(std::move(settingsKey)) {}

  // On unless the store says 0. A store that cannot be read, or a value of another type or
  // size, counts as the default (on).
  bool MuteNotifications() const;
  // Throws platform::RegistryError when the store cannot be written.
  void SetMuteNotifications(bool on);

 private:
  platform::Registry& registry_;
  std::string key_;
};

}  // namespace kv
