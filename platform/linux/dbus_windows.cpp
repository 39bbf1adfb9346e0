#include "platform/linux/dbus_windows.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThread>
#include <thread>

#include "base/strings.h"

namespace kv::platform::linux_ {
namespace {

constexpr const char* kNamePrefix = "org.kvmon.window.";
constexpr std::size_t kMaxBusName = 255;

// Upper-case class name with everything outside [A-Z0-9] (and a leading digit) as _XX.
std::string ClassKey(std::string_view className) {
  static const char* hex = "0123456789ABCDEF";
  const std::string upper = AsciiUpper(className);
  std::string out;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    const auto c = static_cast<unsigned char>(upper[i]);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9' && i > 0);
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '_';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

const char* kIntrospectXml =
    "  <interface name=\"org.kvmon.Window\">\n"
    "    <method name=\"Post\">\n"
    "      <arg name=\"msg\" type=\"u\" direction=\"in\"/>\n"
    "      <arg name=\"wparam\" type=\"t\" direction=\"in\"/>\n"
    "      <arg name=\"lparam\" type=\"x\" direction=\"in\"/>\n"
    "      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n"
    "    </method>\n"
    "    <method name=\"Send\">\n"
    "      <arg name=\"msg\" type=\"u\" direction=\"in\"/>\n"
    "      <arg name=\"wparam\" type=\"t\" direction=\"in\"/>\n"
    "      <arg name=\"lparam\" type=\"x\" direction=\"in\"/>\n"
    "      <arg name=\"result\" type=\"x\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n";

}  // namespace

std::string DbusWindows::BusName(std::string_view className) {
  if (className.empty()) return "";
  std::string name = kNamePrefix + ClassKey(className);
  return name.size() <= kMaxBusName ? name : "";
}

std::string DbusWindows::ObjectPath(std::string_view className) {
  if (BusName(className).empty()) return "";
  return std::string(kPathRoot) + "/" + ClassKey(className);
}

DbusWindows::IncomingCall DbusWindows::DecodeCall(const QString& path, const QString& interface,
                                                  const QString& member,
                                                  const QList<QVariant>& arguments) {
  IncomingCall call;
  call.classKey = path.section('/', -1).toStdString();
  if (interface == "org.freedesktop.DBus.Introspectable" && member == "Introspect") {
    call.kind = IncomingCall::Kind::Introspect;
    return call;
  }
  const bool isPost = member == "Post", isSend = member == "Send";
  if ((!interface.isEmpty() && interface != kInterface) || !(isPost || isSend)) return call;
  if (arguments.size() != 3 || arguments[0].metaType() != QMetaType::fromType<uint>() ||
      arguments[1].metaType() != QMetaType::fromType<qulonglong>() ||
      arguments[2].metaType() != QMetaType::fromType<qlonglong>()) {
    call.kind = IncomingCall::Kind::BadArguments;
    return call;
  }
  call.kind = isSend ? IncomingCall::Kind::Send : IncomingCall::Kind::Post;
  call.message.msg = arguments[0].toUInt();
  call.message.wParam = static_cast<std::uintptr_t>(arguments[1].toULongLong());
  call.message.lParam = static_cast<std::intptr_t>(arguments[2].toLongLong());
  return call;
}

// Receives the calls for every window path of this process, on a thread of its own: the work is
// handed to the main loop (or to a Send waiting on the main thread), and answered from there.
class DbusWindows::Dispatcher : public QDBusVirtualObject {
 public:
  explicit Dispatcher(DbusWindows& owner) : owner_(owner) {}

  QString introspect(const QString& path) const override {
    if (path == kPathRoot) {
      std::string nodes;
      std::lock_guard lock(owner_.mutex_);
      std::string last;
      for (auto& [h, local] : owner_.locals_)
        if (local.classKey != last) nodes += "  <node name=\"" + (last = local.classKey) + "\"/>\n";
      return Q(nodes);
    }
    return kIntrospectXml;
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    const IncomingCall decoded =
        DecodeCall(message.path(), message.interface(), message.member(), message.arguments());
    switch (decoded.kind) {
      case IncomingCall::Kind::Introspect: {
        const QString xml =
            "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
            "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n" +
            introspect(message.path()) + "</node>\n";
        connection.send(message.createReply(xml));
        return true;
      }
      case IncomingCall::Kind::UnknownMethod:
        if (message.isReplyRequired())
          connection.send(message.createErrorReply(QDBusError::UnknownMethod, "no such method"));
        return true;
      case IncomingCall::Kind::BadArguments:
        if (message.isReplyRequired())
          connection.send(message.createErrorReply(
              QDBusError::InvalidArgs, "expected arguments (u msg, t wparam, x lparam)"));
        return true;
      case IncomingCall::Kind::Post:
      case IncomingCall::Kind::Send: break;
    }
    const bool isSend = decoded.kind == IncomingCall::Kind::Send;
    const WindowMessage wm = decoded.message;
    const std::string classKey = decoded.classKey;
    message.setDelayedReply(true);
    QDBusConnection conn = connection;
    DbusWindows& owner = owner_;
    auto call = [&owner, conn, message, wm, classKey, isSend] {
      auto proc = owner.FirstOfClass(classKey);
      if (!proc) {
        if (message.isReplyRequired())
          conn.send(
              message.createErrorReply(QDBusError::UnknownObject, "the window no longer exists"));
        return;
      }
      const std::intptr_t result = (*proc)(wm);
      if (!message.isReplyRequired()) return;
      if (isSend)
        conn.send(message.createReply(QVariant::fromValue(static_cast<qlonglong>(result))));
      else conn.send(message.createReply());
    };
    if (isSend) owner_.DeliverSent(std::move(call));
    else owner_.loop_.Post(std::move(call));
    return true;
  }

