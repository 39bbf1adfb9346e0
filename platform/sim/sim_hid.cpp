#include "platform/sim/sim_hid.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/strings.h"
#include "platform/hid_descriptor.h"
#include "platform/platform.h"

namespace kv::platform::sim {

// --- device notifications ----------------------------------------------------------------------

class SimDeviceNotifications::Subscription : public DeviceSubscription {
 public:
  Subscription(std::shared_ptr<State> state, std::uint64_t id)
      : state_(std::move(state)), id_(id) {}
  ~Subscription() override {
    std::lock_guard lock(state_->mutex);
    state_->subscribers.erase(id_);
  }

 private:
  std::shared_ptr<State> state_;
  std::uint64_t id_;
};

SimDeviceNotifications::SimDeviceNotifications(EventLoop& loop) : loop_(loop) {}
SimDeviceNotifications::~SimDeviceNotifications() = default;

std::unique_ptr<DeviceSubscription> SimDeviceNotifications::Subscribe(
    std::function<void(const DeviceChange&)> onChange) {
  if (registrationFails_ || !onChange) return nullptr;
  std::lock_guard lock(state_->mutex);
  const std::uint64_t id = state_->next++;
  state_->subscribers[id] =
      std::make_shared<std::function<void(const DeviceChange&)>>(std::move(onChange));
  return std::make_unique<Subscription>(state_, id);
}

void SimDeviceNotifications::Notify(const DeviceChange& change) {
  // Each subscriber is looked up again when the notice runs: one withdrawn meanwhile gets nothing.
  loop_.Post([state = state_, change] {
    std::vector<std::uint64_t> ids;
    {
      std::lock_guard lock(state->mutex);
      for (auto& [id, fn] : state->subscribers) ids.push_back(id);
    }
    for (auto id : ids) {
      std::shared_ptr<std::function<void(const DeviceChange&)>> fn;
      {
        std::lock_guard lock(state->mutex);
        auto it = state->subscribers.find(id);
        if (it == state->subscribers.end()) continue;
        fn = it->second;
      }
      (*fn)(change);
    }
  });
}

std::size_t SimDeviceNotifications::Subscribers() const {
  std::lock_guard lock(state_->mutex);
  return state_->subscribers.size();
}

// --- HID ---------------------------------------------------------------------------------------

struct SimHid::OpenObject {
  HidOpenMode mode;
  std::uint64_t handle;
  std::deque<HidReadResult> completions;          // what the next reads complete with
  std::deque<std::vector<std::uint8_t>> reports;  // data of the Report completions, in order
  bool cancelRequested = false;
  std::condition_variable cv;  // one per object: a report for one reader wakes no other
};

struct SimHid::Interface {
  InterfaceSpec spec;
  descriptor::TopLevelCollection collection;
  bool present = true;
  bool failOpen = false, denyOpen = false, failAttributes = false, failCapabilities = false;
  std::uint32_t writeResult = 0, featureResult = 0;
  std::map<std::uint8_t, std::vector<std::uint8_t>> featureReports;
  std::vector<Request> requests;
  std::set<OpenObject*> objects;
  std::size_t waiting = 0;
};

class SimHid::StopEvent : public HidStopEvent {
 public:
  explicit StopEvent(SimHid& hid) : hid_(hid) {}
  ~StopEvent() override {
    std::lock_guard lock(hid_.mutex_);
    --hid_.liveObjects_;
  }
  void Set() override {
    std::lock_guard lock(hid_.mutex_);
    SetLocked();
  }
  void Reset() override {
    std::lock_guard lock(hid_.mutex_);
    set_ = false;
  }
  bool IsSet() const override {
    std::lock_guard lock(hid_.mutex_);
    return set_;
  }
  std::uint64_t Generation() const override {
    std::lock_guard lock(hid_.mutex_);
    return generation_;
  }
  void Pulse(std::chrono::milliseconds hold) override {
    // Virtual time: the hold is recorded, not slept. Readers see the new generation.
    std::lock_guard lock(hid_.mutex_);
    SetLocked();
    ++hid_.pulses_;
    hid_.lastHold_ = hold;
    set_ = false;
  }
  // Under the service's mutex.
  bool StopsLocked(std::uint64_t generation) const { return set_ || generation_ != generation; }

