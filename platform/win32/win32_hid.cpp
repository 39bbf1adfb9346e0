#include "platform/win32/win32_hid.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <hidsdi.h>
#include <dbt.h>
#include <objbase.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/waiter_stop_event.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/window_owner.h"

namespace kv::platform::win32 {

// The entry points are looked up by name; the declarations in the system headers only give
// their types (nothing links against the import libraries).
struct Win32Hid::Api {
  HMODULE setupapi = nullptr;
  HMODULE hid = nullptr;
  decltype(&SetupDiGetClassDevsW) getClassDevs = nullptr;
  decltype(&SetupDiEnumDeviceInterfaces) enumInterfaces = nullptr;
  decltype(&SetupDiGetDeviceInterfaceDetailW) interfaceDetail = nullptr;
  decltype(&SetupDiGetDeviceRegistryPropertyW) registryProperty = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) destroyList = nullptr;
  decltype(&HidD_GetHidGuid) getHidGuid = nullptr;
  decltype(&HidD_GetAttributes) getAttributes = nullptr;
  decltype(&HidD_GetPreparsedData) getPreparsedData = nullptr;
  decltype(&HidD_FreePreparsedData) freePreparsedData = nullptr;
  decltype(&HidD_GetFeature) getFeature = nullptr;
  decltype(&HidD_SetFeature) setFeature = nullptr;
  decltype(&HidP_GetCaps) getCaps = nullptr;
  decltype(&HidP_MaxUsageListLength) maxUsageListLength = nullptr;
  decltype(&HidP_GetUsagesEx) getUsagesEx = nullptr;
  // The HID interface class; this value when hid.dll cannot tell.
  GUID hidGuid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

  bool SetupBound() const {
    return getClassDevs && enumInterfaces && interfaceDetail && registryProperty && destroyList;
  }
  bool HidBound() const {
    return getHidGuid && getAttributes && getPreparsedData && freePreparsedData && getFeature &&
           setFeature && getCaps && maxUsageListLength && getUsagesEx;
  }

  Api() {
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    setupapi = LoadLibraryW(L"setupapi.dll");
    if (setupapi) {
      Bind(setupapi, "SetupDiGetClassDevsW", getClassDevs);
      Bind(setupapi, "SetupDiEnumDeviceInterfaces", enumInterfaces);
      Bind(setupapi, "SetupDiGetDeviceInterfaceDetailW", interfaceDetail);
      Bind(setupapi, "SetupDiGetDeviceRegistryPropertyW", registryProperty);
      Bind(setupapi, "SetupDiDestroyDeviceInfoList", destroyList);
    }
    // The HID library is only of use together with the enumeration.
    if (SetupBound()) hid = LoadLibraryW(L"hid.dll");
    SetErrorMode(oldMode);
    if (hid) {
      Bind(hid, "HidD_GetHidGuid", getHidGuid);
      Bind(hid, "HidD_GetAttributes", getAttributes);
      Bind(hid, "HidD_GetPreparsedData", getPreparsedData);
      Bind(hid, "HidD_FreePreparsedData", freePreparsedData);
      Bind(hid, "HidD_GetFeature", getFeature);
      Bind(hid, "HidD_SetFeature", setFeature);
      Bind(hid, "HidP_GetCaps", getCaps);
      Bind(hid, "HidP_MaxUsageListLength", maxUsageListLength);
      Bind(hid, "HidP_GetUsagesEx", getUsagesEx);
      if (getHidGuid) getHidGuid(&hidGuid);
    }
  }
  ~Api() {
    if (hid) FreeLibrary(hid);
    if (setupapi) FreeLibrary(setupapi);
  }
  Api(const Api&) = delete;
  Api& operator=(const Api&) = delete;

