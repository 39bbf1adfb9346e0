#pragma once
// SIGTERM, SIGINT and SIGHUP (logout, `systemctl --user stop`, Ctrl-C, a closed terminal) as
// requests that the main loop serves, so that the program ends in order instead of dying where
// it stands. The signal handler only writes the signal's number to a pipe; the main loop reads
// the pipe and calls the owner's handler.
#include <functional>
#include <memory>

class QSocketNotifier;

namespace kv::platform::linux_ {

class TerminationSignals {
 public:
  // Installs the handler. Signals caught before a TerminationSignals object exists wait in the
  // pipe. Call it as early as possible in main().
  static void Catch();

  // Calls Catch() and hands every caught signal to `onSignal` on the calling thread's Qt event
  // loop (needs a QCoreApplication). One object at a time.
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  // The signals end the process again from here on (a second Ctrl-C during a slow shut-down);
  // requests not yet served are dropped.
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  void Drain();

  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kv::platform::linux_
