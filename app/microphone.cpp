#include "app/microphone.h"

#include <atomic>

namespace kv {

// Touched by the audio system's thread: an atomic counter and nothing else.
struct MicrophoneControl::Notifications {
  std::atomic<std::size_t> seen{0};
};

MicrophoneControl::MicrophoneControl(platform::Audio* audio, platform::MessageBoxes* boxes)
    : audio_(audio), boxes_(boxes), notifications_(std::make_shared<Notifications>()) {}

MicrophoneControl::~MicrophoneControl() = default;

std::size_t MicrophoneControl::NotificationsSeen() const { return notifications_->seen.load(); }

void MicrophoneControl::OpenCaptureEndpoint() {
  if (!audio_ || FEndpoint) return;
  auto endpoint = audio_->OpenDefaultCaptureEndpoint();
  if (!endpoint) return;
  // The notification is registered for the endpoint's lifetime; it only counts.
  auto n = notifications_;
  endpoint->RegisterVolumeNotify([n](const platform::VolumeNotification&) { ++n->seen; });
  FEndpoint = std::move(endpoint);
}

void MicrophoneControl::MicrophoneMute() {
  if (!audio_) return;
  if (!audio_->HasCaptureEndpoint()) {
    if (auto muted = GetMixerLineMute()) SetMixerLineMute(!*muted);
    return;
  }
  if (!FEndpoint) OpenCaptureEndpoint();
  if (!FEndpoint) return;
  if (auto muted = FEndpoint->GetMute()) FEndpoint->SetMute(!*muted);
}

void MicrophoneControl::ShowMixerError(platform::MixerResult result) {
  if (!boxes_) return;
  if (result == platform::MixerResult::NoMuteControl) boxes_->ShowError("GetLineInfo Error", "");
  else if (result == platform::MixerResult::DetailsFailed)
    boxes_->ShowError("SetControlDetails Error", "");
}

std::optional<bool> MicrophoneControl::GetMixerLineMute() {
  platform::LegacyMixer* mixer = audio_ ? audio_->Mixer() : nullptr;
  if (!mixer) return std::nullopt;
  bool muted = false;
  const auto result = mixer->GetMicrophoneMute(muted);
  if (result == platform::MixerResult::Ok) return muted;
  ShowMixerError(result);
  return std::nullopt;
}

bool MicrophoneControl::SetMixerLineMute(bool muted) {
  platform::LegacyMixer* mixer = audio_ ? audio_->Mixer() : nullptr;
  if (!mixer) return false;
  const auto result = mixer->SetMicrophoneMute(muted);
  ShowMixerError(result);
  return result == platform::MixerResult::Ok;
}

}  // namespace kv
