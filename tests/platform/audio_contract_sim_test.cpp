#include "audio_contract.h"
#include "platform/sim/sim_audio.h"

namespace {

struct SimAudioEnv {
  kv::platform::sim::SimAudio sim;
  int next = 0;
  kv::platform::Audio& audio() { return sim; }
  bool CanMakeDevices() { return true; }
  std::string AddDefaultCaptureDevice(bool muted) {
    const std::string name = "mic" + std::to_string(next++);
    sim.AddCaptureDevice(name, muted);
    sim.SetDefaultCaptureDevice(name);
    return name;
  }
  void RemoveCaptureDevice(const std::string& name) { sim.RemoveCaptureDevice(name); }
  std::optional<bool> Muted(const std::string& name) { return sim.Muted(name); }
  void SetMutedElsewhere(const std::string& name, bool muted) {
    sim.SetMutedElsewhere(name, muted);
  }
  void StopService() { sim.StopService(); }
  void StartService() { sim.StartService(); }
  kv::platform::MixerResult ExpectedMixerResult() { return kv::platform::MixerResult::Ok; }
  bool MixerKeepsItsValue() { return true; }
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, AudioContract, ::testing::Types<SimAudioEnv>);
}
