#pragma once
// The monitor: one hidden instance with a tray icon that keeps a read channel open to the
// mouse's control interface, carries out the host side of its button functions (microphone
// mute), records on-board profile switches and talks to the configurator through private
// window messages.
//
// Entry for the executables: RunMonitor. The real platforms' main() build their Platform
// (with the optional services hid, devices, audio, shell, locale, libraries, keyboard set where
// they exist) and call it on the thread that runs the event loop; it returns the exit status.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/about.h"
#include "app/microphone.h"
#include "base/component.h"
#include "hid/gx_hid_data.h"
#include "hid/gx_hid_event.h"
#include "hook/gx_hook.h"
#include "lang/gx_language.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "profile/dm.h"
#include "app/messages.h"

namespace kv {

inline constexpr const char* kConfiguratorExecutable = "KVCFG.EXE";
inline constexpr const char* kMonitorTitle = "GAMING MOUSE MONITOR";
inline constexpr const char* kDriverTitle = "GAMING MOUSE DRIVER";
// The microphone's state: the second line of the tray hint, and the desktop notification after
// a toggle by the mouse button.
inline constexpr const char* kMicrophoneMutedText = "Microphone muted";
inline constexpr const char* kMicrophoneOnText = "Microphone on";
inline constexpr const char* kNoMicrophoneText = "No microphone";

class TKVMonMain;

// What an executable's entry point decides for its platform.
struct MonitorOptions {
  // CurrentLanguage of the all-profiles record that a first start writes (see TDM): 0 where the
  // configurator chooses the language, the user's (LanguageForUser) where kvmon is all there is.
  std::uint8_t firstLanguage = 0;
  // Runs once the instance guard is held (or could not be made at all), before anything else:
  // what a second copy must not touch, such as a socket to listen on, is made there. An
  // exception from it ends start-up.
  std::function<void()> onGuarded;
  // Runs once the main window exists, before the loop starts (the entry point hooks its own
  // services in, such as the settings window).
  std::function<void(TKVMonMain&, TDM&)> onCreated;
};

// Runs the monitor until Exit. A second instance returns 0 at once, showing and changing
// nothing. Must be called on the platform's main thread.
int RunMonitor(platform::Platform& platform, const MonitorOptions& options = {});

// The orderly end shared by the tray's Exit, the end of the session and termination signals:
// the configurator is told (WM_MONITOR_EXIT, posted) and the message loop ends with status 0,
// after which the read threads stop and everything is torn down in order.
void ExitMonitor(platform::MessageWindows& windows, platform::EventLoop& loop);

// A one-shot or repeating timer component on the event loop.
class TTimer : public Component {
 public:
  TTimer(platform::EventLoop& loop, std::string name);
  ~TTimer() override;
  bool Enabled() const { return id_ != 0; }
  void SetEnabled(bool enabled);
  std::chrono::milliseconds Interval{1000};
  std::function<void()> OnTimer;

 private:
  platform::EventLoop& loop_;
  platform::TimerId id_ = 0;
};

// The monitor's main window (class "TKVMONMAIN"), which also lays out the About window.
class TKVMonMain : public Component {
 public:
  // Creates the components in their order and runs FormCreate. `DM` must outlive the window.
  TKVMonMain(platform::Platform& platform, TDM& DM);
  // FormDestroy, then the components in reverse order.
  ~TKVMonMain() override;

  platform::WindowHandle Handle() const;

  // --- set-up ---
  void FormCreate();
  void LoadTrayIcon();
  void ApplyLanguageAndCaptions();
  // The tray's hint (title and microphone state) and badge, in the selected language.
  void ShowMicrophoneState();

  // --- read channel ---
  void gxHIDEvent1DeviceArrival();
  void TimerDeviceArrialTimer();
  // Stops the read threads and, once the pending messages have run, opens the channel again.
  void RestartHIDRead();
  // Decoding stage: runs inside the read thread's synchronous hand-over, so it only decodes and
  // posts. `Data` is valid only during the call.
  void gxHIDData1Data(const std::string& ADeviceID, const std::string& ADevicePath,
                      std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size);

  // --- execution stage and the configurator's messages ---
  void OnDeviceEvent(std::uintptr_t code, std::intptr_t lParam);
  void ExecuteButtonFunction(std::uint8_t KeyIndex, std::uint16_t FunctionCode);
  bool WriteProfileIDToRegistry(std::int32_t value);
  platform::WindowHandle FindConfiguratorWindow();
  void OnProfileChanged(std::intptr_t lParam);
  void OnGlobalSettingsChanged();

  // --- tray, configurator, About ---
  void TrayIconDblClick();
  void Config1Click() { ShowConfigurator(); }
  void About1Click();
  void Exit1Click();
  void ShowConfigurator();
  void BtnOKClick();
  void BtnGoWebClick();

  // Components, in creation order.
  AboutView* vgScene1 = nullptr;
  // No events assigned: it loads the hook library and runs its event thread only.
  std::unique_ptr<TgxHook> gxHook1;
  lang::TgxLanguage* gxLanguage1 = nullptr;
  Component* TrayIcon1 = nullptr;
  Component* MyPopupMenu = nullptr;
  Component* Config1 = nullptr;
  Component* About1 = nullptr;
  Component* Exit1 = nullptr;
  Component* vgResources1 = nullptr;
  std::unique_ptr<TgxHIDData> gxHIDData1;
  TTimer* TimerDeviceArrial = nullptr;
  std::unique_ptr<TgxHIDEvent> gxHIDEvent1;

  MicrophoneControl& Microphone() { return microphone_; }
  platform::TrayIcon* Tray() const { return tray_.get(); }

  // Where no configurator program can be started beside the monitor, a click on the icon and
  // "Config" open the monitor's own settings instead (the Linux entry point sets it).
  std::function<void()> OnOpenSettings;
  // After the captions were set in the stored language (the settings window follows them).
  std::function<void()> OnCaptionsApplied;

  // A problem the user has to see and fix (the store, the instance lock, no access to the
  // mouse): the tray hint gets it on a line of its own, the icon shows it once as a message, and
  // it goes to stderr and the debug trace. `key` names the problem; reporting the same text
  // again changes nothing, a new text for the key replaces the old one.
  void ReportProblem(const std::string& key, const std::string& text);
  void ClearProblem(const std::string& key);
  // After the read channel opened: no access to the mouse is such a problem.
  void CheckMouseAccess();

 private:
  std::intptr_t WindowProc(const platform::WindowMessage& m);
  void OnMenuItem(std::size_t index);
  void NotifyMicrophoneToggled(bool muted);

  platform::Platform& p_;
  TDM& DM;
  MicrophoneControl microphone_;
  std::unique_ptr<platform::TrayIcon> tray_;
  std::unique_ptr<platform::MessageWindow> window_;
  std::string trayHint_;
  std::vector<std::pair<std::string, std::string>> problems_;  // key, text; in report order
  void ShowHint();
  platform::TimerId reopenTimer_ = 0;
  platform::TimerId raiseTimer_ = 0;
};

}  // namespace kv
