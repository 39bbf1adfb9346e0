#include "platform/win32/win32_audio.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <mmsystem.h>

#include <audioclient.h>

#include <thread>

#include "platform/win32/audio_callbacks.h"
#include "platform/win32/wide.h"

namespace kv::platform::win32 {

// ---- the objects the audio system calls back ----

void CallGate::Close() {
  closed_.store(true);
  while (calls_.load() != 0) std::this_thread::yield();
}

VolumeNotification TMyEndpointVolumeCallback::Convert(const AUDIO_VOLUME_NOTIFICATION_DATA& data) {
  VolumeNotification n;
  n.muted = data.bMuted != FALSE;
  n.masterVolume = data.fMasterVolume;
  // The channel volumes run on past the end of the declared one-element array.
  n.channelVolumes.assign(data.afChannelVolumes, data.afChannelVolumes + data.nChannels);
  return n;
}

HRESULT STDMETHODCALLTYPE
TMyEndpointVolumeCallback::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) {
  if (!data) return E_POINTER;
  Deliver(Convert(*data));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DeviceNotificationClient::OnDeviceStateChanged(LPCWSTR id, DWORD state) {
  if (id && state != DEVICE_STATE_ACTIVE)
    Deliver(CaptureDeviceEvent{CaptureDeviceChange::DeviceRemoved, Narrow(id)});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DeviceNotificationClient::OnDeviceAdded(LPCWSTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE DeviceNotificationClient::OnDeviceRemoved(LPCWSTR id) {
  if (id) Deliver(CaptureDeviceEvent{CaptureDeviceChange::DeviceRemoved, Narrow(id)});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DeviceNotificationClient::OnDefaultDeviceChanged(EDataFlow flow,
                                                                           ERole role, LPCWSTR) {
  if (flow == eCapture && role == eMultimedia)
    Deliver(CaptureDeviceEvent{CaptureDeviceChange::DefaultChanged, ""});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DeviceNotificationClient::OnPropertyValueChanged(LPCWSTR,
                                                                           const PROPERTYKEY) {
  return S_OK;
}

namespace {

// An owned reference to a COM interface.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    Reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// COM for the calling thread, balanced when this ends. A thread already in another apartment
// keeps it (COM is usable there too) and is not uninitialised by us.
class ComThread {
 public:
  ComThread() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComThread() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComThread(const ComThread&) = delete;
  ComThread& operator=(const ComThread&) = delete;
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// In-process server and handler and a local server; never a remote one.
constexpr DWORD kLocalContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

class Win32CaptureEndpoint : public CaptureEndpoint {
 public:
  // Members are released in reverse order: the callback is withdrawn while the volume
  // interface still exists, and COM is uninitialised last.
  ~Win32CaptureEndpoint() override { Unregister(); }

  std::optional<bool> GetMute() override {
    BOOL muted = FALSE;
    if (Check(volume_->GetMute(&muted)) != S_OK) return std::nullopt;
    return muted != FALSE;
  }

  bool SetMute(bool muted) override {
    // S_FALSE (already in that state) is success too.
    return SUCCEEDED(Check(volume_->SetMute(muted ? TRUE : FALSE, nullptr)));
  }

  bool RegisterVolumeNotify(VolumeNotify notify) override {
    Unregister();
    auto* callback = new TMyEndpointVolumeCallback(std::move(notify));
    if (FAILED(Check(volume_->RegisterControlChangeNotify(callback)))) {
      callback->Disconnect();
      callback->Release();
      return false;
    }
    callback_ = callback;
    return true;
  }

  std::string DeviceId() const override { return id_; }
  bool Invalidated() const override { return invalidated_; }

  ComThread com_;
  ComRef<IMMDeviceEnumerator> enumerator_;
  ComRef<IMMDevice> device_;
  ComRef<IAudioEndpointVolume> volume_;
  std::string id_;

 private:
  // A device that was removed or disabled answers every call with this for good.
  HRESULT Check(HRESULT hr) {
    if (hr == AUDCLNT_E_DEVICE_INVALIDATED) invalidated_ = true;
    return hr;
  }
  void Unregister() {
    if (!callback_) return;
    volume_->UnregisterControlChangeNotify(callback_);
    // Also covers an audio system that is still delivering or keeps the object after this.
    callback_->Disconnect();
    callback_->Release();
    callback_ = nullptr;
  }

  TMyEndpointVolumeCallback* callback_ = nullptr;
  bool invalidated_ = false;
};

// The enumerator with the notification client registered, for the watch's lifetime.
class Win32CaptureWatch : public CaptureDeviceWatch {
 public:
  ~Win32CaptureWatch() override {
    if (client_) {
      if (registered_) enumerator_->UnregisterEndpointNotificationCallback(client_);
      client_->Disconnect();
      client_->Release();
    }
  }
  ComThread com_;
  ComRef<IMMDeviceEnumerator> enumerator_;
  DeviceNotificationClient* client_ = nullptr;
  bool registered_ = false;
};

std::string DeviceIdOf(IMMDevice* device) {
  LPWSTR id = nullptr;
  if (FAILED(device->GetId(&id)) || !id) return {};
  std::string out = Narrow(id);
  CoTaskMemFree(id);
  return out;
}

}  // namespace

bool Win32Audio::HasCaptureEndpoint() {
  // RtlGetVersion answers the true version; GetVersionEx answers what the manifest declares.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto get = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                         reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                   : nullptr;
  if (!get) return false;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (get(&info) != 0) return false;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
}

std::unique_ptr<CaptureEndpoint> Win32Audio::OpenDefaultCaptureEndpoint() {
  auto ep = std::make_unique<Win32CaptureEndpoint>();
  if (!ep->com_.Usable()) return nullptr;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, kLocalContexts,
                              __uuidof(IMMDeviceEnumerator), ep->enumerator_.put_void())) ||
      !ep->enumerator_)
    return nullptr;
  if (ep->enumerator_->GetDefaultAudioEndpoint(eCapture, eMultimedia, ep->device_.put()) != S_OK ||
      !ep->device_)
    return nullptr;
  if (ep->device_->Activate(__uuidof(IAudioEndpointVolume), kLocalContexts, nullptr,
                            ep->volume_.put_void()) != S_OK ||
      !ep->volume_)
    return nullptr;
  ep->id_ = DeviceIdOf(ep->device_.get());
  return ep;
}

std::unique_ptr<CaptureDeviceWatch> Win32Audio::WatchCaptureDevices(CaptureDeviceNotify notify) {
  if (!notify) return nullptr;
  auto watch = std::make_unique<Win32CaptureWatch>();
  if (!watch->com_.Usable()) return nullptr;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, kLocalContexts,
                              __uuidof(IMMDeviceEnumerator), watch->enumerator_.put_void())) ||
      !watch->enumerator_)
    return nullptr;
  watch->client_ = new DeviceNotificationClient(std::move(notify));
  watch->registered_ =
      SUCCEEDED(watch->enumerator_->RegisterEndpointNotificationCallback(watch->client_));
  if (!watch->registered_) return nullptr;
  return watch;
}

