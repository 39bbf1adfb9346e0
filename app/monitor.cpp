#include "app/monitor.h"

#include <algorithm>
#include <cstdio>

#include "app/embedded_languages.h"
#include "app/monitor_settings.h"
#include "app/settings.h"
#include "base/path.h"
#include "hid/gx_hid_data.h"
#include "hid/gx_hid_event.h"
#include "profile/records.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

// Stands in for the pause in which the pending messages run before the channel is opened again
// (and before a shown About window is raised).
constexpr auto kSettleTime = 50ms;
constexpr auto kReopenDelay = 1500ms;

constexpr std::size_t kMenuConfig = 0, kMenuAbout = 1, kMenuExit = 2;

// A popup-menu item: its caption lives in the tray icon's menu.
class MenuItem : public Component {
 public:
  MenuItem(std::string name, std::string caption, std::size_t index,
           std::unique_ptr<platform::TrayIcon>& tray)
      : Component("TMenuItem", std::move(name)), caption_(std::move(caption)) {
    DeclareProperty(
        "Caption", [this] { return caption_; },
        [this, index, &tray](const std::string& v) {
          caption_ = v;
          if (tray) tray->SetMenuCaption(index, v);
        });
  }

 private:
  std::string caption_;
};

}  // namespace

// --- timer ---------------------------------------------------------------------------------------

TTimer::TTimer(platform::EventLoop& loop, std::string name)
    : Component("TTimer", std::move(name)), loop_(loop) {}

TTimer::~TTimer() { SetEnabled(false); }

void TTimer::SetEnabled(bool enabled) {
  if (id_) loop_.StopTimer(std::exchange(id_, 0));
  if (enabled)
    id_ = loop_.StartTimer(Interval, true, [this] {
      if (OnTimer) OnTimer();
    });
}

// --- creation ------------------------------------------------------------------------------------

TKVMonMain::TKVMonMain(platform::Platform& platform, TDM& dm)
    : Component("TKVMONMAIN", "KVMonMain", Role::Form),
      p_(platform),
      DM(dm),
      microphone_(platform.loop, platform.debug, platform.audio, platform.messageBoxes) {
  microphone_.OnStateChanged = [this](std::optional<bool>) { ShowMicrophoneState(); };
  window_ = p_.windows.Create(kMonitorWindowClass,
                              [this](const platform::WindowMessage& m) { return WindowProc(m); });

  vgScene1 = &Own(std::make_unique<AboutView>(p_.shell, [this](const std::string& element) {
    if (element == "BtnOK") BtnOKClick();
    if (element == "BtnGoWeb") BtnGoWebClick();
  }));

  gxHook1 = std::make_unique<TgxHook>(p_, this);

  gxLanguage1 = &lang::TgxLanguage::Create(*this, "gxLanguage1",
                                           {p_.locale, &p_.paths, &p_.debug, false, {}});
  gxLanguage1->SetActive(false);
  gxLanguage1->LoadFromForm(MonitorLanguageResource());
  gxLanguage1->Loaded();

  auto& tray = Create<PropertyComponent>("TTrayIcon", "TrayIcon1");
  tray.DeclareProperty(
      "Hint", [this] { return trayHint_; },
      [this](const std::string& v) {
        trayHint_ = v;
        if (tray_) tray_->SetHint(v);
      });
  TrayIcon1 = &tray;
  if (p_.shell) {
    platform::TrayIconSpec spec;
    spec.menu = {{"Config", true}, {"About", false}, {"Exit", true}};
    spec.onMenuItem = [this](std::size_t i) { OnMenuItem(i); };
    spec.onClick = [this] { TrayIconDblClick(); };
    tray_ = p_.shell->CreateTrayIcon(std::move(spec));
  }
  MyPopupMenu = &Create<PropertyComponent>("TPopupMenu", "MyPopupMenu");
  Config1 = &Own(std::make_unique<MenuItem>("Config1", "Config", kMenuConfig, tray_));
  About1 = &Own(std::make_unique<MenuItem>("About1", "About", kMenuAbout, tray_));
  Exit1 = &Own(std::make_unique<MenuItem>("Exit1", "Exit", kMenuExit, tray_));
  vgResources1 = &Create<PropertyComponent>("TvgResources", "vgResources1");

  gxHIDData1 = std::make_unique<TgxHIDData>(p_);
  gxHIDData1->FastOnData = false;
  gxHIDData1->OnData = [this](const std::string& id, const std::string& path, std::uint8_t reportId,
                              const std::uint8_t* data, std::uint16_t size) {
    gxHIDData1Data(id, path, reportId, data, size);
  };

  TimerDeviceArrial = &Create<TTimer>(p_.loop, "TimerDeviceArrial");
  TimerDeviceArrial->Interval = kReopenDelay;
  TimerDeviceArrial->OnTimer = [this] { TimerDeviceArrialTimer(); };

  gxHIDEvent1 = std::make_unique<TgxHIDEvent>(p_);
  gxHIDEvent1->OnDeviceArrival = [this](TgxHIDEvent&) { gxHIDEvent1DeviceArrival(); };

  FormCreate();
}

