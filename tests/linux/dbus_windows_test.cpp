// What only the bus gives: names that tools can type, introspection, and peers driving a window
// with the bus's own command-line tools.
#include <gtest/gtest.h>

#include <thread>

#include "platform/linux/dbus_windows.h"
#include "platform/linux/qt_loop.h"
#include "test_env.h"

using namespace kv::platform;
using namespace kv::platform::linux_;
using namespace std::chrono_literals;

namespace {

TEST(DbusWindowNames, AreReadableForPlainClassesAndNeverCollide) {
  EXPECT_EQ(DbusWindows::BusName("TKVMONMAIN"), "org.kvmon.window.TKVMONMAIN");
  EXPECT_EQ(DbusWindows::ObjectPath("TKVCFGMAIN"), "/org/kvmon/window/TKVCFGMAIN");
  EXPECT_EQ(DbusWindows::BusName("tkvmonmain"), DbusWindows::BusName("TKVMONMAIN"));
  // Characters a bus name cannot hold are escaped, the escape character included.
  EXPECT_EQ(DbusWindows::BusName("a.b"), "org.kvmon.window.A_2EB");
  EXPECT_NE(DbusWindows::BusName("A_2EB"), DbusWindows::BusName("a.b"));
  EXPECT_EQ(DbusWindows::BusName("7z"), "org.kvmon.window._37Z");  // no leading digit
  EXPECT_EQ(DbusWindows::BusName(""), "");
  EXPECT_EQ(DbusWindows::BusName(std::string(300, 'A')), "");
  EXPECT_EQ(DbusWindows::ObjectPath(std::string(300, 'A')), "");
}

class DbusWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv::test::EnsureQtApp();
    std::string why;
    address = kv::test::PrivateBusAddress(&why);
    if (address.empty()) GTEST_SKIP() << why;
    bus = std::make_unique<kv::test::BusConnection>();
    loop = std::make_unique<QtEventLoop>();
    windows = std::make_unique<DbusWindows>(*loop, bus->get());
  }
  // Runs `command` on a worker while the main loop serves the bus; returns its output.
  std::string RunWhileServing(const std::string& command, int* status) {
    std::string out;
    std::thread worker([&] {
      out = kv::test::RunCommand(command + " 2>&1", status);
      loop->Quit(0);
    });
    loop->StartTimer(10s, false, [&] { loop->Quit(1); });
    EXPECT_EQ(loop->Run(), 0) << "timed out running " << command;
    worker.join();
    return out;
  }
  std::string address;
  std::unique_ptr<kv::test::BusConnection> bus;
  std::unique_ptr<QtEventLoop> loop;
  std::unique_ptr<DbusWindows> windows;
};

