#pragma once
// HID interfaces and device notifications at the platform boundary.
//
// A HID interface is one top-level collection of a HID device as the system sees it: a device
// path that opens it, the hardware-ID list of its device node, its attributes and capabilities,
// input reports to read, output reports to write and feature reports to get and set. Report
// buffers always carry the report ID in byte 0 (0 when the device uses no report IDs), and every
// report length counts that byte.
//
// Error codes are the platform's own numbers (0 is success); only their meaning classes below
// (HidReadStatus) are common to every platform.
//
// Implementations: platform/sim (in memory, scripted by tests), platform/linux (hidraw + udev),
// platform/win32 (device installation services + the HID class library). Each must pass the
// contract suite in tests/platform/hid_contract.h.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// One usage with its page, as a usage list reports it.
struct HidUsage {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  friend bool operator==(const HidUsage&, const HidUsage&) = default;
};

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t version = 0;
};

// The top-level collection's usage pair and the longest report of each kind, in bytes, report ID
// byte included (a collection without report IDs still counts one byte). 0 means "no report of
// that kind".
struct HidCapabilities {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  std::uint16_t inputReportByteLength = 0;
  std::uint16_t outputReportByteLength = 0;
  std::uint16_t featureReportByteLength = 0;
};

// A present interface, as the enumeration lists it.
struct HidInterfaceInfo {
  std::string path;                      // opens the interface; stable while it is present
  std::vector<std::string> hardwareIds;  // of its device node, most specific first; may be empty
};

// A manual-reset stop signal that any number of read threads wait on together, alongside their
// report. Created by the Hid service that the reads belong to (a read only honours a stop event
// of its own service).
//
// Besides its level it counts generations: every Set() that finds it not set starts a new
// generation. A read started under generation G ends as Stopped as soon as the event is set or
// its generation is no longer G, so a stop is never lost, also when Set and Reset both happen
// before the reader gets to wait (the implementation must close that gap itself, e.g. by waking
// every registered waiter on Set).
//
// Thread rules: every method may be called from any thread at any time.
class HidStopEvent {
 public:
  virtual ~HidStopEvent() = default;  // no read may still be waiting on it
  virtual void Set() = 0;
  virtual void Reset() = 0;
  virtual bool IsSet() const = 0;
  virtual std::uint64_t Generation() const = 0;
  // Set, keep it set for `hold` so that level-watching readers see it, then Reset. Returns after
  // that. The sim platform records the hold instead of sleeping.
  virtual void Pulse(std::chrono::milliseconds hold) = 0;
};

enum class HidReadStatus {
  Report,         // a report arrived: `bytes` bytes at the start of the buffer, report ID first
  Stopped,        // the stop event was set or moved to another generation; nothing was read
  Cancelled,      // CancelRead() or closing ended the read (the Windows "operation aborted")
  NotConnected,   // the device went away (unplugged, or its path no longer works)
  InvalidHandle,  // the device object is not open for reading (a failed or synchronous open)
  Failed,         // any other error (`error` tells which); the next read may succeed
};

struct HidReadResult {
  HidReadStatus status = HidReadStatus::Failed;
  std::size_t bytes = 0;    // with Report; may be 0 (a zero-length completion)
  std::uint32_t error = 0;  // the platform's code for every status but Report and Stopped
};

enum class HidOpenMode {
  Synchronous,  // writes and feature requests; Read() answers InvalidHandle
  Overlapped,   // reads that a stop event or CancelRead can interrupt; writes and features work too
};

// An open interface. One thread may call Read while others call CancelRead, WriteOutput or the
// feature and usage methods. Destroy it only once no call is running: a reader that wants to
// close with a read outstanding calls CancelRead and lets that Read return first, so that the
// platform has let go of the buffer before it is freed.
class HidDevice {
 public:
  virtual ~HidDevice() = default;

  // nullopt when the platform cannot tell (the interface is then skipped by its users).
  virtual std::optional<HidAttributes> Attributes() = 0;
  virtual std::optional<HidCapabilities> Capabilities() = 0;

  // Reads one input report into `buffer` (its size is normally the input report byte length),
  // blocking until a report arrives, the read fails, CancelRead is called, or `stop` is set or
  // leaves generation `stopGeneration` — whichever comes first; never by polling. At most one
  // Read at a time per device object. A report longer than the buffer is cut to its size.
  virtual HidReadResult Read(std::span<std::uint8_t> buffer, HidStopEvent& stop,
                             std::uint64_t stopGeneration) = 0;
  // Any thread: ends a pending Read with Cancelled, or the next one if none is pending.
  virtual void CancelRead() = 0;