TKVMonMain::~TKVMonMain() {
  // FormDestroy: the read threads end before the components go.
  p_.loop.StopTimer(reopenTimer_);
  p_.loop.StopTimer(raiseTimer_);
  gxHIDData1->HidStopRead();
  // Then the components, last created first.
  gxHIDEvent1.reset();
  TimerDeviceArrial->SetEnabled(false);
  gxHIDData1.reset();
  gxHook1.reset();
}

platform::WindowHandle TKVMonMain::Handle() const { return window_ ? window_->Handle() : 0; }

void TKVMonMain::FormCreate() {
  LoadTrayIcon();
  ApplyLanguageAndCaptions();
  if (p_.audio && p_.audio->HasCaptureEndpoint()) microphone_.OpenCaptureEndpoint();
}

void TKVMonMain::LoadTrayIcon() {
  const std::string icon = path::Join(
      path::Join(path::Join(path::Join(p_.paths.ExecutableDir(), "images"), "0409"), "icons"),
      "logo.ico");
  // A file that is not an icon leaves the default image, as a missing one does.
  if (tray_ && path::FileExists(icon)) tray_->SetImageFromFile(icon);
}

void TKVMonMain::ApplyLanguageAndCaptions() {
  const int current = gxLanguage1->GetLanguageIndexByShortID(gxLanguage1->Lang());
  const int wanted = DM.FAllProfileSettingInfo.CurrentLanguage;
  if (current != wanted) gxLanguage1->SetLang(gxLanguage1->GetLanguageShortIDByIndex(wanted));
  const std::string title = TranslateText(kMonitorTitle);
  if (p_.shell) p_.shell->SetApplicationTitle(title);
  microphone_.SetMessageCaption(title);
  Config1->SetStringProperty("Caption", TranslateText("Config"));
  About1->SetStringProperty("Caption", TranslateText("About"));
  Exit1->SetStringProperty("Caption", TranslateText("Exit"));
  ShowMicrophoneState();
  if (OnCaptionsApplied) OnCaptionsApplied();
}

namespace {
const char* MicrophoneStateText(std::optional<bool> muted) {
  if (!muted) return kNoMicrophoneText;
  return *muted ? kMicrophoneMutedText : kMicrophoneOnText;
}
}  // namespace

void TKVMonMain::ShowMicrophoneState() {
  ShowHint();
  if (tray_)
    tray_->SetBadge(microphone_.Muted() == true ? platform::TrayBadge::MicrophoneMuted
                                                : platform::TrayBadge::None);
}

// The title, the microphone's state, then the problems the user must fix, a line each. Where
// the microphone goes through the legacy mixer its state is not followed: no line for it.
void TKVMonMain::ShowHint() {
  std::string hint = TranslateText(kDriverTitle);
  if (p_.audio && p_.audio->HasCaptureEndpoint())
    hint += "\n" + TranslateText(MicrophoneStateText(microphone_.Muted()));
  for (const auto& [key, text] : problems_) hint += "\n" + text;
  TrayIcon1->SetStringProperty("Hint", hint);
}

void TKVMonMain::NotifyMicrophoneToggled(bool muted) {
  if (!p_.shell ||
      !MonitorSettings(p_.registry, DM.FOptionsFromConfigFile.ProfileRegFolder).MuteNotifications())
    return;
  platform::Notification n;
  n.title = TranslateText(MicrophoneStateText(muted));
  n.tag = "microphone";  // each toggle replaces the last one's notification
  p_.shell->ShowNotification(n);
}

void TKVMonMain::ReportProblem(const std::string& key, const std::string& text) {
  auto it = std::find_if(problems_.begin(), problems_.end(),
                         [&](const auto& p) { return p.first == key; });
  if (it != problems_.end() && it->second == text) return;
  if (it != problems_.end()) it->second = text;
  else problems_.emplace_back(key, text);
  p_.debug.Write(text);
  std::fprintf(stderr, "kvmon: %s\n", text.c_str());
  ShowHint();
  if (p_.shell) {
    platform::Notification n;
    n.title = TranslateText(kMonitorTitle);
    n.body = text;
    n.icon = platform::NotificationIcon::Warning;
    n.tag = "problem-" + key;
    p_.shell->ShowNotification(n);
  }
}

void TKVMonMain::ClearProblem(const std::string& key) {
  const auto before = problems_.size();
  std::erase_if(problems_, [&](const auto& p) { return p.first == key; });
  if (problems_.size() != before) ShowHint();
}

