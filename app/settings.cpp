#include "app/settings.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "app/embedded_languages.h"
#include "app/messages.h"
#include "base/strings.h"
#include "base/utf16.h"
#include "lang/translation.h"
#include "profile/dm.h"
#include "profile/options.h"
#include "profile/records.h"

namespace kv {
namespace {

// The end of the hardware ID that names the control collection's usage pair, in the form both
// platforms give ("HID_DEVICE_UP:FFA0_U:0001").
std::string ControlUsageId() {
  char buf[32];
  std::snprintf(buf, sizeof buf, "UP:%04X_U:%04X", kMouseControlSelector.UsagePage,
                kMouseControlSelector.Usage);
  return buf;
}

bool IsControlInterface(platform::Hid& hid, const platform::HidInterfaceInfo& info) {
  const std::string tail = ControlUsageId();
  for (const std::string& id : info.hardwareIds) {
    const std::string upper = AsciiUpper(id);
    if (upper.size() >= tail.size() &&
        upper.compare(upper.size() - tail.size(), tail.size(), tail) == 0)
      return true;
  }
  // Where the IDs do not say, the interface has to be asked (which needs it to open).
  auto device = hid.Open(info.path, platform::HidOpenMode::Synchronous);
  if (!device) return false;
  const auto caps = device->Capabilities();
  return caps && caps->usagePage == kMouseControlSelector.UsagePage &&
         caps->usage == kMouseControlSelector.Usage;
}

// The monitor's read filter: with an include list, only the devices it names.
bool Included(const std::vector<std::string>& includeList, const std::vector<std::string>& ids) {
  if (includeList.empty()) return true;
  return std::any_of(includeList.begin(), includeList.end(), [&](const std::string& want) {
    return std::any_of(ids.begin(), ids.end(),
                       [&](const std::string& id) { return EqualsIgnoreCase(id, want); });
  });
}

std::unique_ptr<TDM> OpenStore(platform::Platform& p, std::uint8_t firstLanguage) {
  auto dm = std::make_unique<TDM>(p, firstLanguage);
  if (!dm->StartupError().empty())
    throw std::runtime_error(TranslateText("The profile store cannot be read:") + " " +
                             dm->StartupError());
  return dm;
}

std::optional<std::uint32_t> StoredProfileId(platform::Platform& p, const TDM& dm) {
  auto key = p.registry.OpenKey(platform::RootKey::CurrentUser,
                                dm.FOptionsFromConfigFile.ProfileRegFolder);
  if (!key) return std::nullopt;
  const auto v = key->QueryValue("ProfileID");
  if (!v || v->kind != platform::ValueKind::Dword || v->data.size() != 4) return std::nullopt;
  return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (std::uint32_t{v->data[3]} << 24);
}

// Tells a running monitor, as the configurator does; a monitor that is not running reads the
// store when it starts.
void Announce(platform::Platform& p, std::uint32_t msg, std::intptr_t lParam) {
  if (const auto monitor = p.windows.Find(kMonitorWindowClass))
    p.windows.Post(monitor, {msg, 0, lParam});
}

}  // namespace

SettingsService::SettingsService(platform::Platform& platform, std::uint8_t firstLanguage,
                                 Switches switches)
    : p_(platform), firstLanguage_(firstLanguage), switches_(std::move(switches)) {}

MouseStatus SettingsService::ReadMouse() { return ReadMouseStatus(p_); }

MouseStatus ReadMouseStatus(platform::Platform& p) {
  MouseStatus status;
  const auto interfaces = p.hid && p.hid->Available() ? p.hid->Interfaces() : std::nullopt;
  if (!interfaces) {
    status.state = MouseState::NoHidService;
    return status;
  }
  const std::vector<std::string> includeList = LoadIncludeHIDDeviceList(p.paths);
  bool anyOpens = false, anyDenied = false;
  for (const platform::HidInterfaceInfo& info : *interfaces) {
    if (!Included(includeList, info.hardwareIds) || !IsControlInterface(*p.hid, info)) continue;
    MouseInterfaceState s{info.path, info.hardwareIds, p.hid->WhyNotOpen(info.path)};
    anyOpens = anyOpens || !s.failure;
    anyDenied = anyDenied || (s.failure && s.failure->accessDenied);
    status.interfaces.push_back(std::move(s));
  }
  status.state = status.interfaces.empty() ? MouseState::NotFound
                 : anyOpens                ? MouseState::Ready
                 : anyDenied               ? MouseState::NoAccess
                                           : MouseState::CannotOpen;
  return status;
}

SettingsSnapshot SettingsService::Read() {
  SettingsSnapshot s;
  s.mouse = ReadMouse();
  s.monitorRunning = p_.windows.Find(kMonitorWindowClass) != 0;
  if (switches_.muteNotifications) s.muteNotifications = switches_.muteNotifications->get();
  if (switches_.startAtLogin) s.startAtLogin = switches_.startAtLogin->get();
  try {
    TDM dm(p_, firstLanguage_);
    s.storeError = dm.StartupError();
    s.onBoardProfile = StoredProfileId(p_, dm);
    s.currentProfile = dm.FProfileIndex;
    s.language = dm.FAllProfileSettingInfo.CurrentLanguage;
    s.languageShortId = s.language == kLanguageCH ? "CH" : s.language == kLanguageUS ? "US" : "";
    if (!s.storeError.empty()) return s;
    auto info = std::make_unique<TMouseProfileInfo>();
    for (int i = 0; i < kProfileCount; ++i) {
      if (!dm.ReadProfileInfo(*info, i)) continue;
      const TPROFILESETTINGINFO& setting = dm.FProfileSettingGroup.ProfileSettingList[i];
      ProfileState p;
      p.index = i;
      p.fileName = ReadField(setting.ProfileFileName);
      p.storageType = setting.StorageType;
      p.current = i == dm.FProfileIndex;
      p.buttonCount = std::clamp(info->ConfigInfo.ButtonCount, 0, kButtonRecords);
      for (int b = 0; b < kButtonRecords; ++b)
        if (Button(*info, b).FunctionCode == kMicMuteFunction) p.muteButtons.push_back(b);
      s.profiles.push_back(std::move(p));
    }
  } catch (const std::exception& e) {
    s.storeError = e.what();
  }
  return s;
}

void SettingsService::SetMuteButton(int profile, int button) {
  auto dm = OpenStore(p_, firstLanguage_);
  if (!TDM::IsProfileIndexInRange(profile))
    throw std::invalid_argument("no profile " + std::to_string(profile));
  if (button < -1 || button >= kButtonRecords)
    throw std::invalid_argument("no button " + std::to_string(button));
  const int storage = dm->FProfileSettingGroup.ProfileSettingList[profile].StorageType;
  if (storage != kStorageRegistry && storage != kStorageFile)
    throw std::runtime_error(TranslateText("This profile is not stored anywhere."));

  auto info = std::make_unique<TMouseProfileInfo>();
  if (!dm->ReadProfileInfo(*info, profile)) throw std::logic_error("the profile cannot be read");
  dm->InitTestDefaultValue();  // the default assignments, for a button that gives the function up
  for (int b = 0; b < kButtonRecords; ++b) {
    TBUTTONFUNCINFO& record = Button(*info, b);
    if (b == button) {
      if (record.FunctionCode != kMicMuteFunction) AssignFunction(record, b, kMicMuteFunction);
    } else if (record.FunctionCode == kMicMuteFunction) {
      record = Button(dm->FDefaultProfileInfo, b);
    }
  }
  if (!dm->SaveBackToProfileInfo(*info, profile))
    throw std::logic_error("the profile cannot be stored");
  if (!dm->SaveProfileInfo(profile))
    throw std::runtime_error(TranslateText("The profile could not be saved."));
  // The running monitor reloads; the on-board profile it recorded stays as it is.
  const auto id = StoredProfileId(p_, *dm);
  Announce(p_, WM_PROFILE_CHANGED, id ? static_cast<std::intptr_t>(*id) : dm->FProfileIndex);
}

void SettingsService::SetLanguage(int language) {
  if (language != kLanguageCH && language != kLanguageUS)
    throw std::invalid_argument("no language " + std::to_string(language));
  auto dm = OpenStore(p_, firstLanguage_);
  dm->FAllProfileSettingInfo.CurrentLanguage = static_cast<BYTE>(language);
  dm->SaveBackAllProfileSettingInfo();
  Announce(p_, WM_GLOBAL_SETTINGS_CHANGED, 0);
}

void SettingsService::SetMuteNotifications(bool on) {
  if (!switches_.muteNotifications) throw std::logic_error("no mute notification setting here");
  switches_.muteNotifications->set(on);
}

void SettingsService::SetStartAtLogin(bool on) {
  if (!switches_.startAtLogin) throw std::logic_error("no start at login setting here");
  switches_.startAtLogin->set(on);
}

std::string MouseSummary(const MouseStatus& mouse) {
  switch (mouse.state) {
    case MouseState::Ready: return TranslateText("The mouse is connected.");
    case MouseState::NotFound: return TranslateText("No mouse found.");
    case MouseState::NoAccess: return TranslateText("The mouse cannot be opened: no permission.");
    case MouseState::CannotOpen: return TranslateText("The mouse cannot be opened.");
    case MouseState::NoHidService:
      return TranslateText("The system's HID devices cannot be listed.");
  }
  return "";
}

std::string MouseFix(const MouseStatus& mouse) {
  switch (mouse.state) {
    case MouseState::Ready: return "";
    case MouseState::NotFound:
      return TranslateText(
          "Plug the mouse in. If it is plugged in, check the device list in config.ini "
          "(kvhid list shows the IDs).");
    case MouseState::NoAccess:
      return TranslateText(
          "Install kvmon's udev rule (kvhid udev-rule shows it), then unplug the mouse and plug "
          "it in again.");
    case MouseState::CannotOpen: return TranslateText("Unplug the mouse and plug it in again.");
    case MouseState::NoHidService: return "";
  }
  return "";
}

std::string LanguageName(int language) {
  if (language == kLanguageCH) return "中文";
  if (language == kLanguageUS) return "English";
  return "";
}

}  // namespace kv
