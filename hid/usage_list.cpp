#include "hid/usage_list.h"

#include <algorithm>

namespace kv::hid {

UsageDifference UsageListDifference(std::span<const std::uint16_t> previous,
                                    std::span<const std::uint16_t> current, std::size_t length) {
  auto listed = [](std::span<const std::uint16_t> list, std::size_t length) {
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i < list.size() && i < length && list[i] != 0; ++i)
      out.push_back(list[i]);
    return out;
  };
  const auto prev = listed(previous, length), cur = listed(current, length);
  auto contains = [](const std::vector<std::uint16_t>& l, std::uint16_t u) {
    return std::find(l.begin(), l.end(), u) != l.end();
  };
  UsageDifference d;
  for (auto u : prev)
    if (!contains(cur, u) && !contains(d.breaks, u)) d.breaks.push_back(u);
  for (auto u : cur)
    if (!contains(prev, u) && !contains(d.makes, u)) d.makes.push_back(u);
  return d;
}

}  // namespace kv::hid
