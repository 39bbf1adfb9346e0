// HID and device notifications on the Win32 API. Nothing here can plug, feed or unplug a HID
// device, so the device cases of the shared contract skip; the overlapped read path is driven
// instead through a named pipe whose client end stands in for an opened device (the same
// ReadFile/CancelIoEx/completion code runs on it), the interfaces Wine lists of its own are
// opened and queried, and the device-change decoding gets crafted WM_DEVICECHANGE messages.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "platform/hid_contract.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/wide.h"

using namespace kv::platform;
using namespace kv::platform::win32;
using namespace std::chrono_literals;

namespace {

struct Win32HidEnv {
  Win32Hid hid_;
  Hid& hid() { return hid_; }
  bool CanPlug() { return false; }  // nothing here can make a HID device appear
  std::string Plug(const std::vector<std::uint8_t>&) { return {}; }
  void Input(const std::string&, const std::vector<std::uint8_t>&) {}
  void Unplug(const std::string&) {}
  std::vector<std::vector<std::uint8_t>> Outputs(const std::string&) { return {}; }
  std::vector<std::vector<std::uint8_t>> FeaturesSet(const std::string&) { return {}; }
  void AnswerFeature(const std::string&, const std::vector<std::uint8_t>&) {}
  void WaitForReader(const std::string&) {}
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, HidContract, ::testing::Types<Win32HidEnv>);
}

namespace {

constexpr auto kLong = 5s;  // "never" for a read that should have ended

// A message-mode pipe: the client end, opened overlapped, becomes the device object; the test
// plays the device on the server end.
class PipeDevice {
 public:
  explicit PipeDevice(Win32Hid& hid, HidOpenMode mode = HidOpenMode::Overlapped) {
    static std::atomic<int> counter{0};
    const std::wstring name = L"\\\\.\\pipe\\kvmon-hid-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter);
    server_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096,
                               0, nullptr);
    HANDLE client =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    mode == HidOpenMode::Overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    DWORD readMode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(client, &readMode, nullptr, nullptr);
    ConnectNamedPipe(server_, nullptr);  // already connected: returns at once
    device = hid.Adopt(client, mode);
  }
  ~PipeDevice() { CloseServer(); }

  bool Send(const std::vector<std::uint8_t>& report) {
    DWORD written = 0;
    return WriteFile(server_, report.data(), static_cast<DWORD>(report.size()), &written,
                     nullptr) &&
           written == report.size();
  }
  std::vector<std::uint8_t> Receive() {
    std::vector<std::uint8_t> buf(256);
    DWORD n = 0;
    if (!ReadFile(server_, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) return {};
    buf.resize(n);
    return buf;
  }
  void CloseServer() {
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
  }

  std::unique_ptr<HidDevice> device;

 private:
  HANDLE server_ = INVALID_HANDLE_VALUE;
};

template <typename F>
std::future<HidReadResult> Async(F f) {
  return std::async(std::launch::async, std::move(f));
}

bool Blocked(std::future<HidReadResult>& f) {
  return f.wait_for(60ms) == std::future_status::timeout;
}

// The result of a read that has to end now; one that hangs fails the test and is cancelled.
HidReadResult Ended(std::future<HidReadResult>& f, HidDevice& device) {
  if (f.wait_for(kLong) != std::future_status::ready) {
    ADD_FAILURE() << "the read did not end";
    device.CancelRead();
  }
  return f.get();
}

// One pipe standing in for a device, a stop event of the same service and a report buffer.
class Win32HidPipeRead : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(pipe.device, nullptr); }
  Win32Hid hid;
  PipeDevice pipe{hid};
  std::unique_ptr<HidStopEvent> stop = hid.CreateStopEvent();
  std::vector<std::uint8_t> buf = std::vector<std::uint8_t>(4);
};

