#pragma once
// Simulated HID interfaces and device notifications. Tests plug virtual interfaces (a report
// descriptor, hardware IDs, a path), script their input reports, unplug them, and read back what
// was written to them. Reads block on a condition variable: no polling, no real time.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid.h"

namespace kv::platform {
class EventLoop;
}

namespace kv::platform::sim {

// Windows' numbers, so that traces and results read the same as on the real thing.
inline constexpr std::uint32_t kSimErrorInvalidHandle = 6;
inline constexpr std::uint32_t kSimErrorGenFailure = 31;
inline constexpr std::uint32_t kSimErrorInvalidParameter = 87;
inline constexpr std::uint32_t kSimErrorAborted = 995;
inline constexpr std::uint32_t kSimErrorNotConnected = 1167;

// Delivers notices to its subscribers on the main loop.
class SimDeviceNotifications : public DeviceNotifications {
 public:
  explicit SimDeviceNotifications(EventLoop& loop);
  ~SimDeviceNotifications() override;
  std::unique_ptr<DeviceSubscription> Subscribe(
      std::function<void(const DeviceChange&)> onChange) override;

  // Test controls. Notify may be called from any thread; the callbacks run on the main loop.
  void Notify(const DeviceChange& change);
  void SetRegistrationFails(bool fails) { registrationFails_ = fails; }
  std::size_t Subscribers() const;

 private:
  class Subscription;
  struct State {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<std::function<void(const DeviceChange&)>>> subscribers;
    std::uint64_t next = 1;
  };
  EventLoop& loop_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  bool registrationFails_ = false;
};

class SimHid : public Hid {
 public:
  struct InterfaceSpec {
    std::string path;                      // "" picks one
    std::vector<std::string> hardwareIds;  // the first is the device ID
    std::vector<std::uint8_t> descriptor;  // the device's report descriptor
    std::size_t collection = 0;            // which top-level collection this interface is
    HidAttributes attributes{0x1234, 0x5678, 0x0100};
  };
  // One record per request that reached a device.
  enum class RequestKind { Output, SetFeature, GetFeature };
  struct Request {
    RequestKind kind;
    std::vector<std::uint8_t> bytes;  // as handed over (GetFeature: the buffer asked with)
    std::uint64_t handle;
  };

  // `notifications` (optional) receives an arrival and a removal notice per plugged interface.
  explicit SimHid(SimDeviceNotifications* notifications = nullptr);
  ~SimHid() override;  // every device object and stop event must be gone

  bool Available() override;
  std::string InterfaceClass() override;
  std::optional<std::vector<HidInterfaceInfo>> Interfaces() override;
  std::unique_ptr<HidDevice> Open(std::string_view path, HidOpenMode mode) override;
  std::unique_ptr<HidStopEvent> CreateStopEvent() override;

  // --- test controls, any thread --------------------------------------------------------------
  // Adds a present interface; returns its path. Throws DescriptorError for a bad descriptor and
  // std::invalid_argument for a path in use or a collection the descriptor lacks.
  std::string Plug(InterfaceSpec spec);
  // Removes it: pending and later reads of its open objects fail as "not connected".
  void Unplug(const std::string& path);
  // Queues an input report (report ID first) to every object that has the interface open for
  // overlapped reading. An empty report completes a read with 0 bytes.
  void Input(const std::string& path, std::vector<std::uint8_t> report);
  // The next read of every such object fails with `error`.
  void InputError(const std::string& path, std::uint32_t error);
  // Blocks until `count` reads are waiting on the interface (real time, at most `guard`).
  bool WaitForReaders(const std::string& path, std::size_t count,
                      std::chrono::milliseconds guard = std::chrono::seconds(10));

  std::vector<Request> Requests(const std::string& path) const;
  void SetWriteResult(const std::string& path, std::uint32_t error);
  void SetFeatureResult(const std::string& path, std::uint32_t error);
  // The answer to a feature request of that report ID (report ID first); without one, a get
  // fails with kSimErrorInvalidParameter.
  void SetFeatureReport(const std::string& path, std::vector<std::uint8_t> report);

  // Failure injection.
  void SetAvailable(bool available);
  void SetInterfacesUnavailable(bool unavailable);
  void FailOpen(const std::string& path, bool fail);
  // Opens fail as for a user without rights to the device.
  void DenyOpen(const std::string& path, bool deny);
  std::optional<HidOpenFailure> WhyNotOpen(std::string_view path) override;
  void FailAttributes(const std::string& path, bool fail);
  void FailCapabilities(const std::string& path, bool fail);

  // Observations.
  std::size_t OpenObjects(const std::string& path) const;  // device objects not yet destroyed
  std::size_t WaitingReads(const std::string& path) const;
  std::size_t WaitingReadsTotal() const;
  // Times a waiting read woke up without finishing (an idle reader must never do so).
  std::uint64_t IdleWakeups() const;
  std::size_t Pulses() const;
  std::chrono::milliseconds LastPulseHold() const;

 private:
  class Device;
  class StopEvent;
  struct Interface;
  struct OpenObject;
  Interface* Find(const std::string& path);
  const Interface* Find(const std::string& path) const;
  void WakeAllLocked();

  SimDeviceNotifications* notifications_;
  mutable std::mutex mutex_;
  std::condition_variable observers_;                             // WaitForReaders
  std::map<std::string, std::unique_ptr<Interface>> interfaces_;  // present and removed
  std::vector<std::string> order_;                                // plug order of present ones
  std::uint64_t nextHandle_ = 0x1000;
  std::size_t nextPath_ = 1;
  bool available_ = true;
  bool interfacesUnavailable_ = false;
  std::uint64_t idleWakeups_ = 0;
  std::size_t pulses_ = 0;
  std::chrono::milliseconds lastHold_{0};
  std::size_t liveObjects_ = 0;
};

}  // namespace kv::platform::sim
