// The microphone button end to end on Linux, with a sound server, a session bus and a store of
// the benchmark's own:
//  1. press → mute: a button press sent through the virtual mouse until a second client of the
//     sound server (libpulse, subscribed to the source) sees the mute state change; median and
//     99th percentile over N presses (default 200);
//  2. idle wake-ups of the kvmon process (context switches of all its threads per second) while
//     connected, and while the sound server is down (the reconnection's back-off), measured
//     after the back-off has reached its longest delay.
// Usage: mic_bench [PRESSES] [IDLE_SECONDS] [DOWN_SECONDS]
#include <dirent.h>
#include <pulse/pulseaudio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/kvmouse/kvmouse.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "mic_bench: %s\n", why.c_str());
  std::exit(1);
}

// Starts a program with its output in `log`; it dies with the benchmark.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log) {
  std::fflush(stdout);  // what is printed so far must not be printed by the child too
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!freopen(log.c_str(), "a", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t& pid, int sig = SIGTERM) {
  if (pid <= 0) return;
  kill(pid, sig);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

int Run(const std::string& command) { return std::system(command.c_str()); }

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Context switches of each thread of a process, by thread id.
std::map<std::string, long> Switches(pid_t pid) {
  std::map<std::string, long> out;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream status(tasks + "/" + e->d_name + "/status");
    std::string line;
    long total = 0;
    while (std::getline(status, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::stol(line.substr(line.find(':') + 1));
    out[e->d_name] = total;
  }
  closedir(dir);
  return out;
}

// Context switches of all of kvmon's threads per second over `over`. A thread that ended in
// between takes its count with it, so the threads that came and went are reported beside.
std::string WakeupsPerSecond(pid_t pid, std::chrono::seconds over) {
  const auto before = Switches(pid);
  std::this_thread::sleep_for(over);
  const auto after = Switches(pid);
  long switches = 0;
  int started = 0, ended = 0;
  std::string busy;  // the threads that woke, by name
  for (const auto& [tid, n] : after) {
    auto it = before.find(tid);
    if (it == before.end()) ++started;
    const long d = n - (it == before.end() ? 0 : it->second);
    switches += d;
    if (d == 0) continue;
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/task/" + tid + "/comm"), name);
    busy += (busy.empty() ? "" : ", ") + name + " " + std::to_string(d);
  }
  for (const auto& [tid, n] : before) ended += after.count(tid) == 0;
  char text[160];
  std::snprintf(text, sizeof text,
                "%.2f wake-ups/s over %lld s (%zu threads; %d started, %d ended)",
                static_cast<double>(switches) / static_cast<double>(over.count()),
                static_cast<long long>(over.count()), after.size(), started, ended);
  return text + (busy.empty() ? std::string() : "; woken: " + busy);
}

// A second client of the sound server that watches one source's mute state.
class MuteWatcher {
 public:
  MuteWatcher(const std::string& source) : source_(source) {
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "mic_bench");
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<MuteWatcher*>(self)->Signal(); }, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      Fail("the watching client cannot connect");
    pa_threaded_mainloop_start(loop_);
    pa_threaded_mainloop_lock(loop_);
    while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) Fail("the watching client failed");
      pa_threaded_mainloop_wait(loop_);
    }
    pa_context_set_subscribe_callback(context_, &MuteWatcher::OnEvent, this);
    pa_operation_unref(
        pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
    pa_operation_unref(
        pa_context_get_source_info_by_name(context_, source_.c_str(), &MuteWatcher::OnInfo, this));
    pa_threaded_mainloop_unlock(loop_);
  }
  ~MuteWatcher() {
    pa_threaded_mainloop_lock(loop_);
    pa_context_disconnect(context_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
  }
  // Waits until the source's mute state is `muted`; the moment this client learned it.
  std::optional<Clock::time_point> WaitMuted(bool muted, std::chrono::milliseconds limit) {
    std::unique_lock lock(m_);
    if (!cv_.wait_for(lock, limit, [&] { return known_ && muted_ == muted; })) return std::nullopt;
    return seenAt_;
  }

 private:
  void Signal() { pa_threaded_mainloop_signal(loop_, 0); }
  static void OnEvent(pa_context* c, pa_subscription_event_type_t t, std::uint32_t index,
                      void* self) {
    if ((t & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE) return;
    pa_operation_unref(pa_context_get_source_info_by_index(c, index, &MuteWatcher::OnInfo, self));
  }
  static void OnInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* self = static_cast<MuteWatcher*>(userdata);
    if (eol != 0 || !info || self->source_ != info->name) return;
    const auto now = Clock::now();
    std::lock_guard lock(self->m_);
    const bool muted = info->mute != 0;
    if (!self->known_ || muted != self->muted_) self->seenAt_ = now;
    self->known_ = true;
    self->muted_ = muted;
    self->cv_.notify_all();
  }

  std::string source_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::mutex m_;
  std::condition_variable cv_;
  bool known_ = false, muted_ = false;
  Clock::time_point seenAt_;
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  const int presses = argc > 1 ? std::atoi(argv[1]) : 200;
  const auto idle = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 20);
  const auto down = std::chrono::seconds(argc > 3 ? std::atoi(argv[3]) : 60);
  if (presses < 1 || idle.count() < 1 || down.count() < 1)
    Fail("usage: mic_bench [PRESSES] [IDLE_SECONDS] [DOWN_SECONDS]");

  const fs::path work = fs::temp_directory_path() / ("kvmicbench-" + std::to_string(getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "home");
  fs::create_directories(work / "run");
  fs::create_directories(work / "pulse");
  fs::permissions(work / "run", fs::perms::owner_all, fs::perm_options::replace);
  setenv("HOME", (work / "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (work / "home/.config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (work / "run").c_str(), 1);
  setenv("KVMON_REGISTRY", (work / "registry.db").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("PULSE_RUNTIME_PATH", (work / "pulse").c_str(), 1);
  setenv("PULSE_STATE_PATH", (work / "pulse").c_str(), 1);
  const std::string socket = (work / "pulse/native").string();
  setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
  const std::string log = (work / "log").string();

  // A session bus of its own.
  const std::string busFile = (work / "bus").string();
  pid_t bus =
      Spawn({"sh", "-c", "exec dbus-daemon --session --nofork --print-address=1 >" + busFile}, log);
  if (!WaitFor([&] { return fs::exists(busFile) && fs::file_size(busFile) > 0; }, 5s))
    Fail("dbus-daemon did not start");
  std::string address;
  std::getline(std::ifstream(busFile), address);
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

  const auto startPulse = [&] {
    pid_t pid =
        Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit=false",
               "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
               "module-null-source source_name=kvbench_mic", "-L", "module-null-sink"},
              log);
    if (!WaitFor([] { return Run("pactl get-source-mute kvbench_mic >/dev/null 2>&1") == 0; }, 10s))
      Fail("PulseAudio did not start (see " + log + ")");
    Run("pactl set-default-source kvbench_mic");
    return pid;
  };
  pid_t pulse = startPulse();

  if (Run(std::string(KV_KVSTORE) + " set-button 0 3 28 >/dev/null") != 0)
    Fail("kvstore could not bind the button");
  const std::string mouse = (work / "mouse.sock").string();
  pid_t kvmon = Spawn({KV_KVMON, "--virtual-mouse", mouse}, log);
  std::this_thread::sleep_for(4s);  // the read channel opens about 3 s after start
  if (waitpid(kvmon, nullptr, WNOHANG) != 0) Fail("kvmon ended (see " + log + ")");

  // 1. press → mute change seen by another client.
  MuteWatcher watcher("kvbench_mic");
  if (!watcher.WaitMuted(false, 5s)) Fail("the source does not start unmuted");
  const auto press = kv::kvmouse::ReportsFor("press", "3");
  std::vector<double> ms;
  bool muted = false;
  for (int i = 0; i < presses; ++i) {
    const auto t0 = Clock::now();
    const std::string err = kv::kvmouse::Send(mouse, press);
    if (!err.empty()) Fail("kvmouse: " + err);
    muted = !muted;
    const auto seen = watcher.WaitMuted(muted, 5s);
    if (!seen) Fail("press " + std::to_string(i + 1) + " changed nothing within 5 s");
    ms.push_back(std::chrono::duration<double, std::milli>(*seen - t0).count());
    std::this_thread::sleep_for(20ms);
  }
  std::printf(
      "press -> mute seen by a second client, %d presses: median %.2f ms, p99 %.2f ms, "
      "max %.2f ms\n",
      presses, Percentile(ms, 0.5), Percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()));

  // 2. idle wake-ups.
  std::this_thread::sleep_for(1s);
  std::printf("idle, connected: %s\n", WakeupsPerSecond(kvmon, idle).c_str());
  Stop(pulse, SIGKILL);
  // The back-off doubles from 250 ms to its longest delay (30 s) in about 32 s.
  std::printf("server down, first 32 s (back-off growing): %s\n",
              WakeupsPerSecond(kvmon, 32s).c_str());
  std::printf("server down, then (one attempt per 30 s): %s\n",
              WakeupsPerSecond(kvmon, down).c_str());
  pulse = startPulse();
  // After the restart the next press works again.
  MuteWatcher again("kvbench_mic");
  if (!again.WaitMuted(false, 5s)) Fail("the restarted source is not unmuted");
  const auto t0 = Clock::now();
  kv::kvmouse::Send(mouse, press);
  const auto seen = again.WaitMuted(true, 35s);
  if (!seen) Fail("no press worked after the restart");
  std::printf("first press after the restart: %.2f ms\n",
              std::chrono::duration<double, std::milli>(*seen - t0).count());

  Stop(kvmon);
  Stop(pulse);
  Stop(bus);
  fs::remove_all(work);
  return 0;
}