 private:
  DbusWindows& owner_;
};

class DbusWindows::Window : public MessageWindow {
 public:
  Window(DbusWindows& owner, WindowHandle handle) : owner_(owner), handle_(handle) {}
  ~Window() override { owner_.Destroy(handle_); }
  WindowHandle Handle() const override { return handle_; }

 private:
  DbusWindows& owner_;
  WindowHandle handle_;
};

DbusWindows::DbusWindows(EventLoop& loop, QDBusConnection connection)
    : loop_(loop), bus_(std::move(connection)), dispatcher_(std::make_unique<Dispatcher>(*this)) {
  if (!bus_.isConnected()) return;
  // Calls reach the dispatcher on the thread it lives in. Not the main one: while the main
  // thread waits in a Send, the calls sent to it must still come in to be served.
  // Registered first: what the bus attaches to it moves along to that thread.
  bus_.registerVirtualObject(kPathRoot, dispatcher_.get(), QDBusConnection::SubPath);
  dispatchThread_ = std::make_unique<QThread>();
  dispatchThread_->setObjectName("kvmon-dbus");
  dispatchThread_->start();
  dispatcher_->moveToThread(dispatchThread_.get());
}

DbusWindows::~DbusWindows() {
  if (!dispatchThread_) return;
  // The bus may be gone by now (its daemon ended); the thread is stopped all the same.
  if (Connected()) bus_.unregisterObject(kPathRoot, QDBusConnection::UnregisterTree);
  dispatchThread_->quit();
  dispatchThread_->wait();
  if (!Connected()) return;
  // A blocking round trip to the bus daemon: messages go out in order, so every call posted
  // before it (WM_MONITOR_EXIT just before the process ends) has left this process.
  bus_.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus.Peer", "Ping"),
            QDBus::Block, 2000);
}

bool DbusWindows::Connected() const { return bus_.isConnected(); }

std::unique_ptr<MessageWindow> DbusWindows::Create(std::string_view className, WindowProc proc) {
  const std::string name = BusName(className);
  if (name.empty() || !proc) return nullptr;
  const std::string key = ClassKey(className);
  WindowHandle handle;
  bool first;
  {
    std::lock_guard lock(mutex_);
    first = FirstHandleOfClassLocked(key) == 0;
    handle = next_;
    next_ += 0x10;
    locals_[handle] = Local{key, std::make_shared<WindowProc>(std::move(proc))};
  }
  if (first && Connected()) {
    // Queue behind another process's window of the class rather than fail: it takes over
    // the name when that one goes, as a second window of a class does on Windows.
    auto reply = bus_.interface()->registerService(Q(name), QDBusConnectionInterface::QueueService,
                                                   QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
      std::lock_guard lock(mutex_);
      locals_.erase(handle);
      return nullptr;
    }
  }
  return std::make_unique<Window>(*this, handle);
}

void DbusWindows::Destroy(WindowHandle handle) {
  std::string key;
  bool last;
  {
    std::lock_guard lock(mutex_);
    auto it = locals_.find(handle);
    if (it == locals_.end()) return;
    key = it->second.classKey;
    locals_.erase(it);
    last = FirstHandleOfClassLocked(key) == 0;
  }
  if (last && Connected()) bus_.interface()->unregisterService(Q(kNamePrefix + key));
}

WindowHandle DbusWindows::FirstHandleOfClassLocked(const std::string& classKey) {
  for (auto& [h, local] : locals_)
    if (local.classKey == classKey) return h;
  return 0;
}

std::shared_ptr<WindowProc> DbusWindows::FirstOfClass(const std::string& classKey) {
  std::lock_guard lock(mutex_);
  const WindowHandle h = FirstHandleOfClassLocked(classKey);
  return h ? locals_[h].proc : nullptr;
}

std::shared_ptr<WindowProc> DbusWindows::LocalProc(WindowHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = locals_.find(handle);
  return it == locals_.end() ? nullptr : it->second.proc;
}

std::string DbusWindows::OwnerOf(const std::string& classKey) {
  if (!Connected()) return "";
  auto reply = bus_.interface()->serviceOwner(Q(kNamePrefix + classKey));
  return reply.isValid() ? reply.value().toStdString() : "";
}

WindowHandle DbusWindows::Find(std::string_view className) {
  if (BusName(className).empty()) return 0;
  const std::string key = ClassKey(className);
  if (!Connected()) {
    std::lock_guard lock(mutex_);
    return FirstHandleOfClassLocked(key);
  }
  const std::string owner = OwnerOf(key);
  if (owner.empty()) return 0;
  std::lock_guard lock(mutex_);
  if (owner == bus_.baseService().toStdString()) return FirstHandleOfClassLocked(key);
  for (auto& [h, remote] : remotes_)
    if (remote.owner == owner && remote.classKey == key) return h;
  const WindowHandle h = next_;
  next_ += 0x10;
  remotes_[h] = Remote{owner, key};
  return h;
}

bool DbusWindows::Post(WindowHandle window, const WindowMessage& message) {
  if (LocalProc(window)) {
    loop_.Post([this, window, message] {
      // A window destroyed before its queued message is handled never sees it.
      if (auto proc = LocalProc(window)) (*proc)(message);
    });
    return true;
  }
  Remote remote;
  {
    std::lock_guard lock(mutex_);
    auto it = remotes_.find(window);
    if (it == remotes_.end()) return false;
    remote = it->second;
  }
  // The window is gone when its class's name has left that connection.
  if (OwnerOf(remote.classKey) != remote.owner) return false;
  auto call = QDBusMessage::createMethodCall(
      Q(remote.owner), Q(std::string(kPathRoot) + "/" + remote.classKey), kInterface, "Post");
  call << static_cast<uint>(message.msg) << static_cast<qulonglong>(message.wParam)
       << static_cast<qlonglong>(message.lParam);
  call.setAutoStartService(false);
  return bus_.send(call);
}

std::optional<std::intptr_t> DbusWindows::Send(WindowHandle window, const WindowMessage& message) {
  if (auto proc = LocalProc(window)) {
    std::intptr_t result = 0;
    if (loop_.IsMainThread()) return (*proc)(message);
    bool ran = false;
    if (!loop_.RunAndWait([&] {
          if (auto p = LocalProc(window)) result = (*p)(message), ran = true;
        }))
      return std::nullopt;
    return ran ? std::optional<std::intptr_t>(result) : std::nullopt;
  }
  Remote remote;
  {
    std::lock_guard lock(mutex_);
    auto it = remotes_.find(window);
    if (it == remotes_.end()) return std::nullopt;
    remote = it->second;
  }
  auto call = QDBusMessage::createMethodCall(
      Q(remote.owner), Q(std::string(kPathRoot) + "/" + remote.classKey), kInterface, "Send");
  call << static_cast<uint>(message.msg) << static_cast<qulonglong>(message.wParam)
       << static_cast<qlonglong>(message.lParam);
  call.setAutoStartService(false);
  if (loop_.IsMainThread()) return SendAndServe(call);
  const QDBusMessage reply = bus_.call(call, QDBus::Block, sendTimeoutMs_);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
    return std::nullopt;
  return static_cast<std::intptr_t>(reply.arguments()[0].toLongLong());
}

void DbusWindows::DeliverSent(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    if (waitingSends_ > 0) {
      sentCalls_.push_back(std::move(call));
      sendProgress_.notify_all();
      return;
    }
  }
  loop_.Post(std::move(call));
}

