#pragma once
// Message windows over the D-Bus session bus. A window class is a well-known bus name
// ("org.kvmon.window.<CLASS>", the class in upper case since classes compare without regard to
// case); its windows answer at the object path "/org/kvmon/window/<CLASS>" with the interface
// "org.kvmon.Window": Post(u msg, t wParam, x lParam) is a call without reply and
// Send(u, t, x) -> x a call with reply. Find is "the name has an owner". The objects are
// introspectable, so busctl --user and gdbus can drive a running monitor:
//   busctl --user call org.kvmon.window.TKVMONMAIN /org/kvmon/window/TKVMONMAIN
//          org.kvmon.Window Send utx 7037 0 0
#include <QDBusConnection>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kv::platform::linux_ {

class DbusWindows : public MessageWindows {
 public:
  static constexpr const char* kInterface = "org.kvmon.Window";
  static constexpr const char* kPathRoot = "/org/kvmon/window";
  // A blocking Send gives up after this long (a hung peer must not freeze the monitor for good).
  static constexpr int kSendTimeoutMs = 10'000;

  // Windows of this process are served on `loop` (the main loop). Without a connected bus the
  // windows still work inside the process, and Find sees only them.
  DbusWindows(EventLoop& loop, QDBusConnection connection);
  ~DbusWindows() override;
  DbusWindows(const DbusWindows&) = delete;
  DbusWindows& operator=(const DbusWindows&) = delete;

  std::unique_ptr<MessageWindow> Create(std::string_view className, WindowProc proc) override;
  WindowHandle Find(std::string_view className) override;
  bool Post(WindowHandle window, const WindowMessage& message) override;
  std::optional<std::intptr_t> Send(WindowHandle window, const WindowMessage& message) override;

  // The bus name and object path of a window class. Characters a bus name cannot carry are
  // written as _XX (hex), so distinct classes never share a name. "" for an unusable class.
  static std::string BusName(std::string_view className);
  static std::string ObjectPath(std::string_view className);

 private:
  class Window;
  class Dispatcher;
  friend class Dispatcher;
  struct Local {
    std::string classKey;
    std::shared_ptr<WindowProc> proc;
  };
  struct Remote {
    std::string owner;  // unique connection name at the time of Find
    std::string classKey;
  };
  void Destroy(WindowHandle handle);
  std::shared_ptr<WindowProc> LocalProc(WindowHandle handle);
  std::shared_ptr<WindowProc> FirstOfClass(const std::string& classKey);
  WindowHandle FirstHandleOfClassLocked(const std::string& classKey);
  std::string OwnerOf(const std::string& classKey);
  bool Connected() const;

  EventLoop& loop_;
  QDBusConnection bus_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::mutex mutex_;
  std::map<WindowHandle, Local> locals_;
  std::map<WindowHandle, Remote> remotes_;
  WindowHandle next_ = 0x20010;
};

}  // namespace kv::platform::linux_
