// The Linux hook library end to end: the component binds the built libgxHook.so, the library
// reads "devices" that are named pipes carrying recorded evdev streams, and the callbacks arrive
// on this thread through its GLib main context.
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "hook/gx_hook.h"
#include "platform/sim/sim_dynlib.h"
#include "platform/sim/sim_platform.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> g_log_lines;

void Capture(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  g_log_lines.emplace_back(message);
}

input_event Ev(long ms, unsigned type, unsigned code, int value) {
  input_event e{};
  e.time.tv_sec = ms / 1000;
  e.time.tv_usec = (ms % 1000) * 1000;
  e.type = static_cast<std::uint16_t>(type);
  e.code = static_cast<std::uint16_t>(code);
  e.value = value;
  return e;
}

// Runs this thread's default GLib context until `done` holds (or two seconds pass).
bool Pump(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + 2s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(1ms);
  }
  return true;
}

class GxHookLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("gxhook-test-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    keyboardPipe_ = (dir_ / "kbd").string();
    mousePipe_ = (dir_ / "mouse").string();
    ASSERT_EQ(mkfifo(keyboardPipe_.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(mousePipe_.c_str(), 0600), 0);
    setenv("GXHOOK_DEVICES", (keyboardPipe_ + "=keyboard:" + mousePipe_ + "=mouse").c_str(), 1);
    signal(SIGPIPE, SIG_IGN);  // a pipe whose reader the library closed reports EPIPE instead
    g_log_lines.clear();
    handler_ = g_log_set_handler("gxHook", G_LOG_LEVEL_MASK, Capture, nullptr);
    libraries.AddSearchFolder(KV_GXHOOK_DIR);
    sim.platform().libraries = &libraries;
    sim.platform().messageBoxes = &sim.messageBoxes;
  }
  void TearDown() override {
    g_log_remove_handler("gxHook", handler_);
    unsetenv("GXHOOK_DEVICES");
    std::filesystem::remove_all(dir_);
  }

  // Opens the writing end of a pipe the library reads.
  int Writer(const std::string& path) { return open(path.c_str(), O_WRONLY | O_NONBLOCK); }
  void Send(int fd, const std::vector<input_event>& events) {
    const auto bytes = static_cast<ssize_t>(events.size() * sizeof(input_event));
    ASSERT_EQ(write(fd, events.data(), static_cast<size_t>(bytes)), bytes);
  }
  std::size_t ObservedOnlyNotes() {
    std::size_t n = 0;
    for (auto& l : g_log_lines) n += l.find("observed only") != std::string::npos;
    return n;
  }

  platform::sim::SimPlatform sim;
  platform::sim::SimDynamicLibraries libraries;
  std::filesystem::path dir_;
  std::string keyboardPipe_, mousePipe_;
  guint handler_ = 0;
};

TEST_F(GxHookLibrary, RecordsAKeyboardMacroFromTheDeviceStreamOnTheEnablingThread) {
  TgxHook hook(sim.platform());
  ASSERT_TRUE(hook.DLLLoaded());
  std::vector<std::string> events;
  const auto self = std::this_thread::get_id();
  bool sameThread = true;
  hook.OnRecordKeyboardMacroKey = [&](int type, int key, int state, int, double time,
                                      const std::string& text, const std::string& stateText,
                                      TMacroKeyList&) {
    sameThread = sameThread && std::this_thread::get_id() == self;
    events.push_back(std::to_string(type) + "/" + std::to_string(key) + "/" +
                     std::to_string(state) + "@" + std::to_string(static_cast<long>(time)) + " " +
                     text + " " + stateText);
  };
  hook.RecordKeyboardMacroKey();
  // Once the loop has run, the library tries to take the devices over; pipes cannot be grabbed.
  ASSERT_TRUE(Pump([&] { return ObservedOnlyNotes() > 0; }));

  const int kbd = Writer(keyboardPipe_);
  ASSERT_GE(kbd, 0);
  Send(kbd, {Ev(7000, EV_KEY, KEY_A, 1), Ev(7000, EV_SYN, SYN_REPORT, 0),
             Ev(7100, EV_KEY, KEY_A, 0), Ev(7100, EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(Pump([&] { return events.size() == 3; }));
  EXPECT_TRUE(sameThread);
  EXPECT_EQ(events, (std::vector<std::string>{"1/65/1@7000 A Down", "0/100/0@7100 100 ms",
                                              "1/65/0@7100 A Up"}));

  // The mouse is opened on demand; the observe-only note is not repeated.
  std::vector<int> wheel;
  hook.OnHookMouseAllButton = [&](TMouseButtons, int, std::int16_t ex, bool&) {
    wheel.push_back(ex);
  };
  hook.StartHookMouse();
  const int mouse = Writer(mousePipe_);
  ASSERT_GE(mouse, 0);
  Send(mouse, {Ev(8000, EV_REL, REL_WHEEL, -2), Ev(8000, EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(Pump([&] { return !wheel.empty(); }));
  EXPECT_EQ(wheel, std::vector<int>{-240});
  EXPECT_EQ(ObservedOnlyNotes(), 1u);

  // Once the keyboard hook is stopped the library lets go of the keyboard.
  hook.StopRecordKeyboardMacroKey();
  const input_event late[2] = {Ev(9000, EV_KEY, KEY_B, 1), Ev(9000, EV_SYN, SYN_REPORT, 0)};
  EXPECT_EQ(write(kbd, late, sizeof late), -1);
  EXPECT_EQ(errno, EPIPE);
  EXPECT_EQ(events.size(), 3u);
  close(kbd);
  close(mouse);
}

TEST_F(GxHookLibrary, ADeviceThatGoesAwayIsDroppedWithoutDisturbingTheOthers) {
  TgxHook hook(sim.platform());
  ASSERT_TRUE(hook.DLLLoaded());
  int keys = 0, buttons = 0;
  hook.OnHookKeyboardAllKey = [&](int, int, int, bool&, std::uint32_t) { ++keys; };
  hook.OnHookMouseAllButton = [&](TMouseButtons, int, std::int16_t, bool&) { ++buttons; };
  hook.StartHookKeyboard();
  hook.StartHookMouse();
  const int kbd = Writer(keyboardPipe_);
  const int mouse = Writer(mousePipe_);
  ASSERT_GE(kbd, 0);
  ASSERT_GE(mouse, 0);
  Send(kbd, {Ev(1, EV_KEY, KEY_Z, 1), Ev(1, EV_SYN, SYN_REPORT, 0)});
  close(kbd);  // end of stream: the keyboard is gone
  ASSERT_TRUE(Pump([&] { return keys == 1; }));
  Send(mouse, {Ev(2, EV_KEY, BTN_RIGHT, 1), Ev(2, EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(Pump([&] { return buttons == 1; }));
  close(mouse);
}

}  // namespace
}  // namespace kv
