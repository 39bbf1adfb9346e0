#pragma once
// Virtual time and the main loop of the simulated platform. Nothing here sleeps or reads the
// wall clock: time moves only when a test advances it, and timers fire as it does.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace kv::platform::sim {

class SimClock : public Clock {
 public:
  SimClock();
  std::uint32_t TickCount() override;
  LocalTime Now() override;

  // Milliseconds since the virtual clock started (never wraps).
  std::int64_t Elapsed() const { return elapsed_.load(); }
  // Test controls. The tick counter starts at `tick` (it wraps like the real one).
  void SetTickBase(std::uint32_t tick) { tickBase_ = tick; }
  void SetLocalTime(const LocalTime& t);

 private:
  friend class SimEventLoop;
  std::atomic<std::int64_t> elapsed_{0};
  std::atomic<std::uint32_t> tickBase_{0};
  std::atomic<std::int64_t> localBaseMs_;  // local time at elapsed 0, ms since 1899-12-30
};

class SimEventLoop : public EventLoop {
 public:
  // The thread that creates the loop is its main thread.
  explicit SimEventLoop(SimClock& clock);
  ~SimEventLoop() override;

  void Post(Task task) override;
  bool RunAndWait(Task task) override;
  TimerId StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) override;
  void StopTimer(TimerId id) override;
  // Runs until Quit. When nothing is queued it waits for a task from another thread; with
  // SetIdleAdvance(true) it instead moves the virtual clock to the next timer.
  int Run() override;
  void Quit(int exitCode = 0) override;
  bool IsMainThread() const override;

  // Test controls (main thread).
  // Runs every queued task, including those the tasks queue. Returns how many ran.
  std::size_t RunPending();
  // Moves virtual time forward, firing each due timer at its own time in order, running queued
  // tasks after each.
  void Advance(std::chrono::milliseconds by);
  // Waits (without a clock) until pred() holds, running tasks that other threads post. Gives up
  // after `guard` of real time so that a broken test fails instead of hanging.
  bool RunUntil(const std::function<bool()>& pred,
                std::chrono::milliseconds guard = std::chrono::seconds(10));
  void SetIdleAdvance(bool on) { idleAdvance_ = on; }
  bool HasQuit() const { return quit_.load(); }
  // Lets the loop run again after Quit (a test may start a second program on the same loop).
  void ResetQuit() { quit_ = false; }
  std::size_t ActiveTimers() const;
  // Milliseconds until the next timer fires, or -1 when none is set.
  std::int64_t NextTimerIn() const;

 private:
  struct Timer {
    std::int64_t due;
    std::chrono::milliseconds interval;
    bool repeat;
    Task task;
  };
  bool RunOne(std::unique_lock<std::mutex>& lock);
  bool FireNextTimerUpTo(std::int64_t limit);

  SimClock& clock_;
  std::thread::id mainThread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> tasks_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  std::atomic<bool> quit_{false};
  int exitCode_ = 0;
  bool idleAdvance_ = false;
};

}  // namespace kv::platform::sim
