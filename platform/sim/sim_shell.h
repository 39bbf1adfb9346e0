#pragma once
// Simulated shell: records the tray icon, the content windows, launches and opened addresses so
// that tests can look at them, and lets tests click the icon, choose menu items and click
// elements. Events are delivered through the event loop, as on the real platforms.
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell.h"

namespace kv::platform::sim {

class SimShell : public Shell {
 public:
  explicit SimShell(EventLoop& loop) : loop_(loop) {}
  ~SimShell() override;

  std::unique_ptr<TrayIcon> CreateTrayIcon(TrayIconSpec spec) override;
  std::unique_ptr<ContentWindow> CreateContentWindow(
      const WindowContent& content, std::function<void(const std::string&)> onClick) override;
  void SetApplicationTitle(std::string_view title) override { title_ = title; }
  bool ShowAndRaise(WindowHandle window) override;
  bool Launch(std::string_view path, std::string_view workingDir, ShowStyle style) override;
  bool OpenUrl(std::string_view url, ShowStyle style) override;

  // --- what the program did ---
  struct TrayState {
    bool exists = false;
    std::vector<TrayMenuItem> menu;
    std::string hint;
    std::string imageFile;  // "" = the default image
  };
  TrayState Tray() const;
  // The captions of the visible menu items, in order: what the user sees.
  std::vector<std::string> VisibleMenu() const;
  std::string ApplicationTitle() const { return title_; }
  struct Launched {
    std::string path, workingDir;
    ShowStyle style;
  };
  std::vector<Launched> Launches() const { return launches_; }
  std::vector<std::string> OpenedUrls() const { return urls_; }
  // "title: text" of each message the tray icon showed.
  std::vector<std::string> TrayMessages() const { return messages_; }
  std::vector<WindowHandle> Raised() const { return raised_; }
  // The content window most recently created (nullptr when none is alive).
  const WindowContent* Content() const;
  bool ContentVisible() const;
  bool ContentInFront() const;

  // --- user actions (queued on the loop like real input) ---
  void ClickTray();
  // Chooses the menu item at `index` of the whole menu; hidden items cannot be chosen and
  // return false.
  bool ChooseMenuItem(std::size_t index);
  void ClickElement(const std::string& name);

  // --- world controls ---
  // Windows that exist for ShowAndRaise (other windows are "not there").
  void AddRaisableWindow(WindowHandle window) { raisable_.insert(window); }
  void FailLaunches(bool fail) { failLaunch_ = fail; }
  // Files whose contents read as an icon; any other file fails to load as one.
  void SetIconLoadable(bool loadable) { iconLoadable_ = loadable; }

 private:
  class SimTray;
  class Window;
  EventLoop& loop_;
  SimTray* tray_ = nullptr;
  Window* window_ = nullptr;
  std::string title_;
  std::vector<Launched> launches_;
  std::vector<std::string> urls_;
  std::vector<std::string> messages_;
  std::vector<WindowHandle> raised_;
  std::set<WindowHandle> raisable_;
  bool failLaunch_ = false;
  bool iconLoadable_ = true;
};

}  // namespace kv::platform::sim