 private:
  template <typename F>
  static void Bind(HMODULE module, const char* name, F& fn) {
    fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
};

namespace {

// Codes with which a read or request says that the device is not there any more (unplugged, its
// driver stack torn down, or — for a pipe standing in for it — the other end closed).
constexpr DWORD kErrorNoSuchDevice = 433;  // not in every SDK's headers

bool IsGoneError(DWORD err) {
  switch (err) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED: return true;
    default: return false;
  }
}

HidReadResult ReadFailure(DWORD err) {
  if (err == ERROR_OPERATION_ABORTED) return {HidReadStatus::Cancelled, 0, err};
  if (err == ERROR_INVALID_HANDLE) return {HidReadStatus::InvalidHandle, 0, err};
  if (IsGoneError(err)) return {HidReadStatus::NotConnected, 0, err};
  return {HidReadStatus::Failed, 0, err ? err : static_cast<DWORD>(ERROR_GEN_FAILURE)};
}

std::uint32_t ErrorOrGeneric(DWORD err) {
  return err ? err : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

std::string GuidText(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

// The hardware IDs of a device node: a multi-string, split at each terminator up to the empty
// string. Unreadable or oversized: no IDs.
std::vector<std::string> HardwareIds(const Win32Hid::Api& api, HDEVINFO set,
                                     SP_DEVINFO_DATA& node) {
  std::vector<wchar_t> buffer(32768 / sizeof(wchar_t) + 1, L'\0');
  DWORD type = 0, required = 0;
  std::vector<std::string> ids;
  if (!api.registryProperty(set, &node, SPDRP_HARDWAREID, &type,
                            reinterpret_cast<BYTE*>(buffer.data()), 32768, &required))
    return ids;
  // The extra element keeps the scan inside the buffer even if the value lacks its terminators.
  const wchar_t* p = buffer.data();
  const wchar_t* end = buffer.data() + buffer.size() - 1;
  while (p < end && *p) {
    const std::size_t n = wcsnlen(p, static_cast<std::size_t>(end - p));
    ids.push_back(Narrow(std::wstring_view(p, n)));
    p += n + 1;
  }
  return ids;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

// Waiting reads register their wake-up event (auto-reset).
class Win32Hid::StopEvent : public WaiterStopEvent<HANDLE> {
 public:
  StopEvent() : WaiterStopEvent(&Wake) {}
  static void Wake(HANDLE event) { SetEvent(event); }
};

std::unique_ptr<HidStopEvent> Win32Hid::CreateStopEvent() { return std::make_unique<StopEvent>(); }

// ---------------------------------------------------------------------------------------------

class Win32Hid::Device : public HidDevice {
 public:
  Device(std::shared_ptr<const Api> api, HANDLE handle, HidOpenMode mode)
      : api_(std::move(api)),
        handle_(handle),
        mode_(mode),
        readDone_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~Device() override {
    if (preparsed_) api_->freePreparsedData(preparsed_);
    CloseHandle(handle_);
    if (readDone_) CloseHandle(readDone_);
    if (wake_) CloseHandle(wake_);
  }
  bool Ready() const { return readDone_ && wake_; }

  std::optional<HidAttributes> Attributes() override {
    if (!api_->getAttributes) return std::nullopt;
    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    if (!api_->getAttributes(handle_, &a)) return std::nullopt;
    return HidAttributes{a.VendorID, a.ProductID, a.VersionNumber};
  }

  std::optional<HidCapabilities> Capabilities() override {
    PHIDP_PREPARSED_DATA ppd = Preparsed();
    if (!ppd) return std::nullopt;
    HIDP_CAPS caps{};
    if (api_->getCaps(ppd, &caps) != HIDP_STATUS_SUCCESS) return std::nullopt;
    return HidCapabilities{caps.UsagePage, caps.Usage, caps.InputReportByteLength,
                           caps.OutputReportByteLength, caps.FeatureReportByteLength};
  }

  HidReadResult Read(std::span<std::uint8_t> buffer, HidStopEvent& stopEvent,
                     std::uint64_t stopGeneration) override {
    if (mode_ != HidOpenMode::Overlapped)
      return {HidReadStatus::InvalidHandle, 0, ERROR_INVALID_HANDLE};
    auto* stop = dynamic_cast<StopEvent*>(&stopEvent);
    if (!stop || buffer.empty()) return {HidReadStatus::Failed, 0, ERROR_INVALID_PARAMETER};
    stop->AddWaiter(wake_);
    struct Unregister {
      StopEvent* stop;
      HANDLE event;
      ~Unregister() { stop->RemoveWaiter(event); }
    } unregister{stop, wake_};

    if (cancel_.exchange(false)) return {HidReadStatus::Cancelled, 0, ERROR_OPERATION_ABORTED};
    if (stop->Stopped(stopGeneration)) return {HidReadStatus::Stopped, 0, 0};

    // The device refuses a buffer shorter than its input report: read whole reports into a
    // buffer of our own (made once) and cut them to the caller's.
    std::span<std::uint8_t> target = buffer;
    if (buffer.size() < InputLength()) {
      scratch_.resize(InputLength());
      target = scratch_;
    }
    OVERLAPPED ov{};
    ov.hEvent = readDone_;
    ResetEvent(readDone_);
    DWORD bytes = 0;
    if (!ReadFile(handle_, target.data(), static_cast<DWORD>(target.size()), nullptr, &ov)) {
      const DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) return Completed(err, 0, buffer, target);
      HANDLE events[2] = {readDone_, wake_};
      for (;;) {
        const DWORD w = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (w == WAIT_OBJECT_0) break;
        // A wake left over from an earlier read's registration: keep waiting.
        if (w == WAIT_OBJECT_0 + 1 && !cancel_.load() && !stop->Stopped(stopGeneration)) continue;
        const DWORD waitError = w == WAIT_FAILED ? GetLastError() : 0;
        // Take the read back before the caller may free the buffer.
        CancelIoEx(handle_, &ov);
        if (GetOverlappedResult(handle_, &ov, &bytes, TRUE) && bytes > 0)
          return Delivered(bytes, buffer, target);  // it finished before the cancel took
        if (waitError) return {HidReadStatus::Failed, 0, waitError};
        if (cancel_.exchange(false)) return {HidReadStatus::Cancelled, 0, ERROR_OPERATION_ABORTED};
        return {HidReadStatus::Stopped, 0, 0};
      }
    }
    if (!GetOverlappedResult(handle_, &ov, &bytes, FALSE))
      return Completed(GetLastError(), bytes, buffer, target);
    return Delivered(bytes, buffer, target);
  }

  void CancelRead() override {
    cancel_ = true;
    if (wake_) SetEvent(wake_);
  }

  std::uint32_t WriteOutput(std::span<const std::uint8_t> report) override {
    if (report.empty()) return ERROR_INVALID_PARAMETER;
    DWORD written = 0;
    if (mode_ == HidOpenMode::Overlapped) {
      OVERLAPPED ov{};
      ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      if (!ov.hEvent) return ErrorOrGeneric(GetLastError());
      BOOL ok = WriteFile(handle_, report.data(), static_cast<DWORD>(report.size()), nullptr, &ov);
      DWORD err = ok ? 0 : GetLastError();
      if (ok || err == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(handle_, &ov, &written, TRUE);
        err = ok ? 0 : GetLastError();
      }
      CloseHandle(ov.hEvent);
      if (!ok) return ErrorOrGeneric(err);
    } else if (!WriteFile(handle_, report.data(), static_cast<DWORD>(report.size()), &written,
                          nullptr)) {
      return ErrorOrGeneric(GetLastError());
    }
    return written == report.size() ? 0 : ERROR_WRITE_FAULT;
  }

  std::uint32_t GetFeature(std::span<std::uint8_t> report) override {
    if (report.empty()) return ERROR_INVALID_PARAMETER;
    if (!api_->getFeature) return ERROR_PROC_NOT_FOUND;
    std::vector<std::uint8_t> tmp(report.begin(), report.end());
    if (!api_->getFeature(handle_, tmp.data(), static_cast<ULONG>(tmp.size())))
      return ErrorOrGeneric(GetLastError());
    std::copy(tmp.begin(), tmp.end(), report.begin());
    return 0;
  }

  std::uint32_t SetFeature(std::span<const std::uint8_t> report) override {
    if (report.empty()) return ERROR_INVALID_PARAMETER;
    if (!api_->setFeature) return ERROR_PROC_NOT_FOUND;
    std::vector<std::uint8_t> tmp(report.begin(), report.end());
    if (!api_->setFeature(handle_, tmp.data(), static_cast<ULONG>(tmp.size())))
      return ErrorOrGeneric(GetLastError());
    return 0;
  }

  std::optional<std::size_t> MaxUsageListLength() override {
    PHIDP_PREPARSED_DATA ppd = Preparsed();
    if (!ppd) return std::nullopt;
    return api_->maxUsageListLength(HidP_Input, 0, ppd);
  }

  std::optional<std::vector<HidUsage>> ButtonsOn(std::span<const std::uint8_t> report) override {
    const auto caps = Capabilities();
    const auto max = MaxUsageListLength();
    if (!caps || !max) return std::nullopt;
    const std::size_t length = caps->inputReportByteLength;
    // The parser wants exactly one whole input report.
    if (length == 0 || report.size() < length) return std::nullopt;
    std::vector<char> copy(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(length));
    std::vector<USAGE_AND_PAGE> list(std::max<std::size_t>(*max, 1));
    ULONG count = static_cast<ULONG>(*max);
    if (api_->getUsagesEx(HidP_Input, 0, list.data(), &count, Preparsed(), copy.data(),
                          static_cast<ULONG>(length)) != HIDP_STATUS_SUCCESS)
      return std::nullopt;
    std::vector<HidUsage> out;
    for (ULONG i = 0; i < count && i < list.size(); ++i)
      out.push_back({list[i].UsagePage, list[i].Usage});
    return out;
  }

  std::uint64_t HandleValue() const override { return reinterpret_cast<std::uintptr_t>(handle_); }

 private:
  // Asked once and kept until the object goes.
  PHIDP_PREPARSED_DATA Preparsed() {
    std::lock_guard lock(mutex_);
    if (!preparsedAsked_) {
      preparsedAsked_ = true;
      if (api_->HidBound() && !api_->getPreparsedData(handle_, &preparsed_)) preparsed_ = nullptr;
    }
    return preparsed_;
  }
  std::size_t InputLength() {
    if (!inputLength_) {
      auto caps = Capabilities();
      inputLength_ = caps ? caps->inputReportByteLength : 0;
    }
    return *inputLength_;
  }
  HidReadResult Delivered(DWORD bytes, std::span<std::uint8_t> buffer,
                          std::span<std::uint8_t> target) {
    const std::size_t n = std::min<std::size_t>(bytes, buffer.size());
    if (target.data() != buffer.data()) std::copy_n(target.begin(), n, buffer.begin());
    return {HidReadStatus::Report, n, 0};
  }
  // A read that ended by itself with `err`. More data than the buffer holds is a report cut to it.
  HidReadResult Completed(DWORD err, DWORD bytes, std::span<std::uint8_t> buffer,
                          std::span<std::uint8_t> target) {
    if (err == ERROR_MORE_DATA)
      return Delivered(bytes ? bytes : static_cast<DWORD>(target.size()), buffer, target);
    return ReadFailure(err);
  }

  std::shared_ptr<const Api> api_;
  HANDLE handle_;
  HidOpenMode mode_;
  HANDLE readDone_;  // manual reset: the read's completion
  HANDLE wake_;      // auto reset: a stop or a cancel for the waiting read
  std::atomic<bool> cancel_{false};
  std::mutex mutex_;
  bool preparsedAsked_ = false;
  PHIDP_PREPARSED_DATA preparsed_ = nullptr;
  std::optional<std::size_t> inputLength_;  // Read's thread only
  std::vector<std::uint8_t> scratch_;       // Read's thread only
};

// ---------------------------------------------------------------------------------------------

Win32Hid::Win32Hid() : api_(std::make_shared<const Api>()) {}
Win32Hid::~Win32Hid() = default;

bool Win32Hid::Available() { return api_->SetupBound() && api_->HidBound(); }

std::string Win32Hid::InterfaceClass() { return GuidText(api_->hidGuid); }

std::optional<std::vector<HidInterfaceInfo>> Win32Hid::Interfaces() {
  const Api& api = *api_;
  if (!api.SetupBound()) return std::nullopt;
  HDEVINFO set =
      api.getClassDevs(&api.hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<HidInterfaceInfo> out;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA itf{};
    itf.cbSize = sizeof itf;
    if (!api.enumInterfaces(set, nullptr, &api.hidGuid, index, &itf)) break;
    SP_DEVINFO_DATA node{};
    node.cbSize = sizeof node;
    DWORD required = 0;
    SetLastError(0);
    if (api.interfaceDetail(set, &itf, nullptr, 0, &required, &node) || required == 0 ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      continue;
    HidInterfaceInfo info;
    info.hardwareIds = HardwareIds(api, set, node);
    // Zero-filled and aligned for the record's header.
    std::vector<std::uint64_t> storage(
        (required + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!api.interfaceDetail(set, &itf, detail, required, nullptr, nullptr)) continue;
    const std::size_t maxChars =
        (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    info.path =
        Narrow(std::wstring_view(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars)));
    if (info.path.empty()) continue;
    out.push_back(std::move(info));
  }
  api.destroyList(set);
  return out;
}

std::unique_ptr<HidDevice> Win32Hid::Open(std::string_view path, HidOpenMode mode) {
  // Only names in the device namespace: a HID path is never a file on a disk, and opening one
  // for writing because a caller passed a file name would be a hazard.
  if (!(path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\"))) return nullptr;
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         mode == HidOpenMode::Overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(h) == FILE_TYPE_DISK) {
    CloseHandle(h);
    return nullptr;
  }
  return Adopt(h, mode);
}

std::unique_ptr<HidDevice> Win32Hid::Adopt(void* handle, HidOpenMode mode) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto device = std::make_unique<Device>(api_, static_cast<HANDLE>(handle), mode);
  if (!device->Ready()) return nullptr;
  return device;
}

// ---------------------------------------------------------------------------------------------

std::optional<DeviceChange> Win32DeviceNotifications::Decode(std::uintptr_t wParam,
                                                             std::intptr_t lParam) {
  DeviceChange change;
  switch (wParam) {
    case DBT_DEVNODES_CHANGED:
      change.kind = DeviceChangeKind::NodesChanged;
      return change;  // lParam carries nothing here
    case DBT_DEVICEARRIVAL: change.kind = DeviceChangeKind::Arrival; break;
    case DBT_DEVICEREMOVECOMPLETE: change.kind = DeviceChangeKind::Removal; break;
    default: return std::nullopt;
  }
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return change;
  change.deviceInterface = true;
  const auto* itf = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  constexpr std::size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  // The name ends at its terminator or at the size the header gives, whichever comes first.
  if (header->dbch_size > kNameOffset) {
    const std::size_t maxChars = (header->dbch_size - kNameOffset) / sizeof(wchar_t);
    change.path = Narrow(std::wstring_view(itf->dbcc_name, wcsnlen(itf->dbcc_name, maxChars)));
  }
  return change;
}

class Win32DeviceNotifications::Subscription : public Win32DeviceSubscription {
 public:
  explicit Subscription(std::function<void(const DeviceChange&)> onChange)
      : onChange_(std::move(onChange)) {}
  ~Subscription() override {
    if (registration_) UnregisterDeviceNotification(registration_);
    if (hwnd_) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      DestroyWindow(hwnd_);
    }
  }
  WindowHandle Window() const override { return reinterpret_cast<std::uintptr_t>(hwnd_); }

  bool Start(const GUID& interfaceClass) {
    static constexpr wchar_t kClass[] = L"KvmonDeviceNotifications";
    if (!EnsureWindowClass(kClass, &Proc)) return false;
    // Top-level (hidden) so that the broadcast "device nodes changed" reaches it too; a
    // message-only window still gets the interface notices where no top-level one can be made.
    hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
    if (!hwnd_)
      hwnd_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (!hwnd_) return false;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    registration_ = RegisterDeviceNotificationW(hwnd_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return registration_ != nullptr;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowOwner<Subscription>(hwnd, msg, lParam);
    if (msg == WM_DEVICECHANGE) {
      if (self && self->onChange_) {
        if (auto change = Decode(wParam, lParam)) {
          auto onChange = self->onChange_;  // the callback may end the subscription
          onChange(*change);
        }
      }
      return TRUE;  // grants any query that reaches us
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  std::function<void(const DeviceChange&)> onChange_;
  HWND hwnd_ = nullptr;
  HDEVNOTIFY registration_ = nullptr;
};

std::unique_ptr<DeviceSubscription> Win32DeviceNotifications::Subscribe(
    std::function<void(const DeviceChange&)> onChange) {
  GUID guid{};
  if (CLSIDFromString(Widen(hid_.InterfaceClass()).c_str(), &guid) != NOERROR) return nullptr;
  auto sub = std::make_unique<Subscription>(std::move(onChange));
  if (!sub->Start(guid)) return nullptr;
  return sub;
}

}  // namespace kv::platform::win32
