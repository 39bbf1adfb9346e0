#pragma once
// A whole simulated machine for the monitor: the core sim services plus HID, device notices,
// audio, shell and locale, with recorders on the registry and the message windows that see
// every call the monitor makes, and a stand-in configurator window.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/sim_audio.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_locale.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_shell.h"

namespace kvtest {

namespace pf = kv::platform;

// One line per call: "query <name>", "dword <name>=<v>", "binary <name>", "open <path>",
// "post <msg> <w> <l>", "send <msg> <w> <l>", "find <class>".
class CallLog {
 public:
  void Add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class RecordingRegistry : public pf::Registry {
 public:
  RecordingRegistry(pf::Registry& inner, CallLog& log) : inner_(inner), log_(log) {}
  std::unique_ptr<pf::RegistryKey> CreateKey(pf::RootKey root, std::string_view path) override;
  std::unique_ptr<pf::RegistryKey> OpenKey(pf::RootKey root, std::string_view path) override;

 private:
  pf::Registry& inner_;
  CallLog& log_;
};

class RecordingWindows : public pf::MessageWindows {
 public:
  RecordingWindows(pf::MessageWindows& inner, CallLog& log) : inner_(inner), log_(log) {}
  std::unique_ptr<pf::MessageWindow> Create(std::string_view className,
                                            pf::WindowProc proc) override {
    return inner_.Create(className, std::move(proc));
  }
  pf::WindowHandle Find(std::string_view className) override;
  bool Post(pf::WindowHandle window, const pf::WindowMessage& message) override;
  std::optional<std::intptr_t> Send(pf::WindowHandle window,
                                    const pf::WindowMessage& message) override;
  // Called before each post or send goes through (the test may look at the world then).
  std::function<void(const pf::WindowMessage&)> beforeDelivery;

 private:
  pf::MessageWindows& inner_;
  CallLog& log_;
};

// Counts every audio call by delegating; lets a test see calls made at a given moment.
class RecordingAudio : public pf::Audio {
 public:
  RecordingAudio(pf::Audio& inner, CallLog& log) : inner_(inner), log_(log) {}
  bool HasCaptureEndpoint() override {
    log_.Add("audio has-endpoint");
    return inner_.HasCaptureEndpoint();
  }
  std::unique_ptr<pf::CaptureEndpoint> OpenDefaultCaptureEndpoint() override;
  std::unique_ptr<pf::CaptureDeviceWatch> WatchCaptureDevices(
      pf::CaptureDeviceNotify notify) override;
  pf::LegacyMixer* Mixer() override {
    log_.Add("audio mixer");
    return inner_.Mixer();
  }

 private:
  pf::Audio& inner_;
  CallLog& log_;
};

// The configurator as far as the monitor sees it: a window of class "TKVCFGMAIN".
class FakeConfigurator {
 public:
  explicit FakeConfigurator(pf::MessageWindows& windows);
  std::vector<pf::WindowMessage> Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  pf::WindowHandle Handle() const { return window_->Handle(); }
  void Close() { window_.reset(); }

 private:
  mutable std::mutex mutex_;
  std::vector<pf::WindowMessage> received_;
  std::unique_ptr<pf::MessageWindow> window_;
};

// The mouse's control interface: usage page 0xFFA0, usage 1, input reports 7 and 8 with seven
// data bytes each.
std::vector<std::uint8_t> MouseDescriptor();

struct World {
  World();
  ~World();
  pf::Platform& platform() { return platform_; }
  // Plugs the mouse (its arrival notice goes to the monitor) and returns its path.
  std::string PlugMouse();

  pf::sim::SimPlatform sim;
  pf::sim::SimDeviceNotifications devices{sim.loop};
  pf::sim::SimHid hid{&devices};
  pf::sim::SimAudio audio;
  pf::sim::SimShell shell{sim.loop};
  pf::sim::SimLocale locale;
  CallLog log;
  RecordingRegistry registry{sim.registry, log};
  RecordingWindows windows{sim.windows, log};
  RecordingAudio recordingAudio{audio, log};

 private:
  pf::Platform platform_;
};

}  // namespace kvtest
