#pragma once
// The button state the read thread keeps between input reports: which usages went off (breaks)
// and which came on (makes) from one usage list to the next.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kv::hid {

// Usages (0 ends a list) that are in `previous` and not in `current` (breaks), and in `current`
// and not in `previous` (makes); each result holds at most `length` usages.
struct UsageDifference {
  std::vector<std::uint16_t> breaks;
  std::vector<std::uint16_t> makes;
};
UsageDifference UsageListDifference(std::span<const std::uint16_t> previous,
                                    std::span<const std::uint16_t> current, std::size_t length);

}  // namespace kv::hid
