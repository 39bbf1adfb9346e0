#include "platform/hid_descriptor.h"

#include <gtest/gtest.h>

using namespace kv::platform::descriptor;
using kv::platform::HidUsage;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Two top-level collections: a boot-style mouse without report IDs, and a keyboard-ish
// collection with an array of key usages and an LED output report.
const Bytes kTwoCollections = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,  // generic desktop / mouse
    0x09, 0x01, 0xA1, 0x00,              //   pointer (physical)
    0x05, 0x09, 0x19, 0x01, 0x29, 0x05,  //     buttons 1..5
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02, 0x75, 0x03, 0x95,
    0x01, 0x81, 0x03,                    //     padding (constant)
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31,  //     X, Y
    0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0, 0x05,
    0x01, 0x09, 0x06, 0xA1, 0x01,                    // keyboard
    0x85, 0x02, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,  //   key array: usages 0..0x65, 0 = none
    0x15, 0x00, 0x25, 0x65, 0x75, 0x08, 0x95, 0x03, 0x81, 0x00, 0x05, 0x08, 0x19,
    0x01, 0x29, 0x03,  //   3 LEDs + padding
    0x25, 0x01, 0x75, 0x01, 0x95, 0x03, 0x91, 0x02, 0x95, 0x05, 0x91, 0x03, 0xC0,
};

TEST(ReportDescriptor, EachTopLevelCollectionHasItsUsageAndReportLengthsWithTheIdByte) {
  auto d = ParseReportDescriptor(kTwoCollections);
  ASSERT_EQ(d.collections.size(), 2u);
  auto mouse = d.collections[0].Capabilities();
  EXPECT_EQ(mouse.usagePage, 1);
  EXPECT_EQ(mouse.usage, 2);
  EXPECT_EQ(mouse.inputReportByteLength, 4);  // 3 data bytes + 1 even without report IDs
  EXPECT_EQ(mouse.outputReportByteLength, 0);
  EXPECT_FALSE(d.collections[0].usesReportIds);
  auto kbd = d.collections[1].Capabilities();
  EXPECT_EQ(kbd.usage, 6);
  EXPECT_EQ(kbd.inputReportByteLength, 4);
  EXPECT_EQ(kbd.outputReportByteLength, 2);
  EXPECT_EQ(kbd.featureReportByteLength, 0);
  EXPECT_EQ(d.collections[0].MaxInputUsageListLength(), 5u);  // padding is not a button
  EXPECT_EQ(d.collections[1].MaxInputUsageListLength(), 3u);
}

TEST(ReportDescriptor, LongestReportOfAKindWinsAcrossReportIds) {
  const Bytes d = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                   0x07, 0x75, 0x08, 0x95, 0x07, 0x81, 0x02,        // report 7: 7 bytes
                   0x85, 0x08, 0x75, 0x08, 0x95, 0x10, 0x81, 0x02,  // report 8: 16 bytes
                   0x85, 0x09, 0x75, 0x01, 0x95, 0x09, 0xB1, 0x02,  // feature 9: 9 bits
                   0xC0};
  auto caps = ParseReportDescriptor(d).collections.at(0).Capabilities();
  EXPECT_EQ(caps.usagePage, 0xFFA0);
  EXPECT_EQ(caps.inputReportByteLength, 17);
  EXPECT_EQ(caps.featureReportByteLength, 3);
}