  // One whole output report, report ID in byte 0; returns 0 once the device accepted all of it,
  // else an error code (never 0). Blocks until done.
  [[nodiscard]] virtual std::uint32_t WriteOutput(std::span<const std::uint8_t> report) = 0;
  // The feature report whose ID is in report[0], report.size() bytes long including that byte;
  // on success the buffer holds it (byte 0 the ID the device returned) and the result is 0; on
  // failure the buffer is unchanged and the result is an error code.
  [[nodiscard]] virtual std::uint32_t GetFeature(std::span<std::uint8_t> report) = 0;
  // Sends report.size() bytes, report ID in byte 0, as a feature report. 0 or an error code.
  [[nodiscard]] virtual std::uint32_t SetFeature(std::span<const std::uint8_t> report) = 0;

  // Usage queries over input reports, all usage pages and every collection of the interface.
  // The most usages an input report can have on at once (0 when it has no buttons); nullopt
  // when the platform cannot tell.
  virtual std::optional<std::size_t> MaxUsageListLength() = 0;
  // The button usages that are on in the input report (report ID in byte 0), in the order the
  // report lays them out; nullopt when the report cannot be parsed (e.g. unknown report ID or
  // too short).
  virtual std::optional<std::vector<HidUsage>> ButtonsOn(std::span<const std::uint8_t> report) = 0;

  // A number that identifies this open object while it exists (the platform's handle value
  // where it has one). Never 0.
  virtual std::uint64_t HandleValue() const = 0;
};

// Why an interface cannot be opened, for a person.
struct HidOpenFailure {
  bool accessDenied = false;  // the user lacks the rights to the device (not a fault of it)
  std::string detail;  // what failed and the system's reason ("/dev/hidraw3: Permission denied")
};

// The HID service. Thread rules: Interfaces, Open and CreateStopEvent may be called from any
// thread; none of them keeps state between calls.
class Hid {
 public:
  virtual ~Hid() = default;

  // False when the platform's HID library could not be bound (or the platform has none); then
  // Open and enumeration may still answer, but attributes and capabilities do not.
  virtual bool Available() = 0;
  // The interface class that is enumerated, in text form "{xxxxxxxx-xxxx-...}".
  virtual std::string InterfaceClass() = 0;

  // The present HID interfaces, in a stable order; nullopt when the set cannot be had at all.
  virtual std::optional<std::vector<HidInterfaceInfo>> Interfaces() = 0;
  // Opens the path for reading and writing, sharing both with other opens (of this process and
  // others). nullptr when the path cannot be opened (absent, removed, no permission).
  virtual std::unique_ptr<HidDevice> Open(std::string_view path, HidOpenMode mode) = 0;

  // A new stop event, not set, generation 0. Never nullptr.
  virtual std::unique_ptr<HidStopEvent> CreateStopEvent() = 0;

  // nullopt when `path` opens now; otherwise why it does not.
  virtual std::optional<HidOpenFailure> WhyNotOpen(std::string_view path) {
    if (Open(path, HidOpenMode::Synchronous)) return std::nullopt;
    return HidOpenFailure{false, std::string(path) + ": cannot be opened"};
  }
};

// ---------------------------------------------------------------------------------------------
// Device notifications: arrivals and removals of HID interfaces and the general "device nodes
// changed" notice, delivered on the main thread.

enum class DeviceChangeKind {
  Arrival,       // something arrived
  Removal,       // something has been removed (completely; removal queries are not reported)
  NodesChanged,  // the set of device nodes changed; nothing more is known
};

struct DeviceChange {
  DeviceChangeKind kind = DeviceChangeKind::NodesChanged;
  // Arrival and Removal: true when the notice is about a device interface (of the HID class);
  // false for any other kind of device notice that reaches the receiver.
  bool deviceInterface = false;
  std::string path;  // the interface's device path where known, else ""
};

// Withdraws the registration when destroyed (main thread); no callback runs after that.
class DeviceSubscription {
 public:
  virtual ~DeviceSubscription() = default;
};

class DeviceNotifications {
 public:
  virtual ~DeviceNotifications() = default;
  // Main thread. Registers for notices of the HID interface class; `onChange` then runs on the
  // main thread, one call per notice and per interface. nullptr when registration failed.
  virtual std::unique_ptr<DeviceSubscription> Subscribe(
      std::function<void(const DeviceChange&)> onChange) = 0;
};

}  // namespace kv::platform
