#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/sim/sim_platform.h"

using namespace kv::platform;
using namespace std::chrono_literals;

namespace {

TEST(SimLoop, TimersFireInOrderAtTheirVirtualTimesAndOneShotsOnce) {
  sim::SimPlatform p;
  std::vector<std::pair<char, std::int64_t>> fired;
  p.loop.StartTimer(1500ms, false, [&] { fired.push_back({'a', p.clock.Elapsed()}); });
  p.loop.StartTimer(400ms, true, [&] { fired.push_back({'r', p.clock.Elapsed()}); });
  p.loop.Advance(1000ms);
  EXPECT_EQ(fired, (std::vector<std::pair<char, std::int64_t>>{{'r', 400}, {'r', 800}}));
  p.loop.Advance(1000ms);
  EXPECT_EQ(fired.size(), 6u);  // r@1200, a@1500, r@1600, r@2000
  EXPECT_EQ(fired[3], (std::pair<char, std::int64_t>{'a', 1500}));
  EXPECT_EQ(p.clock.Elapsed(), 2000);
  EXPECT_EQ(p.loop.ActiveTimers(), 1u);
}

TEST(SimLoop, ATimerRestartedFromItsOwnHandlerOrAnotherTimerIsRescheduled) {
  sim::SimPlatform p;
  TimerId reopen = 0;
  int reopened = 0;
  auto arrival = [&] {
    p.loop.StopTimer(reopen);
    reopen = p.loop.StartTimer(1500ms, false, [&] { ++reopened; });
  };
  arrival();
  p.loop.Advance(500ms);
  arrival();
  p.loop.Advance(500ms);
  arrival();
  p.loop.Advance(1499ms);
  EXPECT_EQ(reopened, 0);
  p.loop.Advance(1ms);
  EXPECT_EQ(reopened, 1);
  p.loop.Advance(10s);
  EXPECT_EQ(reopened, 1);
}

TEST(SimLoop, TicksWrapLikeTheRealCounterAndLocalTimeAdvances) {
  sim::SimPlatform p;
  p.clock.SetTickBase(0xFFFFFFF0u);
  p.clock.SetLocalTime({2024, 2, 28, 23, 59, 59, 990});
  p.loop.Advance(20ms);
  EXPECT_EQ(p.clock.TickCount(), 4u);
  const LocalTime t = p.clock.Now();
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29);  // leap day
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.millisecond, 10);
}

TEST(SimLoop, RunAndWaitRunsOnTheMainThreadAndQuitReleasesWaiters) {
  sim::SimPlatform p;
  std::thread::id ranOn;
  bool result = false;
  std::thread reader(
      [&] { result = p.loop.RunAndWait([&] { ranOn = std::this_thread::get_id(); }); });
  ASSERT_TRUE(p.loop.RunUntil([&] { return ranOn != std::thread::id{}; }));
  reader.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  // A waiter that the main loop never serves is released by Quit with false.
  bool second = true;
  std::atomic<bool> started{false};
  std::thread late([&] {
    started = true;
    second = p.loop.RunAndWait([] {});
  });
  while (!started) std::this_thread::yield();
  p.loop.Quit(0);
  late.join();
  EXPECT_FALSE(second) << "a waiter the loop never served was not released with false";
  // After Quit another thread's task is refused without running; the main thread's runs at once.
  bool ranLate = false, third = true;
  std::thread([&] { third = p.loop.RunAndWait([&] { ranLate = true; }); }).join();
  EXPECT_FALSE(third);
  EXPECT_FALSE(ranLate);
  bool ranOnMain = false;
  EXPECT_TRUE(p.loop.RunAndWait([&] { ranOnMain = true; }));
  EXPECT_TRUE(ranOnMain);
}

TEST(SimLoop, RunReturnsTheQuitCodeAndAdvancesIdleTimeWhenAsked) {
  sim::SimPlatform p;
  p.loop.SetIdleAdvance(true);
  p.loop.StartTimer(3s, false, [&] { p.loop.Quit(7); });
  EXPECT_EQ(p.loop.Run(), 7);
  EXPECT_EQ(p.clock.Elapsed(), 3000);
}

TEST(SimWindows, FindPostAndSendByClassName) {
  sim::SimPlatform p;
  std::vector<WindowMessage> got;
  auto cfg = p.windows.Create("TKVCFGMAIN", [&](const WindowMessage& m) {
    got.push_back(m);
    return static_cast<std::intptr_t>(m.msg + 1);
  });
  ASSERT_TRUE(cfg);
  const WindowHandle h = p.windows.Find("tkvcfgmain");
  EXPECT_EQ(h, cfg->Handle());
  EXPECT_EQ(p.windows.Find("TKVMONMAIN"), 0u);

  EXPECT_TRUE(p.windows.Post(h, {7036, 0, 0}));
  EXPECT_TRUE(got.empty()) << "a posted message is delivered by the loop, not inline";
  EXPECT_EQ(p.windows.Send(h, {7040, 1, 2}), std::optional<std::intptr_t>(7041));
  p.loop.RunPending();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].msg, 7040u);
  EXPECT_EQ(got[1].msg, 7036u);

  // A message queued for a window that is then destroyed is dropped.
  EXPECT_TRUE(p.windows.Post(h, {1, 0, 0}));
  cfg.reset();
  p.loop.RunPending();
  EXPECT_EQ(got.size(), 2u);
  EXPECT_FALSE(p.windows.Post(h, {1, 0, 0}));
  EXPECT_FALSE(p.windows.Send(h, {1, 0, 0}));
}

TEST(SimInstance, OneHolderPerName) {
  sim::SimPlatform p;
  auto a = p.instance.Acquire("TKVMONMAIN");
  ASSERT_TRUE(a);
  EXPECT_FALSE(p.instance.Acquire("TKVMONMAIN"));
  EXPECT_TRUE(p.instance.Acquire("other"));
  a.reset();
  EXPECT_TRUE(p.instance.Acquire("TKVMONMAIN"));
}

TEST(SimRegistry, OtherValueTypesAreReportedAsSuchAndWriteFailuresThrow) {
  sim::SimPlatform p;
  p.registry.SetRawValue(RootKey::CurrentUser, "s\\k", "allsettings.pfd", 1, {'a', 0});
  auto key = p.registry.OpenKey(RootKey::CurrentUser, "S\\K");
  ASSERT_TRUE(key);
  auto v = key->QueryValue("allsettings.pfd");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->kind, ValueKind::Other);
  EXPECT_EQ(v->rawType, 1u);
  p.registry.FailWrites(true);
  EXPECT_THROW(key->SetDword("ProfileID", 1), RegistryError);
}

TEST(SimPaths, EachPlatformHasItsOwnFoldersRemovedAfterwards) {
  std::string root;
  {
    sim::SimPlatform a, b;
    EXPECT_NE(a.paths.ExecutableDir(), b.paths.ExecutableDir());
    EXPECT_TRUE(std::filesystem::is_directory(a.paths.DocumentsDir()));
    EXPECT_EQ(a.paths.ConfigFile(), a.paths.ExecutableDir() + "config.ini");
    root = a.paths.Root();
  }
  EXPECT_FALSE(std::filesystem::exists(root));
}

}  // namespace
