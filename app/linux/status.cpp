#include "app/linux/status.h"

#include <sstream>

#include "base/cli/command_line.h"

namespace kv::app {
namespace {

const char* StateName(MouseState state) {
  switch (state) {
    case MouseState::Ready: return "ready";
    case MouseState::NotFound: return "not_found";
    case MouseState::NoAccess: return "no_access";
    case MouseState::CannotOpen: return "cannot_open";
    case MouseState::NoHidService: return "no_hid_service";
  }
  return "unknown";
}

const char* StorageName(int storageType) {
  return storageType == 0 ? "registry" : storageType == 1 ? "file" : "none";
}

nlohmann::json Optional(const std::optional<bool>& v) { return v ? nlohmann::json(*v) : nullptr; }

const char* OnOff(const std::optional<bool>& v) { return !v ? "not available" : *v ? "on" : "off"; }

}  // namespace

nlohmann::json StatusJson(const SettingsSnapshot& s) {
  nlohmann::json interfaces = nlohmann::json::array();
  for (const MouseInterfaceState& i : s.mouse.interfaces) {
    nlohmann::json j = {{"path", i.path}, {"hardware_ids", i.hardwareIds}, {"opens", !i.failure}};
    if (i.failure) {
      j["error"] = i.failure->detail;
      j["access_denied"] = i.failure->accessDenied;
    }
    interfaces.push_back(std::move(j));
  }
  nlohmann::json profiles = nlohmann::json::array();
  for (const ProfileState& p : s.profiles)
    profiles.push_back({{"index", p.index},
                        {"file_name", p.fileName},
                        {"storage", StorageName(p.storageType)},
                        {"current", p.current},
                        {"button_count", p.buttonCount},
                        {"mute_buttons", p.muteButtons}});
  return {{"version", cli::Version()},
          {"monitor_running", s.monitorRunning},
          {"store", {{"ok", s.storeError.empty()}, {"error", s.storeError}}},
          {"mouse",
           {{"state", StateName(s.mouse.state)},
            {"summary", MouseSummary(s.mouse)},
            {"fix", MouseFix(s.mouse)},
            {"interfaces", interfaces}}},
          {"on_board_profile", s.onBoardProfile ? nlohmann::json(*s.onBoardProfile) : nullptr},
          {"current_profile", s.currentProfile},
          {"profiles", profiles},
          {"language",
           {{"index", s.language},
            {"short_id", s.languageShortId},
            {"name", LanguageName(s.language)}}},
          {"mute_notifications", Optional(s.muteNotifications)},
          {"start_at_login", Optional(s.startAtLogin)}};
}

std::string StatusText(const SettingsSnapshot& s) {
  std::ostringstream out;
  out << "kvmon " << cli::Version() << (s.monitorRunning ? ", running" : ", not running") << "\n";
  out << "Mouse: " << MouseSummary(s.mouse) << "\n";
  for (const MouseInterfaceState& i : s.mouse.interfaces) {
    out << "  " << i.path << (i.failure ? ": " + i.failure->detail : std::string(": opens"))
        << "\n";
    if (!i.hardwareIds.empty()) out << "    " << i.hardwareIds.front() << "\n";
  }
  if (const std::string fix = MouseFix(s.mouse); !fix.empty()) out << "  " << fix << "\n";
  if (!s.storeError.empty()) out << "Store: " << s.storeError << "\n";
  out << "On-board profile: "
      << (s.onBoardProfile ? std::to_string(*s.onBoardProfile) : std::string("not recorded yet"))
      << "\n";
  out << "Profiles:\n";
  for (const ProfileState& p : s.profiles) {
    out << (p.current ? "  * " : "    ") << p.index << " " << p.fileName << " ("
        << StorageName(p.storageType) << "), microphone button: ";
    if (p.muteButtons.empty()) out << "none";
    for (std::size_t i = 0; i < p.muteButtons.size(); ++i)
      out << (i ? ", " : "") << p.muteButtons[i];
    out << "\n";
  }
  out << "Language: " << LanguageName(s.language) << " (" << s.language << ")\n"
      << "Mute notifications: " << OnOff(s.muteNotifications) << "\n"
      << "Start at login: " << OnOff(s.startAtLogin) << "\n";
  return out.str();
}

}  // namespace kv::app
