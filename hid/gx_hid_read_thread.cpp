#include "hid/gx_hid_read_thread.h"

#include <algorithm>
#include <array>

#include "hid/gx_hid_data.h"
#include "hid/usage_list.h"

namespace kv {
namespace {

// Process-wide make/break state: the usages that were on in the last parsed report of any
// interface. Parses may run on several read threads at once (FastOnData), hence the lock.
std::mutex gParseMutex;
std::array<std::uint16_t, kParseStateEntries> gPreviousUsageList{};

}  // namespace

void TgxHIDData::ResetParseState() {
  std::lock_guard lock(gParseMutex);
  gPreviousUsageList.fill(0);
}

// A report waiting for the main thread. Abandoned (by Abort, on the main thread) it is never
// delivered, and its task no longer touches the thread object.
struct TgxHidDeviceReadThread::HandOver {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  bool abandoned = false;
};

TgxHidDeviceReadThread::TgxHidDeviceReadThread(TgxHIDData& owner, std::string deviceId,
                                               std::string devicePath, Stop stop)
    : FHIDData(owner),
      FDeviceID(std::move(deviceId)),
      FDevicePath(std::move(devicePath)),
      stop_(std::move(stop)) {
  FDevice = owner.hid_->Open(FDevicePath, platform::HidOpenMode::Overlapped);
  if (FDevice)
    if (auto caps = FDevice->Capabilities()) FInputReportLength = caps->inputReportByteLength;
  FReport.assign(static_cast<std::size_t>(FInputReportLength), 0);
  thread_ = std::thread([this] { Execute(); });
}

TgxHidDeviceReadThread::~TgxHidDeviceReadThread() {
  if (thread_.joinable()) thread_.join();
}

void TgxHidDeviceReadThread::Abort() {
  aborted_ = true;
  std::lock_guard lock(handOverMutex_);
  if (handOver_) {
    std::lock_guard h(handOver_->mutex);
    handOver_->abandoned = true;
    handOver_->cv.notify_all();
  }
  // The device lives until the thread has left its last read (see the end of Execute).
  if (FDevice) FDevice->CancelRead();
}

void TgxHidDeviceReadThread::Execute() {
  auto stopped = [this] {
    return aborted_.load() || stop_.event->Generation() != stop_.generation;
  };
  // A device that fails every read would make this loop spin at full speed; after this many
  // failures in a row it is treated as gone.
  constexpr int kMaxFailedReadsInARow = 64;
  int failedInARow = 0;
  // Without a device or a report length there is nothing to read: end at once.
  while (FDevice && FInputReportLength > 0 && !stopped()) {
    std::fill(FReport.begin(), FReport.end(), 0);
    const platform::HidReadResult r = FDevice->Read(FReport, *stop_.event, stop_.generation);
    if (aborted_) break;
    if (r.status == platform::HidReadStatus::Report) {
      failedInARow = 0;
      NumBytesRead = r.bytes;
      if (NumBytesRead == 0) continue;
      if (FHIDData.FastOnData) DeliverReport();
      else DeliverOnMainThread();
      continue;
    }
    const bool givenUp =
        r.status == platform::HidReadStatus::Failed && ++failedInARow >= kMaxFailedReadsInARow;
    if (r.status == platform::HidReadStatus::Failed && !givenUp) continue;  // the next may work
    if (givenUp || r.status == platform::HidReadStatus::Cancelled ||
        r.status == platform::HidReadStatus::NotConnected) {
      FHIDData.platform_.debug.Write(kNotConnectedTrace);
      if (FHIDData.OnDeviceNotConnected) FHIDData.OnDeviceNotConnected(FDeviceID, FDevicePath);
    }
    break;  // Stopped, InvalidHandle, Cancelled, NotConnected, or failing for good
  }
  {
    // Every read has returned: the device may go, and the buffer with it. Abort may be calling
    // CancelRead under this lock.
    std::lock_guard lock(handOverMutex_);
    FDevice.reset();
  }
  ended_ = true;
}

void TgxHidDeviceReadThread::DeliverOnMainThread() {
  auto h = std::make_shared<HandOver>();
  {
    std::lock_guard lock(handOverMutex_);
    if (aborted_) return;
    handOver_ = h;
  }
  FHIDData.platform_.loop.Post([this, h] {
    {
      std::lock_guard lock(h->mutex);
      if (h->abandoned) return;
    }
    DeliverReport();
    std::lock_guard lock(h->mutex);
    h->done = true;
    h->cv.notify_all();
  });
  {
    std::unique_lock lock(h->mutex);
    h->cv.wait(lock, [&] { return h->done || h->abandoned; });
  }
  std::lock_guard lock(handOverMutex_);
  handOver_.reset();
}

void TgxHidDeviceReadThread::DeliverReport() {
  const std::uint8_t reportId = FReport.empty() ? 0 : FReport[0];
  if (FHIDData.OnData)
    FHIDData.OnData(FDeviceID, FDevicePath, reportId, FReport.data() + 1,
                    static_cast<std::uint16_t>(NumBytesRead - 1));
  if (FHIDData.OnParsedData)
    FHIDData.OnParsedData(FDeviceID, FDevicePath, reportId, ParseButtonData(*FDevice, FReport));
}

std::uint32_t TgxHidDeviceReadThread::ParseButtonData(platform::HidDevice& device,
                                                      std::span<const std::uint8_t> report) {
  const auto max = device.MaxUsageListLength();
  if (!max || *max == 0) return 0;
  // The lists have room for 100 usages; a larger interface is parsed as far as that goes.
  const std::size_t n = std::min(*max, kParseStateEntries);
  const auto on = device.ButtonsOn(report);
  if (!on || on->size() > n) return 0;  // the platform's "buffer too small" ends the parse too
  std::array<std::uint16_t, kParseStateEntries> current{};
  for (std::size_t i = 0; i < on->size(); ++i) current[i] = (*on)[i].usage;

  std::lock_guard lock(gParseMutex);
  const hid::UsageDifference d = hid::UsageListDifference(gPreviousUsageList, current, n);
  std::copy_n(current.begin(), n, gPreviousUsageList.begin());
  if (!d.breaks.empty()) return d.breaks.front();
  if (!d.makes.empty()) return std::uint32_t{d.makes.front()} << 16;
  return 0;
}

}  // namespace kv
