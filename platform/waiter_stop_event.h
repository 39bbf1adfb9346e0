#pragma once
// A HidStopEvent for platforms whose readers block in the system on a wake-up object of their
// own (a descriptor, an event handle): each waiting reader registers its object, and Set wakes
// every registered one, so a reader never misses a stop that comes between its check of the
// generation and its wait. `Waiter` is the wake-up object; `wake` signals one.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

#include "platform/hid.h"

namespace kv::platform {

template <typename Waiter>
class WaiterStopEvent : public HidStopEvent {
 public:
  using WakeFn = void (*)(Waiter);
  explicit WaiterStopEvent(WakeFn wake) : wake_(wake) {}

  void Set() override {
    std::lock_guard lock(mutex_);
    if (!set_) {
      set_ = true;
      ++generation_;
    }
    for (Waiter w : waiters_) wake_(w);
  }
  void Reset() override {
    std::lock_guard lock(mutex_);
    set_ = false;
  }
  bool IsSet() const override {
    std::lock_guard lock(mutex_);
    return set_;
  }
  std::uint64_t Generation() const override {
    std::lock_guard lock(mutex_);
    return generation_;
  }
  void Pulse(std::chrono::milliseconds hold) override {
    Set();
    std::this_thread::sleep_for(hold);
    Reset();
  }

  // A reader registers before it checks Stopped and stays registered until its wait is over.
  void AddWaiter(Waiter w) {
    std::lock_guard lock(mutex_);
    waiters_.insert(w);
  }
  void RemoveWaiter(Waiter w) {
    std::lock_guard lock(mutex_);
    waiters_.erase(w);
  }
  // True when a read started under `generation` has to end.
  bool Stopped(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return set_ || generation_ != generation;
  }

 private:
  const WakeFn wake_;
  mutable std::mutex mutex_;
  bool set_ = false;
  std::uint64_t generation_ = 0;
  std::set<Waiter> waiters_;
};

}  // namespace kv::platform