 private:
  void SetLocked() {
    if (!set_) ++generation_;
    set_ = true;
    hid_.WakeAllLocked();
  }
  SimHid& hid_;
  bool set_ = false;
  std::uint64_t generation_ = 0;
};

class SimHid::Device : public HidDevice {
 public:
  Device(SimHid& hid, Interface& itf, HidOpenMode mode) : hid_(hid), itf_(itf) {
    object_.mode = mode;
    object_.handle = hid.nextHandle_ += 4;
    itf.objects.insert(&object_);
    ++hid.liveObjects_;
  }
  ~Device() override {
    std::lock_guard lock(hid_.mutex_);
    itf_.objects.erase(&object_);
    --hid_.liveObjects_;
  }

  std::optional<HidAttributes> Attributes() override {
    std::lock_guard lock(hid_.mutex_);
    if (!itf_.present || itf_.failAttributes || !hid_.available_) return std::nullopt;
    return itf_.spec.attributes;
  }
  std::optional<HidCapabilities> Capabilities() override {
    std::lock_guard lock(hid_.mutex_);
    if (!itf_.present || itf_.failCapabilities || !hid_.available_) return std::nullopt;
    return itf_.collection.Capabilities();
  }

  HidReadResult Read(std::span<std::uint8_t> buffer, HidStopEvent& stop,
                     std::uint64_t stopGeneration) override {
    auto& ev = static_cast<StopEvent&>(stop);
    std::unique_lock lock(hid_.mutex_);
    if (object_.mode != HidOpenMode::Overlapped)
      return {HidReadStatus::InvalidHandle, 0, kSimErrorInvalidHandle};
    ++itf_.waiting;
    hid_.observers_.notify_all();
    HidReadResult result;
    for (bool first = true;; first = false) {
      if (Done(ev, stopGeneration)) break;
      if (!first) ++hid_.idleWakeups_;
      object_.cv.wait(lock);
    }
    if (object_.cancelRequested) {
      object_.cancelRequested = false;
      result = {HidReadStatus::Cancelled, 0, kSimErrorAborted};
    } else if (!object_.completions.empty()) {
      result = object_.completions.front();
      object_.completions.pop_front();
      if (result.status == HidReadStatus::Report) {
        const auto& r = object_.reports.front();
        result.bytes = std::min(r.size(), buffer.size());
        if (result.bytes) std::memcpy(buffer.data(), r.data(), result.bytes);
        object_.reports.pop_front();
      }
    } else if (!itf_.present) {
      result = {HidReadStatus::NotConnected, 0, kSimErrorNotConnected};
    } else {
      result = {HidReadStatus::Stopped, 0, 0};
    }
    --itf_.waiting;
    return result;
  }

  void CancelRead() override {
    std::lock_guard lock(hid_.mutex_);
    object_.cancelRequested = true;
    object_.cv.notify_all();
  }

  std::uint32_t WriteOutput(std::span<const std::uint8_t> report) override {
    std::lock_guard lock(hid_.mutex_);
    if (!itf_.present) return kSimErrorNotConnected;
    itf_.requests.push_back({RequestKind::Output, {report.begin(), report.end()}, object_.handle});
    if (report.empty()) return kSimErrorInvalidParameter;
    return itf_.writeResult;
  }

  std::uint32_t GetFeature(std::span<std::uint8_t> report) override {
    std::lock_guard lock(hid_.mutex_);
    if (!itf_.present) return kSimErrorNotConnected;
    itf_.requests.push_back(
        {RequestKind::GetFeature, {report.begin(), report.end()}, object_.handle});
    if (report.empty()) return kSimErrorInvalidParameter;
    if (itf_.featureResult != 0) return itf_.featureResult;
    auto it = itf_.featureReports.find(report[0]);
    if (it == itf_.featureReports.end()) return kSimErrorInvalidParameter;
    std::fill(report.begin(), report.end(), 0);
    std::memcpy(report.data(), it->second.data(), std::min(report.size(), it->second.size()));
    return 0;
  }

  std::uint32_t SetFeature(std::span<const std::uint8_t> report) override {
    std::lock_guard lock(hid_.mutex_);
    if (!itf_.present) return kSimErrorNotConnected;
    itf_.requests.push_back(
        {RequestKind::SetFeature, {report.begin(), report.end()}, object_.handle});
    if (report.empty()) return kSimErrorInvalidParameter;
    return itf_.featureResult;
  }

