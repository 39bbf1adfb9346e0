#pragma once
// TgxHIDData: finds the mouse's HID interfaces by hardware ID and usage pair, runs one read
// thread per matching interface (TgxHidDeviceReadThread), and sends output and feature reports.
//
// Every operation looks the interfaces up afresh and never raises: Boolean results are false,
// feature operations return 0 or the platform's error code, and a failing interface is skipped.
// All operations run on the main thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hid_records.h"
#include "platform/hid.h"
#include "platform/platform.h"

namespace kv {

using TgxHIDDataReceived =
    std::function<void(const std::string& ADeviceID, const std::string& ADevicePath,
                       std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
using TgxHIDParsedDataReceived =
    std::function<void(const std::string& ADeviceID, const std::string& ADevicePath,
                       std::uint8_t ReportID, std::uint32_t ButtonData)>;
using TgxHIDDeviceNotConnected =
    std::function<void(const std::string& ADeviceID, const std::string& ADevicePath)>;

// Entries of the process-wide button-parse state.
inline constexpr std::size_t kParseStateEntries = 100;
inline constexpr const char* kHidClassGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
inline constexpr const char* kNotConnectedTrace = "ERROR_DEVICE_NOT_CONNECTED++++++++++++++++";
inline constexpr std::chrono::milliseconds kStopPulse{20};

class TgxHidDeviceReadThread;

class TgxHIDData {
 public:
  // Uses platform.hid (none: every operation returns its initial result), the main loop, the
  // debug output and the include list of Paths::ConfigFile().
  explicit TgxHIDData(platform::Platform& platform);
  // Ends the read threads this component started (without a trace or handler call) and waits
  // for them; a report being handed over is dropped.
  ~TgxHIDData();
  TgxHIDData(const TgxHIDData&) = delete;
  TgxHIDData& operator=(const TgxHIDData&) = delete;

  // Starts a read thread for each present interface that passes the read filter with HIDID and
  // has exactly UsageAndPage. Threads already running go on.
  void HidFindAndReadDevice(USAGE_AND_PAGE UsageAndPage, const std::string& HIDID);
  // Stops every read thread in the process that reads through the same HID service: pulses the
  // shared stop event for 20 ms. A thread busy handing a report over stops right after it.
  void HidStopRead();
  bool IsDeviceExist(const THIDDataParam& ReportData);
  [[nodiscard]] bool HidFindAndWriteDevice(const THIDDataParam& ReportData);
  [[nodiscard]] bool HidFindAndWriteDeviceBYHID(const THIDDataParam& ReportData);
  // Result when no interface is asked: kNoInterfaceAnswered.
  [[nodiscard]] std::uint32_t HidFindAndGetFeatureReport(THIDDataParam& ReportData);
  [[nodiscard]] std::uint32_t HidFindAndSetFeatureReport(THIDDataParam& ReportData);
  static constexpr std::uint32_t kNoInterfaceAnswered = 1167;  // "device not connected"

  // The include list, owned by the component.
  const std::vector<std::string>& GetHIDDeviceList() const { return FHidDeviceList; }
  void SetUsageAndPage(USAGE_AND_PAGE AUsageAndPage) { FUsageAndPage = AUsageAndPage; }
  USAGE_AND_PAGE GetUsageAndPage() const { return FUsageAndPage; }
  const std::string& HidGuid() const { return FHidGuid; }

  // Read threads of this component that have not ended yet.
  std::size_t RunningThreads();

  // Handlers: set them before starting reads. OnDeviceNotConnected always runs on the read
  // thread; OnData and OnParsedData on the main thread unless FastOnData.
  TgxHIDDataReceived OnData;
  TgxHIDParsedDataReceived OnParsedData;
  TgxHIDDeviceNotConnected OnDeviceNotConnected;
  std::atomic<bool> FastOnData{false};

  // The process-wide make/break state starts empty again (a new device session).
  static void ResetParseState();

 private:
  friend class TgxHidDeviceReadThread;
  struct SharedStop;
  enum class Filter { Read, Parameter, None };

  bool Passes(Filter filter, const std::string& id,
              const std::vector<std::string>& hardwareIds) const;
  // Calls fn(deviceId, path, device, caps) for every interface that passes the filter and whose
  // usage pair is `usage`, with the device opened in `mode`.
  void ForEachInterface(
      Filter filter, const std::string& id, USAGE_AND_PAGE usage, platform::HidOpenMode mode,
      const std::function<void(const std::string&, const std::string&, platform::HidDevice&,
                               const platform::HidCapabilities&)>& fn);
  void Reap();
  void LoadIncludeHIDDeviceList();

  platform::Platform& platform_;
  platform::Hid* hid_;
  USAGE_AND_PAGE FUsageAndPage;
  std::string FHidGuid;
  std::vector<std::string> FHidDeviceList;
  std::shared_ptr<SharedStop> stop_;
  std::vector<std::unique_ptr<TgxHidDeviceReadThread>> threads_;
};

}  // namespace kv
