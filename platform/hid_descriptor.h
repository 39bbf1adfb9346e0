#pragma once
// HID report-descriptor parser: per top-level collection its usage pair and report lengths (as
// the capabilities give them), and the button usages that are on in an input report.
//
// Hostile input is expected (descriptors come from devices): every limit below ends the parse
// with DescriptorError instead of growing memory or recursing without bound.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "platform/hid.h"

namespace kv::platform::descriptor {

class DescriptorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class ReportKind : std::uint8_t { Input, Output, Feature };

// Limits of a descriptor that the parser accepts.
inline constexpr std::size_t kMaxDescriptorBytes = 65535;
inline constexpr int kMaxCollectionDepth = 32;
inline constexpr int kMaxPushDepth = 16;
inline constexpr std::uint32_t kMaxReportSizeBits = 256;  // one field
inline constexpr std::uint32_t kMaxReportBytes = 65535;   // one report, report ID included
inline constexpr std::size_t kMaxFieldsPerCollection = 4096;

// Usages inside a field are "extended": usage page in the high 16 bits, usage in the low 16.
struct UsageRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;  // inclusive
};

// One main item: `count` fields of `size` bits each, starting at `bitOffset` of the report data
// (after the report ID byte).
struct Field {
  ReportKind kind = ReportKind::Input;
  std::uint8_t reportId = 0;
  std::uint32_t bitOffset = 0;
  std::uint32_t size = 0;
  std::uint32_t count = 0;
  bool constant = false;
  bool variable = false;
  std::int64_t logicalMin = 0;
  std::int64_t logicalMax = 0;
  std::vector<UsageRange> usages;  // in declaration order

  // A field whose usages are buttons (on/off): an array, or one-bit variable fields.
  bool IsButtons() const { return !constant && (!variable || size == 1); }
  // The usage of element `index` of a variable field or of value index `index` of an array
  // (the last usage repeats past the end); 0 when the field has no usages.
  std::uint32_t UsageAt(std::uint64_t index) const;
};

struct TopLevelCollection {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  bool usesReportIds = false;
  std::vector<Field> fields;

  // Longest report of the kind in bytes, report ID byte included; 0 when there is none.
  std::uint16_t ReportByteLength(ReportKind kind) const;
  HidCapabilities Capabilities() const;
  // Most usages an input report can have on at once, over every usage page.
  std::size_t MaxInputUsageListLength() const;
  // Buttons that are on in an input report (report ID in byte 0). nullopt when the collection
  // has no input report with that ID or the report is shorter than that report's length.
  std::optional<std::vector<HidUsage>> ButtonsOn(std::span<const std::uint8_t> report) const;
};

struct ReportDescriptor {
  std::vector<TopLevelCollection> collections;
};

// Throws DescriptorError with a one-line reason.
ReportDescriptor ParseReportDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace kv::platform::descriptor