void TKVMonMain::CheckMouseAccess() {
  // Asked of the HID service, not of the read threads: threads of the channel just stopped may
  // not have ended yet.
  const MouseStatus mouse = ReadMouseStatus(p_);
  if (mouse.state != MouseState::NoAccess) {
    ClearProblem("mouse");
    return;
  }
  std::string text = MouseSummary(mouse);
  for (const auto& itf : mouse.interfaces)
    if (itf.failure) text += " (" + itf.failure->detail + ")";
  ReportProblem("mouse", text + " " + MouseFix(mouse));
}

// --- read channel --------------------------------------------------------------------------------

void TKVMonMain::gxHIDEvent1DeviceArrival() {
  TimerDeviceArrial->SetEnabled(false);
  TimerDeviceArrial->SetEnabled(true);
}

void TKVMonMain::TimerDeviceArrialTimer() {
  TimerDeviceArrial->SetEnabled(false);
  RestartHIDRead();
}

void TKVMonMain::RestartHIDRead() {
  gxHIDData1->HidStopRead();
  // The open waits for the messages already queued (reports the stopped threads are still
  // handing over among them) instead of running them from inside this call.
  p_.loop.StopTimer(reopenTimer_);
  reopenTimer_ = p_.loop.StartTimer(kSettleTime, false, [this] {
    reopenTimer_ = 0;
    const USAGE_AND_PAGE selector{DM.FHidSelector.Usage, DM.FHidSelector.UsagePage};
    gxHIDData1->HidFindAndReadDevice(selector, "*");
    CheckMouseAccess();
  });
}

void TKVMonMain::gxHIDData1Data(const std::string&, const std::string&, std::uint8_t ReportID,
                                const std::uint8_t* Data, std::uint16_t Size) {
  if (Size != 7 || !Data) return;
  if (ReportID == 7) {
    for (int k = 0; k < kReportMaskCount; ++k) {
      const auto& e = kReportMaskTable.Entries[k];
      if (Data[0] == e.Bytes[1] && Data[1] == e.Bytes[2] && Data[2] == e.Bytes[3]) {
        p_.debug.Write("KeyIndex = " + std::to_string(k) + " postmessage record!");
        p_.windows.Post(Handle(), ButtonPressedEvent(k));
        return;
      }
    }
    return;
  }
  if (ReportID != 8) return;
  if (Data[0] == 2) {
    if (auto cfg = FindConfiguratorWindow()) p_.windows.Post(cfg, {WM_DEVICE_NOTIFY, Data[1], 0});
  } else if (Data[0] == 1 && Data[1] < kOnBoardProfileCount) {
    p_.windows.Post(Handle(), OnBoardProfileEvent(Data[1]));
  }
}

// --- execution stage and the configurator's messages ------------------------------------------

std::intptr_t TKVMonMain::WindowProc(const platform::WindowMessage& m) {
  // A handler's failure must not end the message loop: it is traced and the message dropped.
  try {
    switch (m.msg) {
      case WM_DEVICE_EVENT: OnDeviceEvent(m.wParam, m.lParam); break;
      case WM_PROFILE_CHANGED: OnProfileChanged(m.lParam); break;
      case WM_GLOBAL_SETTINGS_CHANGED: OnGlobalSettingsChanged(); break;
      case WM_KVMON_QUIT: Exit1Click(); break;
      default: break;
    }
  } catch (const std::exception& e) {
    p_.debug.Write(std::string("message ") + std::to_string(m.msg) + " failed: " + e.what());
  }
  return 0;
}

void TKVMonMain::OnDeviceEvent(std::uintptr_t code, std::intptr_t lParam) {
  const DeviceEvent event = DecodeDeviceEvent(code, lParam);
  switch (event.kind) {
    case DeviceEvent::Kind::Button:
      // Buttons 19 to 23 have no function entry; a button report is never a profile switch.
      if (event.index < kButtonRecords)
        ExecuteButtonFunction(
            static_cast<std::uint8_t>(event.index),
            DM.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[event.index].FunctionCode);
      break;
    case DeviceEvent::Kind::OnBoardProfile:
      WriteProfileIDToRegistry(event.index);
      if (auto cfg = FindConfiguratorWindow())
        p_.windows.Send(cfg, {WM_PROFILE_SWITCHED, static_cast<std::uintptr_t>(event.index), 0});
      break;
    case DeviceEvent::Kind::Unknown:  // names nothing the monitor carries out
      break;
  }
}

void TKVMonMain::ExecuteButtonFunction(std::uint8_t, std::uint16_t FunctionCode) {
  if (FunctionCode != kMicMuteFunction) return;
  if (const auto muted = microphone_.MicrophoneMute()) NotifyMicrophoneToggled(*muted);
}

