#pragma once
// A sim machine with HID interfaces of the mouse for the component tests.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "hid/gx_hid_data.h"
#include "hid/gx_hid_read_thread.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_platform.h"

namespace kv::testing {

using Bytes = std::vector<std::uint8_t>;

// Usage page 0xFFA0 with usage `usage`: input report 7 (24 buttons, usages 1..24, then 4 vendor
// bytes: 8 bytes with the ID), output report 7 (8 bytes: 9 with the ID), feature report 9 (4: 5).
inline Bytes MouseDescriptor(std::uint8_t usage = 1) {
  return {0x06, 0xA0, 0xFF, 0x09, usage, 0xA1, 0x01, 0x85, 0x07, 0x05, 0x09, 0x19, 0x01,
          0x29, 0x18, 0x15, 0x00, 0x25,  0x01, 0x75, 0x01, 0x95, 0x18, 0x81, 0x02, 0x06,
          0xA0, 0xFF, 0x09, 0x02, 0x26,  0xFF, 0x00, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02,
          0x95, 0x08, 0x91, 0x02, 0x85,  0x09, 0x95, 0x04, 0xB1, 0x02, 0xC0};
}

// A keyboard-style interface (generic desktop / keyboard) of the same device.
inline Bytes KeyboardDescriptor() {
  return {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
          0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xC0};
}

inline constexpr USAGE_AND_PAGE kMouseUsage{1, 0xFFA0};

class HidTest : public ::testing::Test {
 protected:
  HidTest() {
    p.platform().hid = &hid;
    p.platform().devices = &notes;
    TgxHIDData::ResetParseState();
  }

  std::string Plug(const std::string& path, std::vector<std::string> ids,
                   Bytes descriptor = MouseDescriptor()) {
    return hid.Plug({path, std::move(ids), std::move(descriptor)});
  }
  void WriteConfig(const std::string& text) {
    std::ofstream(p.paths.ConfigFile(), std::ios::binary) << text;
  }
  std::unique_ptr<TgxHIDData> MakeData() { return std::make_unique<TgxHIDData>(p.platform()); }
  // Runs main-loop tasks until pred() holds; read threads end or deliver on their own time, so
  // this waits in real time (at most 10 s).
  template <typename Pred>
  bool WaitFor(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      p.loop.RunPending();
      if (pred()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  std::size_t Traces(const std::string& text) {
    std::size_t n = 0;
    for (auto& l : p.debug.Lines()) n += l == text;
    return n;
  }

  platform::sim::SimPlatform p;
  platform::sim::SimDeviceNotifications notes{p.loop};
  platform::sim::SimHid hid{&notes};
};

}  // namespace kv::testing
