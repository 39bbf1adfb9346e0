#include "profile/records.h"

#include <cstring>
#include <string>

#include "profile/errors.h"

namespace kv {
namespace {

// Days from 1 January of year 1 (proleptic Gregorian) to the given date.
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

}  // namespace

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  const long days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  const double fraction =
      (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
  return static_cast<double>(days) + fraction;
}

TBUTTONFUNCINFO& Button(TMouseProfileInfo& profile, int b) {
  if (b < 0 || b >= kButtonRecords)
    throw ProfileRangeError("button index " + std::to_string(b) + " is outside 0 to 18");
  return profile.ConfigInfo.ButtonFuncInfo[b];
}

const TBUTTONFUNCINFO& Button(const TMouseProfileInfo& profile, int b) {
  return Button(const_cast<TMouseProfileInfo&>(profile), b);
}

BYTE FunctionKindOf(int code) {
  switch (code) {
    case kKeyFunction: return kFunctionKindKey;
    case kMicMuteFunction: return kFunctionKindReportMask;
    case kAuxWordsFunction: return kFunctionKindAuxWords;
    default: return kFunctionKindPlain;
  }
}

void AssignFunction(TBUTTONFUNCINFO& button, int buttonIndex, int code, WORD keyCode) {
  if (code < 0 || code >= kFunctionCount)
    throw ProfileRangeError("function code " + std::to_string(code) + " is outside 0 to 38");
  if (buttonIndex < 0 || buttonIndex >= kReportMaskCount)
    throw ProfileRangeError("button index " + std::to_string(buttonIndex) + " has no report mask");
  TFUNCPARAM& p = button.FuncParam;
  p.KeyCode = p.KeyExtended = 0;
  p.MacroIndex = 0;
  std::memset(p.ReportMask, 0, sizeof p.ReportMask);
  p.AuxWord1 = p.AuxWord2 = p.AuxWord3 = 0;
  const BYTE kind = FunctionKindOf(code);
  switch (kind) {
    case kFunctionKindKey: p.KeyCode = keyCode; break;
    case kFunctionKindReportMask:
      // The mask with which the device reports the press, so that the host sees it.
      std::memcpy(p.ReportMask, &kReportMaskTable.Entries[buttonIndex].Bytes[1], 3);
      break;
    case kFunctionKindAuxWords:
      p.AuxWord1 = 3;
      p.AuxWord2 = 1;
      p.AuxWord3 = 129;
      break;
    default: break;
  }
  button.ButtonIndex = static_cast<WORD>(buttonIndex);
  button.FunctionCode = static_cast<WORD>(code);
  button.FunctionKind = kind;
  button.TypeCode = kFunctionTable[code].TypeCode;
  button.ValueCode = kFunctionTable[code].ValueCode;
}

std::uint32_t ReportMaskOf(const TBUTTONFUNCINFO& button) {
  const auto* m = button.FuncParam.ReportMask;
  return m[0] | (m[1] << 8) | (std::uint32_t{m[2]} << 16);
}

}  // namespace kv