TEST_F(Win32HidPipeRead, ReportsArriveWholeAndAreCutToAShortBuffer) {
  ASSERT_TRUE(pipe.Send({7, 1, 2, 3}));  // queued before the read: completes at once
  auto r = pipe.device->Read(buf, *stop, 0);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(r.bytes, 4u);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{7, 1, 2, 3}));

  auto pending = Async([&] { return pipe.device->Read(buf, *stop, 0); });
  ASSERT_TRUE(Blocked(pending));
  ASSERT_TRUE(pipe.Send({7, 4, 5, 6}));
  r = Ended(pending, *pipe.device);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{7, 4, 5, 6}));

  std::vector<std::uint8_t> small(2);
  ASSERT_TRUE(pipe.Send({8, 9, 10, 11}));
  r = pipe.device->Read(small, *stop, 0);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(r.bytes, 2u);
  EXPECT_EQ(small, (std::vector<std::uint8_t>{8, 9}));
}

TEST(Win32HidRead, AStopEndsBlockedReadsAtOnceAndTheNextReportIsNotLost) {
  Win32Hid hid;
  PipeDevice a(hid), b(hid);
  ASSERT_TRUE(a.device && b.device);
  auto stop = hid.CreateStopEvent();
  std::vector<std::uint8_t> bufA(4), bufB(4);
  auto ra = Async([&] { return a.device->Read(bufA, *stop, 0); });
  auto rb = Async([&] { return b.device->Read(bufB, *stop, 0); });
  ASSERT_TRUE(Blocked(ra));
  ASSERT_TRUE(Blocked(rb));
  const auto t0 = std::chrono::steady_clock::now();
  stop->Set();
  EXPECT_EQ(Ended(ra, *a.device).status, HidReadStatus::Stopped);
  EXPECT_EQ(Ended(rb, *b.device).status, HidReadStatus::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);
  // While set, a read of any generation ends before it starts.
  EXPECT_EQ(a.device->Read(bufA, *stop, stop->Generation()).status, HidReadStatus::Stopped);

  // The abandoned read was taken back: a report sent now goes to the next read, whole.
  stop->Reset();
  ASSERT_TRUE(a.Send({7, 0xAA, 0xBB, 0xCC}));
  auto r = a.device->Read(bufA, *stop, stop->Generation());
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(bufA, (std::vector<std::uint8_t>{7, 0xAA, 0xBB, 0xCC}));
}

TEST_F(Win32HidPipeRead, AStopSetAndResetBeforeTheWaitStillEndsAReadOfTheOldGeneration) {
  // Already moved on when the read starts.
  stop->Pulse(0ms);
  EXPECT_EQ(pipe.device->Read(buf, *stop, 0).status, HidReadStatus::Stopped);
  // A pulse racing the reader's start, at every point of it: the read never waits on.
  for (int i = 0; i < 40; ++i) {
    const auto g = stop->Generation();
    auto pending = Async([&] { return pipe.device->Read(buf, *stop, g); });
    if (i % 2) std::this_thread::yield();
    stop->Pulse(0ms);
    EXPECT_EQ(Ended(pending, *pipe.device).status, HidReadStatus::Stopped) << "pulse " << i;
    EXPECT_FALSE(stop->IsSet());
  }
}

TEST_F(Win32HidPipeRead, CancelEndsThePendingReadOrLatchesForTheNextOne) {
  pipe.device->CancelRead();  // nothing pending: the next read ends at once
  auto r = pipe.device->Read(buf, *stop, 0);
  EXPECT_EQ(r.status, HidReadStatus::Cancelled);
  EXPECT_EQ(r.error, static_cast<std::uint32_t>(ERROR_OPERATION_ABORTED));

  auto pending = Async([&] { return pipe.device->Read(buf, *stop, 0); });
  ASSERT_TRUE(Blocked(pending)) << "the latched cancel was used twice";
  pipe.device->CancelRead();
  EXPECT_EQ(Ended(pending, *pipe.device).status, HidReadStatus::Cancelled);

  // Each cancel is used once: a report is read normally afterwards.
  ASSERT_TRUE(pipe.Send({1, 2, 3, 4}));
  EXPECT_EQ(pipe.device->Read(buf, *stop, 0).status, HidReadStatus::Report);
}

