// TgxHIDEvent: start-up notices and HID interface arrivals and removals on the main loop.
#include "hid/gx_hid_event.h"

#include "hid_fixture.h"

using namespace kv;
using namespace kv::testing;
using namespace std::chrono_literals;

namespace {

class HidEventTest : public HidTest {
 protected:
  void Watch(TgxHIDEvent& e) {
    e.OnDeviceArrival = [&](TgxHIDEvent& s) {
      log.push_back({'A', p.clock.Elapsed()});
      EXPECT_EQ(&s, &e);
    };
    e.OnDeviceRemove = [&](TgxHIDEvent&) { log.push_back({'R', p.clock.Elapsed()}); };
    e.OnDeviceChange = [&](TgxHIDEvent&) { log.push_back({'C', p.clock.Elapsed()}); };
  }
  std::string Kinds() const {
    std::string s;
    for (auto& [k, t] : log) s += k;
    return s;
  }
  std::vector<std::pair<char, std::int64_t>> log;
};

TEST_F(HidEventTest, StartUpGivesOneChangeThenOneArrivalAfter1500ms) {
  TgxHIDEvent e(p.platform());
  Watch(e);
  EXPECT_TRUE(e.Registered());
  p.loop.RunPending();
  EXPECT_EQ(Kinds(), "C");
  p.loop.Advance(1499ms);
  EXPECT_EQ(Kinds(), "C");
  p.loop.Advance(1ms);
  EXPECT_EQ(log, (std::vector<std::pair<char, std::int64_t>>{{'C', 0}, {'A', 1500}}));
  p.loop.Advance(10s);
  EXPECT_EQ(Kinds(), "CA");
  EXPECT_EQ(p.loop.ActiveTimers(), 0u);
}

TEST_F(HidEventTest, EachInterfaceOfADeviceArrivesAndLeavesOnItsOwn) {
  TgxHIDEvent e(p.platform());
  p.loop.Advance(2s);
  Watch(e);
  std::vector<std::string> paths;
  for (int i = 0; i < 3; ++i)
    paths.push_back(Plug("mi" + std::to_string(i), {"HID\\VID_1044&PID_7A0D"}));
  p.loop.RunPending();
  EXPECT_EQ(Kinds(), "AAA");
  for (auto& path : paths) hid.Unplug(path);
  p.loop.RunPending();
  EXPECT_EQ(Kinds(), "AAARRR");
  // Notices about something other than a device interface raise nothing.
  notes.Notify({platform::DeviceChangeKind::Arrival, false, ""});
  notes.Notify({platform::DeviceChangeKind::Removal, false, ""});
  notes.Notify({platform::DeviceChangeKind::NodesChanged, false, ""});
  p.loop.RunPending();
  EXPECT_EQ(Kinds(), "AAARRRC");
}

TEST_F(HidEventTest, AFailedRegistrationStillGivesTheStartUpNotices) {
  notes.SetRegistrationFails(true);
  TgxHIDEvent e(p.platform());
  Watch(e);
  EXPECT_FALSE(e.Registered());
  Plug("a", {"HID\\X"});
  p.loop.Advance(1500ms);
  EXPECT_EQ(Kinds(), "CA");
}

TEST_F(HidEventTest, WithoutAnArrivalHandlerTheTimerStillStopsAndDestructionSilencesEverything) {
  {
    TgxHIDEvent e(p.platform());
    p.loop.Advance(1500ms);
    EXPECT_EQ(p.loop.ActiveTimers(), 0u);
  }
  auto e = std::make_unique<TgxHIDEvent>(p.platform());
  Watch(*e);
  Plug("a", {"HID\\X"});  // queued, not yet delivered
  e.reset();
  EXPECT_EQ(notes.Subscribers(), 0u);
  EXPECT_EQ(p.loop.ActiveTimers(), 0u);
  p.loop.Advance(2s);
  EXPECT_TRUE(log.empty());
}

TEST_F(HidEventTest, AnExceptionFromAHandlerGoesToTheCentralHandlerAndTheWatcherGoesOn) {
  struct Watcher : TgxHIDEvent {
    using TgxHIDEvent::TgxHIDEvent;
    int caught = 0;
    void HandleException(std::exception_ptr) override { ++caught; }
  } e(p.platform());
  int arrivals = 0;
  e.OnDeviceArrival = [&](TgxHIDEvent&) {
    if (++arrivals == 1) throw std::runtime_error("handler failed");
  };
  Plug("a", {"HID\\X"});
  Plug("b", {"HID\\X"});
  p.loop.RunPending();
  EXPECT_EQ(arrivals, 2);
  EXPECT_EQ(e.caught, 1);
}

TEST_F(HidEventTest, WithoutAnOverrideAFailingHandlerIsTracedAlsoFromTheStartUpArrival) {
  TgxHIDEvent e(p.platform());
  int arrivals = 0;
  e.OnDeviceArrival = [&](TgxHIDEvent&) {
    throw std::runtime_error("arrival " + std::to_string(++arrivals) + " failed");
  };
  e.OnDeviceChange = [&](TgxHIDEvent&) { throw 42; };  // not even an exception object
  p.loop.Advance(2s);  // the posted change notice and the start-up arrival
  Plug("a", {"HID\\X"});
  p.loop.RunPending();
  EXPECT_EQ(arrivals, 2);
  const std::vector<std::string> expected = {
      "device arrival watcher: a handler failed: an unknown exception",
      "device arrival watcher: a handler failed: arrival 1 failed",
      "device arrival watcher: a handler failed: arrival 2 failed"};
  EXPECT_EQ(p.debug.Lines(), expected);
}

}  // namespace
