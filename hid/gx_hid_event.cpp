#include "hid/gx_hid_event.h"

namespace kv {

TgxHIDEvent::TgxHIDEvent(platform::Platform& platform)
    : platform_(platform), self_(std::make_shared<TgxHIDEvent*>(this)) {
  if (platform.devices)
    subscription_ =
        platform.devices->Subscribe([this](const platform::DeviceChange& c) { Dispatch(c); });
  // Whether or not registration worked, the owner hears one "nodes changed" once the loop runs.
  platform.loop.Post([self = self_] {
    if (*self) (*self)->Dispatch({platform::DeviceChangeKind::NodesChanged, false, ""});
  });
  FTimerToStartMonitor =
      platform.loop.StartTimer(kStartupArrivalDelay, false, [this] { StartupTimerTick(); });
}

TgxHIDEvent::~TgxHIDEvent() {
  *self_ = nullptr;
  subscription_.reset();
  platform_.loop.StopTimer(FTimerToStartMonitor);
}

void TgxHIDEvent::Dispatch(const platform::DeviceChange& change) {
  try {
    WMDeviceChange(change);
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TgxHIDEvent::WMDeviceChange(const platform::DeviceChange& change) {
  switch (change.kind) {
    case platform::DeviceChangeKind::Arrival:
      if (change.deviceInterface && OnDeviceArrival) OnDeviceArrival(*this);
      break;
    case platform::DeviceChangeKind::Removal:
      if (change.deviceInterface && OnDeviceRemove) OnDeviceRemove(*this);
      break;
    case platform::DeviceChangeKind::NodesChanged:
      if (OnDeviceChange) OnDeviceChange(*this);
      break;
  }
}

void TgxHIDEvent::StartupTimerTick() {
  platform_.loop.StopTimer(FTimerToStartMonitor);
  FTimerToStartMonitor = 0;
  try {
    if (OnDeviceArrival) OnDeviceArrival(*this);
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TgxHIDEvent::HandleException(std::exception_ptr error) {
  std::string text = "an unknown exception";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  platform_.debug.Write("device arrival watcher: a handler failed: " + text);
}

}  // namespace kv
