#include "hid/usage_list.h"

#include <gtest/gtest.h>

namespace {

using kv::hid::UsageListDifference;

TEST(UsageListDifference, BreaksAndMakesStopAtZeroAndAtTheLength) {
  const std::vector<std::uint16_t> prev = {1, 3, 5, 0, 9};
  const std::vector<std::uint16_t> cur = {3, 4, 6, 7};
  auto d = UsageListDifference(prev, cur, 3);
  EXPECT_EQ(d.breaks, (std::vector<std::uint16_t>{1, 5}));  // 9 lies after the terminator
  EXPECT_EQ(d.makes, (std::vector<std::uint16_t>{4, 6}));   // 7 lies beyond the length
  auto same = UsageListDifference(cur, cur, 4);
  EXPECT_TRUE(same.breaks.empty());
  EXPECT_TRUE(same.makes.empty());
}

}  // namespace
