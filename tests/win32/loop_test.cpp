// The Windows message loop as the event loop: order, hand-over from other threads, timers, quit.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/win32_loop.h"

using namespace kv::platform;
using namespace kv::platform::win32;
using namespace std::chrono_literals;

namespace {

TEST(Win32Loop, PostedTasksRunInOrderAndQuitEndsRunWithItsCode) {
  Win32EventLoop loop;
  std::vector<int> ran;
  for (int i = 0; i < 50; ++i) loop.Post([&, i] { ran.push_back(i); });
  loop.Post([&] {
    loop.Post([&] { ran.push_back(100); });  // queued by a task: still runs before the quit
    loop.Post([&] { loop.Quit(7); });
  });
  EXPECT_EQ(loop.Run(), 7);
  ASSERT_EQ(ran.size(), 51u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[i], i);
  EXPECT_EQ(ran.back(), 100);
}

TEST(Win32Loop, QuitBeforeRunReturnsAtOnce) {
  Win32EventLoop loop;
  loop.Quit(3);
  EXPECT_EQ(loop.Run(), 3);
}

TEST(Win32Loop, RunAndWaitRunsOnTheMainThreadAndWaitsForIt) {
  Win32EventLoop loop;
  std::atomic<int> results{0};
  std::vector<int> order;  // touched on the main thread only
  std::thread reader([&] {
    for (int i = 0; i < 20; ++i) {
      bool onMain = false;
      const bool ran = loop.RunAndWait([&, i] {
        onMain = loop.IsMainThread();
        order.push_back(i);
      });
      // The caller sees the task's effect as soon as RunAndWait returns.
      if (ran && onMain) ++results;
    }
    loop.Quit(0);
  });
  EXPECT_EQ(loop.Run(), 0);
  reader.join();
  EXPECT_EQ(results.load(), 20);
  ASSERT_EQ(order.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);
  EXPECT_TRUE(loop.RunAndWait([] {}));  // on the main thread: at once
}

TEST(Win32Loop, QuitReleasesAWaitingThreadWithoutRunningItsTask) {
  Win32EventLoop loop;
  std::atomic<bool> started{false}, ran{false};
  std::atomic<int> answer{-1};
  std::thread reader([&] {
    started = true;
    answer = loop.RunAndWait([&] { ran = true; }) ? 1 : 0;
  });
  while (!started) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(100ms);  // the reader is now blocked: the loop does not run
  loop.Quit(0);
  reader.join();
  EXPECT_EQ(answer.load(), 0);
  loop.Run();  // drains the queue: the cancelled task must not run even now
  EXPECT_FALSE(ran.load());
  // Once quit, a hand-over is refused at once.
  std::thread late([&] { answer = loop.RunAndWait([&] { ran = true; }) ? 1 : 0; });
  late.join();
  EXPECT_EQ(answer.load(), 0);
  EXPECT_FALSE(ran.load());
}

TEST(Win32Loop, OneShotAndRepeatingTimersFireAndStop) {
  Win32EventLoop loop;
  int once = 0, repeated = 0;
  loop.StartTimer(20ms, false, [&] { ++once; });
  TimerId stopped = loop.StartTimer(10ms, false, [&] { ADD_FAILURE() << "a stopped timer fired"; });
  loop.StopTimer(stopped);
  loop.StopTimer(stopped);  // a second stop does nothing
  loop.StopTimer(987654);
  TimerId rep = 0;
  rep = loop.StartTimer(15ms, true, [&] {
    if (++repeated == 4) loop.StopTimer(rep);  // stopping from inside its own handler
  });
  EXPECT_NE(rep, 0u);
  loop.StartTimer(400ms, false, [&] { loop.Quit(0); });
  loop.Run();
  EXPECT_EQ(once, 1);
  EXPECT_EQ(repeated, 4);
}

TEST(Win32Loop, TimerIntervalsAreRoughlyKept) {
  Win32EventLoop loop;
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration fired{};
  loop.StartTimer(150ms, false, [&] {
    fired = std::chrono::steady_clock::now() - start;
    loop.Quit(0);
  });
  loop.Run();
  EXPECT_GE(fired, 140ms);
  EXPECT_LT(fired, 2000ms);
}

TEST(Win32Loop, TasksPostedFromManyThreadsAllRunKeepingEachThreadsOrder) {
  Win32EventLoop loop;
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> done{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) loop.Post([&, t, i] { seen[t].push_back(i); });
      if (++done == kThreads) loop.Post([&] { loop.Quit(0); });
    });
  loop.Run();
  for (auto& p : posters) p.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kEach));
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(seen[t][i], i);
  }
}

}  // namespace