bool TKVMonMain::WriteProfileIDToRegistry(std::int32_t value) {
  try {
    auto key = p_.registry.OpenKey(platform::RootKey::CurrentUser,
                                   DM.FOptionsFromConfigFile.ProfileRegFolder);
    if (!key) return false;
    key->SetDword("ProfileID", static_cast<std::uint32_t>(value));
    return true;
  } catch (const platform::RegistryError& e) {
    p_.debug.Write(std::string("ProfileID not written: ") + e.what());
    return false;
  }
}

platform::WindowHandle TKVMonMain::FindConfiguratorWindow() {
  return p_.windows.Find(kConfiguratorWindowClass);
}

void TKVMonMain::OnProfileChanged(std::intptr_t lParam) {
  try {
    DM.LoadProfileGroupSettingInfoFromRegistry();
    DM.LoadAllProfileInfoFromRegistry();
    if (!DM.LoadCurrentProfileInfoFromRegistry())
      p_.debug.Write("the current profile is not in the store; the monitor keeps the one it holds");
  } catch (const std::exception& e) {
    // The configurator's choice is still recorded; the monitor keeps what it could load.
    p_.debug.Write(std::string("profile reload failed: ") + e.what());
  }
  WriteProfileIDToRegistry(static_cast<std::int32_t>(lParam));
}

void TKVMonMain::OnGlobalSettingsChanged() {
  try {
    DM.LoadAllProfileInfoFromRegistry();
  } catch (const std::exception& e) {
    p_.debug.Write(std::string("settings reload failed: ") + e.what());
  }
  ApplyLanguageAndCaptions();
}

// --- tray, configurator, About ------------------------------------------------------------------

void TKVMonMain::OnMenuItem(std::size_t index) {
  if (index == kMenuConfig) Config1Click();
  if (index == kMenuAbout) About1Click();
  if (index == kMenuExit) Exit1Click();
}

void TKVMonMain::TrayIconDblClick() { ShowConfigurator(); }

void TKVMonMain::ShowConfigurator() {
  if (!p_.shell) return;
  if (auto cfg = FindConfiguratorWindow()) {
    p_.shell->ShowAndRaise(cfg);
    return;
  }
  const std::string folder = p_.paths.ExecutableDir();
  const bool started = p_.shell->Launch(path::Join(folder, kConfiguratorExecutable), folder,
                                        platform::ShowStyle::Show);
  if (!started && OnOpenSettings) OnOpenSettings();
}

void TKVMonMain::Exit1Click() { ExitMonitor(p_.windows, p_.loop); }

void ExitMonitor(platform::MessageWindows& windows, platform::EventLoop& loop) {
  if (auto cfg = windows.Find(kConfiguratorWindowClass)) windows.Post(cfg, {WM_MONITOR_EXIT, 0, 0});
  loop.Quit(0);
}

void TKVMonMain::About1Click() {
  auto* w = vgScene1->Window();
  if (!w) return;
  w->Show();
  p_.loop.StopTimer(raiseTimer_);
  raiseTimer_ = p_.loop.StartTimer(kSettleTime, false, [this] {
    raiseTimer_ = 0;
    if (auto* win = vgScene1->Window()) win->BringToFront();
  });
}

void TKVMonMain::BtnOKClick() {
  if (auto* w = vgScene1->Window()) w->Hide();
}

void TKVMonMain::BtnGoWebClick() {
  if (p_.shell) p_.shell->OpenUrl(vgScene1->Text("TextWeb"), platform::ShowStyle::ShowNormal);
}

// --- process entry -------------------------------------------------------------------------------

int RunMonitor(platform::Platform& platform, const MonitorOptions& options) {
  // The guard lives until everything else is gone, so a copy started during shut-down still
  // finds the name taken and ends.
  auto guard = platform.instance.Acquire(kMonitorWindowClass);
  if (!guard) return 0;
  if (const std::string why = ConfigFileProblem(platform.paths); !why.empty())
    platform.debug.Write("options: " + why + "; the defaults apply");
  if (options.onGuarded) options.onGuarded();
  auto dm = std::make_unique<TDM>(platform, options.firstLanguage);
  auto main = std::make_unique<TKVMonMain>(platform, *dm);
  // A second copy could now start beside this one: the user hears it with the other problems.
  if (const std::string problem = guard->Problem(); !problem.empty())
    main->ReportProblem("lock", TranslateText("No single-instance guard:") + " " + problem);
  if (!dm->StartupError().empty())
    main->ReportProblem(
        "store", TranslateText("The profile store cannot be read:") + " " + dm->StartupError());
  if (options.onCreated) options.onCreated(*main, *dm);
  const int status = platform.loop.Run();
  main.reset();
  dm.reset();
  return status;
}

}  // namespace kv
