#include "platform/sim/sim_loop.h"

#include <limits>

namespace kv::platform::sim {
namespace {

// Days since 1899-12-30 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 25569;  // 1970-01-01 is day 25569
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z -= 25569;
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr std::int64_t kMsPerDay = 86'400'000;

}  // namespace

SimClock::SimClock() { SetLocalTime(LocalTime{2026, 1, 15, 10, 30, 0, 0}); }

std::uint32_t SimClock::TickCount() {
  return static_cast<std::uint32_t>(tickBase_.load() + static_cast<std::uint64_t>(elapsed_.load()));
}

void SimClock::SetLocalTime(const LocalTime& t) {
  const std::int64_t ms = DaysFromCivil(t.year, t.month, t.day) * kMsPerDay +
                          ((t.hour * 60 + t.minute) * 60 + t.second) * 1000LL + t.millisecond;
  localBaseMs_ = ms - elapsed_.load();
}

LocalTime SimClock::Now() {
  const std::int64_t ms = localBaseMs_.load() + elapsed_.load();
  std::int64_t days = ms / kMsPerDay;
  std::int64_t rest = ms % kMsPerDay;
  if (rest < 0) rest += kMsPerDay, --days;
  LocalTime t;
  CivilFromDays(days, t.year, t.month, t.day);
  t.millisecond = static_cast<int>(rest % 1000);
  rest /= 1000;
  t.second = static_cast<int>(rest % 60);
  rest /= 60;
  t.minute = static_cast<int>(rest % 60);
  t.hour = static_cast<int>(rest / 60);
  return t;
}

SimEventLoop::SimEventLoop(SimClock& clock)
    : clock_(clock), mainThread_(std::this_thread::get_id()) {}

SimEventLoop::~SimEventLoop() {
  // Release any thread still waiting in RunAndWait.
  Quit(0);
}

void SimEventLoop::Post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  cv_.notify_all();
}

bool SimEventLoop::RunAndWait(Task task) {
  if (IsMainThread()) {
    task();
    return true;
  }
  struct State {
    bool done = false;
  };
  auto state = std::make_shared<State>();
  std::unique_lock lock(mutex_);
  if (quit_) return false;
  tasks_.push_back([this, state, t = std::move(task)] {
    t();
    std::lock_guard l(mutex_);
    state->done = true;
    cv_.notify_all();
  });
  cv_.notify_all();
  cv_.wait(lock, [&] { return state->done || quit_; });
  return state->done;
}

TimerId SimEventLoop::StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) {
  std::lock_guard lock(mutex_);
  const TimerId id = nextTimer_++;
  const auto step = std::max<std::int64_t>(interval.count(), repeat ? 1 : 0);
  timers_[id] = Timer{clock_.Elapsed() + step, interval, repeat, std::move(onTimer)};
  return id;
}

void SimEventLoop::StopTimer(TimerId id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

bool SimEventLoop::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

void SimEventLoop::Quit(int exitCode) {
  {
    std::lock_guard lock(mutex_);
    exitCode_ = exitCode;
    quit_ = true;
  }
  cv_.notify_all();
}

bool SimEventLoop::RunOne(std::unique_lock<std::mutex>& lock) {
  if (tasks_.empty()) return false;
  Task task = std::move(tasks_.front());
  tasks_.pop_front();
  lock.unlock();
  task();
  lock.lock();
  return true;
}

std::size_t SimEventLoop::RunPending() {
  std::size_t n = 0;
  std::unique_lock lock(mutex_);
  while (RunOne(lock)) ++n;
  return n;
}

bool SimEventLoop::FireNextTimerUpTo(std::int64_t limit) {
  std::unique_lock lock(mutex_);
  auto next = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it)
    if (it->second.due <= limit && (next == timers_.end() || it->second.due < next->second.due))
      next = it;
  if (next == timers_.end()) return false;
  const TimerId id = next->first;
  if (next->second.due > clock_.elapsed_) clock_.elapsed_ = next->second.due;
  Task task = next->second.task;  // a copy: the handler may stop or restart its own timer
  if (next->second.repeat)
    next->second.due += std::max<std::int64_t>(next->second.interval.count(), 1);
  else timers_.erase(next);
  lock.unlock();
  (void)id;
  task();
  RunPending();
  return true;
}

void SimEventLoop::Advance(std::chrono::milliseconds by) {
  RunPending();
  const std::int64_t target = clock_.Elapsed() + by.count();
  while (FireNextTimerUpTo(target)) {
  }
  clock_.elapsed_ = target;
  RunPending();
}

bool SimEventLoop::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds guard) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  std::unique_lock lock(mutex_);
  for (;;) {
    while (RunOne(lock)) {
    }
    lock.unlock();
    const bool ok = pred();
    lock.lock();
    if (ok) return true;
    if (!cv_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
  }
}

int SimEventLoop::Run() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (RunOne(lock)) continue;
    if (idleAdvance_ && !timers_.empty()) {
      std::int64_t due = std::numeric_limits<std::int64_t>::max();
      for (auto& [id, t] : timers_) due = std::min(due, t.due);
      lock.unlock();
      Advance(std::chrono::milliseconds(std::max<std::int64_t>(0, due - clock_.Elapsed())));
      lock.lock();
      continue;
    }
    cv_.wait(lock, [&] { return quit_ || !tasks_.empty(); });
  }
  return exitCode_;
}

std::size_t SimEventLoop::ActiveTimers() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

std::int64_t SimEventLoop::NextTimerIn() const {
  std::lock_guard lock(mutex_);
  std::int64_t due = -1;
  for (auto& [id, t] : timers_)
    if (due < 0 || t.due < due) due = t.due;
  return due < 0 ? -1 : due - clock_.Elapsed();
}

}  // namespace kv::platform::sim