// ---- the legacy mixer ----

namespace {

class OpenMixer {
 public:
  OpenMixer() = default;
  ~OpenMixer() {
    if (handle_) mixerClose(handle_);
  }
  OpenMixer(const OpenMixer&) = delete;
  OpenMixer& operator=(const OpenMixer&) = delete;
  bool Open(unsigned device) {
    return mixerOpen(&handle_, device, 0, 0, MIXER_OBJECTF_MIXER) == MMSYSERR_NOERROR && handle_;
  }
  HMIXEROBJ obj() const { return reinterpret_cast<HMIXEROBJ>(handle_); }

 private:
  HMIXER handle_ = nullptr;
};

// The microphone source line, found by its component type.
bool FindMicrophoneLine(const OpenMixer& mixer, MIXERLINEW& line) {
  line = MIXERLINEW{};
  line.cbStruct = sizeof(line);
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
  return mixerGetLineInfoW(mixer.obj(), &line,
                           MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) ==
         MMSYSERR_NOERROR;
}

// Opens the mixer, finds the microphone line's mute control and runs `use` on its boolean
// value; the mixer is closed again on every path.
template <typename Use>
MixerResult WithMuteControl(unsigned device, Use use) {
  if (mixerGetNumDevs() == 0) return MixerResult::NoDevice;
  OpenMixer mixer;
  if (!mixer.Open(device)) return MixerResult::OpenFailed;
  MIXERLINEW line;
  if (!FindMicrophoneLine(mixer, line)) return MixerResult::NoMicrophoneLine;
  MIXERCONTROLW control{};
  control.cbStruct = sizeof(control);
  MIXERLINECONTROLSW controls{};
  controls.cbStruct = sizeof(controls);
  controls.dwLineID = line.dwLineID;
  controls.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
  controls.cControls = 1;
  controls.cbmxctrl = sizeof(control);
  controls.pamxctrl = &control;
  if (mixerGetLineControlsW(mixer.obj(), &controls,
                            MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
      MMSYSERR_NOERROR)
    return MixerResult::NoMuteControl;
  MIXERCONTROLDETAILS_BOOLEAN value{};
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof(details);
  details.dwControlID = control.dwControlID;
  details.cChannels = 1;
  details.cbDetails = sizeof(value);
  details.paDetails = &value;
  return use(mixer, details, value) ? MixerResult::Ok : MixerResult::DetailsFailed;
}

}  // namespace

MixerResult Win32Mixer::GetMicrophoneMute(bool& muted) {
  bool read = false;
  const MixerResult result = WithMuteControl(
      device_, [&](const OpenMixer& m, MIXERCONTROLDETAILS& d, MIXERCONTROLDETAILS_BOOLEAN& v) {
        if (mixerGetControlDetailsW(m.obj(), &d,
                                    MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
            MMSYSERR_NOERROR)
          return false;
        read = v.fValue != 0;
        return true;
      });
  if (result == MixerResult::Ok) muted = read;
  return result;
}

MixerResult Win32Mixer::SetMicrophoneMute(bool muted) {
  return WithMuteControl(
      device_, [&](const OpenMixer& m, MIXERCONTROLDETAILS& d, MIXERCONTROLDETAILS_BOOLEAN& v) {
        v.fValue = muted ? 1 : 0;
        return mixerSetControlDetails(m.obj(), &d,
                                      MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) ==
               MMSYSERR_NOERROR;
      });
}

}  // namespace kv::platform::win32
