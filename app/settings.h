#pragma once
// kvmon's own settings, for a desktop without the configurator program (Linux): what the settings
// window and `kvmon --status` show, read afresh each time from the store, the HID service and
// the session, and the changes the window makes. A change is written the way the configurator
// writes it and announced to the running monitor with the configurator's message, so the
// monitor reloads exactly as it does for the configurator.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/platform.h"

namespace kv {

// A yes/no setting that another part of the program owns (start at login, mute notifications).
struct SettingSwitch {
  std::function<bool()> get;
  // Throws std::exception with a sentence for the user when the change cannot be made.
  std::function<void(bool)> set;
};

// One control interface of the mouse, as the monitor would open it.
struct MouseInterfaceState {
  std::string path;
  std::vector<std::string> hardwareIds;
  std::optional<platform::HidOpenFailure> failure;  // nullopt: it opens
};

enum class MouseState {
  Ready,       // at least one control interface opens
  NotFound,    // no control interface (of a listed device) is present
  NoAccess,    // present, but the user may not open any of them
  CannotOpen,  // present, but none opens for another reason
  NoHidService,
};

struct MouseStatus {
  MouseState state = MouseState::NotFound;
  std::vector<MouseInterfaceState> interfaces;
};

struct ProfileState {
  int index = 0;
  std::string fileName;
  int storageType = 0;  // 0 registry, 1 file, other: no storage
  bool current = false;
  int buttonCount = 0;
  std::vector<int> muteButtons;  // buttons that toggle the microphone, in order
};

struct SettingsSnapshot {
  std::string storeError;  // empty when the store started cleanly
  MouseStatus mouse;
  std::optional<std::uint32_t> onBoardProfile;  // "ProfileID", as the monitor last recorded it
  int currentProfile = 0;
  std::vector<ProfileState> profiles;
  int language = 0;
  std::string languageShortId;            // "CH", "US", or "" for an index with no language
  std::optional<bool> muteNotifications;  // nullopt where the setting does not exist
  std::optional<bool> startAtLogin;
  bool monitorRunning = false;
};

class SettingsService {
 public:
  struct Switches {
    std::optional<SettingSwitch> muteNotifications;
    std::optional<SettingSwitch> startAtLogin;
  };
  // `firstLanguage` as the monitor's (a read may be the store's first start).
  SettingsService(platform::Platform& platform, std::uint8_t firstLanguage, Switches switches);

  SettingsSnapshot Read();
  MouseStatus ReadMouse();

  // The following throw std::exception with a sentence for the user; nothing is announced then.
  // Button `button` of profile `profile` toggles the microphone, or none with -1: the chosen
  // button gets the function, and any other button that had it gets its default function back.
  void SetMuteButton(int profile, int button);
  void SetLanguage(int language);
  void SetMuteNotifications(bool on);
  void SetStartAtLogin(bool on);

 private:
  platform::Platform& p_;
  std::uint8_t firstLanguage_;
  Switches switches_;
};

// The mouse's control interfaces as the monitor would open them, and whether they open.
MouseStatus ReadMouseStatus(platform::Platform& platform);

// Texts for a person, through the translation lookup: what the mouse's state is, and what to do
// about it ("" when nothing needs doing).
std::string MouseSummary(const MouseStatus& mouse);
std::string MouseFix(const MouseStatus& mouse);
// The native name of a language of the store ("English", "中文"), "" for none.
std::string LanguageName(int language);

}  // namespace kv
