// Report-to-effect latency on the real kernel, from a uhid device this program makes itself.
//   kv_latency hidraw N DESCRIPTOR           uhid write -> a bare reader's read() of the hidraw
//   node kv_latency pulse N SOURCE DESCRIPTOR PID uhid write of a button-3 press -> the PulseAudio
//                                            source's mute change, seen by a client of the server
// Prints "latency MODE median_us p99_us count". The device's vendor ID is 4B56; in pulse mode a
// running monitor must have the device (product PID) in its include list, with button 3 bound to
// the microphone mute.
#include <poll.h>
#include <pulse/pulseaudio.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "uhid_device.h"

namespace {

long long NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

void Report(const char* mode, std::vector<long long> us) {
  std::sort(us.begin(), us.end());
  const std::size_t n = us.size();
  const std::size_t p99 = n == 0 ? 0 : std::min(n - 1, (n * 99 + 99) / 100 - 1);
  std::printf("latency %s %lld %lld %zu\n", mode, n ? us[n / 2] : -1, n ? us[p99] : -1, n);
}

void DrainUhid(kvtest::UhidDevice& dev) {
  pollfd p{dev.Fd(), POLLIN, 0};
  while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) dev.HandleEvent();
}

const std::vector<std::uint8_t> kPress{7, 8, 0, 0, 0, 0, 0, 0}, kRelease{7, 0, 0, 0, 0, 0, 0, 0};

int Hidraw(int count, kvtest::UhidParams params) {
  params.product = 0x00F0;
  kvtest::UhidDevice dev(params);
  dev.Create();
  const std::string node = dev.WaitHidraw(5000);
  const int fd = node.empty() ? -1 : open(node.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("no hidraw node to read");
  std::vector<long long> us;
  std::uint8_t buf[64];
  for (int i = 0; i < count; ++i) {
    const long long t0 = NowUs();
    dev.Input(kPress);
    if (read(fd, buf, sizeof buf) <= 0) throw std::runtime_error("hidraw read failed");
    us.push_back(NowUs() - t0);
    dev.Input(kRelease);
    if (read(fd, buf, sizeof buf) <= 0) throw std::runtime_error("hidraw read failed");
    DrainUhid(dev);
  }
  close(fd);
  Report("hidraw", us);
  return 0;
}

struct Pulse {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* ctx = nullptr;
  std::string source;
  int mute = -1;         // last state read
  bool changed = false;  // a change event came since the last query
  bool querying = false;

  explicit Pulse(std::string name) : source(std::move(name)) {
    ctx = pa_context_new(pa_mainloop_get_api(loop), "kv_latency");
    if (pa_context_connect(ctx, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
      throw std::runtime_error("no sound server");
    while (pa_context_get_state(ctx) != PA_CONTEXT_READY) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx)))
        throw std::runtime_error("sound server connection failed");
      pa_mainloop_iterate(loop, 1, nullptr);
    }
    pa_context_set_subscribe_callback(ctx, &Pulse::OnEvent, this);
    pa_operation_unref(pa_context_subscribe(ctx, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
    Query();
    while (querying) pa_mainloop_iterate(loop, 1, nullptr);
    if (mute < 0) throw std::runtime_error("no source " + source);
  }
  ~Pulse() {
    pa_context_disconnect(ctx);
    pa_context_unref(ctx);
    pa_mainloop_free(loop);
  }
  void Query() {
    querying = true;
    pa_operation_unref(
        pa_context_get_source_info_by_name(ctx, source.c_str(), &Pulse::OnInfo, this));
  }
  static void OnEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
    static_cast<Pulse*>(self)->changed = true;
  }
  static void OnInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* p = static_cast<Pulse*>(self);
    if (info) p->mute = info->mute ? 1 : 0;
    if (eol) p->querying = false;
  }
  // Waits until the mute state differs from `from`; false after `ms` ms.
  bool WaitMute(int from, long long ms) {
    const long long end = NowUs() + ms * 1000;
    while (NowUs() < end) {
      if (changed && !querying) {
        changed = false;
        Query();
      }
      if (!querying && mute != from) return true;
      pa_mainloop_prepare(loop, 10000);
      pa_mainloop_poll(loop);
      pa_mainloop_dispatch(loop);
    }
    return false;
  }
};

int PulseMode(int count, const std::string& source, kvtest::UhidParams params) {
  Pulse pulse(source);
  kvtest::UhidDevice dev(params);
  dev.Create();
  if (dev.WaitHidraw(5000).empty()) throw std::runtime_error("no hidraw node");
  // Until the monitor has the device open and reading, presses are lost: press until one counts.
  bool warm = false;
  for (int i = 0; i < 60 && !warm; ++i) {
    DrainUhid(dev);
    const int before = pulse.mute;
    dev.Input(kPress);
    dev.Input(kRelease);
    warm = pulse.WaitMute(before, 1000);
  }
  if (!warm) throw std::runtime_error("the monitor never reacted to the device");
  std::vector<long long> us;
  int missed = 0;
  for (int i = 0; i < count; ++i) {
    DrainUhid(dev);
    const int before = pulse.mute;
    const long long t0 = NowUs();
    dev.Input(kPress);
    dev.Input(kRelease);
    if (pulse.WaitMute(before, 20000)) us.push_back(NowUs() - t0);
    else ++missed;
  }
  Report("pulse", us);
  if (missed) std::printf("missed %d\n", missed);
  return missed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    kvtest::UhidParams params;
    params.name = "kvtest latency";
    if (mode == "hidraw" && argc == 4) {
      params.descriptor = kvtest::LoadDescriptorFile(argv[3]);
      return Hidraw(std::stoi(argv[2]), params);
    }
    if (mode == "pulse" && argc == 6) {
      params.descriptor = kvtest::LoadDescriptorFile(argv[4]);
      params.product = std::stoul(argv[5], nullptr, 16);
      return PulseMode(std::stoi(argv[2]), argv[3], params);
    }
    std::fprintf(stderr, "usage: kv_latency hidraw N DESCRIPTOR | pulse N SOURCE DESCRIPTOR PID\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kv_latency: %s\n", e.what());
    return 1;
  }
}
