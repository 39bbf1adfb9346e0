#include "platform/sim/sim_shell.h"

#include "base/path.h"

namespace kv::platform::sim {

class SimShell::SimTray : public TrayIcon {
 public:
  SimTray(SimShell& owner, TrayIconSpec spec) : owner_(owner), spec_(std::move(spec)) {
    owner_.tray_ = this;
  }
  ~SimTray() override {
    if (owner_.tray_ == this) owner_.tray_ = nullptr;
  }
  bool SetImageFromFile(std::string_view p) override {
    if (!path::FileExists(p) || !owner_.iconLoadable_) return false;
    image_ = p;
    return true;
  }
  void SetHint(std::string_view hint) override { spec_.hint = hint; }
  void SetMenuCaption(std::size_t index, std::string_view caption) override {
    if (index < spec_.menu.size()) spec_.menu[index].caption = caption;
  }
  void ShowMessage(std::string_view title, std::string_view text) override {
    owner_.messages_.push_back(std::string(title) + ": " + std::string(text));
  }

  SimShell& owner_;
  TrayIconSpec spec_;
  std::string image_;
};

class SimShell::Window : public ContentWindow {
 public:
  Window(SimShell& owner, WindowContent content, std::function<void(const std::string&)> onClick)
      : owner_(owner), content_(std::move(content)), onClick_(std::move(onClick)) {
    owner_.window_ = this;
  }
  ~Window() override {
    if (owner_.window_ == this) owner_.window_ = nullptr;
  }
  void SetContent(const WindowContent& content) override { content_ = content; }
  void Show() override { visible_ = true; }
  void Hide() override {
    visible_ = false;
    front_ = false;
  }
  void BringToFront() override { front_ = visible_; }
  bool IsVisible() const override { return visible_; }

  SimShell& owner_;
  WindowContent content_;
  std::function<void(const std::string&)> onClick_;
  bool visible_ = false, front_ = false;
};

SimShell::~SimShell() = default;

std::unique_ptr<TrayIcon> SimShell::CreateTrayIcon(TrayIconSpec spec) {
  return std::make_unique<SimTray>(*this, std::move(spec));
}

std::unique_ptr<ContentWindow> SimShell::CreateContentWindow(
    const WindowContent& content, std::function<void(const std::string&)> onClick) {
  return std::make_unique<Window>(*this, content, std::move(onClick));
}

bool SimShell::ShowAndRaise(WindowHandle window) {
  if (!raisable_.count(window)) return false;
  raised_.push_back(window);
  return true;
}

bool SimShell::Launch(std::string_view p, std::string_view workingDir, ShowStyle style) {
  launches_.push_back({std::string(p), std::string(workingDir), style});
  return !failLaunch_ && path::FileExists(p);
}

bool SimShell::OpenUrl(std::string_view url, ShowStyle) {
  urls_.emplace_back(url);
  return true;
}

SimShell::TrayState SimShell::Tray() const {
  if (!tray_) return {};
  return TrayState{true, tray_->spec_.menu, tray_->spec_.hint, tray_->image_};
}

std::vector<std::string> SimShell::VisibleMenu() const {
  std::vector<std::string> out;
  if (tray_)
    for (auto& item : tray_->spec_.menu)
      if (item.visible) out.push_back(item.caption);
  return out;
}

const WindowContent* SimShell::Content() const { return window_ ? &window_->content_ : nullptr; }
bool SimShell::ContentVisible() const { return window_ && window_->visible_; }
bool SimShell::ContentInFront() const { return window_ && window_->front_; }

void SimShell::ClickTray() {
  loop_.Post([this] {
    if (tray_ && tray_->spec_.onClick) tray_->spec_.onClick();
  });
}

bool SimShell::ChooseMenuItem(std::size_t index) {
  if (!tray_ || index >= tray_->spec_.menu.size() || !tray_->spec_.menu[index].visible)
    return false;
  loop_.Post([this, index] {
    if (tray_ && tray_->spec_.onMenuItem) tray_->spec_.onMenuItem(index);
  });
  return true;
}

void SimShell::ClickElement(const std::string& name) {
  loop_.Post([this, name] {
    if (window_ && window_->visible_ && window_->onClick_) window_->onClick_(name);
  });
}

}  // namespace kv::platform::sim
