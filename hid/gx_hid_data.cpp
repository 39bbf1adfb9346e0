#include "hid/gx_hid_data.h"

#include <algorithm>
#include <cstring>

#include "base/strings.h"
#include "hid/gx_hid_read_thread.h"
#include "profile/options.h"

namespace kv {

// The stop event every read thread of one HID service waits on. Components on the same service
// share it (a stop from any of them reaches every thread); it lives while a component or a
// thread still holds it.
struct TgxHIDData::SharedStop {
  platform::Hid* hid = nullptr;
  std::shared_ptr<platform::HidStopEvent> event;
};

namespace {
std::mutex gStopMutex;
std::weak_ptr<void> gStop;  // the current SharedStop
}  // namespace

TgxHIDData::TgxHIDData(platform::Platform& platform) : platform_(platform), hid_(platform.hid) {
  if (hid_) {
    std::lock_guard lock(gStopMutex);
    stop_ = std::static_pointer_cast<SharedStop>(gStop.lock());
    if (!stop_ || stop_->hid != hid_) {
      stop_ = std::make_shared<SharedStop>();
      stop_->hid = hid_;
      stop_->event = hid_->CreateStopEvent();
      gStop = stop_;
    }
  }
  FHidGuid = hid_ && hid_->Available() ? hid_->InterfaceClass() : kHidClassGuid;
  LoadIncludeHIDDeviceList();
}

TgxHIDData::~TgxHIDData() {
  for (auto& t : threads_) t->Abort();
  threads_.clear();  // joins
}

void TgxHIDData::LoadIncludeHIDDeviceList() {
  FHidDeviceList = kv::LoadIncludeHIDDeviceList(platform_.paths);
}

bool TgxHIDData::Passes(Filter filter, const std::string& id,
                        const std::vector<std::string>& hardwareIds) const {
  auto inHardwareIds = [&](const std::string& s) {
    return std::any_of(hardwareIds.begin(), hardwareIds.end(),
                       [&](const std::string& h) { return EqualsIgnoreCase(h, s); });
  };
  auto anyIncluded = [&] {
    return std::any_of(FHidDeviceList.begin(), FHidDeviceList.end(), inHardwareIds);
  };
  switch (filter) {
    case Filter::None: return true;
    case Filter::Read:
      if (FHidDeviceList.empty()) return true;
      if (id == "*") return anyIncluded();
      return !id.empty() && inHardwareIds(id);
    case Filter::Parameter:
      if (!id.empty() && id != "*") return inHardwareIds(id);
      return FHidDeviceList.empty() || anyIncluded();
  }
  return false;
}

void TgxHIDData::ForEachInterface(
    Filter filter, const std::string& id, USAGE_AND_PAGE usage, platform::HidOpenMode mode,
    const std::function<void(const std::string&, const std::string&, platform::HidDevice&,
                             const platform::HidCapabilities&)>& fn) {
  if (!hid_ || !hid_->Available()) return;
  const auto interfaces = hid_->Interfaces();
  if (!interfaces) return;
  for (const platform::HidInterfaceInfo& info : *interfaces) {
    if (!Passes(filter, id, info.hardwareIds)) continue;
    auto device = hid_->Open(info.path, mode);
    if (!device || !device->Attributes()) continue;  // attributes are read though never compared
    const auto caps = device->Capabilities();
    if (!caps || caps->usagePage != usage.UsagePage || caps->usage != usage.Usage) continue;
    const std::string deviceId =
        info.hardwareIds.empty() ? std::string() : info.hardwareIds.front();
    fn(deviceId, info.path, *device, *caps);
  }
}

void TgxHIDData::Reap() {
  std::erase_if(threads_,
                [](const std::unique_ptr<TgxHidDeviceReadThread>& t) { return t->Ended(); });
}

std::size_t TgxHIDData::RunningThreads() {
  Reap();
  return threads_.size();
}

void TgxHIDData::HidFindAndReadDevice(USAGE_AND_PAGE UsageAndPage, const std::string& HIDID) {
  Reap();
  if (!stop_) return;
  std::vector<std::pair<std::string, std::string>> found;
  ForEachInterface(Filter::Read, HIDID, UsageAndPage, platform::HidOpenMode::Overlapped,
                   [&](const std::string& id, const std::string& path, platform::HidDevice&,
                       const platform::HidCapabilities&) { found.emplace_back(id, path); });
  // The test handle is closed again; each thread opens the path itself.
  for (auto& [id, path] : found)
    threads_.push_back(std::make_unique<TgxHidDeviceReadThread>(
        *this, id, path, TgxHidDeviceReadThread::Stop{stop_->event, stop_->event->Generation()}));
}

void TgxHIDData::HidStopRead() {
  if (stop_) stop_->event->Pulse(kStopPulse);
  Reap();
}

bool TgxHIDData::IsDeviceExist(const THIDDataParam& ReportData) {
  bool exists = false;
  ForEachInterface(Filter::Parameter, ReportData.DeviceID, ReportData.UsageAndPage,
                   platform::HidOpenMode::Synchronous,
                   [&](const std::string&, const std::string&, platform::HidDevice&,
                       const platform::HidCapabilities&) { exists = true; });
  return exists;
}

namespace {

std::span<const std::uint8_t> ReportBytes(const THidReallyData& data, std::size_t n) {
  return {&data.ReportID, std::min<std::size_t>(n, sizeof data.DATAReally + 1)};
}

}  // namespace

bool TgxHIDData::HidFindAndWriteDevice(const THIDDataParam& ReportData) {
  bool accepted = false;
  const std::uint32_t size = ReportData.Data.DATASIZE;
  ForEachInterface(
      Filter::Parameter, ReportData.DeviceID, ReportData.UsageAndPage,
      platform::HidOpenMode::Synchronous,
      [&](const std::string&, const std::string&, platform::HidDevice& device,
          const platform::HidCapabilities& caps) {
        if (caps.outputReportByteLength < size) return;
        // DATASIZE counts the bytes after the report ID here.
        if (device.WriteOutput(ReportBytes(ReportData.Data, std::size_t{size} + 1)) == 0)
          accepted = true;
      });
  return accepted;
}

bool TgxHIDData::HidFindAndWriteDeviceBYHID(const THIDDataParam& ReportData) {
  bool accepted = false;
  const std::uint32_t size = ReportData.Data.DATASIZE;
  ForEachInterface(Filter::None, "", ReportData.UsageAndPage, platform::HidOpenMode::Synchronous,
                   [&](const std::string&, const std::string&, platform::HidDevice& device,
                       const platform::HidCapabilities& caps) {
                     if (caps.outputReportByteLength < size) return;
                     if (device.WriteOutput(ReportBytes(ReportData.Data, size)) == 0)
                       accepted = true;
                   });
  return accepted;
}

std::uint32_t TgxHIDData::HidFindAndGetFeatureReport(THIDDataParam& ReportData) {
  std::uint32_t result = kNoInterfaceAnswered;
  const std::uint32_t size = ReportData.Data.DATASIZE;
  ForEachInterface(Filter::Parameter, ReportData.DeviceID, ReportData.UsageAndPage,
                   platform::HidOpenMode::Synchronous,
                   [&](const std::string&, const std::string&, platform::HidDevice& device,
                       const platform::HidCapabilities& caps) {
                     if (caps.featureReportByteLength < size) return;
                     std::vector<std::uint8_t> local(std::min<std::size_t>(size, 65535));
                     if (!local.empty()) local[0] = ReportData.Data.ReportID;
                     result = device.GetFeature(local);
                     if (result == 0)
                       std::memcpy(&ReportData.Data.ReportID, local.data(), local.size());
                   });
  return result;
}

std::uint32_t TgxHIDData::HidFindAndSetFeatureReport(THIDDataParam& ReportData) {
  std::uint32_t result = kNoInterfaceAnswered;
  const std::uint32_t size = ReportData.Data.DATASIZE;
  ForEachInterface(Filter::Parameter, ReportData.DeviceID, ReportData.UsageAndPage,
                   platform::HidOpenMode::Synchronous,
                   [&](const std::string&, const std::string&, platform::HidDevice& device,
                       const platform::HidCapabilities& caps) {
                     if (caps.featureReportByteLength < size) return;
                     ReportData.DeviceHandle = static_cast<std::uint32_t>(device.HandleValue());
                     result = device.SetFeature(ReportBytes(ReportData.Data, size));
                   });
  return result;
}

}  // namespace kv
