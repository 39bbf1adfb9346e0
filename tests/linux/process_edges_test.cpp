// The process's edges on Linux: termination signals served by the main loop, and the choice of a
// Qt platform that never aborts for want of a display.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <vector>

#include "platform/linux/qt_display.h"
#include "platform/linux/qt_loop.h"
#include "platform/linux/termination_signals.h"
#include "test_env.h"

using namespace kv::platform::linux_;
using namespace std::chrono_literals;

namespace {

TEST(TerminationSignals, EachSignalReachesTheLoopAndTheDefaultComesBackAfterwards) {
  kv::test::EnsureQtApp();
  QtEventLoop loop;
  TerminationSignals::Catch();
  raise(SIGTERM);  // caught before anyone watches: it waits for the watcher
  std::vector<int> seen;
  bool onMain = true;
  {
    TerminationSignals watch([&](int s) {
      onMain = onMain && loop.IsMainThread();
      seen.push_back(s);
      if (seen.size() == 3) loop.Quit(0);
    });
    raise(SIGINT);
    raise(SIGHUP);
    loop.StartTimer(5s, false, [&] { loop.Quit(1); });
    EXPECT_EQ(loop.Run(), 0);
  }
  EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
  EXPECT_TRUE(onMain);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction now {};
    sigaction(s, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << s;
  }
}

TEST(DisplayChoice, OffscreenIsTheLastResortAndTheUsersChoiceStands) {
  EXPECT_EQ(QtPlatformsToTry(nullptr, nullptr, nullptr), "offscreen");
  EXPECT_EQ(QtPlatformsToTry("", "", ""), "offscreen");
  EXPECT_EQ(QtPlatformsToTry(nullptr, ":0", nullptr), "xcb;offscreen");
  EXPECT_EQ(QtPlatformsToTry(nullptr, ":0", "wayland-0"), "wayland;xcb;offscreen");
  EXPECT_EQ(QtPlatformsToTry(nullptr, nullptr, "wayland-0"), "wayland;offscreen");
  EXPECT_EQ(QtPlatformsToTry("xcb", nullptr, nullptr), "");
}

}  // namespace
