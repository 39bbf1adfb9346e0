#include "world.h"

namespace kvtest {
namespace {

std::string Msg(const char* what, const pf::WindowMessage& m) {
  return std::string(what) + " " + std::to_string(m.msg) + " " + std::to_string(m.wParam) + " " +
         std::to_string(m.lParam);
}

class RecordingKey : public pf::RegistryKey {
 public:
  RecordingKey(std::unique_ptr<pf::RegistryKey> inner, CallLog& log)
      : inner_(std::move(inner)), log_(log) {}
  std::optional<pf::RegistryValue> QueryValue(std::string_view name) override {
    log_.Add("query " + std::string(name));
    return inner_->QueryValue(name);
  }
  void SetBinary(std::string_view name, std::span<const std::uint8_t> data) override {
    log_.Add("binary " + std::string(name));
    inner_->SetBinary(name, data);
  }
  void SetDword(std::string_view name, std::uint32_t value) override {
    log_.Add("dword " + std::string(name) + "=" + std::to_string(value));
    inner_->SetDword(name, value);
  }
  bool DeleteValue(std::string_view name) override {
    log_.Add("delete " + std::string(name));
    return inner_->DeleteValue(name);
  }
  std::vector<std::string> ValueNames() override {
    log_.Add("names");
    return inner_->ValueNames();
  }

 private:
  std::unique_ptr<pf::RegistryKey> inner_;
  CallLog& log_;
};

class RecordingEndpoint : public pf::CaptureEndpoint {
 public:
  RecordingEndpoint(std::unique_ptr<pf::CaptureEndpoint> inner, CallLog& log)
      : inner_(std::move(inner)), log_(log) {}
  std::optional<bool> GetMute() override {
    log_.Add("audio get-mute");
    return inner_->GetMute();
  }
  bool SetMute(bool muted) override {
    log_.Add(std::string("audio set-mute ") + (muted ? "1" : "0"));
    return inner_->SetMute(muted);
  }
  bool RegisterVolumeNotify(pf::VolumeNotify notify) override {
    log_.Add("audio register");
    return inner_->RegisterVolumeNotify(std::move(notify));
  }
  std::string DeviceId() const override { return inner_->DeviceId(); }
  bool Invalidated() const override { return inner_->Invalidated(); }

 private:
  std::unique_ptr<pf::CaptureEndpoint> inner_;
  CallLog& log_;
};

}  // namespace

std::unique_ptr<pf::RegistryKey> RecordingRegistry::CreateKey(pf::RootKey root,
                                                              std::string_view path) {
  log_.Add("create " + std::string(path));
  auto key = inner_.CreateKey(root, path);
  return key ? std::make_unique<RecordingKey>(std::move(key), log_) : nullptr;
}

std::unique_ptr<pf::RegistryKey> RecordingRegistry::OpenKey(pf::RootKey root,
                                                            std::string_view path) {
  log_.Add("open " + std::string(path));
  auto key = inner_.OpenKey(root, path);
  return key ? std::make_unique<RecordingKey>(std::move(key), log_) : nullptr;
}

pf::WindowHandle RecordingWindows::Find(std::string_view className) {
  log_.Add("find " + std::string(className));
  return inner_.Find(className);
}

bool RecordingWindows::Post(pf::WindowHandle window, const pf::WindowMessage& message) {
  if (beforeDelivery) beforeDelivery(message);
  log_.Add(Msg("post", message));
  return inner_.Post(window, message);
}

std::optional<std::intptr_t> RecordingWindows::Send(pf::WindowHandle window,
                                                    const pf::WindowMessage& message) {
  if (beforeDelivery) beforeDelivery(message);
  log_.Add(Msg("send", message));
  return inner_.Send(window, message);
}

std::unique_ptr<pf::CaptureEndpoint> RecordingAudio::OpenDefaultCaptureEndpoint() {
  log_.Add("audio open");
  auto ep = inner_.OpenDefaultCaptureEndpoint();
  return ep ? std::make_unique<RecordingEndpoint>(std::move(ep), log_) : nullptr;
}

std::unique_ptr<pf::CaptureDeviceWatch> RecordingAudio::WatchCaptureDevices(
    pf::CaptureDeviceNotify notify) {
  log_.Add("audio watch");
  return inner_.WatchCaptureDevices(std::move(notify));
}

FakeConfigurator::FakeConfigurator(pf::MessageWindows& windows) {
  window_ = windows.Create("TKVCFGMAIN", [this](const pf::WindowMessage& m) {
    std::lock_guard lock(mutex_);
    received_.push_back(m);
    return std::intptr_t{0};
  });
}

std::vector<std::uint8_t> MouseDescriptor() {
  return {0x06, 0xA0, 0xFF,  // usage page 0xFFA0
          0x09, 0x01,        // usage 1
          0xA1, 0x01,        // collection (application)
          0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95,
          0x07, 0x85, 0x07, 0x09, 0x01, 0x81, 0x02,  // report 7: seven bytes
          0x85, 0x08, 0x09, 0x01, 0x81, 0x02,        // report 8: seven bytes
          0xC0};
}

World::World()
    : platform_{registry, sim.paths, sim.clock, sim.loop, windows, sim.instance, sim.debug} {
  platform_.messageBoxes = &sim.messageBoxes;
  platform_.hid = &hid;
  platform_.devices = &devices;
  platform_.audio = &recordingAudio;
  platform_.shell = &shell;
  platform_.locale = &locale;
}

World::~World() = default;

std::string World::PlugMouse() {
  pf::sim::SimHid::InterfaceSpec spec;
  spec.path = "\\\\?\\hid#vid_1234&pid_5678&mi_01#mouse";
  spec.hardwareIds = {"HID\\VID_1234&PID_5678&REV_0100&MI_01", "HID\\VID_1234&PID_5678&MI_01"};
  spec.descriptor = MouseDescriptor();
  return hid.Plug(spec);
}

}  // namespace kvtest
