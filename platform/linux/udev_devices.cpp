#include "platform/linux/udev_devices.h"

#include <libudev.h>

#include <QSocketNotifier>
#include <map>
#include <mutex>

#include "platform/linux/hidraw_hid.h"

namespace kv::platform::linux_ {

struct UdevDeviceNotifications::State {
  std::mutex mutex;
  std::map<int, std::function<void(const DeviceChange&)>> subscribers;
  int next = 1;

  // Main thread. A copy of the list, so a callback may unsubscribe (itself or others).
  void Deliver(const DeviceChange& change) {
    std::vector<std::function<void(const DeviceChange&)>> targets;
    {
      std::lock_guard lock(mutex);
      for (auto& [id, fn] : subscribers) targets.push_back(fn);
    }
    for (auto& fn : targets) fn(change);
  }
};

class UdevDeviceNotifications::Subscription : public DeviceSubscription {
 public:
  Subscription(std::shared_ptr<State> state, int id) : state_(std::move(state)), id_(id) {}
  ~Subscription() override {
    std::lock_guard lock(state_->mutex);
    state_->subscribers.erase(id_);
  }

 private:
  std::shared_ptr<State> state_;
  int id_;
};

UdevDeviceNotifications::UdevDeviceNotifications(EventLoop& loop, HidrawHid& hid)
    : loop_(loop), hid_(hid), state_(std::make_shared<State>()) {
  udev_ = udev_new();
  if (udev_) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ &&
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) >= 0 &&
      udev_monitor_enable_receiving(monitor_) >= 0) {
    notifier_ =
        std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnUdev(); });
  }
  // Nodes of added openers come and go on whatever thread adds them; their notices join the main
  // loop.
  hid_.SetNodeListener(
      [&loop, state = state_](bool arrived, const std::vector<std::string>& paths) {
        for (const auto& path : paths) {
          DeviceChange change{arrived ? DeviceChangeKind::Arrival : DeviceChangeKind::Removal, true,
                              path};
          loop.Post([state, change] { state->Deliver(change); });
        }
      });
}

UdevDeviceNotifications::~UdevDeviceNotifications() {
  hid_.SetNodeListener(nullptr);
  notifier_.reset();
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

std::unique_ptr<DeviceSubscription> UdevDeviceNotifications::Subscribe(
    std::function<void(const DeviceChange&)> onChange) {
  if (!onChange) return nullptr;
  std::lock_guard lock(state_->mutex);
  const int id = state_->next++;
  state_->subscribers[id] = std::move(onChange);
  return std::make_unique<Subscription>(state_, id);
}

void UdevDeviceNotifications::Deliver(const DeviceChange& change) { state_->Deliver(change); }

void UdevDeviceNotifications::OnUdev() {
  udev_device* device = udev_monitor_receive_device(monitor_);
  if (!device) return;
  const std::string action = udev_device_get_action(device) ? udev_device_get_action(device) : "";
  const char* devnode = udev_device_get_devnode(device);
  const std::string node = devnode ? devnode : "";
  udev_device_unref(device);
  if (action == "add") {
    hid_.Interfaces();  // learns the node's collections
    auto paths = hid_.PathsOfNode(node);
    if (paths.empty()) paths.push_back(node);
    for (auto& p : paths) Deliver({DeviceChangeKind::Arrival, true, p});
  } else if (action == "remove") {
    auto paths = hid_.PathsOfNode(node);  // from before it went
    if (paths.empty()) paths.push_back(node);
    for (auto& p : paths) Deliver({DeviceChangeKind::Removal, true, p});
  } else {
    Deliver({DeviceChangeKind::NodesChanged, false, ""});
  }
}

}  // namespace kv::platform::linux_
