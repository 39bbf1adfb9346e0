#pragma once
// TgxHidDeviceReadThread: reads the input reports of one HID interface and hands each one to
// the handlers of the TgxHIDData that started it.
//
// The thread blocks on "a report or a stop" (never polls). A stop is latched: the thread
// remembers the stop generation it started under and ends as soon as it differs, so a stop
// pulse that falls while the thread is handing a report to the main thread still ends it right
// after. The pending read has always returned before the report buffer is released.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"

namespace kv {

class TgxHIDData;

class TgxHidDeviceReadThread {
 public:
  struct Stop {
    std::shared_ptr<platform::HidStopEvent> event;  // shared by every thread of the service
    std::uint64_t generation = 0;                   // the one this thread started under
  };
  // Opens the path for overlapped reading and starts the thread at once.
  TgxHidDeviceReadThread(TgxHIDData& owner, std::string deviceId, std::string devicePath,
                         Stop stop);
  // Joins; call Abort first unless the thread has ended.
  ~TgxHidDeviceReadThread();

  // Main thread: ends the thread without a trace or handler call, dropping a report that waits
  // for the main thread. Returns at once; the destructor waits.
  void Abort();
  bool Ended() const { return ended_.load(); }
  int InputReportLength() const { return FInputReportLength; }

  // The button make/break data of a report (report ID first, FInputReportLength bytes) against
  // the process-wide parse state; 0 when the device cannot describe its buttons.
  static std::uint32_t ParseButtonData(platform::HidDevice& device,
                                       std::span<const std::uint8_t> report);

 private:
  struct HandOver;
  void Execute();
  void DeliverReport();
  void DeliverOnMainThread();

  TgxHIDData& FHIDData;
  const std::string FDeviceID;
  const std::string FDevicePath;
  std::unique_ptr<platform::HidDevice> FDevice;
  Stop stop_;
  int FInputReportLength = 0;
  std::size_t NumBytesRead = 0;
  std::vector<std::uint8_t> FReport;

  std::atomic<bool> aborted_{false};
  std::atomic<bool> ended_{false};
  std::shared_ptr<HandOver> handOver_;  // the one in progress, if any (guarded by its mutex)
  std::mutex handOverMutex_;
  std::thread thread_;
};

}  // namespace kv
