// kvmon on Linux: the monitor with its tray icon, on Qt, D-Bus, hidraw and PulseAudio.
//   kvmon [--virtual-mouse SOCKET] | --status [--json] | --quit
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/embedded_languages.h"
#include "app/linux/settings_window.h"
#include "app/linux/status.h"
#include "app/linux/virtual_mouse.h"
#include "app/messages.h"
#include "app/monitor.h"
#include "app/monitor_settings.h"
#include "app/settings.h"
#include "base/cli/command_line.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/qt_display.h"
#include "platform/linux/termination_signals.h"
#include "platform/linux/xdg_autostart.h"
#include "profile/options.h"

namespace {

namespace lx = kv::platform::linux_;

// What --status and --quit need: no display, no sound server.
struct QuietPlatform {
  lx::SqliteRegistry registry{lx::SqliteRegistry::DefaultFile()};
  lx::LinuxPaths paths;
  lx::LinuxClock clock;
  lx::QtEventLoop loop;
  lx::DbusWindows windows{loop, QDBusConnection::sessionBus()};
  lx::LinuxSingleInstance instance;
  lx::LinuxDebugOutput debug;
  lx::HidrawHid hid;
  lx::PosixLocale locale;
  kv::platform::Platform platform{registry, paths, clock, loop, windows, instance, debug};
  QuietPlatform() {
    platform.hid = &hid;
    platform.locale = &locale;
  }
};

// There is no configurator here to ask for a language: a first start speaks the user's.
std::uint8_t FirstLanguage(kv::platform::Locale& locale) {
  return static_cast<std::uint8_t>(kv::LanguageForUser(locale.SystemDefaultLanguageId()));
}

kv::SettingsService::Switches Switches(kv::platform::Platform& p) {
  const auto autostart = lx::XdgAutostart::ForThisUser(p.paths.ExecutableDir() + "kvmon");
  kv::SettingsService::Switches s;
  s.startAtLogin = kv::SettingSwitch{[autostart] { return autostart.Enabled(); },
                                     [autostart](bool on) { autostart.SetEnabled(on); }};
  // Read where the monitor reads it: the settings key that config.ini names.
  const auto monitorSettings = [&p] {
    return kv::MonitorSettings(p.registry, kv::LoadOptionsFromConfigFile(p.paths).ProfileRegFolder);
  };
  s.muteNotifications =
      kv::SettingSwitch{[monitorSettings] { return monitorSettings().MuteNotifications(); },
                        [monitorSettings](bool on) { monitorSettings().SetMuteNotifications(on); }};
  return s;
}

int PrintStatus(QuietPlatform& q, bool json) {
  kv::SettingsService settings(q.platform, FirstLanguage(q.locale), Switches(q.platform));
  const kv::SettingsSnapshot s = settings.Read();
  if (json) std::cout << kv::app::StatusJson(s).dump(2) << "\n";
  else std::cout << kv::app::StatusText(s);
  return s.storeError.empty() ? 0 : 1;
}

// Asks the running monitor to exit and waits until it has.
int Quit(QuietPlatform& q) {
  const auto monitor = q.windows.Find(kv::kMonitorWindowClass);
  if (monitor == 0) {
    std::cout << "kvmon is not running\n";
    return 0;
  }
  if (!q.windows.Post(monitor, {kv::WM_KVMON_QUIT, 0, 0})) {
    std::cerr << "kvmon: the running kvmon cannot be reached\n";
    return 1;
  }
  for (int i = 0; i < 100; ++i) {
    if (q.windows.Find(kv::kMonitorWindowClass) == 0) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::cerr << "kvmon: the running kvmon did not exit within 10 s\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli(
      "The background monitor of the gaming mouse: carries out the host side of its button "
      "functions (microphone mute) and shows a tray icon",
      "kvmon");
  kv::cli::Prepare(cli, "Exit status: 0 ended normally, 1 failed, 2 usage error.");
  std::string virtualMouse;
  bool status = false, json = false, quit = false;
  auto* mouseOption =
      cli.add_option("--virtual-mouse", virtualMouse,
                     "Add a simulated mouse whose reports come from SOCKET (see kvmouse)")
          ->type_name("SOCKET");
  auto* statusFlag =
      cli.add_flag("--status", status, "Print the mouse, profiles and settings, then exit");
  cli.add_flag("--json", json, "With --status: print JSON")->needs(statusFlag);
  auto* quitFlag = cli.add_flag("--quit", quit, "End the running kvmon");
  statusFlag->excludes(quitFlag)->excludes(mouseOption);
  quitFlag->excludes(mouseOption);
  if (auto exit = kv::cli::Parse(cli, std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                 std::cerr))
    return *exit;

  if (status || quit) {
    QCoreApplication app(argc, argv);
    try {
      QuietPlatform q;
      return quit ? Quit(q) : PrintStatus(q, json);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kvmon: %s\n", e.what());
      return 1;
    }
  }

  lx::TerminationSignals::Catch();
  lx::DisplayChoice display;
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // closing About must not end the monitor
  const std::string noDisplay = display.Finish();
  if (!noDisplay.empty())
    std::fprintf(stderr, "kvmon: %s; running without a tray icon\n", noDisplay.c_str());
  try {
    lx::LinuxPlatform platform;
    if (!noDisplay.empty()) platform.WithoutDisplay();
    // Logout, `systemctl --user stop`, Ctrl-C: the same orderly end as the tray's Exit.
    lx::TerminationSignals termination(
        [&platform](int) { kv::ExitMonitor(platform.windows, platform.loop); });
    kv::MonitorOptions options;
    options.firstLanguage = FirstLanguage(platform.locale);
    // The virtual mouse's socket is made only once this copy is the one instance, so a second
    // copy never touches the first one's socket.
    std::unique_ptr<kv::app::VirtualMouse> mouse;
    options.onGuarded = [&] {
      if (!virtualMouse.empty())
        mouse = std::make_unique<kv::app::VirtualMouse>(platform.hid, virtualMouse);
    };
    kv::SettingsService settings(platform.platform(), options.firstLanguage,
                                 Switches(platform.platform()));
    std::unique_ptr<kv::app::SettingsWindow> window;
    options.onCreated = [&](kv::TKVMonMain& main, kv::TDM&) {
      if (noDisplay.empty()) window = std::make_unique<kv::app::SettingsWindow>(settings);
      main.OnOpenSettings = [&] {
        if (window) window->Open();
      };
      main.OnCaptionsApplied = [&] {
        if (window) window->Retranslate();
      };
    };
    const int status = kv::RunMonitor(platform.platform(), options);
    window.reset();
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvmon: %s\n", e.what());
    return 1;
  }
}
