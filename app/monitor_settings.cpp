#include "app/monitor_settings.h"

namespace kv {

bool MonitorSettings::MuteNotifications() const {
  try {
    auto key = registry_.OpenKey(platform::RootKey::CurrentUser, key_);
    if (!key) return true;
    const auto v = key->QueryValue(kMuteNotificationsValue);
    if (!v || v->kind != platform::ValueKind::Dword || v->data.size() != 4) return true;
    return (v->data[0] | v->data[1] | v->data[2] | v->data[3]) != 0;
  } catch (const platform::RegistryError&) {
    return true;
  }
}

void MonitorSettings::SetMuteNotifications(bool on) {
  auto key = registry_.CreateKey(platform::RootKey::CurrentUser, key_);
  if (!key) throw platform::RegistryError("the settings key \"" + key_ + "\" cannot be opened");
  key->SetDword(kMuteNotificationsValue, on ? 1u : 0u);
}

}  // namespace kv
