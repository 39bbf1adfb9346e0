#include "test_env.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kv::test {
namespace {

struct Daemon {
  pid_t pid = -1;
  std::string address, why;
  ~Daemon() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

Daemon StartDaemon() {
  Daemon d;
  int out[2];
  if (pipe(out) != 0) {
    d.why = "pipe failed";
    return d;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // The daemon goes with the test program, even when that is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(out[1], 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(out[0]);
    close(out[1]);
    execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=1",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  d.pid = pid;
  if (line.empty()) d.why = "dbus-daemon did not start (is the dbus package installed?)";
  d.address = line;
  return d;
}

}  // namespace

void EnsureQtApp() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "kv_linux_tests";
  static char* argv[] = {name, nullptr};
  // Widgets need a screen; the tests never show anything on a real one.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication app(argc, argv);
}

const std::string& PrivateBusAddress(std::string* why) {
  static Daemon daemon = StartDaemon();
  if (why) *why = daemon.why;
  return daemon.address;
}

BusConnection::BusConnection()
    : name_(QString("kvtest-%1").arg(static_cast<qulonglong>([] {
        static std::atomic<unsigned> n{0};
        return ++n;
      }()))),
      connection_(
          QDBusConnection::connectToBus(QString::fromStdString(PrivateBusAddress()), name_)) {}

BusConnection::~BusConnection() { QDBusConnection::disconnectFromBus(name_); }

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* f = popen(command.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const int rc = pclose(f);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

}  // namespace kv::test
