// HID read path figures on the sim platform:
//  1. wake-ups per second of an idle process with two open interfaces (read threads waiting);
//  2. time from a report's arrival to the return of the main thread's OnData, over 10,000 reports;
//  3. HidStopRead with 8 read threads, half of them blocked handing a report to the main thread.
// and through the Linux hidraw service, on the virtual mouse of `kvmon --virtual-mouse`:
//  4. idle wake-ups and the time from a datagram to its socket to the return of OnData.
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/linux/virtual_mouse.h"
#include "hid/gx_hid_data.h"
#include "platform/linux/hidraw_hid.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_platform.h"

using namespace kv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::vector<std::uint8_t> kDescriptor = {
    0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x07, 0x05, 0x09, 0x19, 0x01, 0x29,
    0x18, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x18, 0x81, 0x02, 0x06, 0xA0, 0xFF,
    0x09, 0x02, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0xC0};
constexpr USAGE_AND_PAGE kUsage{1, 0xFFA0};

// Context switches of every thread of this process but the calling one.
long OtherThreadSwitches() {
  const std::string self = std::to_string(gettid());
  long total = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) {
    const std::string tid = e->d_name;
    if (tid == "." || tid == ".." || tid == self) continue;
    std::ifstream status("/proc/self/task/" + tid + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::stol(line.substr(line.find(':') + 1));
  }
  closedir(dir);
  return total;
}

struct World {
  World() { p.platform().hid = &hid; }
  platform::sim::SimPlatform p;
  platform::sim::SimHid hid;
  std::vector<std::string> Plug(int n) {
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i)
      paths.push_back(hid.Plug({"", {"HID\\VID_1044&PID_7A0D"}, kDescriptor}));
    return paths;
  }
};

void IdleWakeups() {
  World w;
  const auto paths = w.Plug(2);
  TgxHIDData data(w.p.platform());
  data.OnData = [](auto&&...) {};
  data.HidFindAndReadDevice(kUsage, "*");
  for (auto& path : paths) w.hid.WaitForReaders(path, 1);
  const long before = OtherThreadSwitches();
  std::this_thread::sleep_for(3s);
  const long after = OtherThreadSwitches();
  std::printf(
      "idle, 2 interfaces open: %.2f wake-ups/s of the read threads (%llu sim read wake-ups)\n",
      (after - before) / 3.0, static_cast<unsigned long long>(w.hid.IdleWakeups()));
  data.HidStopRead();
  while (data.RunningThreads() != 0) std::this_thread::sleep_for(1ms);

  // The same measurement for a thread that sleeps 1 ms and waits 1 ms per step, for scale.
  std::atomic<bool> stop{false};
  std::thread poller([&] {
    while (!stop) {
      std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(1ms);
    }
  });
  const long pb = OtherThreadSwitches();
  std::this_thread::sleep_for(1s);
  const long pa = OtherThreadSwitches();
  stop = true;
  poller.join();
  std::printf("  for scale, one 1 ms polling thread: %ld wake-ups/s\n", pa - pb);
}

// Times each report from its sending to the return of OnData on the main thread; the sender
// waits for each report before the next, so one time is in flight at a time.
class LatencyProbe {
 public:
  LatencyProbe(TgxHIDData& data, int reports) {
    micros_.reserve(static_cast<std::size_t>(reports));
    data.OnData = [this](auto&&...) {
      micros_.push_back(std::chrono::duration<double, std::micro>(Clock::now().time_since_epoch() -
                                                                  Clock::duration(sentAt_.load()))
                            .count());
      handled_.fetch_add(1, std::memory_order_release);
    };
  }
  void MarkSent() { sentAt_ = Clock::now().time_since_epoch().count(); }
  void WaitHandled(int count) const {
    while (handled_.load(std::memory_order_acquire) != count) std::this_thread::yield();
  }
  // Call once the sender has ended.
  void Print(const char* what) {
    if (micros_.empty()) {
      std::printf("%s: no report arrived\n", what);
      return;
    }
    std::sort(micros_.begin(), micros_.end());
    std::printf("%s, %zu reports: median %.1f us, p99 %.1f us, max %.1f us\n", what, micros_.size(),
                micros_[micros_.size() / 2], micros_[micros_.size() * 99 / 100], micros_.back());
  }

 private:
  std::vector<double> micros_;
  std::atomic<Clock::rep> sentAt_{0};
  std::atomic<int> handled_{0};
};

