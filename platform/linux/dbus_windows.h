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
#include <QThread>
#include <condition_variable>
#include <deque>
#include <functional>
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
  void SetSendTimeout(int ms) { sendTimeoutMs_ = ms; }

  // Windows of this process are served on `loop` (the main loop). Without a connected bus the
  // windows still work inside the process, and Find sees only them.
  DbusWindows(EventLoop& loop, QDBusConnection connection);
  ~DbusWindows() override;
  DbusWindows(const DbusWindows&) = delete;
  DbusWindows& operator=(const DbusWindows&) = delete;

  std::unique_ptr<MessageWindow> Create(std::string_view className, WindowProc proc) override;
  WindowHandle Find(std::string_view className) override;
  bool Post(WindowHandle window, const WindowMessage& message) override;
  // A Send to another program's window made on the main loop's thread serves the calls sent to
  // this program's windows while it waits for the answer (a peer that answers with a call of
  // its own is not kept waiting); posted calls wait for the main loop, as on Windows.
  std::optional<std::intptr_t> Send(WindowHandle window, const WindowMessage& message) override;

  // An incoming call on a window's object path, as the window sees it.
  struct IncomingCall {
    enum class Kind { Introspect, Post, Send, UnknownMethod, BadArguments };
    Kind kind = Kind::UnknownMethod;
    std::string classKey;   // the class the path names (its last element)
    WindowMessage message;  // Post and Send
  };
  // Decides from the call's path, interface, member and arguments alone: the arguments' types
  // are checked (u, t, x), not a signature text. Any input gives an answer.
  static IncomingCall DecodeCall(const QString& path, const QString& interface,
                                 const QString& member, const QList<QVariant>& arguments);

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
  // Runs a sent call for a window of this process: at once on a main thread that waits in a
  // Send of its own, else through the main loop. Any thread.
  void DeliverSent(std::function<void()> call);
  std::optional<std::intptr_t> SendAndServe(const QDBusMessage& call);
  std::shared_ptr<WindowProc> LocalProc(WindowHandle handle);
  std::shared_ptr<WindowProc> FirstOfClass(const std::string& classKey);
  WindowHandle FirstHandleOfClassLocked(const std::string& classKey);
  std::string OwnerOf(const std::string& classKey);
  bool Connected() const;

  EventLoop& loop_;
  QDBusConnection bus_;
  std::unique_ptr<QThread> dispatchThread_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::mutex mutex_;
  std::map<WindowHandle, Local> locals_;
  std::map<WindowHandle, Remote> remotes_;
  WindowHandle next_ = 0x20010;
  int sendTimeoutMs_ = kSendTimeoutMs;
  // Sends of the main thread now waiting (nested when a served call sends again), and the
  // incoming sent calls for them to serve. Under mutex_.
  int waitingSends_ = 0;
  std::deque<std::function<void()>> sentCalls_;
  std::condition_variable sendProgress_;
};

}  // namespace kv::platform::linux_
