#pragma once
// The HID parameter records that the component's operations take.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv {

static_assert(sizeof(void*) >= 4);

// The platform's usage pair: usage first, then usage page. As one 32-bit value the usage is
// the low half and the page the high half.
struct USAGE_AND_PAGE {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint32_t AsUInt32() const { return (std::uint32_t{UsagePage} << 16) | Usage; }
  static USAGE_AND_PAGE FromUInt32(std::uint32_t v) {
    return {static_cast<std::uint16_t>(v & 0xFFFF), static_cast<std::uint16_t>(v >> 16)};
  }
  friend bool operator==(const USAGE_AND_PAGE&, const USAGE_AND_PAGE&) = default;
};
static_assert(sizeof(USAGE_AND_PAGE) == 4 && offsetof(USAGE_AND_PAGE, UsagePage) == 2);

// A complete report buffer from ReportID on (report ID in the first byte), and a byte count
// whose meaning depends on the operation.
struct THidReallyData {
  std::uint8_t ReportID = 0;
  std::uint8_t DATAReally[65535] = {};
  std::uint32_t DATASIZE = 0;
};
static_assert(sizeof(THidReallyData) == 65540);
static_assert(offsetof(THidReallyData, DATAReally) == 1);
static_assert(offsetof(THidReallyData, DATASIZE) == 65536);

// The parameter of IsDeviceExist and of the output and feature operations. Only Data keeps a
// fixed layout: the device ID is a string owned by the record (a 32-bit reference cannot hold
// a string on a 64-bit target), so the record is passed in memory only, never stored.
struct THIDDataParam {
  USAGE_AND_PAGE UsageAndPage;
  std::string DeviceID;  // "" or "*": select by the include list
  THidReallyData Data;
  std::uint32_t DeviceHandle = 0;  // written by HidFindAndSetFeatureReport
};

}  // namespace kv
