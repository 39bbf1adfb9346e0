#include "platform/hid_descriptor.h"

#include <algorithm>
#include <map>
#include <string>

namespace kv::platform::descriptor {
namespace {

// Item tags (prefix byte without its size bits).
enum : std::uint8_t {
  kInput = 0x80,
  kOutput = 0x90,
  kFeature = 0xB0,
  kCollection = 0xA0,
  kEndCollection = 0xC0,
  kUsagePage = 0x04,
  kLogicalMin = 0x14,
  kLogicalMax = 0x24,
  kPhysicalMin = 0x34,
  kPhysicalMax = 0x44,
  kUnitExponent = 0x54,
  kUnit = 0x64,
  kReportSize = 0x74,
  kReportId = 0x84,
  kReportCount = 0x94,
  kPush = 0xA4,
  kPop = 0xB4,
  kUsage = 0x08,
  kUsageMin = 0x18,
  kUsageMax = 0x28,
  kLongItem = 0xFE,
};

struct Globals {
  std::uint16_t usagePage = 0;
  std::int64_t logicalMin = 0;
  std::int64_t logicalMax = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint8_t reportId = 0;
};

struct Locals {
  std::vector<UsageRange> usages;
  std::optional<std::uint32_t> usageMin;  // waiting for its maximum
  void Clear() {
    usages.clear();
    usageMin.reset();
  }
};

[[noreturn]] void Fail(const std::string& what, std::size_t offset) {
  throw DescriptorError(what + " at byte " + std::to_string(offset));
}

std::uint32_t Unsigned(const std::uint8_t* p, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= std::uint32_t{p[i]} << (8 * i);
  return v;
}

std::int64_t Signed(std::uint32_t v, int n) {
  switch (n) {
    case 1: return static_cast<std::int8_t>(v);
    case 2: return static_cast<std::int16_t>(v);
    case 4: return static_cast<std::int32_t>(v);
    default: return 0;
  }
}

// A usage item of 1 or 2 bytes takes the current page; one of 4 bytes names its own.
std::uint32_t Extended(std::uint32_t v, int n, const Globals& g) {
  return n == 4 ? v : (std::uint32_t{g.usagePage} << 16) | (v & 0xFFFF);
}

class Parser {
 public:
  explicit Parser(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  ReportDescriptor Run() {
    if (bytes_.size() > kMaxDescriptorBytes) Fail("descriptor too long", 0);
    std::size_t pos = 0;
    while (pos < bytes_.size()) {
      const std::size_t at = pos;
      const std::uint8_t prefix = bytes_[pos++];
      if (prefix == kLongItem) Fail("long item", at);
      static constexpr int kSizes[4] = {0, 1, 2, 4};
      const int n = kSizes[prefix & 3];
      if (bytes_.size() - pos < static_cast<std::size_t>(n)) Fail("truncated item", at);
      const std::uint32_t v = Unsigned(bytes_.data() + pos, n);
      pos += n;
      const std::uint8_t tag = prefix & 0xFC;
      switch (prefix & 0x0C) {
        case 0x00: Main(tag, v, at); break;
        case 0x04: Global(tag, v, n, at); break;
        case 0x08: Local(tag, v, n, at); break;
        default: Fail("reserved item type", at);
      }
    }
    if (depth_ != 0) Fail("collection not closed", bytes_.size());
    return std::move(out_);
  }

 private:
  void Main(std::uint8_t tag, std::uint32_t v, std::size_t at) {
    switch (tag) {
      case kCollection:
        if (depth_ >= kMaxCollectionDepth) Fail("collections nested too deeply", at);
        if (depth_ == 0) {
          TopLevelCollection c;
          const std::uint32_t u = FirstUsage();
          c.usagePage = static_cast<std::uint16_t>(u >> 16);
          c.usage = static_cast<std::uint16_t>(u & 0xFFFF);
          out_.collections.push_back(std::move(c));
          bits_.clear();
        }
        ++depth_;
        break;
      case kEndCollection:
        if (depth_ == 0) Fail("end of a collection that was not opened", at);
        --depth_;
        break;
      case kInput: AddField(ReportKind::Input, v, at); break;
      case kOutput: AddField(ReportKind::Output, v, at); break;
      case kFeature: AddField(ReportKind::Feature, v, at); break;
      default: Fail("unknown main item", at);
    }
    locals_.Clear();
  }

  std::uint32_t FirstUsage() const {
    if (!locals_.usages.empty()) return locals_.usages.front().first;
    return 0;
  }

  void AddField(ReportKind kind, std::uint32_t flags, std::size_t at) {
    if (depth_ == 0) Fail("report item outside a collection", at);
    TopLevelCollection& c = out_.collections.back();
    if (c.fields.size() >= kMaxFieldsPerCollection) Fail("too many report items", at);
    if (g_.reportSize > kMaxReportSizeBits) Fail("report size too large", at);
    std::uint32_t& offset = bits_[{kind, g_.reportId}];
    const std::uint64_t total =
        std::uint64_t{offset} + std::uint64_t{g_.reportSize} * g_.reportCount;
    if ((total + 7) / 8 + 1 > kMaxReportBytes) Fail("report too long", at);
    Field f;
    f.kind = kind;
    f.reportId = g_.reportId;
    f.bitOffset = offset;
    f.size = g_.reportSize;
    f.count = g_.reportCount;
    f.constant = flags & 1;
    f.variable = flags & 2;
    f.logicalMin = g_.logicalMin;
    f.logicalMax = g_.logicalMax;
    // A non-negative minimum makes the maximum unsigned (0..255 fits a one-byte item only so).
    if (f.logicalMin >= 0 && f.logicalMax < 0) f.logicalMax = static_cast<std::uint32_t>(lmaxRaw_);
    f.usages = locals_.usages;
    offset = static_cast<std::uint32_t>(total);
    if (f.reportId != 0) c.usesReportIds = true;
    if (f.size != 0 && f.count != 0) c.fields.push_back(std::move(f));
  }

  void Global(std::uint8_t tag, std::uint32_t v, int n, std::size_t at) {
    switch (tag) {
      case kUsagePage: g_.usagePage = static_cast<std::uint16_t>(v); break;
      case kLogicalMin: g_.logicalMin = Signed(v, n); break;
      case kLogicalMax:
        g_.logicalMax = Signed(v, n);
        lmaxRaw_ = v;
        break;
      case kPhysicalMin:
      case kPhysicalMax:
      case kUnitExponent:
      case kUnit: break;
      case kReportSize: g_.reportSize = v; break;
      case kReportCount: g_.reportCount = v; break;
      case kReportId:
        if (v == 0 || v > 255) Fail("invalid report ID", at);
        g_.reportId = static_cast<std::uint8_t>(v);
        break;
      case kPush:
        if (stack_.size() >= static_cast<std::size_t>(kMaxPushDepth))
          Fail("push stack overflow", at);
        stack_.push_back({g_, lmaxRaw_});
        break;
      case kPop:
        if (stack_.empty()) Fail("pop without push", at);
        g_ = stack_.back().first;
        lmaxRaw_ = stack_.back().second;
        stack_.pop_back();
        break;
      default: Fail("unknown global item", at);
    }
  }

  void Local(std::uint8_t tag, std::uint32_t v, int n, std::size_t at) {
    constexpr std::size_t kMaxUsagesPerItem = 1024;
    switch (tag) {
      case kUsage:
        if (locals_.usages.size() >= kMaxUsagesPerItem) Fail("too many usages", at);
        locals_.usages.push_back({Extended(v, n, g_), Extended(v, n, g_)});
        break;
      case kUsageMin: locals_.usageMin = Extended(v, n, g_); break;
      case kUsageMax: {
        if (!locals_.usageMin) Fail("usage maximum without minimum", at);
        const std::uint32_t last = Extended(v, n, g_);
        if (last < *locals_.usageMin || (last >> 16) != (*locals_.usageMin >> 16))
          Fail("usage range reversed or across pages", at);
        if (locals_.usages.size() >= kMaxUsagesPerItem) Fail("too many usages", at);
        locals_.usages.push_back({*locals_.usageMin, last});
        locals_.usageMin.reset();
        break;
      }
      default: break;  // designators, strings, delimiters: nothing here needs them
    }
  }

  std::span<const std::uint8_t> bytes_;
  ReportDescriptor out_;
  Globals g_;
  std::uint32_t lmaxRaw_ = 0;
  Locals locals_;
  std::vector<std::pair<Globals, std::uint32_t>> stack_;
  int depth_ = 0;
  std::map<std::pair<ReportKind, std::uint8_t>, std::uint32_t> bits_;  // per top-level collection
};

}  // namespace

std::uint32_t Field::UsageAt(std::uint64_t index) const {
  if (usages.empty()) return 0;
  for (const UsageRange& r : usages) {
    const std::uint64_t n = std::uint64_t{r.last} - r.first + 1;
    if (index < n) return r.first + static_cast<std::uint32_t>(index);
    index -= n;
  }
  return usages.back().last;
}

std::uint16_t TopLevelCollection::ReportByteLength(ReportKind kind) const {
  std::map<std::uint8_t, std::uint64_t> bits;
  for (const Field& f : fields)
    if (f.kind == kind) {
      auto& b = bits[f.reportId];
      b = std::max<std::uint64_t>(b, std::uint64_t{f.bitOffset} + std::uint64_t{f.size} * f.count);
    }
  std::uint64_t longest = 0;
  for (auto& [id, b] : bits) longest = std::max(longest, (b + 7) / 8 + 1);
  return static_cast<std::uint16_t>(longest);
}

platform::HidCapabilities TopLevelCollection::Capabilities() const {
  platform::HidCapabilities caps;
  caps.usagePage = usagePage;
  caps.usage = usage;
  caps.inputReportByteLength = ReportByteLength(ReportKind::Input);
  caps.outputReportByteLength = ReportByteLength(ReportKind::Output);
  caps.featureReportByteLength = ReportByteLength(ReportKind::Feature);
  return caps;
}

std::size_t TopLevelCollection::MaxInputUsageListLength() const {
  std::size_t n = 0;
  for (const Field& f : fields)
    if (f.kind == ReportKind::Input && f.IsButtons()) n += f.count;
  return n;
}

namespace {

std::uint64_t Bits(std::span<const std::uint8_t> data, std::uint64_t offset, std::uint32_t size) {
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < size && i < 64; ++i) {
    const std::uint64_t bit = offset + i;
    if ((data[bit / 8] >> (bit % 8)) & 1) v |= std::uint64_t{1} << i;
  }
  return v;
}

}  // namespace

std::optional<std::vector<platform::HidUsage>> TopLevelCollection::ButtonsOn(
    std::span<const std::uint8_t> report) const {
  if (report.empty()) return std::nullopt;
  const std::uint8_t id = usesReportIds ? report[0] : 0;
  std::uint64_t need = 0;
  bool exists = false;
  for (const Field& f : fields)
    if (f.kind == ReportKind::Input && f.reportId == id) {
      exists = true;
      need = std::max<std::uint64_t>(need,
                                     std::uint64_t{f.bitOffset} + std::uint64_t{f.size} * f.count);
    }
  if (!exists || report.size() < (need + 7) / 8 + 1) return std::nullopt;
  const auto data = report.subspan(1);
  std::vector<platform::HidUsage> on;
  auto add = [&](std::uint32_t u) {
    if ((u & 0xFFFF) != 0)
      on.push_back({static_cast<std::uint16_t>(u >> 16), static_cast<std::uint16_t>(u & 0xFFFF)});
  };
  for (const Field& f : fields) {
    if (f.kind != ReportKind::Input || f.reportId != id || !f.IsButtons()) continue;
    for (std::uint32_t i = 0; i < f.count; ++i) {
      const std::uint64_t at = std::uint64_t{f.bitOffset} + std::uint64_t{i} * f.size;
      if (f.variable) {
        if (Bits(data, at, 1)) add(f.UsageAt(i));
        continue;
      }
      if (f.size > 32) continue;
      std::int64_t value = static_cast<std::int64_t>(Bits(data, at, f.size));
      // Arrays with a negative minimum carry signed values.
      if (f.logicalMin < 0 && f.size < 64 && (value >> (f.size - 1)) & 1)
        value -= std::int64_t{1} << f.size;
      if (value < f.logicalMin || value > f.logicalMax) continue;
      add(f.UsageAt(static_cast<std::uint64_t>(value - f.logicalMin)));
    }
  }
  return on;
}

ReportDescriptor ParseReportDescriptor(std::span<const std::uint8_t> bytes) {
  return Parser(bytes).Run();
}

}  // namespace kv::platform::descriptor
