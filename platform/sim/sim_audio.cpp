#include "platform/sim/sim_audio.h"

namespace kv::platform::sim {

class SimAudio::Endpoint : public CaptureEndpoint {
 public:
  Endpoint(SimAudio& owner, std::string device) : owner_(owner), device_(std::move(device)) {}
  ~Endpoint() override {
    if (registration_) owner_.Unregister(registration_);
  }
  std::optional<bool> GetMute() override { return owner_.Get(device_); }
  bool SetMute(bool muted) override { return owner_.Set(device_, muted, true); }
  bool RegisterVolumeNotify(VolumeNotify notify) override {
    if (registration_) owner_.Unregister(registration_);
    registration_ = owner_.Register(device_, std::move(notify));
    return registration_ != 0;
  }

 private:
  SimAudio& owner_;
  std::string device_;
  std::uint64_t registration_ = 0;
};

class SimAudio::SimMixer : public LegacyMixer {
 public:
  explicit SimMixer(SimAudio& owner) : owner_(owner) {}
  MixerResult GetMicrophoneMute(bool& muted) override {
    std::lock_guard lock(owner_.mutex_);
    const MixerResult r = Steps();
    if (r == MixerResult::Ok) muted = owner_.mixerMuted_;
    return r;
  }
  MixerResult SetMicrophoneMute(bool muted) override {
    std::lock_guard lock(owner_.mutex_);
    const MixerResult r = Steps();
    if (r == MixerResult::Ok) owner_.mixerMuted_ = muted;
    return r;
  }

 private:
  // The steps of one operation up to the failing one; every open is matched by a close.
  MixerResult Steps() {
    ++owner_.calls_;
    const MixerResult fail = owner_.mixerFailure_;
    if (fail == MixerResult::NoDevice || fail == MixerResult::OpenFailed) return fail;
    ++owner_.mixerOpens_;
    return fail;
  }
  SimAudio& owner_;
};

SimAudio::SimAudio() : mixer_(std::make_unique<SimMixer>(*this)) {
  notifier_ = std::thread([this] { NotifierMain(); });
}

SimAudio::~SimAudio() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  notifier_.join();
}

std::unique_ptr<CaptureEndpoint> SimAudio::OpenDefaultCaptureEndpoint() {
  std::lock_guard lock(mutex_);
  ++calls_;
  ++opens_;
  auto it = devices_.find(default_);
  if (default_.empty() || it == devices_.end() || !it->second.present) return nullptr;
  return std::make_unique<Endpoint>(*this, default_);
}

LegacyMixer* SimAudio::Mixer() { return mixer_.get(); }

void SimAudio::AddCaptureDevice(const std::string& id, bool muted) {
  std::lock_guard lock(mutex_);
  Device& d = devices_[id];
  d.present = true;
  d.muted = muted;
  if (default_.empty()) default_ = id;
}

void SimAudio::RemoveCaptureDevice(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it != devices_.end()) it->second.present = false;
  if (default_ == id) default_.clear();
}

void SimAudio::SetDefaultCaptureDevice(const std::string& id) {
  std::lock_guard lock(mutex_);
  default_ = id;
}

void SimAudio::SetMutedElsewhere(const std::string& id, bool muted) { Set(id, muted, false); }

void SimAudio::FailReads(const std::string& id, bool fail) {
  std::lock_guard lock(mutex_);
  devices_[id].failReads = fail;
}

void SimAudio::FailWrites(const std::string& id, bool fail) {
  std::lock_guard lock(mutex_);
  devices_[id].failWrites = fail;
}

std::optional<bool> SimAudio::Muted(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it == devices_.end()) return std::nullopt;
  return it->second.muted;
}

std::size_t SimAudio::CallCount() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::size_t SimAudio::OpenCount() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

void SimAudio::SetMixerMuted(bool muted) {
  std::lock_guard lock(mutex_);
  mixerMuted_ = muted;
}

bool SimAudio::MixerMuted() const {
  std::lock_guard lock(mutex_);
  return mixerMuted_;
}

void SimAudio::SetMixerFailure(MixerResult failAt) {
  std::lock_guard lock(mutex_);
  mixerFailure_ = failAt;
}

std::size_t SimAudio::MixerOpenCount() const {
  std::lock_guard lock(mutex_);
  return mixerOpens_;
}

std::optional<bool> SimAudio::Get(const std::string& id) {
  std::lock_guard lock(mutex_);
  ++calls_;
  auto it = devices_.find(id);
  if (it == devices_.end() || !it->second.present || it->second.failReads) return std::nullopt;
  return it->second.muted;
}

bool SimAudio::Set(const std::string& id, bool muted, bool countCall) {
  std::lock_guard lock(mutex_);
  if (countCall) ++calls_;
  auto it = devices_.find(id);
  if (it == devices_.end() || !it->second.present || it->second.failWrites) return false;
  it->second.muted = muted;
  QueueNotifications(id, muted);
  return true;
}

void SimAudio::QueueNotifications(const std::string& id, bool muted) {
  for (auto& [rid, reg] : registrations_)
    if (reg.device == id) queue_.push_back({rid, VolumeNotification{muted, 1.0f, {1.0f}}});
  cv_.notify_all();
}

std::uint64_t SimAudio::Register(const std::string& device, VolumeNotify notify) {
  std::lock_guard lock(mutex_);
  ++calls_;
  auto it = devices_.find(device);
  if (it == devices_.end() || !it->second.present || !notify) return 0;
  const std::uint64_t id = nextRegistration_++;
  registrations_[id] = Registration{device, std::move(notify)};
  return id;
}

void SimAudio::Unregister(std::uint64_t id) {
  // Waiting for the delivery lock makes sure the callback is not running when this returns.
  std::lock_guard delivery(deliveryMutex_);
  std::lock_guard lock(mutex_);
  registrations_.erase(id);
}

void SimAudio::WaitNotificationsDelivered() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return queue_.empty() && !delivering_; });
}

std::size_t SimAudio::NotificationsDelivered() const {
  std::lock_guard lock(mutex_);
  return delivered_;
}

void SimAudio::NotifierMain() {
  std::unique_lock lock(mutex_);
  for (;;) {
    cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    auto [rid, data] = queue_.front();
    queue_.pop_front();
    delivering_ = true;
    lock.unlock();
    bool called = false;
    {
      std::lock_guard delivery(deliveryMutex_);
      VolumeNotify notify;
      {
        std::lock_guard l(mutex_);
        auto it = registrations_.find(rid);
        if (it != registrations_.end()) notify = it->second.notify;
      }
      if (notify) notify(data), called = true;
    }
    lock.lock();
    if (called) ++delivered_;
    delivering_ = false;
    cv_.notify_all();
  }
}

}  // namespace kv::platform::sim
