#pragma once
// The contract of the HID service (platform/hid.h) as a typed GoogleTest suite. Every
// implementation instantiates it with an environment type:
//
//   struct MyEnv {
//     kv::platform::Hid& hid();
//     // False where the test cannot make virtual devices: the device cases then skip.
//     bool CanPlug();
//     // A present interface of `descriptor`'s first top-level collection; returns its path.
//     std::string Plug(const std::vector<std::uint8_t>& descriptor);
//     void Input(const std::string& path, const std::vector<std::uint8_t>& report);
//     void Unplug(const std::string& path);
//     // Output reports and set-feature reports the device received, report ID first.
//     std::vector<std::vector<std::uint8_t>> Outputs(const std::string& path);
//     std::vector<std::vector<std::uint8_t>> FeaturesSet(const std::string& path);
//     // What the device answers to a get-feature request of report[0].
//     void AnswerFeature(const std::string& path, const std::vector<std::uint8_t>& report);
//     // Blocks until a Read is waiting on the path, or a short while where that cannot be seen.
//     void WaitForReader(const std::string& path);
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyPlatform, HidContract, ::testing::Types<MyEnv>);
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/hid.h"

namespace kv::platform::contract {

// Top-level collection 0xFFA0/1 with report 7 (3 bytes: 24 buttons, usages 1..24), output
// report 7 (8 bytes) and feature report 9 (4 bytes).
inline const std::vector<std::uint8_t> kVendorDescriptor = {
    0x06, 0xA0, 0xFF,                                            // usage page 0xFFA0
    0x09, 0x01,                                                  // usage 1
    0xA1, 0x01,                                                  // application collection
    0x85, 0x07,                                                  //   report ID 7
    0x05, 0x09,                                                  //   button page
    0x19, 0x01, 0x29, 0x18,                                      // usages 1..24
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x18, 0x81, 0x02,  //   input (data, variable)
    0x06, 0xA0, 0xFF, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00,
    0x75, 0x08, 0x95, 0x08, 0x91, 0x02,              //   output, 8 bytes
    0x85, 0x09, 0x09, 0x03, 0x95, 0x04, 0xB1, 0x02,  //   feature 9, 4 bytes
    0xC0,
};

// A skip must come from the test body itself: GTEST_SKIP only returns from the function it is in.
#define KV_HID_NEED_DEVICES() \
  if (!this->env.CanPlug()) GTEST_SKIP() << "this environment cannot make virtual HID devices"

template <typename Env>
class HidContract : public ::testing::Test {
 protected:
  Env env;
  Hid& hid() { return env.hid(); }
};

TYPED_TEST_SUITE_P(HidContract);

TYPED_TEST_P(HidContract, StopEventCountsGenerationsAndPulseLeavesItClear) {
  auto stop = this->hid().CreateStopEvent();
  ASSERT_NE(stop, nullptr);
  EXPECT_FALSE(stop->IsSet());
  EXPECT_EQ(stop->Generation(), 0u);
  stop->Set();
  stop->Set();  // already set: same generation
  EXPECT_TRUE(stop->IsSet());
  EXPECT_EQ(stop->Generation(), 1u);
  stop->Reset();
  EXPECT_FALSE(stop->IsSet());
  stop->Pulse(std::chrono::milliseconds(1));
  EXPECT_FALSE(stop->IsSet());
  EXPECT_EQ(stop->Generation(), 2u);
}

TYPED_TEST_P(HidContract, AnAbsentPathDoesNotOpen) {
  EXPECT_EQ(this->hid().Open("no such hid interface", HidOpenMode::Synchronous), nullptr);
  EXPECT_EQ(this->hid().Open("", HidOpenMode::Overlapped), nullptr);
}

TYPED_TEST_P(HidContract, APluggedInterfaceIsListedWithItsCapabilities) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto list = this->hid().Interfaces();
  ASSERT_TRUE(list);
  const HidInterfaceInfo* found = nullptr;
  for (auto& i : *list)
    if (i.path == path) found = &i;
  ASSERT_NE(found, nullptr);
  EXPECT_FALSE(found->hardwareIds.empty());
  auto dev = this->hid().Open(path, HidOpenMode::Synchronous);
  ASSERT_NE(dev, nullptr);
  EXPECT_TRUE(dev->Attributes());
  auto caps = dev->Capabilities();
  ASSERT_TRUE(caps);
  EXPECT_EQ(caps->usagePage, 0xFFA0);
  EXPECT_EQ(caps->usage, 1);
  EXPECT_EQ(caps->inputReportByteLength, 4);
  EXPECT_EQ(caps->outputReportByteLength, 9);
  EXPECT_EQ(caps->featureReportByteLength, 5);
  EXPECT_NE(dev->HandleValue(), 0u);
}

