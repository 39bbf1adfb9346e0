#pragma once
// Desktop services on Qt 6: tray icon and menu, the content window (About), message boxes, the
// shell's launch and open, locale, keyboard state and run-time libraries.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynlib.h"
#include "platform/keyboard.h"
#include "platform/linux/linux_core.h"
#include "platform/linux/posix_locale.h"
#include "platform/locale.h"
#include "platform/platform.h"
#include "platform/shell.h"

class QSystemTrayIcon;

namespace kv::platform::linux_ {

class QtShell : public Shell {
 public:
  explicit QtShell(MessageWindows& windows) : windows_(windows) {}
  std::unique_ptr<TrayIcon> CreateTrayIcon(TrayIconSpec spec) override;
  std::unique_ptr<ContentWindow> CreateContentWindow(
      const WindowContent& content,
      std::function<void(const std::string& element)> onClick) override;
  void SetApplicationTitle(std::string_view title) override;
  // Another program's window cannot be raised from outside on Linux desktops: true when the
  // window is still there (the program raises itself when it gets focus requests of its own).
  bool ShowAndRaise(WindowHandle window) override;
  // "KVCFG.EXE" in a folder means "kvcfg" there on Linux: the Windows name is tried first, then
  // the lower-case name without ".exe".
  bool Launch(std::string_view path, std::string_view workingDir, ShowStyle style) override;
  bool OpenUrl(std::string_view url, ShowStyle style) override;

  // The file Launch starts for `path`, "" when neither form exists. Exposed for tests.
  static std::string ResolveProgram(std::string_view path);
  // The Qt object behind a tray icon of this shell (tests drive its signals); nullptr for any
  // other icon.
  static QSystemTrayIcon* QtObjectOf(TrayIcon& icon);

 private:
  MessageWindows& windows_;
};

// Modal boxes on a screen; on Qt's offscreen platform (no one could dismiss a box) the text goes
// to stderr instead and the call returns at once.
class QtMessageBoxes : public MessageBoxes {
 public:
  void ShowError(std::string_view text, std::string_view caption) override;
};

// Modifier keys as the desktop reports them to Qt (left and right are not told apart; lock keys
// read as off).
class QtKeyboard : public Keyboard {
 public:
  std::uint8_t KeyState(int virtualKey) override;
};

// dlopen: the executable's folder first, then the installation's private library folder
// (lib/kvmon beside the bin folder), then the system's search.
class DlDynamicLibraries : public DynamicLibraries {
 public:
  explicit DlDynamicLibraries(Paths& paths) : paths_(paths) {}
  std::string FileName(std::string_view name) const override {
    return "lib" + std::string(name) + ".so";
  }
  std::unique_ptr<DynamicLibrary> Load(std::string_view fileName) override;
  // "" when the build names none.
  static std::string PrivateLibraryDir(Paths& paths);

 private:
  Paths& paths_;
};

}  // namespace kv::platform::linux_
