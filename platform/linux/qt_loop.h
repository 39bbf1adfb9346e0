#pragma once
// The main loop on Linux: Qt's event loop of the thread that creates it. Tasks from other threads
// go through one queue of our own so that RunAndWait can be released when the loop quits, and
// timers are Qt timers on one receiver object: an idle loop sleeps in poll() and wakes for
// nothing but real work.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"

class QEventLoop;

namespace kv::platform::linux_ {

class QtEventLoop : public EventLoop {
 public:
  // Needs a QCoreApplication (or QApplication) on the calling thread, which becomes the main one.
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

  void Post(Task task) override;
  bool RunAndWait(Task task) override;
  TimerId StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) override;
  void StopTimer(TimerId id) override;
  int Run() override;
  void Quit(int exitCode = 0) override;
  bool IsMainThread() const override;

  bool HasQuit() const;

 private:
  class Receiver;
  friend class Receiver;
  struct Timer {
    int qtId = 0;
    bool repeat = false;
    std::shared_ptr<Task> task;
  };
  void RunQueued();
  void FireTimer(int qtId);
  void WakeLocked();

  std::thread::id mainThread_;
  std::unique_ptr<Receiver> receiver_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> tasks_;
  bool wakePending_ = false;
  bool quit_ = false;
  int exitCode_ = 0;
  QEventLoop* running_ = nullptr;    // main thread only
  std::map<TimerId, Timer> timers_;  // main thread only
  std::map<int, TimerId> byQtId_;
  TimerId nextTimer_ = 1;
};

}  // namespace kv::platform::linux_
