// One contract for the main loop and the message windows: the sim platform and the Linux one
// (Qt's loop, windows on a private D-Bus session bus) run the same cases.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/linux/dbus_windows.h"
#include "platform/linux/qt_loop.h"
#include "platform/sim/sim_platform.h"
#include "test_env.h"

using namespace kv::platform;
using namespace std::chrono_literals;

namespace {

// Each world has a main loop and two views of the message windows: "here" owns the windows under
// test and "there" stands for another program (the sim has one world for both; on Linux they
// are two separate bus connections).
struct SimWorld {
  static bool Available(std::string*) { return true; }
  sim::SimClock clock;
  sim::SimEventLoop loop{clock};
  sim::SimWindows windows{loop};
  MessageWindows& here() { return windows; }
  MessageWindows& there() { return windows; }
  // Virtual time moves only while the main thread has nothing to do, so timers keep their order
  // and threads that post in real time are still served.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds guard) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (std::chrono::steady_clock::now() < deadline) {
      loop.RunPending();
      if (done()) return true;
      if (loop.NextTimerIn() >= 0) loop.Advance(1ms);
      else loop.RunUntil([] { return true; }, 1ms), std::this_thread::sleep_for(100us);
    }
    return false;
  }
};

struct LinuxWorld {
  static bool Available(std::string* why) {
    kv::test::EnsureQtApp();
    return !kv::test::PrivateBusAddress(why).empty();
  }
  LinuxWorld() { kv::test::EnsureQtApp(); }
  kv::test::BusConnection busA, busB;
  linux_::QtEventLoop loop;
  linux_::DbusWindows windowsA{loop, busA.get()};
  linux_::DbusWindows windowsB{loop, busB.get()};
  MessageWindows& here() { return windowsA; }
  MessageWindows& there() { return windowsB; }
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds guard) {
    loop.StartTimer(2ms, true, [this, done] {
      if (done()) loop.Quit(0);
    });
    loop.StartTimer(guard, false, [this] { loop.Quit(99); });
    return loop.Run() == 0;
  }
};

template <typename World>
class LoopContract : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!World::Available(&why)) GTEST_SKIP() << why;
    world = std::make_unique<World>();
  }
  EventLoop& loop() { return world->loop; }
  // Runs the loop until `done` holds (checked every few milliseconds) or a guard expires;
  // false on the guard.
  bool RunUntil(std::function<bool()> done, std::chrono::milliseconds guard = 5s) {
    return world->RunUntil(done, guard);
  }
  std::unique_ptr<World> world;
};

using Worlds = ::testing::Types<SimWorld, LinuxWorld>;
TYPED_TEST_SUITE(LoopContract, Worlds);

TYPED_TEST(LoopContract, TasksRunOnTheMainThreadInPostingOrderFromEveryThread) {
  std::vector<int> seen;
  std::atomic<bool> offMain{false};
  const int kPerThread = 200;
  auto poster = [&](int base) {
    for (int i = 0; i < kPerThread; ++i)
      this->loop().Post([&, v = base + i] {
        if (!this->loop().IsMainThread()) offMain = true;
        seen.push_back(v);
      });
  };
  this->loop().Post([&] { seen.push_back(-1); });
  std::thread a(poster, 1000), b(poster, 2000);
  a.join();
  b.join();
  this->loop().Post([&] { this->loop().Quit(7); });
  EXPECT_EQ(this->loop().Run(), 7);
  EXPECT_FALSE(offMain);
  ASSERT_EQ(seen.size(), 1u + 2 * kPerThread);
  EXPECT_EQ(seen.front(), -1);
  int lastA = 999, lastB = 1999;
  for (int v : seen) {
    if (v >= 2000) {
      EXPECT_EQ(v, ++lastB);
    } else if (v >= 1000) {
      EXPECT_EQ(v, ++lastA);
    }
  }
}