void Latency() {
  World w;
  const auto path = w.Plug(1).front();
  TgxHIDData data(w.p.platform());
  constexpr int kReports = 10000;
  LatencyProbe probe(data, kReports);
  data.HidFindAndReadDevice(kUsage, "*");
  std::thread feeder([&] {
    w.hid.WaitForReaders(path, 1);
    for (int i = 0; i < kReports; ++i) {
      w.hid.WaitForReaders(path, 1);  // the previous report has been handed over
      probe.MarkSent();
      w.hid.Input(path, {7, static_cast<std::uint8_t>(i), 0, 0, 1, 2, 3, 4});
      probe.WaitHandled(i + 1);
    }
    w.p.loop.Post([&] { w.p.loop.Quit(); });
  });
  w.p.loop.Run();
  feeder.join();
  probe.Print("report -> OnData returned on the main thread");
  data.HidStopRead();
  while (data.RunningThreads() != 0) std::this_thread::sleep_for(1ms);
}

void StopWithEightThreads() {
  World w;
  const auto paths = w.Plug(8);
  TgxHIDData data(w.p.platform());
  std::atomic<int> delivered{0};
  data.OnData = [&](auto&&...) { ++delivered; };
  constexpr int kRounds = 1000;
  int clean = 0;
  std::vector<double> endMicros;
  for (int round = 0; round < kRounds; ++round) {
    data.HidFindAndReadDevice(kUsage, "*");
    for (auto& path : paths) w.hid.WaitForReaders(path, 1);
    // Half the threads get a report and block handing it to the (busy) main thread.
    for (int i = 0; i < 4; ++i) w.hid.Input(paths[i], {7, 1, 0, 0, 0, 0, 0, 0});
    for (int i = 0; i < 4; ++i)
      while (w.hid.WaitingReads(paths[i]) != 0) std::this_thread::yield();
    const auto t0 = Clock::now();
    data.HidStopRead();
    const auto deadline = t0 + 5s;
    while (data.RunningThreads() != 0 && Clock::now() < deadline) w.p.loop.RunPending();
    endMicros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    std::size_t open = 0;
    for (auto& path : paths) open += w.hid.OpenObjects(path);
    if (data.RunningThreads() == 0 && open == 0) ++clean;
  }
  std::sort(endMicros.begin(), endMicros.end());
  std::printf(
      "HidStopRead, 8 threads (4 in the hand-over): every thread stopped in %d of %d rounds; "
      "all ended after median %.0f us, max %.0f us; %d reports delivered (expected %d)\n",
      clean, kRounds, endMicros[endMicros.size() / 2], endMicros.back(), delivered.load(),
      4 * kRounds);
}

// The hidraw device code reads the virtual mouse's node as it reads a kernel node; the mouse's
// own listener thread adds one hand-over that a kernel node does not have.
void HidrawVirtualMouse() {
  platform::sim::SimPlatform p;
  platform::linux_::HidrawHid hid(nullptr);
  p.platform().hid = &hid;
  const std::string socketPath = "/tmp/kvbench-mouse-" + std::to_string(getpid()) + ".sock";
  app::VirtualMouse mouse(hid, socketPath);
  const int out = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  socketPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (out < 0 || connect(out, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::printf("hidraw: cannot reach the virtual mouse's socket\n");
    return;
  }
  TgxHIDData data(p.platform());
  constexpr int kReports = 10000;
  LatencyProbe probe(data, kReports);
  data.HidFindAndReadDevice(kUsage, "*");
  std::this_thread::sleep_for(200ms);  // the read thread opens the node and waits in poll()
  const long before = OtherThreadSwitches();
  std::this_thread::sleep_for(3s);
  const long after = OtherThreadSwitches();
  std::printf(
      "hidraw, virtual mouse open and idle: %.2f wake-ups/s of its threads (%zu read thread)\n",
      (after - before) / 3.0, data.RunningThreads());
  std::thread feeder([&] {
    for (int i = 0; i < kReports; ++i) {
      const std::uint8_t report[8] = {7, static_cast<std::uint8_t>(i), 0, 0, 1, 2, 3, 4};
      probe.MarkSent();
      if (send(out, report, sizeof report, 0) != sizeof report) break;
      probe.WaitHandled(i + 1);
    }
    p.loop.Post([&] { p.loop.Quit(); });
  });
  p.loop.Run();
  feeder.join();
  close(out);
  probe.Print("hidraw: datagram -> OnData returned on the main thread");
  data.HidStopRead();
  while (data.RunningThreads() != 0) std::this_thread::sleep_for(1ms);
}

}  // namespace

int main() {
  IdleWakeups();
  Latency();
  StopWithEightThreads();
  HidrawVirtualMouse();
}
