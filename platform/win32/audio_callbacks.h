#pragma once
// The COM objects that Core Audio calls back on threads of its own: the volume notification
// object an endpoint registers (TMyEndpointVolumeCallback), and the device notification client
// a capture-device watch registers with the enumerator. Each hands what it learns to the
// program's callback and nothing else: no lock is taken on the audio system's thread.
// Disconnect makes sure that the program's callback is never entered again, whatever the audio
// system still holds.
#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <atomic>

#include "platform/audio.h"

namespace kv::platform::win32 {

// Lets calls in from any thread until closed, without a lock: a caller counts itself in and
// backs out when it finds the gate closed; Close waits until the last caller inside has left.
class CallGate {
 public:
  bool Enter() {
    calls_.fetch_add(1);
    if (!closed_.load()) return true;
    Leave();
    return false;
  }
  void Leave() { calls_.fetch_sub(1); }
  void Close();

 private:
  std::atomic<int> calls_{0};
  std::atomic<bool> closed_{false};
};

class TMyEndpointVolumeCallback final : public IAudioEndpointVolumeCallback {
 public:
  // Made with one reference, owned by the caller.
  explicit TMyEndpointVolumeCallback(VolumeNotify notify) : notify_(std::move(notify)) { ++alive_; }
  TMyEndpointVolumeCallback(const TMyEndpointVolumeCallback&) = delete;
  TMyEndpointVolumeCallback& operator=(const TMyEndpointVolumeCallback&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  // Drops the program's callback (and what it holds); a call in progress on another thread
  // finishes first.
  void Disconnect();

  static VolumeNotification Convert(const AUDIO_VOLUME_NOTIFICATION_DATA& data);
  // How many of these objects exist: a reference leaked by this program or the audio system
  // shows here.
  static int Alive() { return alive_.load(); }

 private:
  ~TMyEndpointVolumeCallback() { --alive_; }
  static inline std::atomic<int> alive_{0};
  std::atomic<ULONG> refs_{1};
  CallGate gate_;
  VolumeNotify notify_;  // set at creation; cleared only by Disconnect, with the gate closed
};

// Reports the capture devices' changes for the multimedia role: a new default, and a device
// that is removed or leaves the active state (unplugged, disabled).
class DeviceNotificationClient final : public IMMNotificationClient {
 public:
  // Made with one reference, owned by the caller.
  explicit DeviceNotificationClient(CaptureDeviceNotify notify) : notify_(std::move(notify)) {
    ++alive_;
  }
  DeviceNotificationClient(const DeviceNotificationClient&) = delete;
  DeviceNotificationClient& operator=(const DeviceNotificationClient&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override;
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR id, const PROPERTYKEY key) override;

  void Disconnect();

  // How many of these objects exist (a reference the enumerator keeps shows here).
  static int Alive() { return alive_.load(); }

 private:
  ~DeviceNotificationClient() { --alive_; }
  void Deliver(const CaptureDeviceEvent& e);
  static inline std::atomic<int> alive_{0};
  std::atomic<ULONG> refs_{1};
  CallGate gate_;
  CaptureDeviceNotify notify_;
};

}  // namespace kv::platform::win32
