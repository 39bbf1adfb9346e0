#include "platform/linux/qt_loop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimerEvent>
#include <algorithm>
#include <limits>

namespace kv::platform::linux_ {
namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kQuitEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

class QtEventLoop::Receiver : public QObject {
 public:
  explicit Receiver(QtEventLoop& owner) : owner_(owner) {}

 protected:
  void customEvent(QEvent* event) override {
    if (event->type() == kWakeEvent) {
      owner_.RunQueued();
    } else if (event->type() == kQuitEvent) {
      if (owner_.running_) {
        std::lock_guard lock(owner_.mutex_);
        owner_.running_->exit(owner_.exitCode_);
      }
    }
  }
  void timerEvent(QTimerEvent* event) override { owner_.FireTimer(event->timerId()); }

 private:
  QtEventLoop& owner_;
};

QtEventLoop::QtEventLoop()
    : mainThread_(std::this_thread::get_id()), receiver_(std::make_unique<Receiver>(*this)) {
  if (!QCoreApplication::instance())
    throw std::logic_error("QtEventLoop needs a QCoreApplication on the main thread");
}

QtEventLoop::~QtEventLoop() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  for (auto& [id, timer] : timers_) receiver_->killTimer(timer.qtId);
}

bool QtEventLoop::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

bool QtEventLoop::HasQuit() const {
  std::lock_guard lock(mutex_);
  return quit_;
}

void QtEventLoop::WakeLocked() {
  // One wake event stands for every task queued until it is handled.
  if (wakePending_) return;
  wakePending_ = true;
  QCoreApplication::postEvent(receiver_.get(), new QEvent(kWakeEvent));
}

void QtEventLoop::Post(Task task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  WakeLocked();
}

bool QtEventLoop::RunAndWait(Task task) {
  if (IsMainThread()) {
    task();
    return true;
  }
  // `abandoned` is decided under the loop's mutex, so a task either runs while its caller waits
  // or never runs at all (its captures may be gone once the caller returned false).
  struct State {
    bool started = false, done = false, abandoned = false;
  };
  auto state = std::make_shared<State>();
  std::unique_lock lock(mutex_);
  if (quit_) return false;
  tasks_.push_back([this, state, t = std::move(task)] {
    {
      std::lock_guard l(mutex_);
      if (state->abandoned) return;
      state->started = true;
    }
    t();
    {
      std::lock_guard l(mutex_);
      state->done = true;
    }
    cv_.notify_all();
  });
  WakeLocked();
  cv_.wait(lock, [&] { return state->done || (quit_ && !state->started); });
  if (!state->done) state->abandoned = true;
  return state->done;
}

void QtEventLoop::RunQueued() {
  std::unique_lock lock(mutex_);
  wakePending_ = false;
  // Run what is queued now; tasks queued meanwhile come with the next wake, so other events
  // (timers, bus messages) are not starved by a task that keeps posting.
  std::size_t n = tasks_.size();
  while (n-- > 0 && !tasks_.empty()) {
    if (quit_) break;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  if (!tasks_.empty() && !quit_) WakeLocked();
}

TimerId QtEventLoop::StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) {
  const auto ms = static_cast<int>(
      std::clamp<std::int64_t>(interval.count(), repeat ? 1 : 0, std::numeric_limits<int>::max()));
  // Coarse timers let the kernel batch wake-ups; the monitor's timers are 1.5 s long.
  const int qtId = receiver_->startTimer(ms, ms < 100 ? Qt::PreciseTimer : Qt::CoarseTimer);
  if (qtId == 0) return 0;
  const TimerId id = nextTimer_++;
  timers_[id] = Timer{qtId, repeat, std::make_shared<Task>(std::move(onTimer))};
  byQtId_[qtId] = id;
  return id;
}

void QtEventLoop::StopTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  receiver_->killTimer(it->second.qtId);
  byQtId_.erase(it->second.qtId);
  timers_.erase(it);
}

void QtEventLoop::FireTimer(int qtId) {
  if (HasQuit()) return;
  auto byQt = byQtId_.find(qtId);
  if (byQt == byQtId_.end()) return;
  auto it = timers_.find(byQt->second);
  std::shared_ptr<Task> task = it->second.task;  // the handler may stop or restart its own timer
  if (!it->second.repeat) StopTimer(it->first);
  (*task)();
}

int QtEventLoop::Run() {
  QEventLoop loop;
  {
    std::lock_guard lock(mutex_);
    if (quit_) return exitCode_;
    running_ = &loop;
    if (!tasks_.empty()) WakeLocked();
  }
  loop.exec();
  std::lock_guard lock(mutex_);
  running_ = nullptr;
  return exitCode_;
}

void QtEventLoop::Quit(int exitCode) {
  {
    std::lock_guard lock(mutex_);
    exitCode_ = exitCode;
    quit_ = true;
  }
  cv_.notify_all();
  QCoreApplication::postEvent(receiver_.get(), new QEvent(kQuitEvent), Qt::HighEventPriority);
}

}  // namespace kv::platform::linux_
