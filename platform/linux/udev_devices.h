#pragma once
// Device notifications on Linux: a udev monitor on the hidraw subsystem, watched from the main
// loop (no thread of its own). Each hidraw node that comes or goes gives one notice per
// interface (top-level collection); the nodes of openers added to the HID service give the same
// notices.
#include <functional>
#include <memory>
#include <vector>

#include "platform/hid.h"
#include "platform/platform.h"

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace kv::platform::linux_ {

class HidrawHid;

class UdevDeviceNotifications : public DeviceNotifications {
 public:
  UdevDeviceNotifications(EventLoop& loop, HidrawHid& hid);
  ~UdevDeviceNotifications() override;
  std::unique_ptr<DeviceSubscription> Subscribe(
      std::function<void(const DeviceChange&)> onChange) override;

 private:
  class Subscription;
  struct State;
  void OnUdev();
  void Deliver(const DeviceChange& change);

  EventLoop& loop_;
  HidrawHid& hid_;
  std::shared_ptr<State> state_;  // shared with tasks posted from other threads
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kv::platform::linux_
