// TgxHIDData: include list, device filters, read threads and their stop, report operations.
#include <atomic>
#include <thread>

#include "hid_fixture.h"

using namespace kv;
using namespace kv::testing;
using namespace std::chrono_literals;
using kv::platform::sim::SimHid;

namespace {

const std::vector<std::string> kMouseIds = {"HID\\VID_1044&PID_7A0D&MI_01&Col02",
                                            "HID\\VID_1044&PID_7A0D&MI_01"};
const std::vector<std::string> kOtherIds = {"HID\\VID_046D&PID_C077"};

TEST_F(HidTest, IncludeListStopsAtTheFirstGapAndReadsAtMost101Ids) {
  EXPECT_TRUE(MakeData()->GetHIDDeviceList().empty());  // no file
  WriteConfig("[IncludeHIDDeviceList]\nid1=A\nid2=a\nid4=D\n");
  EXPECT_EQ(MakeData()->GetHIDDeviceList(), (std::vector<std::string>{"A", "a"}));
  std::string text = "[includehiddevicelist]\n";
  for (int i = 1; i <= 102; ++i)
    text += "ID" + std::to_string(i) + "=dev" + std::to_string(i) + "\n";
  WriteConfig(text);
  auto list = MakeData()->GetHIDDeviceList();
  ASSERT_EQ(list.size(), 101u);
  EXPECT_EQ(list.back(), "dev101");
  WriteConfig("[IncludeHIDDeviceList]\nid1=\nid2=B\n");
  EXPECT_TRUE(MakeData()->GetHIDDeviceList().empty());
}

TEST_F(HidTest, WithAnEmptyIncludeListEveryInterfaceWithTheUsagePairIsReadWhateverTheId) {
  const auto a = Plug("a", kMouseIds);
  const auto b = Plug("b", kOtherIds);
  Plug("c", kMouseIds, MouseDescriptor(2));  // usage 2: other half of the pair differs
  Plug("k", kMouseIds, KeyboardDescriptor());
  for (const char* id : {"*", "", "HID\\VID_FFFF&PID_0000"}) {
    auto data = MakeData();
    data->HidFindAndReadDevice(kMouseUsage, id);
    EXPECT_EQ(data->RunningThreads(), 2u) << id;
    EXPECT_TRUE(hid.WaitForReaders(a, 1) && hid.WaitForReaders(b, 1));
    EXPECT_EQ(hid.WaitingReadsTotal(), 2u);
    data->HidStopRead();
    WaitFor([&] { return data->RunningThreads() == 0; });
    EXPECT_EQ(hid.OpenObjects(a) + hid.OpenObjects(b), 0u);
  }
}

TEST_F(HidTest, WithAnIncludeListTheReadFilterNeedsAWholeHardwareIdInAnyCase) {
  WriteConfig("[IncludeHIDDeviceList]\nid1=hid\\vid_1044&pid_7a0d&mi_01\nid2=HID\\VID_046D\n");
  const auto a = Plug("a", kMouseIds);
  Plug("b", kOtherIds);  // only a prefix of it is listed
  auto data = MakeData();
  auto started = [&](const std::string& id) {
    data->HidFindAndReadDevice(kMouseUsage, id);
    const std::size_t n = data->RunningThreads();
    data->HidStopRead();
    WaitFor([&] { return data->RunningThreads() == 0; });
    return n;
  };
  EXPECT_EQ(started("*"), 1u);
  EXPECT_EQ(hid.OpenObjects(a), 0u);
  EXPECT_EQ(started("HID\\VID_046D&PID_C077"), 1u);  // a specific ID needs no list entry
  EXPECT_EQ(started("hid\\vid_1044&pid_7a0d&mi_01&col02"), 1u);
  EXPECT_EQ(started(""), 0u);
  EXPECT_EQ(started("HID\\VID_1044"), 0u);
}

TEST_F(HidTest, IsDeviceExistTreatsEmptyLikeStarAndASpecificIdIgnoresTheList) {
  WriteConfig("[IncludeHIDDeviceList]\nid1=HID\\VID_9999&PID_0001\n");
  Plug("a", kMouseIds);
  auto data = MakeData();
  THIDDataParam param;
  param.UsageAndPage = kMouseUsage;
  for (const char* id : {"", "*"}) {
    param.DeviceID = id;
    EXPECT_FALSE(data->IsDeviceExist(param)) << id;  // listed ID absent
  }
  param.DeviceID = "hid\\vid_1044&pid_7a0d&mi_01";
  EXPECT_TRUE(data->IsDeviceExist(param));
  param.UsageAndPage = USAGE_AND_PAGE{2, 0xFFA0};
  EXPECT_FALSE(data->IsDeviceExist(param));
  Plug("listed", {"HID\\VID_9999&PID_0001"});
  param.UsageAndPage = kMouseUsage;
  param.DeviceID = "";
  EXPECT_TRUE(data->IsDeviceExist(param));
}

TEST_F(HidTest, AnInterfaceThatFailsAnyStepIsSkippedAndAMissingSetGivesTheInitialResult) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  THIDDataParam param;
  param.UsageAndPage = kMouseUsage;
  EXPECT_TRUE(data->IsDeviceExist(param));
  hid.FailAttributes(a, true);  // never compared, still required
  EXPECT_FALSE(data->IsDeviceExist(param));
  hid.FailAttributes(a, false);
  hid.FailCapabilities(a, true);
  EXPECT_FALSE(data->IsDeviceExist(param));
  hid.FailCapabilities(a, false);
  hid.FailOpen(a, true);
  EXPECT_FALSE(data->IsDeviceExist(param));
  data->HidFindAndReadDevice(kMouseUsage, "*");
  EXPECT_EQ(data->RunningThreads(), 0u);
  hid.FailOpen(a, false);
  hid.SetInterfacesUnavailable(true);
  EXPECT_FALSE(data->IsDeviceExist(param));
  hid.SetInterfacesUnavailable(false);
  hid.SetAvailable(false);
  EXPECT_FALSE(data->IsDeviceExist(param));
  EXPECT_EQ(MakeData()->HidGuid(), "{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

TEST_F(HidTest, ReportsReachOnDataOnTheMainThreadWithTheIdSplitOff) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  struct Got {
    std::string id, path;
    std::uint8_t reportId;
    Bytes bytes;
    bool onMain;
  };
  std::vector<Got> got;
  data->OnData = [&](const std::string& id, const std::string& path, std::uint8_t rid,
                     const std::uint8_t* d, std::uint16_t size) {
    got.push_back({id, path, rid, Bytes(d, d + size), p.loop.IsMainThread()});
  };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(hid.WaitForReaders(a, 1));
  hid.Input(a, {7, 1, 2, 3, 4, 5, 6, 7});
  hid.Input(a, {});                                       // zero bytes: nothing delivered
  hid.InputError(a, platform::sim::kSimErrorGenFailure);  // other errors: read on
  hid.Input(a, {7, 9, 9, 9, 9, 9, 9, 9});
  ASSERT_TRUE(WaitFor([&] { return got.size() == 2; }));
  EXPECT_EQ(got[0].id, kMouseIds[0]);
  EXPECT_EQ(got[0].path, a);
  EXPECT_EQ(got[0].reportId, 7);
  EXPECT_EQ(got[0].bytes, (Bytes{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(got[0].onMain);
  EXPECT_EQ(got[1].bytes, Bytes(7, 9));
  EXPECT_EQ(data->RunningThreads(), 1u);
}

TEST_F(HidTest, ParsedDataReportsTheFirstReleaseElseTheFirstPress) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  std::vector<std::uint32_t> parsed;
  data->OnParsedData = [&](const std::string&, const std::string&, std::uint8_t, std::uint32_t b) {
    parsed.push_back(b);
  };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(hid.WaitForReaders(a, 1));
  for (Bytes r : {Bytes{7, 0x04, 0, 0, 0, 0, 0, 0},  // usage 3 pressed
                  Bytes{7, 0x04, 0, 0, 1, 2, 3, 4},  // same buttons
                  Bytes{7, 0x00, 0, 0, 0, 0, 0, 0},  // usage 3 released
                  Bytes{7, 0x01, 0, 0, 0, 0, 0, 0},  // usage 1 pressed
                  Bytes{7, 0x02, 0, 0, 0, 0, 0, 0},  // 1 released and 2 pressed: only the release
                  Bytes{7, 0x00, 0, 0x80, 0, 0, 0, 0},  // 2 released, 24 pressed
                  Bytes{7, 0x00, 0, 0x80, 0, 0, 0, 0}})
    hid.Input(a, r);
  ASSERT_TRUE(WaitFor([&] { return parsed.size() == 7; }));
  EXPECT_EQ(parsed, (std::vector<std::uint32_t>{0x30000, 0, 3, 0x10000, 1, 2, 0}));
}

TEST_F(HidTest, UnpluggingEndsTheThreadWithOneTraceAndTheHandlerOnTheReadThread) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  std::atomic<int> notConnected{0};
  std::atomic<bool> onMain{true};
  std::atomic<int> reports{0};
  data->OnDeviceNotConnected = [&](const std::string& id, const std::string& path) {
    EXPECT_EQ(id, kMouseIds[0]);
    EXPECT_EQ(path, a);
    onMain = p.loop.IsMainThread();
    ++notConnected;
  };
  data->OnData = [&](auto&&...) { ++reports; };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(hid.WaitForReaders(a, 1));
  hid.Unplug(a);
  ASSERT_TRUE(WaitFor([&] { return data->RunningThreads() == 0; }));
  EXPECT_EQ(notConnected, 1);
  EXPECT_FALSE(onMain);
  EXPECT_EQ(Traces("ERROR_DEVICE_NOT_CONNECTED++++++++++++++++"), 1u);
  EXPECT_EQ(hid.OpenObjects(a), 0u);
  hid.Input(a, {7, 1, 0, 0, 0, 0, 0, 0});
  p.loop.RunPending();
  EXPECT_EQ(reports, 0);
}

TEST_F(HidTest, ADeviceThatFailsEveryReadEndsItsThreadInsteadOfSpinning) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  std::atomic<int> notConnected{0};
  std::atomic<int> reports{0};
  data->OnDeviceNotConnected = [&](auto&&...) { ++notConnected; };
  data->OnData = [&](auto&&...) { ++reports; };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(hid.WaitForReaders(a, 1));
  // Failures with a report between them are transient: the reader goes on.
  for (int i = 0; i < 63; ++i) hid.InputError(a, platform::sim::kSimErrorGenFailure);
  hid.Input(a, {7, 1, 0, 0, 0, 0, 0, 0});
  for (int i = 0; i < 63; ++i) hid.InputError(a, platform::sim::kSimErrorGenFailure);
  hid.Input(a, {7, 2, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(WaitFor([&] { return reports == 2; }));
  EXPECT_EQ(data->RunningThreads(), 1u);
  EXPECT_EQ(notConnected, 0);
  // An unbroken run of failures ends the thread through the "not connected" path.
  for (int i = 0; i < 64; ++i) hid.InputError(a, platform::sim::kSimErrorGenFailure);
  ASSERT_TRUE(WaitFor([&] { return data->RunningThreads() == 0; }));
  EXPECT_EQ(notConnected, 1);
  EXPECT_EQ(hid.OpenObjects(a), 0u);
}

TEST_F(HidTest, StopReadPulsesFor20msAndLaterThreadsRun) {
  const auto a = Plug("a", kMouseIds);
  const auto b = Plug("b", kMouseIds);  // two interfaces of one device
  auto data = MakeData();
  data->HidStopRead();  // nothing running
  EXPECT_EQ(hid.Pulses(), 1u);
  EXPECT_EQ(hid.LastPulseHold(), 20ms);
  std::vector<std::string> from;
  data->OnData = [&](const std::string&, const std::string& path, auto&&...) {
    from.push_back(path);
  };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  data->HidFindAndReadDevice(kMouseUsage, "*");  // no stop in between: two threads per interface
  EXPECT_EQ(data->RunningThreads(), 4u);
  ASSERT_TRUE(hid.WaitForReaders(a, 2) && hid.WaitForReaders(b, 2));
  hid.Input(a, {7, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(WaitFor([&] { return from.size() == 2; }));
  EXPECT_EQ(from, (std::vector<std::string>{a, a}));
  data->HidStopRead();
  ASSERT_TRUE(WaitFor([&] { return data->RunningThreads() == 0; }));
  EXPECT_EQ(hid.OpenObjects(a) + hid.OpenObjects(b), 0u);
  EXPECT_EQ(Traces("ERROR_DEVICE_NOT_CONNECTED++++++++++++++++"), 0u);
}

TEST_F(HidTest, AStopDuringTheHandOverEndsTheThreadRightAfterIt) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  int delivered = 0;
  data->OnData = [&](auto&&...) { ++delivered; };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(hid.WaitForReaders(a, 1));
  hid.Input(a, {7, 0, 0, 0, 0, 0, 0, 0});
  // The thread now waits for the main thread, which has not run the hand-over yet.
  while (hid.WaitingReads(a) != 0) std::this_thread::yield();
  data->HidStopRead();
  // Re-opening right away (as the monitor does) must not leave the old thread reading too.
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(WaitFor([&] { return delivered == 1 && data->RunningThreads() == 1; }));
  ASSERT_TRUE(hid.WaitForReaders(a, 1));
  hid.Input(a, {7, 1, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(WaitFor([&] { return delivered == 2; }));
  p.loop.RunPending();
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(hid.OpenObjects(a), 1u);
}

TEST_F(HidTest, DestroyingTheComponentEndsItsThreadsAlsoOneWaitingForTheMainThread) {
  const auto a = Plug("a", kMouseIds);
  const auto b = Plug("b", kMouseIds);
  auto data = MakeData();
  int delivered = 0;
  int notConnected = 0;
  data->OnData = [&](auto&&...) { ++delivered; };
  data->OnDeviceNotConnected = [&](auto&&...) { ++notConnected; };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(hid.WaitForReaders(a, 1) && hid.WaitForReaders(b, 1));
  hid.Input(a, {7, 0, 0, 0, 0, 0, 0, 0});  // a's thread blocks in the hand-over
  while (hid.WaitingReads(a) != 0) std::this_thread::yield();
  data.reset();
  p.loop.RunPending();  // the queued hand-over finds nobody
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(notConnected, 0);
  EXPECT_EQ(hid.OpenObjects(a) + hid.OpenObjects(b), 0u);
}

TEST_F(HidTest, AThreadWithoutInputReportsEndsAtOnce) {
  const Bytes outputOnly = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                            0x75, 0x08, 0x95, 0x04, 0x91, 0x02, 0xC0};
  const auto a = Plug("a", kMouseIds, outputOnly);
  auto data = MakeData();
  data->HidFindAndReadDevice(kMouseUsage, "*");
  ASSERT_TRUE(WaitFor([&] { return data->RunningThreads() == 0; }));
  EXPECT_EQ(hid.OpenObjects(a), 0u);
  EXPECT_EQ(hid.IdleWakeups(), 0u);
}

TEST_F(HidTest, FastOnDataParsesOnSeveralReadThreadsAtOnce) {
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(Plug("p" + std::to_string(i), kMouseIds));
  auto data = MakeData();
  data->FastOnData = true;
  std::atomic<int> reports{0}, parsed{0};
  std::atomic<bool> anyOnMain{false};
  data->OnData = [&](auto&&...) {
    anyOnMain = anyOnMain || p.loop.IsMainThread();
    ++reports;
  };
  data->OnParsedData = [&](const std::string&, const std::string&, std::uint8_t, std::uint32_t b) {
    // Every value is a single usage in one half.
    EXPECT_TRUE((b >> 16) == 0 || (b & 0xFFFF) == 0) << b;
    ++parsed;
  };
  data->HidFindAndReadDevice(kMouseUsage, "*");
  for (auto& path : paths) ASSERT_TRUE(hid.WaitForReaders(path, 1));
  for (int r = 0; r < 50; ++r)
    for (auto& path : paths)
      hid.Input(path, {7, static_cast<std::uint8_t>(1u << (r % 8)), static_cast<std::uint8_t>(r), 0,
                       0, 0, 0, 0});
  ASSERT_TRUE(WaitFor([&] { return parsed == 200; }));
  EXPECT_EQ(reports, 200);
  EXPECT_FALSE(anyOnMain);
  data->HidStopRead();
  ASSERT_TRUE(WaitFor([&] { return data->RunningThreads() == 0; }));
}

TEST_F(HidTest, ParsingKeepsToOneHundredUsages) {
  // 128 buttons in one input report.
  const Bytes wide = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29,
                      0x80, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x80, 0x81, 0x02, 0xC0};
  const auto a = Plug("a", kMouseIds, wide);
  auto dev = hid.Open(a, platform::HidOpenMode::Synchronous);
  Bytes report(17, 0);
  report[13] = 0x01;  // usage 97
  EXPECT_EQ(TgxHidDeviceReadThread::ParseButtonData(*dev, report), 97u << 16);
  std::fill(report.begin() + 1, report.end(), 0xFF);  // 128 on: more than the lists hold
  EXPECT_EQ(TgxHidDeviceReadThread::ParseButtonData(*dev, report), 0u);
  report.assign(17, 0);
  EXPECT_EQ(TgxHidDeviceReadThread::ParseButtonData(*dev, report), 97u);
}

// --- output and feature reports ----------------------------------------------------------------

class HidReportTest : public HidTest {
 protected:
  HidReportTest() { param.UsageAndPage = kMouseUsage; }
  std::vector<Bytes> Sent(const std::string& path, SimHid::RequestKind kind) {
    std::vector<Bytes> out;
    for (auto& r : hid.Requests(path))
      if (r.kind == kind) out.push_back(r.bytes);
    return out;
  }
  void Fill(std::uint8_t id, std::uint32_t size) {
    param.Data.ReportID = id;
    for (std::uint32_t i = 0; i < 16; ++i)
      param.Data.DATAReally[i] = static_cast<std::uint8_t>(0xA0 + i);
    param.Data.DATASIZE = size;
  }
  THIDDataParam param;
};

TEST_F(HidReportTest, WriteDeviceSendsTheIdPlusDatasizeBytesWhileTheOutputReportIsLongEnough) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  Fill(7, 8);
  EXPECT_TRUE(data->HidFindAndWriteDevice(param));
  Fill(7, 9);
  EXPECT_TRUE(data->HidFindAndWriteDevice(param));
  Fill(7, 10);
  EXPECT_FALSE(data->HidFindAndWriteDevice(param));
  auto sent = Sent(a, SimHid::RequestKind::Output);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], (Bytes{7, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}));
  EXPECT_EQ(sent[1].size(), 10u);
  Fill(7, 9);
  EXPECT_TRUE(data->HidFindAndWriteDeviceBYHID(param));
  EXPECT_EQ(Sent(a, SimHid::RequestKind::Output).back(),
            (Bytes{7, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}));
}

TEST_F(HidReportTest, WriteFiltersAndTheResultOfSeveralInterfaces) {
  WriteConfig("[IncludeHIDDeviceList]\nid1=HID\\VID_1044&PID_7A0D&MI_01\n");
  const auto a = Plug("a", kMouseIds);
  const auto b = Plug("b", kOtherIds);
  auto data = MakeData();
  Fill(7, 4);
  param.DeviceID = "";
  EXPECT_TRUE(data->HidFindAndWriteDevice(param));
  EXPECT_EQ(Sent(a, SimHid::RequestKind::Output).size(), 1u);
  EXPECT_EQ(Sent(b, SimHid::RequestKind::Output).size(), 0u);
  param.DeviceID = "HID\\VID_0000&PID_0000";  // no device has it: BYHID writes to both anyway
  EXPECT_FALSE(data->HidFindAndWriteDevice(param));
  EXPECT_TRUE(data->HidFindAndWriteDeviceBYHID(param));
  EXPECT_EQ(Sent(b, SimHid::RequestKind::Output).size(), 1u);
  hid.SetWriteResult(b, platform::sim::kSimErrorGenFailure);  // b refuses, a accepts: true
  EXPECT_TRUE(data->HidFindAndWriteDeviceBYHID(param));
  hid.SetWriteResult(a, platform::sim::kSimErrorGenFailure);
  EXPECT_FALSE(data->HidFindAndWriteDeviceBYHID(param));
  EXPECT_EQ(Sent(a, SimHid::RequestKind::Output).size(), 4u);
}

TEST_F(HidReportTest, GetFeatureFillsDataOnSuccessAndLeavesItOnFailure) {
  const auto a = Plug("a", kMouseIds);
  auto data = MakeData();
  Fill(9, 5);
  EXPECT_EQ(data->HidFindAndGetFeatureReport(param), platform::sim::kSimErrorInvalidParameter);
  EXPECT_EQ(param.Data.ReportID, 9);
  EXPECT_EQ(param.Data.DATAReally[0], 0xA0);
  hid.SetFeatureReport(a, {9, 1, 2, 3, 4});
  EXPECT_EQ(data->HidFindAndGetFeatureReport(param), 0u);
  EXPECT_EQ(Bytes(&param.Data.ReportID, &param.Data.ReportID + 6), (Bytes{9, 1, 2, 3, 4, 0xA4}));
  EXPECT_EQ(Sent(a, SimHid::RequestKind::GetFeature).back().size(), 5u);
  Fill(9, 6);  // longer than the feature report: not asked
  EXPECT_EQ(data->HidFindAndGetFeatureReport(param), TgxHIDData::kNoInterfaceAnswered);
  EXPECT_EQ(Sent(a, SimHid::RequestKind::GetFeature).size(), 2u);
}

TEST_F(HidReportTest, SetFeatureRecordsTheHandleEvenWhenTheRequestFails) {
  const auto a = Plug("a", kMouseIds);
  const auto b = Plug("b", kMouseIds);
  auto data = MakeData();
  Fill(9, 5);
  hid.SetFeatureResult(b, platform::sim::kSimErrorGenFailure);
  EXPECT_EQ(data->HidFindAndSetFeatureReport(param),
            platform::sim::kSimErrorGenFailure);  // the last one asked
  ASSERT_EQ(Sent(b, SimHid::RequestKind::SetFeature).size(), 1u);
  EXPECT_EQ(param.DeviceHandle, static_cast<std::uint32_t>(hid.Requests(b).back().handle));
  EXPECT_EQ(Sent(a, SimHid::RequestKind::SetFeature).at(0), (Bytes{9, 0xA0, 0xA1, 0xA2, 0xA3}));
  hid.Unplug(b);
  EXPECT_EQ(data->HidFindAndSetFeatureReport(param), 0u);
}

}  // namespace
