// The capture endpoint against a real sound server started by the test (a PulseAudio daemon
// with null sources in a private runtime folder), checked with pactl.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/audio_contract.h"
#include "platform/linux/pulse_audio.h"
#include "test_env.h"

using namespace kv::platform;
using namespace kv::platform::linux_;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A PulseAudio daemon of the test's own, reached through PULSE_SERVER while it runs.
class PulseDaemon {
 public:
  // False (with a reason) when no daemon could be started here.
  bool Start(std::string* why) {
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
      execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
             "--disallow-exit=false", "-L", listen.c_str(), "-L",
             "module-null-source source_name=kvtest_mic", "-L", "module-null-sink",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    for (int i = 0; i < 100 && Pactl("get-default-source") != "kvtest_mic\n"; ++i)
      std::this_thread::sleep_for(50ms);
    if (Pactl("get-default-source") == "kvtest_mic\n") return true;
    *why = "no PulseAudio daemon could be started here";
    return false;
  }
  void Stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
    unsetenv("PULSE_SERVER");
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }
  ~PulseDaemon() { Stop(); }
  std::string Pactl(const std::string& args) {
    return kv::test::RunCommand("PULSE_SERVER=unix:" + socket + " pactl " + args + " 2>/dev/null");
  }
  fs::path dir;
  std::string socket;
  pid_t pid = -1;
};

// The shared audio contract on the daemon: each device is a null source of its own.
struct PulseEnv {
  PulseEnv() { running = daemon.Start(&why); }
  Audio& audio() { return pulse; }
  bool CanMakeDevices() { return running; }
  std::string AddDefaultCaptureDevice(bool muted) {
    const std::string name = "kvtest_dev" + std::to_string(++made);
    std::string index = daemon.Pactl("load-module module-null-source source_name=" + name);
    while (!index.empty() && index.back() == '\n') index.pop_back();
    modules[name] = index;
    daemon.Pactl("set-default-source " + name);
    daemon.Pactl("set-source-mute " + name + (muted ? " 1" : " 0"));
    return name;
  }
  void RemoveCaptureDevice(const std::string& name) {
    daemon.Pactl("unload-module " + modules[name]);
  }
  std::optional<bool> Muted(const std::string& name) {
    const std::string out = daemon.Pactl("get-source-mute " + name);
    if (out == "Mute: yes\n") return true;
    if (out == "Mute: no\n") return false;
    return std::nullopt;
  }
  void SetMutedElsewhere(const std::string& name, bool muted) {
    daemon.Pactl("set-source-mute " + name + (muted ? " 1" : " 0"));
  }
  // The daemon is killed and a new one listens on the same socket (its own null source the
  // default again).
  void StopService() {
    kill(daemon.pid, SIGKILL);
    waitpid(daemon.pid, nullptr, 0);
    daemon.pid = -1;
  }
  void StartService() {
    std::string why;
    ASSERT_TRUE(daemon.Start(&why)) << why;
  }
  PulseDaemon daemon;
  bool running = false;
  std::string why;
  int made = 0;
  std::map<std::string, std::string> modules;
  PulseAudio pulse;
};

class PulseServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!daemon.Start(&why)) GTEST_SKIP() << why;
  }
  std::string Pactl(const std::string& args) { return daemon.Pactl(args); }
  PulseDaemon daemon;
  PulseAudio audio;
  pid_t& pid = daemon.pid;
};

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

TEST_F(PulseServer, AHungServerFailsARequestAfterTheTimeoutAndAnswersAgainLater) {
  auto endpoint = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(endpoint, nullptr);
  kill(pid, SIGSTOP);
  const auto start = std::chrono::steady_clock::now();
  const auto muted = endpoint->GetMute();
  const auto took = std::chrono::steady_clock::now() - start;
  kill(pid, SIGCONT);
  EXPECT_EQ(muted, std::nullopt);
  EXPECT_GE(took, PulseAudio::kRequestTimeout - 100ms);
  EXPECT_LT(took, PulseAudio::kRequestTimeout + 2s);
  EXPECT_FALSE(endpoint->Invalidated()) << "a slow server is no removed device";
  EXPECT_EQ(endpoint->GetMute(), std::optional<bool>(false));
}

TEST(AlsaMixer, AMissingCardIsReportedAsNoDevice) {
  AlsaMixer mixer("hw:99");
  bool muted = true;
  EXPECT_EQ(mixer.GetMicrophoneMute(muted), MixerResult::NoDevice);
  EXPECT_TRUE(muted);  // untouched
  EXPECT_EQ(mixer.SetMicrophoneMute(false), MixerResult::NoDevice);
}

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Pulse, AudioContract, ::testing::Types<PulseEnv>);
}
