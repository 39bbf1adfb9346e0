#pragma once
// What the Linux tests share: one Qt application object for the process and a private D-Bus
// session bus started by the tests themselves (never the user's own bus).
#include <QDBusConnection>
#include <string>

namespace kv::test {

// Creates the process's Qt application on first use (main thread).
void EnsureQtApp();

// The address of a private bus daemon started on first use and stopped at exit. Empty (and a
// reason in `why`) when no daemon could be started.
const std::string& PrivateBusAddress(std::string* why = nullptr);

// A fresh connection to the private bus; disconnected when the returned holder goes.
class BusConnection {
 public:
  BusConnection();
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;
  QDBusConnection& get() { return connection_; }

 private:
  QString name_;
  QDBusConnection connection_;
};

// Runs a command through the shell and returns its standard output (and its exit status).
std::string RunCommand(const std::string& command, int* status = nullptr);

}  // namespace kv::test
