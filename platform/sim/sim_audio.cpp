#include "platform/sim/sim_audio.h"

namespace kv::platform::sim {

class SimAudio::Endpoint : public CaptureEndpoint {
 public:
  Endpoint(SimAudio& owner, std::string device, std::uint64_t plug, std::uint64_t service)
      : owner_(owner), device_(std::move(device)), plug_(plug), service_(service) {}
  ~Endpoint() override {
    if (registration_) owner_.Unregister(registration_);
  }
  std::optional<bool> GetMute() override {
    bool muted = false;
    const Access a = owner_.Get(device_, plug_, service_, muted);
    invalidated_ = invalidated_ || a == Access::Gone;
    if (a != Access::Ok) return std::nullopt;
    return muted;
  }
  bool SetMute(bool muted) override {
    const Access a = owner_.Set(device_, plug_, service_, muted);
    invalidated_ = invalidated_ || a == Access::Gone;
    return a == Access::Ok;
  }
  bool RegisterVolumeNotify(VolumeNotify notify) override {
    if (registration_) owner_.Unregister(registration_);
    registration_ = owner_.Register(device_, plug_, std::move(notify));
    return registration_ != 0;
  }
  std::string DeviceId() const override { return device_; }
  bool Invalidated() const override { return invalidated_; }

 private:
  SimAudio& owner_;
  std::string device_;
  std::uint64_t plug_, service_;
  std::uint64_t registration_ = 0;
  bool invalidated_ = false;
};

class SimAudio::Watch : public CaptureDeviceWatch {
 public:
  Watch(SimAudio& owner, std::uint64_t id) : owner_(owner), id_(id) {}
  ~Watch() override { owner_.Unregister(id_); }

 private:
  SimAudio& owner_;
  std::uint64_t id_;
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
  if (!serviceUp_ || default_.empty() || it == devices_.end() || !it->second.present)
    return nullptr;
  return std::make_unique<Endpoint>(*this, default_, it->second.plug, service_);
}

std::unique_ptr<CaptureDeviceWatch> SimAudio::WatchCaptureDevices(CaptureDeviceNotify notify) {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (!serviceUp_ || !notify) return nullptr;
  const std::uint64_t id = nextRegistration_++;
  watches_[id] = std::move(notify);
  return std::make_unique<Watch>(*this, id);
}

LegacyMixer* SimAudio::Mixer() { return mixer_.get(); }

void SimAudio::AddCaptureDevice(const std::string& id, bool muted) {
  std::lock_guard lock(mutex_);
  Device& d = devices_[id];
  d = Device{true, muted, false, false, nextPlug_++};
  if (default_.empty()) {
    default_ = id;
    QueueDeviceEvent({CaptureDeviceChange::DefaultChanged, ""});
  }
}

void SimAudio::RemoveCaptureDevice(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it == devices_.end() || !it->second.present) return;
  it->second.present = false;
  QueueDeviceEvent({CaptureDeviceChange::DeviceRemoved, id});
  if (default_ == id) {
    default_.clear();
    QueueDeviceEvent({CaptureDeviceChange::DefaultChanged, ""});
  }
}

void SimAudio::SetDefaultCaptureDevice(const std::string& id) {
  std::lock_guard lock(mutex_);
  if (default_ == id) return;
  default_ = id;
  QueueDeviceEvent({CaptureDeviceChange::DefaultChanged, ""});
}

std::string SimAudio::DefaultCaptureDevice() const {
  std::lock_guard lock(mutex_);
  return default_;
}

void SimAudio::StopService() {
  std::lock_guard lock(mutex_);
  if (!serviceUp_) return;
  for (auto& [rid, notify] : watches_)
    queue_.push_back({rid, CaptureDeviceEvent{CaptureDeviceChange::ServiceLost, ""}});
  serviceUp_ = false;
  // The endpoints' registrations end with the connection; a pending volume notification for
  // them is dropped on delivery.
  registrations_.clear();
  cv_.notify_all();
}