TEST(ReportDescriptor, ButtonsOnReadsBitFieldsAndArraysOfTheRightReport) {
  auto d = ParseReportDescriptor(kTwoCollections);
  auto& mouse = d.collections[0];
  // Byte 0 is ignored without report IDs; buttons 2 and 5; X/Y values are not buttons.
  EXPECT_EQ(mouse.ButtonsOn(Bytes{0, 0x12, 0xFF, 0xFF}), (std::vector<HidUsage>{{9, 2}, {9, 5}}));
  EXPECT_EQ(mouse.ButtonsOn(Bytes{0, 0x00, 0x01, 0x01}), std::vector<HidUsage>{});
  EXPECT_FALSE(mouse.ButtonsOn(Bytes{0, 0x01}));  // too short
  auto& kbd = d.collections[1];
  // Keys 0x04 and 0x1E; the 0 slot and an out-of-range 0x70 are no key.
  EXPECT_EQ(kbd.ButtonsOn(Bytes{2, 0x04, 0x70, 0x1E}), (std::vector<HidUsage>{{7, 4}, {7, 0x1E}}));
  EXPECT_FALSE(kbd.ButtonsOn(Bytes{3, 0x04, 0, 0}));  // no input report 3
}

TEST(ReportDescriptor, ExtendedUsagesAndLastUsageRepeatsForRemainingFields) {
  const Bytes d = {0x05, 0x01, 0x0B, 0x02, 0x00, 0x09, 0x00, 0xA1, 0x01,  // usage 9:2 extended
                   0x05, 0x09, 0x09, 0x01, 0x09, 0x07,                    // usages 1, 7
                   0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x04, 0x81,
                   0x02, 0x95, 0x04, 0x81, 0x03, 0xC0};
  auto c = ParseReportDescriptor(d).collections.at(0);
  EXPECT_EQ(c.usagePage, 9);
  EXPECT_EQ(c.usage, 2);
  EXPECT_EQ(c.ButtonsOn(Bytes{0, 0x0F}), (std::vector<HidUsage>{{9, 1}, {9, 7}, {9, 7}, {9, 7}}));
}

TEST(ReportDescriptor, MalformedOrHostileDescriptorsAreRejectedWithAReason) {
  const std::vector<std::pair<const char*, Bytes>> bad = {
      {"truncated", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF}},
      {"long item", {0xFE, 0x02, 0x00, 0x00, 0x00}},
      {"unclosed", {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}},
      {"end without open", {0xC0}},
      {"outside collection", {0x75, 0x08, 0x95, 0x01, 0x81, 0x02}},
      {"report id 0", {0xA1, 0x01, 0x85, 0x00, 0xC0}},
      {"huge size", {0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0x7F, 0x95, 0x01, 0x81, 0x02, 0xC0}},
      {"huge count", {0xA1, 0x01, 0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0}},
      {"pop without push", {0xB4}},
      {"reversed range", {0xA1, 0x01, 0x19, 0x05, 0x29, 0x01, 0xC0}},
  };
  for (auto& [name, bytes] : bad) {
    EXPECT_THROW(ParseReportDescriptor(bytes), DescriptorError) << name;
  }
  Bytes deep;
  for (int i = 0; i < 40; ++i) deep.insert(deep.end(), {0xA1, 0x00});
  for (int i = 0; i < 40; ++i) deep.push_back(0xC0);
  EXPECT_THROW(ParseReportDescriptor(deep), DescriptorError);
  Bytes pushes(20, 0xA4);
  EXPECT_THROW(ParseReportDescriptor(pushes), DescriptorError);
  // Counts that add up past the longest report across items are refused too.
  Bytes many = {0xA1, 0x01, 0x75, 0x08, 0x96, 0xFF, 0x7F};
  for (int i = 0; i < 3; ++i) many.insert(many.end(), {0x81, 0x02});
  many.push_back(0xC0);
  EXPECT_THROW(ParseReportDescriptor(many), DescriptorError);
}

TEST(ReportDescriptor, PushAndPopRestoreTheGlobalState) {
  const Bytes d = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x02,
                   0xA4, 0x75, 0x10, 0x95, 0x04, 0x81, 0x02, 0xB4, 0x81, 0x02, 0xC0};
  auto caps = ParseReportDescriptor(d).collections.at(0).Capabilities();
  EXPECT_EQ(caps.inputReportByteLength, 1 + 8 + 2);
}

}  // namespace
