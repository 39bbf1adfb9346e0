#pragma once
// The COM object the capture endpoint registers for volume notifications. The audio system
// calls OnNotify on a thread of its own; Disconnect makes sure that the program's callback is
// never entered again, whatever the audio system still holds.
#include <windows.h>
#include <endpointvolume.h>

#include <atomic>
#include <mutex>

#include "platform/audio.h"

namespace kv::platform::win32 {

class VolumeCallback final : public IAudioEndpointVolumeCallback {
 public:
  // Made with one reference, owned by the caller.
  explicit VolumeCallback(VolumeNotify notify) : notify_(std::move(notify)) { ++alive_; }
  VolumeCallback(const VolumeCallback&) = delete;
  VolumeCallback& operator=(const VolumeCallback&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  // Drops the program's callback; a call in progress on another thread finishes first.
  void Disconnect();

  static VolumeNotification Convert(const AUDIO_VOLUME_NOTIFICATION_DATA& data);
  // How many of these objects exist: a reference leaked by this program or the audio system
  // shows here.
  static int Alive() { return alive_.load(); }

 private:
  ~VolumeCallback() { --alive_; }
  static inline std::atomic<int> alive_{0};
  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  VolumeNotify notify_;
};

}  // namespace kv::platform::win32
