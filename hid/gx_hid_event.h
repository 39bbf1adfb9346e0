#pragma once
// TgxHIDEvent: tells its owner when HID interfaces arrive or go away, and raises one arrival
// 1500 ms after its creation so that interfaces present at start-up are handled like new ones.
// Everything runs on the main thread.
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/hid.h"
#include "platform/platform.h"

namespace kv {

class TgxHIDEvent;
using TNotifyEvent = std::function<void(TgxHIDEvent& Sender)>;

inline constexpr std::chrono::milliseconds kStartupArrivalDelay{1500};

class TgxHIDEvent {
 public:
  // Registers for HID interface notices through platform.devices (none, or a refused
  // registration: only OnDeviceChange from the start-up notice and the start-up arrival come),
  // queues one "device nodes changed" notice to itself and starts the start-up timer.
  explicit TgxHIDEvent(platform::Platform& platform);
  // Withdraws the registration and the timer; nothing is raised afterwards.
  virtual ~TgxHIDEvent();
  TgxHIDEvent(const TgxHIDEvent&) = delete;
  TgxHIDEvent& operator=(const TgxHIDEvent&) = delete;

  // The device-change handler: Arrival/Removal of a device interface raise OnDeviceArrival /
  // OnDeviceRemove, NodesChanged raises OnDeviceChange; anything else raises nothing.
  virtual void WMDeviceChange(const platform::DeviceChange& change);

  bool Registered() const { return subscription_ != nullptr; }
  const std::string& UsbGuid() const { return FUsbGuid; }

  TNotifyEvent OnDeviceArrival;
  TNotifyEvent OnDeviceRemove;
  TNotifyEvent OnDeviceChange;

 protected:
  // Where an exception escaping a handler goes (the application's central handler): by default
  // the platform's debug output, with the exception's text. The component keeps working.
  virtual void HandleException(std::exception_ptr error);

 private:
  void Dispatch(const platform::DeviceChange& change);
  void StartupTimerTick();

  platform::Platform& platform_;
  std::string FUsbGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
  std::unique_ptr<platform::DeviceSubscription> subscription_;
  platform::TimerId FTimerToStartMonitor = 0;
  std::shared_ptr<TgxHIDEvent*> self_;  // cleared on destruction: queued notices find nobody
};

}  // namespace kv