void SimAudio::StartService() {
  std::lock_guard lock(mutex_);
  if (serviceUp_) return;
  serviceUp_ = true;
  ++service_;
}

void SimAudio::SetMutedElsewhere(const std::string& id, bool muted) {
  std::lock_guard lock(mutex_);
  SetLocked(id, muted);
}

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

std::size_t SimAudio::WatchCount() const {
  std::lock_guard lock(mutex_);
  return watches_.size();
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

SimAudio::Access SimAudio::Get(const std::string& id, std::uint64_t plug, std::uint64_t service,
                               bool& muted) {
  std::lock_guard lock(mutex_);
  ++calls_;
  auto it = devices_.find(id);
  if (!serviceUp_ || service != service_ || it == devices_.end() || !it->second.present ||
      it->second.plug != plug)
    return Access::Gone;
  if (it->second.failReads) return Access::Failed;
  muted = it->second.muted;
  return Access::Ok;
}

SimAudio::Access SimAudio::Set(const std::string& id, std::uint64_t plug, std::uint64_t service,
                               bool muted) {
  std::lock_guard lock(mutex_);
  ++calls_;
  auto it = devices_.find(id);
  if (!serviceUp_ || service != service_ || it == devices_.end() || !it->second.present ||
      it->second.plug != plug)
    return Access::Gone;
  return SetLocked(id, muted) ? Access::Ok : Access::Failed;
}

bool SimAudio::SetLocked(const std::string& id, bool muted) {
  auto it = devices_.find(id);
  if (it == devices_.end() || !it->second.present || it->second.failWrites) return false;
  it->second.muted = muted;
  for (auto& [rid, reg] : registrations_)
    if (reg.device == id) queue_.push_back({rid, VolumeNotification{muted, 1.0f, {1.0f}}});
  cv_.notify_all();
  return true;
}

void SimAudio::QueueDeviceEvent(const CaptureDeviceEvent& e) {
  if (!serviceUp_) return;  // nobody reports while the service is down
  for (auto& [rid, notify] : watches_) queue_.push_back({rid, e});
  cv_.notify_all();
}

std::uint64_t SimAudio::Register(const std::string& device, std::uint64_t plug,
                                 VolumeNotify notify) {
  std::lock_guard lock(mutex_);
  ++calls_;
  auto it = devices_.find(device);
  if (!serviceUp_ || it == devices_.end() || !it->second.present || it->second.plug != plug ||
      !notify)
    return 0;
  const std::uint64_t id = nextRegistration_++;
  registrations_[id] = Registration{device, std::move(notify)};
  return id;
}

void SimAudio::Unregister(std::uint64_t id) {
  // Waiting for the delivery lock makes sure the callback is not running when this returns.
  std::lock_guard delivery(deliveryMutex_);
  std::lock_guard lock(mutex_);
  registrations_.erase(id);
  watches_.erase(id);
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
    auto [rid, payload] = queue_.front();
    queue_.pop_front();
    delivering_ = true;
    lock.unlock();
    bool called = false;
    {
      std::lock_guard delivery(deliveryMutex_);
      VolumeNotify volume;
      CaptureDeviceNotify device;
      {
        std::lock_guard l(mutex_);
        if (std::holds_alternative<VolumeNotification>(payload)) {
          if (auto it = registrations_.find(rid); it != registrations_.end())
            volume = it->second.notify;
        } else if (auto it = watches_.find(rid); it != watches_.end()) {
          device = it->second;
          // A watch that heard of the service's loss has ended.
          if (std::get<CaptureDeviceEvent>(payload).change == CaptureDeviceChange::ServiceLost)
            watches_.erase(it);
        }
      }
      if (volume) volume(std::get<VolumeNotification>(payload)), called = true;
      if (device) device(std::get<CaptureDeviceEvent>(payload)), called = true;
    }
    lock.lock();
    if (called) ++delivered_;
    delivering_ = false;
    cv_.notify_all();
  }
}

}  // namespace kv::platform::sim
