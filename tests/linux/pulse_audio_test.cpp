// The capture endpoint against a real sound server started by the test (a PulseAudio daemon
// with null sources in a private runtime folder), checked with pactl.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/linux/pulse_audio.h"
#include "test_env.h"

using namespace kv::platform;
using namespace kv::platform::linux_;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class PulseServer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kvpa-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    socket = (dir / "native").string();
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      setenv("HOME", dir.c_str(), 1);
      setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
      setenv("PULSE_STATE_PATH", dir.c_str(), 1);
      freopen("/dev/null", "w", stderr);
      const std::string listen = "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
      execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit=false",
             "-L", listen.c_str(), "-L", "module-null-source source_name=kvtest_mic", "-L", "module-null-sink",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    for (int i = 0; i < 100 && Pactl("get-default-source") != "kvtest_mic\n"; ++i) std::this_thread::sleep_for(50ms);
    if (Pactl("get-default-source") != "kvtest_mic\n") GTEST_SKIP() << "no PulseAudio daemon could be started here";
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    unsetenv("PULSE_SERVER");
    fs::remove_all(dir);
  }
  std::string Pactl(const std::string& args) {
    return kv::test::RunCommand("PULSE_SERVER=unix:" + socket + " pactl " + args + " 2>/dev/null");
  }
  fs::path dir;
  std::string socket;
  pid_t pid = -1;
  PulseAudio audio;
};

TEST_F(PulseServer, TogglingTheEndpointMutesTheDefaultSourceAndReadsOtherProgramsChanges) {
  ASSERT_TRUE(audio.HasCaptureEndpoint());
  auto endpoint = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(endpoint, nullptr);
  EXPECT_EQ(endpoint->GetMute(), std::optional<bool>(false));
  EXPECT_TRUE(endpoint->SetMute(true));
  EXPECT_EQ(Pactl("get-source-mute kvtest_mic"), "Mute: yes\n");
  EXPECT_EQ(endpoint->GetMute(), std::optional<bool>(true));
  Pactl("set-source-mute kvtest_mic 0");  // another program unmutes it
  EXPECT_EQ(endpoint->GetMute(), std::optional<bool>(false));
}

TEST_F(PulseServer, TheEndpointKeepsItsDeviceWhenTheDefaultChanges) {
  auto endpoint = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(endpoint, nullptr);
  Pactl("load-module module-null-source source_name=kvtest_other");
  Pactl("set-default-source kvtest_other");
  ASSERT_EQ(Pactl("get-default-source"), "kvtest_other\n");
  EXPECT_TRUE(endpoint->SetMute(true));
  EXPECT_EQ(Pactl("get-source-mute kvtest_mic"), "Mute: yes\n");
  EXPECT_EQ(Pactl("get-source-mute kvtest_other"), "Mute: no\n");
  // A new endpoint takes the new default.
  auto second = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetMute(), std::optional<bool>(false));
}

TEST_F(PulseServer, VolumeNoticesArriveOffTheCallingThreadAndStopWithTheEndpoint) {
  auto endpoint = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(endpoint, nullptr);
  std::atomic<int> notices{0};
  std::atomic<bool> sawMuted{false}, onCaller{false};
  const auto caller = std::this_thread::get_id();
  ASSERT_TRUE(endpoint->RegisterVolumeNotify([&](const VolumeNotification& n) {
    if (std::this_thread::get_id() == caller) onCaller = true;
    if (n.muted) sawMuted = true;
    ++notices;
  }));
  Pactl("set-source-mute kvtest_mic 1");
  for (int i = 0; i < 200 && !sawMuted; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(sawMuted);
  EXPECT_FALSE(onCaller);
  endpoint.reset();
  const int before = notices;
  Pactl("set-source-mute kvtest_mic 0");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(notices, before);
}

TEST_F(PulseServer, AGoneServerFailsReadsAndWritesInsteadOfHanging) {
  auto endpoint = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(endpoint, nullptr);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
  EXPECT_EQ(endpoint->GetMute(), std::nullopt);
  EXPECT_FALSE(endpoint->SetMute(true));
  EXPECT_EQ(audio.OpenDefaultCaptureEndpoint(), nullptr);
}

TEST(AlsaMixer, AMissingCardIsReportedAsNoDevice) {
  AlsaMixer mixer("hw:99");
  bool muted = true;
  EXPECT_EQ(mixer.GetMicrophoneMute(muted), MixerResult::NoDevice);
  EXPECT_TRUE(muted);  // untouched
  EXPECT_EQ(mixer.SetMicrophoneMute(false), MixerResult::NoDevice);
}

}  // namespace
