#include <gtest/gtest.h>

#include <cstring>

#include "base/utf16.h"
#include "profile/errors.h"
#include "profile/records.h"

namespace {

using namespace kv;

TEST(Records, AssigningAFunctionTakesTheTableCodesAndChecksBothIndexes) {
  auto info = std::make_unique<TMouseProfileInfo>();
  TBUTTONFUNCINFO& b = Button(*info, 7);
  b.FunctionKind = 8;
  AssignFunction(b, 28);
  EXPECT_EQ(b.FunctionCode, 28);
  EXPECT_EQ(b.TypeCode, 19);
  EXPECT_EQ(b.ValueCode, 1008);
  EXPECT_EQ(b.FunctionKind, 8) << "only the codes change";
  EXPECT_THROW(AssignFunction(b, 39), ProfileRangeError);
  EXPECT_THROW(AssignFunction(b, -1), ProfileRangeError);
  EXPECT_EQ(b.FunctionCode, 28);
  EXPECT_THROW(Button(*info, 19), ProfileRangeError);
  EXPECT_THROW(Button(*info, -1), ProfileRangeError);
}

TEST(Records, ReportMaskEntryKIsByteSevenAndBitK) {
  for (int k = 0; k < kReportMaskCount; ++k) {
    const auto& e = kReportMaskTable.Entries[k].Bytes;
    EXPECT_EQ(e[0], 7);
    EXPECT_EQ(e[1] | (e[2] << 8) | (e[3] << 16), 1 << k) << k;
  }
  TBUTTONFUNCINFO b{};
  std::memcpy(b.FuncParam.ReportMask, &kReportMaskTable.Entries[16].Bytes[1], 3);
  EXPECT_EQ(ReportMaskOf(b), 1u << 16);
}

TEST(Records, DateTimeCountsDaysFromTheEndOf1899WithTheTimeAsFraction) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 12, 0, 0, 0), 2.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 0, 0, 0, 0), 36526.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 2, 29, 6, 0, 0, 0), 45351.25);
  EXPECT_NEAR(EncodeDateTime(2000, 1, 1, 0, 0, 0, 1) - 36526.0, 1.0 / 86400000.0, 1e-10);
}

TEST(Records, ProfileFileNameHoldsTwentyUnitsAndItsTerminatorAtMost) {
  TPROFILESETTINGINFO s{};
  std::memset(s.MacroFolder, 0x55, sizeof s.MacroFolder);
  WriteField(s.ProfileFileName, std::string(20, 'p'));
  EXPECT_EQ(ReadField(s.ProfileFileName), std::string(20, 'p'));
  EXPECT_THROW(WriteField(s.ProfileFileName, std::string(21, 'p')), TextFieldOverflow);
  EXPECT_EQ(ReadField(s.ProfileFileName), std::string(20, 'p'));
  EXPECT_EQ(s.MacroFolder[0], 0x5555) << "the field behind must not be touched";
}

}  // namespace