TYPED_TEST_P(HidContract, EveryOverlappedOpenReadsEachReportAndSynchronousOpensCannotRead) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto a = this->hid().Open(path, HidOpenMode::Overlapped);
  auto b = this->hid().Open(path, HidOpenMode::Overlapped);
  auto s = this->hid().Open(path, HidOpenMode::Synchronous);
  ASSERT_TRUE(a && b && s);
  auto stop = this->hid().CreateStopEvent();
  std::vector<std::uint8_t> buf(4);
  auto r = s->Read(buf, *stop, stop->Generation());
  EXPECT_EQ(r.status, HidReadStatus::InvalidHandle);

  auto pending = std::async(std::launch::async, [&] { return a->Read(buf, *stop, 0); });
  this->env.WaitForReader(path);
  this->env.Input(path, {7, 0x04, 0x00, 0x00});
  r = pending.get();
  ASSERT_EQ(r.status, HidReadStatus::Report);
  ASSERT_EQ(r.bytes, 4u);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{7, 0x04, 0, 0}));
  std::vector<std::uint8_t> other(4);
  r = b->Read(other, *stop, 0);  // queued for b as well
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(other, buf);
}

TYPED_TEST_P(HidContract, AStopOrACancelEndsABlockedReadAndAStaleGenerationEndsItAtOnce) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto dev = this->hid().Open(path, HidOpenMode::Overlapped);
  ASSERT_TRUE(dev);
  auto stop = this->hid().CreateStopEvent();
  std::vector<std::uint8_t> buf(4);

  auto pending = std::async(std::launch::async, [&] { return dev->Read(buf, *stop, 0); });
  this->env.WaitForReader(path);
  stop->Pulse(std::chrono::milliseconds(0));  // set and reset at once: still seen
  EXPECT_EQ(pending.get().status, HidReadStatus::Stopped);

  // Generation moved on before the read began: no wait at all.
  EXPECT_EQ(dev->Read(buf, *stop, 0).status, HidReadStatus::Stopped);

  pending =
      std::async(std::launch::async, [&] { return dev->Read(buf, *stop, stop->Generation()); });
  this->env.WaitForReader(path);
  dev->CancelRead();
  EXPECT_EQ(pending.get().status, HidReadStatus::Cancelled);

  // Several readers on one event all stop.
  auto dev2 = this->hid().Open(path, HidOpenMode::Overlapped);
  std::vector<std::uint8_t> buf2(4);
  const auto g = stop->Generation();
  auto p1 = std::async(std::launch::async, [&] { return dev->Read(buf, *stop, g); });
  auto p2 = std::async(std::launch::async, [&] { return dev2->Read(buf2, *stop, g); });
  this->env.WaitForReader(path);
  stop->Set();
  EXPECT_EQ(p1.get().status, HidReadStatus::Stopped);
  EXPECT_EQ(p2.get().status, HidReadStatus::Stopped);
  EXPECT_EQ(dev->Read(buf, *stop, stop->Generation()).status, HidReadStatus::Stopped);  // still set
}

TYPED_TEST_P(HidContract, UnpluggingEndsAPendingReadAsNotConnected) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto dev = this->hid().Open(path, HidOpenMode::Overlapped);
  ASSERT_TRUE(dev);
  auto stop = this->hid().CreateStopEvent();
  std::vector<std::uint8_t> buf(4);
  auto pending = std::async(std::launch::async, [&] { return dev->Read(buf, *stop, 0); });
  this->env.WaitForReader(path);
  this->env.Unplug(path);
  auto r = pending.get();
  EXPECT_EQ(r.status, HidReadStatus::NotConnected);
  EXPECT_NE(r.error, 0u);
  EXPECT_EQ(this->hid().Open(path, HidOpenMode::Synchronous), nullptr);
  auto list = this->hid().Interfaces();
  ASSERT_TRUE(list);
  for (auto& i : *list) EXPECT_NE(i.path, path);
}

