#include "app/microphone.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace kv {

// What the audio system's threads hand over. They touch only the atomics and post to the
// loop; `owner` is read and cleared on the main thread only.
struct MicrophoneControl::Inbox {
  std::atomic<std::size_t> seen{0};
  std::atomic<bool> refreshPosted{false};
  MicrophoneControl* owner = nullptr;
};

MicrophoneControl::MicrophoneControl(platform::EventLoop& loop, platform::DebugOutput& debug,
                                     platform::Audio* audio, platform::MessageBoxes* boxes)
    : loop_(loop), debug_(debug), audio_(audio), boxes_(boxes), inbox_(std::make_shared<Inbox>()) {
  inbox_->owner = this;
}

MicrophoneControl::~MicrophoneControl() {
  loop_.StopTimer(retryTimer_);
  inbox_->owner = nullptr;  // tasks still queued find no one
  FEndpoint.reset();        // no notification after these two
  watch_.reset();
}

std::size_t MicrophoneControl::NotificationsSeen() const { return inbox_->seen.load(); }

void MicrophoneControl::OpenCaptureEndpoint() {
  if (!audio_) return;
  if (!watch_) Connect();  // opens the endpoint once connected
  else if (!FEndpoint) Reopen();
}

void MicrophoneControl::Connect() {
  if (!audio_ || watch_) return;
  const std::uint64_t generation = ++watchGeneration_;
  std::weak_ptr<Inbox> inbox = inbox_;
  platform::EventLoop* loop = &loop_;
  watch_ =
      audio_->WatchCaptureDevices([inbox, loop, generation](const platform::CaptureDeviceEvent& e) {
        loop->Post([inbox, generation, e] {
          auto box = inbox.lock();
          // News of an earlier watch (before a reconnection) is out of date.
          if (box && box->owner && box->owner->watchGeneration_ == generation)
            box->owner->OnDeviceEvent(e);
        });
      });
  if (!watch_) {
    unreachable_ = true;
    ScheduleReconnect();
    return;
  }
  if (retryTimer_) loop_.StopTimer(std::exchange(retryTimer_, 0));
  if (std::exchange(unreachable_, false))
    debug_.Write("microphone: connected to the audio service");
  retry_ = kFirstRetry;
  Reopen();
}

void MicrophoneControl::ScheduleReconnect() {
  if (retryTimer_) return;  // one is on its way already
  const auto delay = retry_;
  retry_ = std::min(retry_ * 2, kLastRetry);
  retryTimer_ = loop_.StartTimer(delay, false, [this] {
    retryTimer_ = 0;
    Connect();
  });
}

void MicrophoneControl::Reopen() {
  FEndpoint.reset();
  if (!audio_) return;
  auto endpoint = audio_->OpenDefaultCaptureEndpoint();
  if (endpoint) {
    // On the audio system's thread: count, and ask the main thread once per burst to read the
    // state again. Nothing else happens there, and nothing waits.
    std::weak_ptr<Inbox> inbox = inbox_;
    platform::EventLoop* loop = &loop_;
    endpoint->RegisterVolumeNotify([inbox, loop](const platform::VolumeNotification&) {
      auto box = inbox.lock();
      if (!box) return;
      box->seen.fetch_add(1, std::memory_order_relaxed);
      if (box->refreshPosted.exchange(true)) return;
      loop->Post([inbox] {
        auto b = inbox.lock();
        if (!b) return;
        b->refreshPosted = false;
        if (b->owner) b->owner->Refresh();
      });
    });
    FEndpoint = std::move(endpoint);
  }
  Refresh();
}

void MicrophoneControl::Refresh() {
  std::optional<bool> muted;
  if (FEndpoint) {
    muted = FEndpoint->GetMute();
    // A device that is gone is dropped; the watch or the next press opens the new default.
    if (!muted && FEndpoint->Invalidated()) FEndpoint.reset();
  }
  SetState(muted);
}

void MicrophoneControl::SetState(std::optional<bool> state) {
  if (state == state_) return;
  state_ = state;
  if (OnStateChanged) OnStateChanged(state_);
}

void MicrophoneControl::OnDeviceEvent(const platform::CaptureDeviceEvent& e) {
  switch (e.change) {
    case platform::CaptureDeviceChange::DefaultChanged: Reopen(); break;
    case platform::CaptureDeviceChange::DeviceRemoved:
      if (FEndpoint && FEndpoint->DeviceId() == e.device) Reopen();
      break;
    case platform::CaptureDeviceChange::ServiceLost:
      debug_.Write("microphone: lost the connection to the audio service; reconnecting");
      unreachable_ = true;
      FEndpoint.reset();
      watch_.reset();
      SetState(std::nullopt);
      ScheduleReconnect();
      break;
  }
}

std::optional<bool> MicrophoneControl::MicrophoneMute() {
  if (!audio_) return std::nullopt;
  if (!audio_->HasCaptureEndpoint()) {
    const auto muted = GetMixerLineMute();
    if (muted && SetMixerLineMute(!*muted)) return !*muted;
    return std::nullopt;
  }
  if (!watch_) Connect();  // a press does not wait for the next reconnection
  if (!watch_) {
    debug_.Write("microphone: no connection to the audio service; the press changes nothing");
    return std::nullopt;
  }
  if (!FEndpoint) Reopen();
  // A device that turns out to be gone is replaced by the current default once.
  for (int attempt = 0; attempt < 2 && FEndpoint; ++attempt) {
    const std::optional<bool> muted = FEndpoint->GetMute();
    if (muted && FEndpoint->SetMute(!*muted)) {
      SetState(!*muted);
      return !*muted;
    }
    if (!FEndpoint->Invalidated()) break;
    Reopen();
  }
  Refresh();
  return std::nullopt;
}

void MicrophoneControl::ShowMixerError(platform::MixerResult result) {
  if (!boxes_) return;
  if (result == platform::MixerResult::NoMuteControl)
    boxes_->ShowError("GetLineInfo Error", caption_);
  else if (result == platform::MixerResult::DetailsFailed)
    boxes_->ShowError("SetControlDetails Error", caption_);
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
