// libFuzzer target: what a peer on the session bus controls in a call to a message window (the
// object path, interface, member and the arguments with their types), and the window class
// names the bus names and paths are made from. Every call must be decoded to one answer; every
// name and path made must be one the bus accepts.
#include <dbus/dbus.h>

#include <QByteArray>
#include <QDBusVariant>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/linux/dbus_windows.h"

namespace {

using kv::platform::linux_::DbusWindows;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return size_ == 0; }
  std::uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }
  std::uint64_t Bits(int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t(Byte()) << (8 * i);
    return v;
  }
  // A length byte, then that many bytes.
  std::string Text() {
    std::string s;
    for (std::size_t n = Byte(); n > 0 && size_ > 0; --n) s += static_cast<char>(Byte());
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

QVariant Argument(Input& in) {
  switch (in.Byte() % 12) {
    case 0: return QVariant::fromValue(static_cast<uint>(in.Bits(4)));
    case 1: return QVariant::fromValue(static_cast<qulonglong>(in.Bits(8)));
    case 2: return QVariant::fromValue(static_cast<qlonglong>(in.Bits(8)));
    case 3: return QVariant::fromValue(static_cast<int>(in.Bits(4)));
    case 4: return QString::fromUtf8(in.Text());
    case 5: return QByteArray::fromStdString(in.Text());
    case 6: return in.Byte() & 1;
    case 7: return static_cast<double>(in.Bits(8));
    case 8: return QVariant::fromValue(QDBusVariant(static_cast<uint>(in.Bits(4))));
    case 9: return QStringList{QString::fromUtf8(in.Text())};
    case 10: return QVariant::fromValue(static_cast<ushort>(in.Bits(2)));
    default: return QVariant();
  }
}

const char* const kMembers[] = {"Post", "Send", "Introspect", "post"};
const char* const kInterfaces[] = {"", "org.kvmon.Window", "org.freedesktop.DBus.Introspectable",
                                   "org.kvmon.window"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t shape = in.Byte();
  // Mostly the names a window answers to, with the rest of the input deciding the arguments.
  const QString member = (shape & 0x10) ? QString::fromUtf8(in.Text()) : kMembers[shape & 3];
  const QString interface =
      (shape & 0x20) ? QString::fromUtf8(in.Text()) : kInterfaces[(shape >> 2) & 3];
  const std::string className = in.Text();
  const QString path = (shape & 0x40) ? QString::fromUtf8(in.Text())
                                      : QString::fromStdString(DbusWindows::ObjectPath(className));
  QList<QVariant> arguments;
  for (int n = in.Byte() % 5; n > 0; --n) arguments.push_back(Argument(in));

  const auto call = DbusWindows::DecodeCall(path, interface, member, arguments);
  using Kind = DbusWindows::IncomingCall::Kind;
  if (call.kind == Kind::Post || call.kind == Kind::Send) {
    // Only the exact argument types reach a window, and they arrive unchanged.
    if (arguments.size() != 3 || call.message.msg != arguments[0].toUInt() ||
        call.message.wParam != arguments[1].toULongLong() ||
        static_cast<qlonglong>(call.message.lParam) != arguments[2].toLongLong())
      std::abort();
  }

  // The names made from any class name are either refused ("") or valid on the bus.
  const std::string busName = DbusWindows::BusName(className);
  const std::string objectPath = DbusWindows::ObjectPath(className);
  if (busName.empty() != objectPath.empty()) std::abort();
  if (!busName.empty()) {
    if (!dbus_validate_bus_name(busName.c_str(), nullptr)) std::abort();
    if (!dbus_validate_path(objectPath.c_str(), nullptr)) std::abort();
    // Classes differing only in letter case are one window class.
    std::string lower = className;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (DbusWindows::BusName(lower) != busName) std::abort();
  }
  return 0;
}
