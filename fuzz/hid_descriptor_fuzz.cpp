// libFuzzer target: any bytes as a report descriptor, followed by an input report. The parser
// must answer every query without crashing, hanging or growing without bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hid/usage_list.h"
#include "platform/hid_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes say how much of the rest is the descriptor; the remainder is a report.
  const std::size_t split = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
  const std::span<const std::uint8_t> descriptor(data + 2, split);
  const std::span<const std::uint8_t> report(data + 2 + split, size - 2 - split);
  kv::platform::descriptor::ReportDescriptor d;
  try {
    d = kv::platform::descriptor::ParseReportDescriptor(descriptor);
  } catch (const kv::platform::descriptor::DescriptorError&) {
    return 0;
  }
  std::vector<std::uint16_t> previous(100), current(100);
  for (const auto& c : d.collections) {
    const auto caps = c.Capabilities();
    (void)caps;
    const std::size_t n = c.MaxInputUsageListLength();
    if (auto on = c.ButtonsOn(report)) {
      for (std::size_t i = 0; i < on->size() && i < current.size(); ++i)
        current[i] = (*on)[i].usage;
      const auto diff =
          kv::hid::UsageListDifference(previous, current, std::min<std::size_t>(n, 100));
      (void)diff;
      previous = current;
    }
  }
  return 0;
}
