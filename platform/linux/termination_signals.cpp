#include "platform/linux/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <stdexcept>

namespace kv::platform::linux_ {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int pipeRead = -1, pipeWrite = -1;

extern "C" void OnTerminationSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a request to end; nothing is lost by dropping this one.
  [[maybe_unused]] const ssize_t n = write(pipeWrite, &byte, 1);
  errno = saved;
}

}  // namespace

void TerminationSignals::Catch() {
  // The pipe stays for the process's life: a handler may still be writing to it on another
  // thread while the handler is being taken away.
  if (pipeWrite < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
      throw std::runtime_error("cannot make the pipe for termination signals");
    pipeRead = fds[0];
    pipeWrite = fds[1];
  }
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : kSignals) sigaction(s, &action, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  Catch();
  notifier_ = std::make_unique<QSocketNotifier>(pipeRead, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
}

TerminationSignals::~TerminationSignals() {
  notifier_.reset();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaction(s, &action, nullptr);
  // Requests not served by now came during the shut-down they asked for.
  unsigned char byte;
  while (read(pipeRead, &byte, 1) == 1) {
  }
}

void TerminationSignals::Drain() {
  unsigned char byte;
  while (read(pipeRead, &byte, 1) == 1)
    if (onSignal_) onSignal_(byte);
}

}  // namespace kv::platform::linux_