TYPED_TEST(LoopContract, RunAndWaitReturnsOnlyAfterTheMainThreadRanTheTask) {
  int value = 0;  // written on the main thread, read by the worker after RunAndWait
  std::vector<int> readBack;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 1; i <= 20; ++i) {
      bool onMain = false;
      EXPECT_TRUE(this->loop().RunAndWait([&] {
        value = i;
        onMain = this->loop().IsMainThread();
      }));
      EXPECT_TRUE(onMain);
      readBack.push_back(value);
    }
    finished = true;
  });
  EXPECT_TRUE(this->RunUntil([&] { return finished.load(); }));
  worker.join();
  ASSERT_EQ(readBack.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(readBack[i], i + 1);
  // On the main thread itself the task runs at once.
  bool ran = false;
  EXPECT_TRUE(this->loop().RunAndWait([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TYPED_TEST(LoopContract, QuitReleasesAWaiterWithoutRunningItsTaskAndLaterCallsFailAtOnce) {
  std::atomic<int> result{-1};
  std::atomic<bool> ran{false}, waiting{false};
  std::thread waiter([&] {
    waiting = true;
    result = this->loop().RunAndWait([&] { ran = true; }) ? 1 : 0;
  });
  while (!waiting) std::this_thread::yield();
  std::this_thread::sleep_for(20ms);  // let it block; the loop is not running
  this->loop().Quit(3);
  waiter.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
  std::thread late([&] { result = this->loop().RunAndWait([&] { ran = true; }) ? 1 : 0; });
  late.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(this->loop().Run(), 3);  // a loop told to quit does not start
  EXPECT_FALSE(ran);
}

TYPED_TEST(LoopContract, TimersFireInDueOrderOneShotsOnceAndStoppedOnesNever) {
  std::vector<std::string> fired;
  int ticks = 0;
  TimerId repeat = 0;
  repeat = this->loop().StartTimer(10ms, true, [&] {
    fired.push_back("tick");
    if (++ticks == 3) this->loop().StopTimer(repeat);  // stopping itself from its handler
  });
  const TimerId never = this->loop().StartTimer(60ms, false, [&] { fired.push_back("never"); });
  this->loop().StartTimer(250ms, false, [&] { fired.push_back("late"); });
  this->loop().StartTimer(120ms, false, [&] {
    fired.push_back("early");
    // Restarting a countdown, as every device arrival does with the re-open timer.
    this->loop().StartTimer(50ms, false, [&] { fired.push_back("restarted"); });
  });
  this->loop().StopTimer(never);
  this->loop().StopTimer(never);  // twice: harmless
  this->loop().StopTimer(123456);
  EXPECT_NE(repeat, 0u);
  EXPECT_TRUE(this->RunUntil([&] { return fired.size() >= 6 && fired.back() == "late"; }));
  EXPECT_EQ(fired,
            (std::vector<std::string>{"tick", "tick", "tick", "early", "restarted", "late"}));
}

template <typename World>
class WindowsContract : public LoopContract<World> {
 protected:
  MessageWindows& here() { return this->world->here(); }
  MessageWindows& there() { return this->world->there(); }
};
TYPED_TEST_SUITE(WindowsContract, Worlds);

TYPED_TEST(WindowsContract, FindIsByClassInAnyCaseAndEndsWithTheWindow) {
  EXPECT_EQ(this->there().Find("TKVCFGMAIN"), 0u);
  auto window = this->here().Create("TKVCFGMAIN", [](const WindowMessage&) { return 0; });
  ASSERT_NE(window, nullptr);
  const WindowHandle found = this->there().Find("tkvcfgMain");
  EXPECT_NE(found, 0u);
  EXPECT_EQ(this->there().Find("TKVMONMAIN"), 0u);
  EXPECT_EQ(this->there().Find(""), 0u);
  EXPECT_EQ(this->here().Create("", [](const WindowMessage&) { return 0; }), nullptr);
  window.reset();
  EXPECT_EQ(this->there().Find("TKVCFGMAIN"), 0u);
  EXPECT_FALSE(this->there().Post(found, {7036, 0, 0}));
  EXPECT_FALSE(this->there().Post(0, {7036, 0, 0}));
}

TYPED_TEST(WindowsContract, PostedMessagesArriveInOrderOnTheMainThreadWithEveryBit) {
  std::vector<WindowMessage> got;
  bool offMain = false;
  auto window = this->here().Create("TKVCFGMAIN", [&](const WindowMessage& m) {
    offMain |= !this->loop().IsMainThread();
    got.push_back(m);
    return 0;
  });
  ASSERT_NE(window, nullptr);
  const WindowHandle target = this->there().Find("TKVCFGMAIN");
  ASSERT_NE(target, 0u);
  const std::vector<WindowMessage> sent = {
      {7042, 9, 0}, {7036, 0, 0}, {0xFFFFFFFFu, UINTPTR_MAX, INTPTR_MIN}, {7040, 3, -1}};
  for (auto& m : sent) EXPECT_TRUE(this->there().Post(target, m));
  EXPECT_TRUE(this->RunUntil([&] { return got.size() >= sent.size(); }));
  EXPECT_FALSE(offMain);
  ASSERT_EQ(got.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i].msg, sent[i].msg);
    EXPECT_EQ(got[i].wParam, sent[i].wParam);
    EXPECT_EQ(got[i].lParam, sent[i].lParam);
  }
}

TYPED_TEST(WindowsContract, SendWaitsForTheAnswerAndFailsForAGoneWindow) {
  int handled = 0;
  auto window = this->here().Create("TKVMONMAIN", [&](const WindowMessage& m) -> std::intptr_t {
    ++handled;
    return static_cast<std::intptr_t>(m.msg) * 1000 + m.lParam;
  });
  ASSERT_NE(window, nullptr);
  const WindowHandle target = this->there().Find("TKVMONMAIN");
  ASSERT_NE(target, 0u);
  std::optional<std::intptr_t> first, second, afterDestroy;
  std::atomic<int> stage{0};
  std::thread sender([&] {
    first = this->there().Send(target, {7040, 2, -3});
    second = this->there().Send(target, {7, 0, 42});
    stage = 1;
    while (stage != 2) std::this_thread::sleep_for(1ms);
    afterDestroy = this->there().Send(target, {7040, 0, 0});
    stage = 3;
  });
  EXPECT_TRUE(this->RunUntil([&] {
    if (stage == 1) {
      window.reset();
      stage = 2;
    }
    return stage == 3;
  }));
  sender.join();
  EXPECT_EQ(first, 7040 * 1000 - 3);
  EXPECT_EQ(second, 7042);
  EXPECT_EQ(afterDestroy, std::nullopt);
  EXPECT_EQ(handled, 2);
}

TYPED_TEST(WindowsContract, AWindowSendingToItselfOnTheMainThreadIsAnsweredAtOnce) {
  auto window = this->here().Create(
      "TKVMONMAIN", [](const WindowMessage& m) -> std::intptr_t { return m.lParam + 1; });
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(this->here().Send(window->Handle(), {1, 0, 41}), 42);
  EXPECT_EQ(this->here().Find("TKVMONMAIN"), window->Handle());
}

}  // namespace
