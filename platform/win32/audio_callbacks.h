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
#include <utility>

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

// What both objects share: their COM identity and reference count, the gate, and the program's
// callback. Made with one reference, owned by the caller; a count of living objects per class
// shows a reference leaked by this program or the audio system.
template <class Derived, class Interface, class Notify>
class NotifyingComObject : public Interface {
 public:
  NotifyingComObject(const NotifyingComObject&) = delete;
  NotifyingComObject& operator=(const NotifyingComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  // Drops the program's callback (and what it holds); a call in progress on another thread
  // finishes first, and none gets in again.
  void Disconnect() {
    gate_.Close();
    notify_ = nullptr;
  }
  static int Alive() { return alive_.load(); }

 protected:
  explicit NotifyingComObject(Notify notify) : notify_(std::move(notify)) { ++alive_; }
  ~NotifyingComObject() { --alive_; }  // through Release, as the derived class
  // Hands `news` to the program's callback unless disconnected; nothing escapes into the audio
  // system's thread.
  template <class News>
  void Deliver(const News& news) {
    if (!gate_.Enter()) return;
    try {
      if (notify_) notify_(news);
    } catch (...) {
    }
    gate_.Leave();
  }

 private:
  static inline std::atomic<int> alive_{0};
  std::atomic<ULONG> refs_{1};
  CallGate gate_;
  Notify notify_;  // set at creation; cleared only by Disconnect, with the gate closed
};

class TMyEndpointVolumeCallback final
    : public NotifyingComObject<TMyEndpointVolumeCallback, IAudioEndpointVolumeCallback,
                                VolumeNotify> {
 public:
  explicit TMyEndpointVolumeCallback(VolumeNotify notify) : NotifyingComObject(std::move(notify)) {}
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;
  static VolumeNotification Convert(const AUDIO_VOLUME_NOTIFICATION_DATA& data);

 private:
  ~TMyEndpointVolumeCallback() = default;
  friend NotifyingComObject;
};

// Reports the capture devices' changes for the multimedia role: a new default, and a device
// that is removed or leaves the active state (unplugged, disabled).
class DeviceNotificationClient final
    : public NotifyingComObject<DeviceNotificationClient, IMMNotificationClient,
                                CaptureDeviceNotify> {
 public:
  explicit DeviceNotificationClient(CaptureDeviceNotify notify)
      : NotifyingComObject(std::move(notify)) {}
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override;
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR id, const PROPERTYKEY key) override;

 private:
  ~DeviceNotificationClient() = default;
  friend NotifyingComObject;
};

}  // namespace kv::platform::win32
