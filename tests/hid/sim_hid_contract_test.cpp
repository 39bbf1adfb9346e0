// The HID contract on the sim platform.
#include "platform/hid_contract.h"
#include "platform/sim/sim_hid.h"

namespace {

using kv::platform::sim::SimHid;

struct SimHidEnv {
  SimHid sim;
  kv::platform::Hid& hid() { return sim; }
  bool CanPlug() { return true; }
  std::string Plug(const std::vector<std::uint8_t>& descriptor) {
    return sim.Plug({"", {"HID\\VID_1234&PID_5678&MI_01", "HID\\VID_1234&PID_5678"}, descriptor});
  }
  void Input(const std::string& path, const std::vector<std::uint8_t>& report) {
    sim.Input(path, report);
  }
  void Unplug(const std::string& path) { sim.Unplug(path); }
  std::vector<std::vector<std::uint8_t>> Of(const std::string& path, SimHid::RequestKind kind) {
    std::vector<std::vector<std::uint8_t>> out;
    for (auto& r : sim.Requests(path))
      if (r.kind == kind) out.push_back(r.bytes);
    return out;
  }
  std::vector<std::vector<std::uint8_t>> Outputs(const std::string& path) {
    return Of(path, SimHid::RequestKind::Output);
  }
  std::vector<std::vector<std::uint8_t>> FeaturesSet(const std::string& path) {
    return Of(path, SimHid::RequestKind::SetFeature);
  }
  void AnswerFeature(const std::string& path, const std::vector<std::uint8_t>& report) {
    sim.SetFeatureReport(path, report);
  }
  void WaitForReader(const std::string& path) { sim.WaitForReaders(path, 1); }
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, HidContract, ::testing::Types<SimHidEnv>);
}