TEST_F(DbusWindowsTest, BusctlSendReachesTheWindowAndGetsItsAnswer) {
  std::vector<WindowMessage> got;
  auto window = windows->Create("TKVMONMAIN", [&](const WindowMessage& m) -> std::intptr_t {
    got.push_back(m);
    return m.msg == 7037 ? 1 : -2;
  });
  ASSERT_NE(window, nullptr);
  int status = -1;
  const std::string out =
      RunWhileServing("busctl --address='" + address +
                          "' call org.kvmon.window.TKVMONMAIN /org/kvmon/window/TKVMONMAIN "
                          "org.kvmon.Window Send utx 7037 0 5",
                      &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "x 1\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msg, 7037u);
  EXPECT_EQ(got[0].lParam, 5);
}

TEST_F(DbusWindowsTest, GdbusSeesTheInterfaceAndWrongArgumentsGetAnErrorNotACrash) {
  int calls = 0;
  auto window = windows->Create("TKVMONMAIN", [&](const WindowMessage&) { return ++calls; });
  ASSERT_NE(window, nullptr);
  int status = -1;
  const std::string xml = RunWhileServing("gdbus introspect --address '" + address +
                                              "' --dest org.kvmon.window.TKVMONMAIN "
                                              "--object-path /org/kvmon/window/TKVMONMAIN",
                                          &status);
  EXPECT_EQ(status, 0) << xml;
  EXPECT_NE(xml.find("interface org.kvmon.Window"), std::string::npos) << xml;
  EXPECT_NE(xml.find("Send(in  u msg"), std::string::npos) << xml;
  EXPECT_NE(xml.find("Post("), std::string::npos) << xml;

  window.reset();
  windows.reset();
  loop = std::make_unique<QtEventLoop>();  // the first one has quit
  windows = std::make_unique<DbusWindows>(*loop, bus->get());
  window = windows->Create("TKVMONMAIN", [&](const WindowMessage&) { return ++calls; });
  ASSERT_NE(window, nullptr);
  const std::string err =
      RunWhileServing("busctl --address='" + address +
                          "' call org.kvmon.window.TKVMONMAIN /org/kvmon/window/TKVMONMAIN "
                          "org.kvmon.Window Send s hello",
                      &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(err.find("expected arguments"), std::string::npos) << err;
  EXPECT_EQ(calls, 0);
}

TEST_F(DbusWindowsTest, ASecondOwnerOfAClassQueuesAndTakesOverWhenTheFirstGoes) {
  kv::test::BusConnection otherBus;
  DbusWindows other(*loop, otherBus.get());
  auto first = windows->Create("TKVCFGMAIN", [](const WindowMessage&) { return 1; });
  auto second = other.Create("TKVCFGMAIN", [](const WindowMessage&) { return 2; });
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  // "other" finds the first program's window, not its own queued one.
  EXPECT_NE(other.Find("TKVCFGMAIN"), second->Handle());
  first.reset();
  EXPECT_EQ(other.Find("TKVCFGMAIN"), second->Handle());
}

// The configurator stand-in as a program of its own on the private bus, run on a worker thread
// until it gets WM_MONITOR_EXIT; its output is what it printed.
class Configurator {
 public:
  Configurator(DbusWindows& windows, const std::string& address, const std::string& options)
      : windows_(windows) {
    worker_ = std::thread([this, address, options] {
      output_ = kv::test::RunCommand("env DBUS_SESSION_BUS_ADDRESS='" + address + "' '" +
                                     KV_FAKE_CONFIGURATOR + "' " + options + " 2>&1");
    });
    const auto end = std::chrono::steady_clock::now() + 10s;
    while ((handle = windows_.Find("TKVCFGMAIN")) == 0 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(20ms);
  }
  std::string End() {
    if (worker_.joinable()) {
      windows_.Post(handle, {7036, 0, 0});
      worker_.join();
    }
    return output_;
  }
  ~Configurator() { End(); }
  WindowHandle handle = 0;

 private:
  DbusWindows& windows_;
  std::thread worker_;
  std::string output_;
};

TEST_F(DbusWindowsTest, ASendServesTheCallSentBackWhileItWaitsForTheAnswer) {
  bool sending = false;
  std::vector<std::pair<WindowMessage, bool>> got;  // with "arrived during the Send"
  auto window = windows->Create("TKVMONMAIN", [&](const WindowMessage& m) -> std::intptr_t {
    got.emplace_back(m, sending);
    return 35;
  });
  ASSERT_NE(window, nullptr);
  Configurator cfg(*windows, address, "--answer-switch");
  ASSERT_NE(cfg.handle, 0u);
  const auto start = std::chrono::steady_clock::now();
  sending = true;
  const auto result = windows->Send(cfg.handle, {7040, 3, 0});
  sending = false;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // not the 10 s timeout
  EXPECT_EQ(result, std::optional<std::intptr_t>(0));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first.msg, 7035u);
  EXPECT_EQ(got[0].first.lParam, 3);
  EXPECT_TRUE(got[0].second);
  const std::string out = cfg.End();
  const auto switched = out.find("7040 3 0\n"), answered = out.find("answered 35\n");
  EXPECT_NE(answered, std::string::npos) << out;
  EXPECT_LT(switched, answered) << out;
}

TEST_F(DbusWindowsTest, ASendToAStalledPeerTimesOutAndServesIncomingSendsMeanwhile) {
  windows->SetSendTimeout(1500);
  bool sending = false;
  std::vector<std::pair<WindowMessage, bool>> got;
  auto window = windows->Create("TKVMONMAIN", [&](const WindowMessage& m) -> std::intptr_t {
    got.emplace_back(m, sending);
    return 7;
  });
  ASSERT_NE(window, nullptr);
  Configurator cfg(*windows, address, "--stall-ms 2500");
  ASSERT_NE(cfg.handle, 0u);
  int status = -1;
  std::string busctl;
  std::thread other([&] {
    busctl = kv::test::RunCommand("sleep 0.1; busctl --address='" + address +
                                      "' call org.kvmon.window.TKVMONMAIN "
                                      "/org/kvmon/window/TKVMONMAIN org.kvmon.Window Send utx "
                                      "7037 0 9 2>&1",
                                  &status);
  });
  const auto start = std::chrono::steady_clock::now();
  sending = true;
  const auto result = windows->Send(cfg.handle, {7040, 1, 0});
  sending = false;
  const auto waited = std::chrono::steady_clock::now() - start;
  other.join();
  EXPECT_FALSE(result);
  EXPECT_GE(waited, 1400ms);
  EXPECT_LT(waited, 2400ms);
  EXPECT_EQ(status, 0) << busctl;
  EXPECT_EQ(busctl, "x 7\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first.msg, 7037u);
  EXPECT_EQ(got[0].first.lParam, 9);
  EXPECT_TRUE(got[0].second);
}

}  // namespace