std::optional<std::intptr_t> DbusWindows::SendAndServe(const QDBusMessage& call) {
  // The call blocks a helper thread; this one waits for its answer and meanwhile runs the calls
  // sent to this process's windows (the bus hands them over on its own thread).
  struct Outcome {
    bool done = false;
    QDBusMessage reply;
  };
  auto outcome = std::make_shared<Outcome>();
  std::thread caller([this, call, outcome] {
    QDBusMessage reply = bus_.call(call, QDBus::Block, sendTimeoutMs_);
    std::lock_guard lock(mutex_);
    outcome->reply = std::move(reply);
    outcome->done = true;
    sendProgress_.notify_all();
  });
  // Leaves the waiting state and ends the helper also when a served call throws.
  struct Waiting {
    DbusWindows& owner;
    std::thread& caller;
    std::unique_lock<std::mutex>& lock;
    ~Waiting() {
      if (!lock.owns_lock()) lock.lock();
      // Calls still queued when the last waiting Send gives up go to the main loop.
      if (--owner.waitingSends_ == 0)
        for (; !owner.sentCalls_.empty(); owner.sentCalls_.pop_front())
          owner.loop_.Post(std::move(owner.sentCalls_.front()));
      lock.unlock();
      caller.join();
    }
  };
  std::unique_lock lock(mutex_);
  ++waitingSends_;
  QDBusMessage reply;
  {
    Waiting waiting{*this, caller, lock};
    for (;;) {
      sendProgress_.wait(lock, [&] { return outcome->done || !sentCalls_.empty(); });
      if (sentCalls_.empty()) break;  // answered, and nothing left to serve
      auto served = std::move(sentCalls_.front());
      sentCalls_.pop_front();
      lock.unlock();
      served();
      lock.lock();
    }
    reply = outcome->reply;
  }
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
    return std::nullopt;
  return static_cast<std::intptr_t>(reply.arguments()[0].toLongLong());
}

}  // namespace kv::platform::linux_