std::chrono::microseconds ThreadCpu(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return {};
  auto ticks = [](FILETIME f) {
    return (static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  };
  return std::chrono::microseconds((ticks(kernel) + ticks(user)) / 10);
}

// Runs `body` on a thread of its own and measures the processor time that thread used between
// `settle` and `settle + window` after it started.
template <typename Body>
std::chrono::microseconds CpuOfThread(Body body, std::chrono::milliseconds settle,
                                      std::chrono::milliseconds window,
                                      const std::function<void()>& end) {
  std::promise<HANDLE> handle;
  std::thread t([&] {
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    handle.set_value(self);
    body();
  });
  HANDLE h = handle.get_future().get();
  std::this_thread::sleep_for(settle);
  const auto before = ThreadCpu(h);
  std::this_thread::sleep_for(window);
  const auto spent = ThreadCpu(h) - before;
  end();
  t.join();
  CloseHandle(h);
  return spent;
}

TEST_F(Win32HidPipeRead, AnIdleBlockedReadCostsNoProcessorTime) {
  // The measurement itself works: a spinning thread shows its time.
  std::atomic<bool> spin{true};
  const auto busy = CpuOfThread(
      [&] {
        while (spin.load()) {
        }
      },
      20ms, 500ms, [&] { spin = false; });
  // Other processes may take most of the cores; a spinner still accrues a share of the window.
  ASSERT_GT(busy, 20ms) << "thread times are not measurable here";

  HidReadResult result;
  const auto idle = CpuOfThread([&] { result = pipe.device->Read(buf, *stop, 0); }, 50ms, 300ms,
                                [&] { stop->Set(); });
  EXPECT_EQ(result.status, HidReadStatus::Stopped);
  // A reader that polled or spun would show up here; a waiting one accrues nothing.
  EXPECT_LT(idle, 20ms) << idle.count() << " us of processor time while idle";
}

TEST(Win32HidRead, TheOtherEndGoingAwayEndsTheReadAsNotConnected) {
  Win32Hid hid;
  {
    PipeDevice pipe(hid);
    ASSERT_NE(pipe.device, nullptr);
    auto stop = hid.CreateStopEvent();
    std::vector<std::uint8_t> buf(4);
    auto pending = Async([&] { return pipe.device->Read(buf, *stop, 0); });
    ASSERT_TRUE(Blocked(pending));
    pipe.CloseServer();
    const auto r = Ended(pending, *pipe.device);
    EXPECT_EQ(r.status, HidReadStatus::NotConnected);
    EXPECT_EQ(r.error, static_cast<std::uint32_t>(ERROR_BROKEN_PIPE));
    // Gone for good: a new read fails the same way at once, and so does a write.
    EXPECT_EQ(pipe.device->Read(buf, *stop, 0).status, HidReadStatus::NotConnected);
    EXPECT_NE(pipe.device->WriteOutput(std::vector<std::uint8_t>{7, 1}), 0u);
  }
  // A synchronous open cannot be read with a stop: the contract's "invalid handle".
  PipeDevice sync(hid, HidOpenMode::Synchronous);
  ASSERT_NE(sync.device, nullptr);
  auto stop = hid.CreateStopEvent();
  std::vector<std::uint8_t> buf(4);
  const auto r = sync.device->Read(buf, *stop, 0);
  EXPECT_EQ(r.status, HidReadStatus::InvalidHandle);
  EXPECT_EQ(r.error, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(Win32HidDevice, OutputReportsAreWrittenWholeOnBothKindsOfOpen) {
  Win32Hid hid;
  for (auto mode : {HidOpenMode::Overlapped, HidOpenMode::Synchronous}) {
    PipeDevice pipe(hid, mode);
    ASSERT_NE(pipe.device, nullptr);
    const std::vector<std::uint8_t> report = {7, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(pipe.device->WriteOutput(report), 0u);
    EXPECT_EQ(pipe.Receive(), report);
    EXPECT_NE(pipe.device->WriteOutput({}), 0u);
    EXPECT_NE(pipe.device->HandleValue(), 0u);
  }
}

TEST(Win32HidDevice, AHandleThatIsNoHidDeviceAnswersNothingAndLeavesFeatureBuffersAlone) {
  Win32Hid hid;
  PipeDevice pipe(hid);
  ASSERT_NE(pipe.device, nullptr);
  EXPECT_FALSE(pipe.device->Attributes());
  EXPECT_FALSE(pipe.device->Capabilities());
  EXPECT_FALSE(pipe.device->MaxUsageListLength());
  EXPECT_FALSE(pipe.device->ButtonsOn(std::vector<std::uint8_t>{7, 1, 0, 0}));
  std::vector<std::uint8_t> feature = {9, 0x11, 0x22, 0x33, 0x44};
  EXPECT_NE(pipe.device->GetFeature(feature), 0u);
  EXPECT_EQ(feature, (std::vector<std::uint8_t>{9, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_NE(pipe.device->SetFeature(feature), 0u);
  EXPECT_EQ(hid.Adopt(INVALID_HANDLE_VALUE, HidOpenMode::Overlapped), nullptr);
}

TEST(Win32HidService, BindsTheSystemLibrariesAndListsTheHidClass) {
  Win32Hid hid;
  EXPECT_TRUE(hid.Available());
  EXPECT_EQ(hid.InterfaceClass(), "{4d1e55b2-f16f-11cf-88cb-001111000030}");
  auto list = hid.Interfaces();
  ASSERT_TRUE(list) << "the interface set could not be had";
  for (const auto& i : *list) {
    EXPECT_TRUE(i.path.starts_with("\\\\?\\")) << i.path;
    EXPECT_NE(hid.Open(i.path, HidOpenMode::Synchronous), nullptr) << i.path;
  }
  // Absent devices, and names that are files rather than devices, do not open.
  EXPECT_EQ(hid.Open("\\\\?\\hid#vid_0000&pid_0000#0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                     HidOpenMode::Overlapped),
            nullptr);
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::string exePath = Narrow(std::wstring_view(exe, n));
  EXPECT_EQ(hid.Open(exePath, HidOpenMode::Synchronous), nullptr);
  EXPECT_EQ(hid.Open("\\\\?\\" + exePath, HidOpenMode::Synchronous), nullptr);
}

// Wine lists HID interfaces of its own (a mouse and a keyboard) where it runs with a display;
// they answer like any device, and never send a report unless input is simulated.
TEST(Win32HidService, PresentInterfacesAnswerAsDevicesAndTheirReadsEndOnStopOrCancel) {
  Win32Hid hid;
  auto list = hid.Interfaces();
  ASSERT_TRUE(list);
  if (list->empty()) GTEST_SKIP() << "no HID interface is present here";
  for (const auto& i : *list) {
    SCOPED_TRACE(i.path);
    ASSERT_FALSE(i.hardwareIds.empty());
    EXPECT_TRUE(i.hardwareIds[0].starts_with("HID\\")) << i.hardwareIds[0];
    auto dev = hid.Open(i.path, HidOpenMode::Synchronous);
    ASSERT_NE(dev, nullptr);
    EXPECT_TRUE(dev->Attributes());
    auto caps = dev->Capabilities();
    ASSERT_TRUE(caps);
    EXPECT_NE(caps->usagePage, 0);
    ASSERT_TRUE(dev->MaxUsageListLength());
    if (caps->inputReportByteLength == 0) continue;
    std::vector<std::uint8_t> report(caps->inputReportByteLength, 0);
    // Nothing pressed: no usages (or, for a device with report IDs, ID 0 is not one of its own).
    if (auto on = dev->ButtonsOn(report)) {
      EXPECT_TRUE(on->empty());
    }
    report.pop_back();
    EXPECT_FALSE(dev->ButtonsOn(report)) << "a report one byte short was parsed";
  }

  auto dev = hid.Open(list->front().path, HidOpenMode::Overlapped);
  ASSERT_NE(dev, nullptr);
  auto stop = hid.CreateStopEvent();
  std::vector<std::uint8_t> buf(1);  // shorter than the report: read whole, then cut
  auto pending = Async([&] { return dev->Read(buf, *stop, 0); });
  ASSERT_TRUE(Blocked(pending)) << "the device sent a report unasked";
  stop->Set();
  EXPECT_EQ(Ended(pending, *dev).status, HidReadStatus::Stopped);
  stop->Reset();
  pending = Async([&] { return dev->Read(buf, *stop, stop->Generation()); });
  ASSERT_TRUE(Blocked(pending));
  dev->CancelRead();
  EXPECT_EQ(Ended(pending, *dev).status, HidReadStatus::Cancelled);
}

// --- device notifications --------------------------------------------------------------------

// A broadcast record as the system builds it: header, class, then the name and its terminator.
std::vector<std::uint8_t> InterfaceBroadcast(const std::wstring& name, DWORD sizeCut = 0) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<std::uint8_t> bytes(nameOffset + (name.size() + 1) * sizeof(wchar_t), 0);
  auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  b->dbcc_size = static_cast<DWORD>(bytes.size()) - sizeCut;
  b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(bytes.data() + nameOffset, name.c_str(), name.size() * sizeof(wchar_t));
  return bytes;
}

TEST(Win32DeviceNotifications, DeviceChangeMessagesAreDecodedIntoNotices) {
  Win32Hid hid;
  Win32DeviceNotifications notifications(hid);
  std::vector<DeviceChange> got;
  auto sub = notifications.Subscribe([&](const DeviceChange& c) { got.push_back(c); });
  ASSERT_NE(sub, nullptr) << "registration failed";
  auto* win = dynamic_cast<Win32DeviceSubscription*>(sub.get());
  ASSERT_NE(win, nullptr);
  HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(win->Window()));
  ASSERT_TRUE(IsWindow(hwnd));

  const std::wstring path =
      L"\\\\?\\HID#VID_3151&PID_4002&MI_02&Col01#8&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-"
      L"001111000030}";
  auto arrival = InterfaceBroadcast(path);
  EXPECT_EQ(SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                         reinterpret_cast<LPARAM>(arrival.data())),
            TRUE);
  auto removal = InterfaceBroadcast(L"\\\\?\\hid#b\u00e9");
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
               reinterpret_cast<LPARAM>(removal.data()));
  // A record whose size ends the name early: the name stops there, not at a terminator beyond.
  auto cut = InterfaceBroadcast(L"\\\\?\\ABCDEF", 3 * sizeof(wchar_t) + sizeof(wchar_t));
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(cut.data()));
  // Not a device interface: reported, but marked so.
  DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, static_cast<LPARAM>(-1));
  // Queries and pending removals are not notices.
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE,
               reinterpret_cast<LPARAM>(arrival.data()));
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEREMOVEPENDING,
               reinterpret_cast<LPARAM>(arrival.data()));
  SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);  // no record at all

  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].kind, DeviceChangeKind::Arrival);
  EXPECT_TRUE(got[0].deviceInterface);
  EXPECT_EQ(got[0].path,
            "\\\\?\\HID#VID_3151&PID_4002&MI_02&Col01#8&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-"
            "001111000030}");
  EXPECT_EQ(got[1].kind, DeviceChangeKind::Removal);
  EXPECT_TRUE(got[1].deviceInterface);
  EXPECT_EQ(got[1].path, "\\\\?\\hid#b\xc3\xa9");
  EXPECT_EQ(got[2].path, "\\\\?\\ABC");
  EXPECT_EQ(got[3].kind, DeviceChangeKind::Arrival);
  EXPECT_FALSE(got[3].deviceInterface);
  EXPECT_EQ(got[3].path, "");
  EXPECT_EQ(got[4].kind, DeviceChangeKind::NodesChanged);
  EXPECT_EQ(got[5].kind, DeviceChangeKind::Arrival);
  EXPECT_FALSE(got[5].deviceInterface);

  sub.reset();
  EXPECT_FALSE(IsWindow(hwnd));  // nothing left to receive a late notice
}

}  // namespace
