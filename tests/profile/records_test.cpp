#include <gtest/gtest.h>

#include <cstring>

#include "base/utf16.h"
#include "profile/errors.h"
#include "profile/records.h"

namespace {

using namespace kv;

TEST(Records, AssigningAFunctionWritesItsKindAndParametersAndKeepsConfiguratorData) {
  auto info = std::make_unique<TMouseProfileInfo>();
  TBUTTONFUNCINFO& b = Button(*info, 7);
  // The old function was a key; bytes between the parameter fields are configurator data.
  b.FunctionKind = kFunctionKindKey;
  b.FuncParam.KeyCode = 49;
  b.FuncParam.MacroIndex = 12;
  b.FuncParam.AuxWord2 = 5;
  b.FuncParam.Data6[0] = 0x5A;
  b.FuncParam.Data4074[73] = 0xA5;
  b.Reserved4164[1] = 0x77;
  b.ButtonIndex = 99;

  AssignFunction(b, 7, kMicMuteFunction);
  EXPECT_EQ(b.ButtonIndex, 7);
  EXPECT_EQ(b.FunctionCode, 28);
  EXPECT_EQ(b.TypeCode, 19);
  EXPECT_EQ(b.ValueCode, 1008);
  // The device reports a press of a host function with the button's mask.
  EXPECT_EQ(b.FunctionKind, kFunctionKindReportMask);
  EXPECT_EQ(ReportMaskOf(b), 1u << 7);
  EXPECT_EQ(b.FuncParam.KeyCode, 0);
  EXPECT_EQ(b.FuncParam.MacroIndex, 0);
  EXPECT_EQ(b.FuncParam.AuxWord2, 0);
  EXPECT_EQ(b.FuncParam.Data6[0], 0x5A);
  EXPECT_EQ(b.FuncParam.Data4074[73], 0xA5);
  EXPECT_EQ(b.Reserved4164[1], 0x77);

  AssignFunction(b, 7, kKeyFunction, 107);
  EXPECT_EQ(b.FunctionKind, kFunctionKindKey);
  EXPECT_EQ(b.FuncParam.KeyCode, 107);
  EXPECT_EQ(ReportMaskOf(b), 0u);
  EXPECT_EQ(b.TypeCode, 16);
  AssignFunction(b, 7, kAuxWordsFunction);
  EXPECT_EQ(b.FunctionKind, kFunctionKindAuxWords);
  EXPECT_EQ(b.FuncParam.AuxWord1, 3);
  EXPECT_EQ(b.FuncParam.AuxWord3, 129);
  EXPECT_EQ(b.FuncParam.KeyCode, 0);
  EXPECT_EQ(b.TypeCode, 17) << "the table's codes, not the shipped defaults' 25";
  AssignFunction(b, 7, 12);
  EXPECT_EQ(b.FunctionKind, kFunctionKindPlain);
  EXPECT_EQ(b.FuncParam.AuxWord1, 0);
  EXPECT_EQ(b.ValueCode, 806);

  EXPECT_THROW(AssignFunction(b, 7, 39), ProfileRangeError);
  EXPECT_THROW(AssignFunction(b, 7, -1), ProfileRangeError);
  EXPECT_THROW(AssignFunction(b, 24, 0), ProfileRangeError);
  EXPECT_EQ(b.FunctionCode, 12);
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
