#pragma once
// HID on Windows: the device installation services (setupapi.dll) list the interfaces of the HID
// class, the HID class library (hid.dll) answers attributes, capabilities, usages and feature
// reports, and reads are overlapped ReadFile calls. Both libraries are bound by name at run time,
// so the program starts (and lists nothing) where they are missing.
//
// Device notifications come to a hidden top-level window registered for the HID interface class.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/hid.h"
#include "platform/platform.h"

namespace kv::platform::win32 {

class Win32Hid : public Hid {
 public:
  Win32Hid();
  ~Win32Hid() override;

  bool Available() override;
  std::string InterfaceClass() override;
  std::optional<std::vector<HidInterfaceInfo>> Interfaces() override;
  std::unique_ptr<HidDevice> Open(std::string_view path, HidOpenMode mode) override;
  std::unique_ptr<HidStopEvent> CreateStopEvent() override;

  // A device object around a handle opened elsewhere (a HANDLE; ownership passes to the object,
  // also when the result is nullptr). With Overlapped the handle must have been opened with
  // FILE_FLAG_OVERLAPPED. Any handle that ReadFile/WriteFile accept will do, which is how the
  // read path is exercised without a HID device.
  std::unique_ptr<HidDevice> Adopt(void* handle, HidOpenMode mode);

  struct Api;  // the bound entry points

 private:
  class Device;
  class StopEvent;
  std::shared_ptr<const Api> api_;
};

// A registration made by Win32DeviceNotifications::Subscribe; its window can be found through
// Window() (tests send it crafted device-change messages).
class Win32DeviceSubscription : public DeviceSubscription {
 public:
  virtual WindowHandle Window() const = 0;
};

class Win32DeviceNotifications : public DeviceNotifications {
 public:
  // The HID interface class to register for: `hid`'s (normally the platform's Win32Hid).
  explicit Win32DeviceNotifications(Hid& hid) : hid_(hid) {}
  std::unique_ptr<DeviceSubscription> Subscribe(
      std::function<void(const DeviceChange&)> onChange) override;

  // Decodes one WM_DEVICECHANGE (event code and the broadcast header it points to); nullopt for
  // codes that are not reported (queries, pending removals, custom events).
  static std::optional<DeviceChange> Decode(std::uintptr_t wParam, std::intptr_t lParam);

 private:
  class Subscription;
  Hid& hid_;
};

}  // namespace kv::platform::win32
