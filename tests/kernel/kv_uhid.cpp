// A uhid device driven from standard input, for the real-kernel checks.
//   kv_uhid [--name NAME] [--vid HEX] [--pid HEX] [--feature HEX]... DESCRIPTOR-FILE
// Commands, one a line: "input HEX" (report ID first), "feature HEX" (the answer to a feature
// read of that report ID), "unplug", "plug", "burst N MS" (N unplug/plug cycles, MS apart), "quit".
// It prints "hidraw /dev/hidrawN" after each plug and one line per request of the kernel
// ("open", "close", "output ..", "get-report ..", "set-report ..").
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>

#include "uhid_device.h"

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void Plug(kvtest::UhidDevice& dev) {
  dev.Create();
  const std::string node = dev.WaitHidraw(5000);
  Say(node.empty() ? "error no hidraw node appeared" : "hidraw " + node);
}

void Drain(kvtest::UhidDevice& dev) {
  pollfd p{dev.Fd(), POLLIN, 0};
  while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) Say(dev.HandleEvent());
}

bool Command(kvtest::UhidDevice& dev, const std::string& line) {
  std::istringstream in(line);
  std::string word, rest;
  in >> word;
  std::getline(in, rest);
  if (word == "input") {
    dev.Input(kvtest::ParseHexBytes(rest));
  } else if (word == "feature") {
    dev.AnswerFeature(kvtest::ParseHexBytes(rest));
  } else if (word == "unplug") {
    dev.Destroy();
    Say("unplugged");
  } else if (word == "plug") {
    Plug(dev);
  } else if (word == "burst") {
    int count = 0, ms = 0;
    std::istringstream(rest) >> count >> ms;
    for (int i = 0; i < count; ++i) {
      dev.Destroy();
      Drain(dev);
      timespec gap{ms / 1000, (ms % 1000) * 1000000L};
      nanosleep(&gap, nullptr);
      dev.Create();
      nanosleep(&gap, nullptr);
      Drain(dev);
    }
    const std::string node = dev.WaitHidraw(5000);
    Say(node.empty() ? "error no hidraw node appeared" : "hidraw " + node);
    Say("burst done");
  } else if (word == "quit") {
    return false;
  } else if (!word.empty()) {
    Say("error unknown command " + word);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kvtest::UhidParams params;
  std::vector<std::vector<std::uint8_t>> features;
  std::string file;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      const bool value = i + 1 < argc;
      if (a == "--name" && value) params.name = argv[++i];
      else if (a == "--vid" && value) params.vendor = std::stoul(argv[++i], nullptr, 16);
      else if (a == "--pid" && value) params.product = std::stoul(argv[++i], nullptr, 16);
      else if (a == "--feature" && value) features.push_back(kvtest::ParseHexBytes(argv[++i]));
      else if (file.empty() && a[0] != '-') file = a;
      else
        throw std::runtime_error(
            "usage: kv_uhid [--name N] [--vid HEX] [--pid HEX] [--feature HEX]... DESCRIPTOR-FILE");
    }
    if (file.empty()) throw std::runtime_error("no descriptor file given");
    params.descriptor = kvtest::LoadDescriptorFile(file);
    kvtest::UhidDevice dev(params);
    for (auto& f : features) dev.AnswerFeature(f);
    Plug(dev);
    // Commands arrive through a pipe: no stdio read-ahead, or lines would wait in its buffer.
    std::string pending;
    for (;;) {
      pollfd fds[2] = {{0, POLLIN, 0}, {dev.Fd(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents & POLLIN) Say(dev.HandleEvent());
      if (fds[0].revents & (POLLIN | POLLHUP)) {
        char buf[512];
        const ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
          const std::string line = pending.substr(0, eol);
          pending.erase(0, eol + 1);
          try {
            if (!Command(dev, line)) return 0;
          } catch (const std::exception& e) {
            Say(std::string("error ") + e.what());
          }
        }
      }
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kv_uhid: %s\n", e.what());
    return 1;
  }
}