  std::optional<std::size_t> MaxUsageListLength() override {
    std::lock_guard lock(hid_.mutex_);
    if (!hid_.available_) return std::nullopt;
    return itf_.collection.MaxInputUsageListLength();
  }
  std::optional<std::vector<HidUsage>> ButtonsOn(std::span<const std::uint8_t> report) override {
    std::lock_guard lock(hid_.mutex_);
    if (!hid_.available_) return std::nullopt;
    return itf_.collection.ButtonsOn(report);
  }
  std::uint64_t HandleValue() const override { return object_.handle; }

 private:
  bool Done(const StopEvent& ev, std::uint64_t generation) const {
    return object_.cancelRequested || !object_.completions.empty() || !itf_.present ||
           ev.StopsLocked(generation);
  }
  SimHid& hid_;
  Interface& itf_;
  OpenObject object_;
};

SimHid::SimHid(SimDeviceNotifications* notifications) : notifications_(notifications) {}

SimHid::~SimHid() {
  // A device object or stop event outliving its service is a bug of its user (a read thread that
  // was never stopped); fail loudly rather than let it touch freed memory.
  std::lock_guard lock(mutex_);
  if (liveObjects_ != 0) {
    std::fprintf(stderr, "SimHid destroyed with %zu device objects or stop events alive\n",
                 liveObjects_);
    std::abort();
  }
}

void SimHid::WakeAllLocked() {
  for (auto& [p, itf] : interfaces_)
    for (OpenObject* o : itf->objects) o->cv.notify_all();
}

bool SimHid::Available() {
  std::lock_guard lock(mutex_);
  return available_;
}

std::string SimHid::InterfaceClass() { return "{4d1e55b2-f16f-11cf-88cb-001111000030}"; }

std::optional<std::vector<HidInterfaceInfo>> SimHid::Interfaces() {
  std::lock_guard lock(mutex_);
  if (interfacesUnavailable_) return std::nullopt;
  std::vector<HidInterfaceInfo> out;
  for (const auto& path : order_) {
    const Interface& itf = *interfaces_.at(path);
    out.push_back({itf.spec.path, itf.spec.hardwareIds});
  }
  return out;
}

std::unique_ptr<HidDevice> SimHid::Open(std::string_view path, HidOpenMode mode) {
  std::lock_guard lock(mutex_);
  Interface* itf = Find(std::string(path));
  if (!itf || !itf->present || itf->failOpen || itf->denyOpen) return nullptr;
  return std::make_unique<Device>(*this, *itf, mode);
}

std::optional<HidOpenFailure> SimHid::WhyNotOpen(std::string_view path) {
  {
    std::lock_guard lock(mutex_);
    const Interface* itf = Find(std::string(path));
    if (itf && itf->present && itf->denyOpen)
      return HidOpenFailure{true, std::string(path) + ": access denied"};
  }
  return Hid::WhyNotOpen(path);
}

std::unique_ptr<HidStopEvent> SimHid::CreateStopEvent() {
  std::lock_guard lock(mutex_);
  ++liveObjects_;
  return std::make_unique<StopEvent>(*this);
}

SimHid::Interface* SimHid::Find(const std::string& path) {
  for (auto& [p, itf] : interfaces_)
    if (EqualsIgnoreCase(p, path)) return itf.get();
  return nullptr;
}

const SimHid::Interface* SimHid::Find(const std::string& path) const {
  return const_cast<SimHid*>(this)->Find(path);
}

std::string SimHid::Plug(InterfaceSpec spec) {
  const descriptor::ReportDescriptor d = descriptor::ParseReportDescriptor(spec.descriptor);
  if (spec.collection >= d.collections.size())
    throw std::invalid_argument("the descriptor has no such top-level collection");
  std::string path;
  {
    std::lock_guard lock(mutex_);
    if (spec.path.empty())
      spec.path = "\\\\?\\hid#sim_" + std::to_string(nextPath_++) +
                  "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    Interface* old = Find(spec.path);
    if (old && old->present) throw std::invalid_argument("path already present: " + spec.path);
    auto itf = std::make_unique<Interface>();
    itf->collection = d.collections[spec.collection];
    itf->spec = std::move(spec);
    path = itf->spec.path;
    // A replugged path is a new interface; objects still open on the old one keep seeing it gone.
    if (old) {
      auto keep = std::move(interfaces_.find(old->spec.path)->second);
      interfaces_.erase(old->spec.path);
      interfaces_["~removed" + std::to_string(nextPath_++) + keep->spec.path] = std::move(keep);
    }
    interfaces_[path] = std::move(itf);
    order_.push_back(path);
  }
  if (notifications_) notifications_->Notify({DeviceChangeKind::Arrival, true, path});
  return path;
}

void SimHid::Unplug(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    Interface* itf = Find(path);
    if (!itf || !itf->present) return;
    itf->present = false;
    order_.erase(std::remove(order_.begin(), order_.end(), itf->spec.path), order_.end());
    for (OpenObject* o : itf->objects) o->cv.notify_all();
  }
  if (notifications_) notifications_->Notify({DeviceChangeKind::Removal, true, path});
}