TYPED_TEST_P(HidContract, OutputAndFeatureReportsReachTheDevice) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto dev = this->hid().Open(path, HidOpenMode::Synchronous);
  ASSERT_TRUE(dev);
  const std::vector<std::uint8_t> out = {7, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(dev->WriteOutput(out), 0u);
  const std::vector<std::uint8_t> feat = {9, 0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_EQ(dev->SetFeature(feat), 0u);
  EXPECT_EQ(this->env.Outputs(path), (std::vector<std::vector<std::uint8_t>>{out}));
  EXPECT_EQ(this->env.FeaturesSet(path), (std::vector<std::vector<std::uint8_t>>{feat}));

  this->env.AnswerFeature(path, {9, 1, 2, 3, 4});
  std::vector<std::uint8_t> get = {9, 0, 0, 0, 0};
  EXPECT_EQ(dev->GetFeature(get), 0u);
  EXPECT_EQ(get, (std::vector<std::uint8_t>{9, 1, 2, 3, 4}));
}

TYPED_TEST_P(HidContract, RefusedOrShortFeatureAnswersAndRequestsToAGoneDevice) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto dev = this->hid().Open(path, HidOpenMode::Synchronous);
  ASSERT_TRUE(dev);
  // Nothing answers report 9 yet: an error code, and the caller's buffer as it was.
  std::vector<std::uint8_t> get = {9, 0x11, 0x22, 0x33, 0x44};
  EXPECT_NE(dev->GetFeature(get), 0u);
  EXPECT_EQ(get, (std::vector<std::uint8_t>{9, 0x11, 0x22, 0x33, 0x44}));
  // An answer shorter than the request: the rest of the buffer reads as 0.
  this->env.AnswerFeature(path, {9, 0xA1});
  EXPECT_EQ(dev->GetFeature(get), 0u);
  EXPECT_EQ(get, (std::vector<std::uint8_t>{9, 0xA1, 0, 0, 0}));

  this->env.Unplug(path);
  const std::vector<std::uint8_t> out = {7, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_NE(dev->WriteOutput(out), 0u);
  EXPECT_NE(dev->SetFeature(std::vector<std::uint8_t>{9, 1, 2, 3, 4}), 0u);
  EXPECT_NE(dev->GetFeature(get), 0u);
  EXPECT_EQ(get, (std::vector<std::uint8_t>{9, 0xA1, 0, 0, 0}));
  EXPECT_TRUE(this->env.Outputs(path).empty());
}

TYPED_TEST_P(HidContract, UsageQueriesDescribeTheButtonsOfAnInputReport) {
  KV_HID_NEED_DEVICES();
  const std::string path = this->env.Plug(kVendorDescriptor);
  auto dev = this->hid().Open(path, HidOpenMode::Synchronous);
  ASSERT_TRUE(dev);
  EXPECT_EQ(dev->MaxUsageListLength(), std::optional<std::size_t>(24));
  const std::vector<std::uint8_t> report = {7, 0x05, 0x00, 0x80};  // usages 1, 3, 24
  auto on = dev->ButtonsOn(report);
  ASSERT_TRUE(on);
  EXPECT_EQ(*on, (std::vector<HidUsage>{{9, 1}, {9, 3}, {9, 24}}));
  const std::vector<std::uint8_t> unknownId = {3, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(dev->ButtonsOn(unknownId));
}

REGISTER_TYPED_TEST_SUITE_P(HidContract, StopEventCountsGenerationsAndPulseLeavesItClear,
                            AnAbsentPathDoesNotOpen, APluggedInterfaceIsListedWithItsCapabilities,
                            EveryOverlappedOpenReadsEachReportAndSynchronousOpensCannotRead,
                            AStopOrACancelEndsABlockedReadAndAStaleGenerationEndsItAtOnce,
                            UnpluggingEndsAPendingReadAsNotConnected,
                            OutputAndFeatureReportsReachTheDevice,
                            RefusedOrShortFeatureAnswersAndRequestsToAGoneDevice,
                            UsageQueriesDescribeTheButtonsOfAnInputReport);

}  // namespace kv::platform::contract
