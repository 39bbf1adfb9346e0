// Drives one interface through the monitor's hidraw service on a real node.
//   kv_hidraw_probe PATH read N MS [UNTIL]  prints up to N reports (hex), giving up after MS ms
//                                           or after a report that starts with the bytes UNTIL
//   kv_hidraw_probe NODE raw N MS [UNTIL]   the same with plain read()s of the node
//   kv_hidraw_probe PATH get-feature ID
//   kv_hidraw_probe PATH set-feature HEX | write HEX
// PATH is an interface path as kvhid list prints it (/dev/hidrawN or /dev/hidrawN#colNN).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/hidraw_hid.h"
#include "uhid_device.h"

using namespace kv::platform;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: kv_hidraw_probe PATH read N MS | get-feature ID | set-feature HEX | write HEX\n");
    return 2;
  }
  const std::string path = argv[1], cmd = argv[2];
  const std::string until = argc == 6 ? kvtest::HexBytes(kvtest::ParseHexBytes(argv[5]).data(),
                                                         kvtest::ParseHexBytes(argv[5]).size())
                                      : "";
  auto last = [&](const std::string& hex) { return !until.empty() && hex.rfind(until, 0) == 0; };
  if (cmd == "raw" && (argc == 5 || argc == 6)) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stoi(argv[4]));
    int got = 0;
    for (const int count = std::stoi(argv[3]); got < count;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[4096];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      const std::string hex = kvtest::HexBytes(buf, static_cast<std::size_t>(n));
      std::printf("report %s\n", hex.c_str());
      std::fflush(stdout);
      ++got;
      if (last(hex)) break;
    }
    return 0;
  }
  linux_::HidrawHid hid;
  hid.Interfaces();
  auto dev = hid.Open(path, HidOpenMode::Overlapped);
  if (!dev) {
    std::fprintf(stderr, "kv_hidraw_probe: cannot open %s\n", path.c_str());
    return 1;
  }
  const auto caps = dev->Capabilities();
  if (cmd == "read" && (argc == 5 || argc == 6)) {
    const int count = std::stoi(argv[3]);
    auto stop = hid.CreateStopEvent();
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread timer([&, ms = std::stoi(argv[4])] {
      std::unique_lock lock(mutex);
      done.wait_for(lock, std::chrono::milliseconds(ms), [&] { return finished; });
      stop->Set();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    int got = 0;
    std::vector<std::uint8_t> buffer(caps ? caps->inputReportByteLength : 64);
    while (got < count) {
      const auto r = dev->Read(buffer, *stop, 0);
      if (r.status != HidReadStatus::Report) {
        std::printf("end %d\n", static_cast<int>(r.status));
        break;
      }
      const std::string hex = kvtest::HexBytes(buffer.data(), r.bytes);
      std::printf("report %s\n", hex.c_str());
      std::fflush(stdout);
      ++got;
      if (last(hex)) break;
    }
    {
      std::lock_guard lock(mutex);
      finished = true;
    }
    done.notify_one();
    timer.join();
    return got == count ? 0 : 1;
  }
  std::uint32_t err = 0;
  if (cmd == "get-feature") {
    std::vector<std::uint8_t> report(caps ? caps->featureReportByteLength : 0, 0);
    if (report.empty()) return 1;
    report[0] = static_cast<std::uint8_t>(std::stoul(argv[3], nullptr, 16));
    err = dev->GetFeature(report);
    if (!err) std::printf("feature %s\n", kvtest::HexBytes(report.data(), report.size()).c_str());
  } else if (cmd == "set-feature") {
    err = dev->SetFeature(kvtest::ParseHexBytes(argv[3]));
  } else if (cmd == "write") {
    err = dev->WriteOutput(kvtest::ParseHexBytes(argv[3]));
  } else {
    return 2;
  }
  if (err) std::printf("error %u\n", err);
  return err ? 1 : 0;
}