void SimHid::Input(const std::string& path, std::vector<std::uint8_t> report) {
  std::lock_guard lock(mutex_);
  Interface* itf = Find(path);
  if (!itf || !itf->present) return;
  for (OpenObject* o : itf->objects) {
    if (o->mode != HidOpenMode::Overlapped) continue;
    o->completions.push_back({HidReadStatus::Report, 0, 0});
    o->reports.push_back(report);
    o->cv.notify_all();
  }
}

void SimHid::InputError(const std::string& path, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  Interface* itf = Find(path);
  if (!itf || !itf->present) return;
  const HidReadStatus status = error == kSimErrorAborted        ? HidReadStatus::Cancelled
                               : error == kSimErrorNotConnected ? HidReadStatus::NotConnected
                                                                : HidReadStatus::Failed;
  for (OpenObject* o : itf->objects)
    if (o->mode == HidOpenMode::Overlapped) {
      o->completions.push_back({status, 0, error});
      o->cv.notify_all();
    }
}

bool SimHid::WaitForReaders(const std::string& path, std::size_t count,
                            std::chrono::milliseconds guard) {
  std::unique_lock lock(mutex_);
  return observers_.wait_for(lock, guard, [&] {
    const Interface* itf = Find(path);
    return itf && itf->waiting >= count;
  });
}

std::vector<SimHid::Request> SimHid::Requests(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const Interface* itf = Find(path);
  return itf ? itf->requests : std::vector<Request>{};
}

void SimHid::SetWriteResult(const std::string& path, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  if (Interface* itf = Find(path)) itf->writeResult = error;
}

void SimHid::SetFeatureResult(const std::string& path, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  if (Interface* itf = Find(path)) itf->featureResult = error;
}

void SimHid::SetFeatureReport(const std::string& path, std::vector<std::uint8_t> report) {
  std::lock_guard lock(mutex_);
  Interface* itf = Find(path);
  if (itf && !report.empty()) itf->featureReports[report[0]] = std::move(report);
}

void SimHid::SetAvailable(bool available) {
  std::lock_guard lock(mutex_);
  available_ = available;
}

void SimHid::SetInterfacesUnavailable(bool unavailable) {
  std::lock_guard lock(mutex_);
  interfacesUnavailable_ = unavailable;
}

void SimHid::FailOpen(const std::string& path, bool fail) {
  std::lock_guard lock(mutex_);
  if (Interface* itf = Find(path)) itf->failOpen = fail;
}

void SimHid::DenyOpen(const std::string& path, bool deny) {
  std::lock_guard lock(mutex_);
  if (Interface* itf = Find(path)) itf->denyOpen = deny;
}

void SimHid::FailAttributes(const std::string& path, bool fail) {
  std::lock_guard lock(mutex_);
  if (Interface* itf = Find(path)) itf->failAttributes = fail;
}

void SimHid::FailCapabilities(const std::string& path, bool fail) {
  std::lock_guard lock(mutex_);
  if (Interface* itf = Find(path)) itf->failCapabilities = fail;
}

std::size_t SimHid::OpenObjects(const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  // Objects of a removed and replugged path count too: they were opened with that path.
  for (auto& [p, itf] : interfaces_)
    if (EqualsIgnoreCase(itf->spec.path, path)) n += itf->objects.size();
  return n;
}

std::size_t SimHid::WaitingReads(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const Interface* itf = Find(path);
  return itf ? itf->waiting : 0;
}

std::size_t SimHid::WaitingReadsTotal() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (auto& [p, itf] : interfaces_) n += itf->waiting;
  return n;
}

std::uint64_t SimHid::IdleWakeups() const {
  std::lock_guard lock(mutex_);
  return idleWakeups_;
}

std::size_t SimHid::Pulses() const {
  std::lock_guard lock(mutex_);
  return pulses_;
}

std::chrono::milliseconds SimHid::LastPulseHold() const {
  std::lock_guard lock(mutex_);
  return lastHold_;
}

}  // namespace kv::platform::sim
