#pragma once
// The fixed-layout records of the profile store. The same bytes are the registry values, the
// ".pfd" files and the in-memory working copies, and the configurator reads them too, so every
// offset is binding. The layout is the natural one (each field on a multiple of its own size);
// pad bytes are spelled out as members so that copying a record copies them as they stand.
#include <bit>
#include <cstddef>
#include <cstdint>

namespace kv {

static_assert(std::endian::native == std::endian::little, "the records are little-endian images");

using BYTE = std::uint8_t;
using WORD = std::uint16_t;

// Days since 30 December 1899 with the time of day as the fraction.
union TProfileUIDData {
  std::uint8_t RawData[8];
  double DataTime;
  double DoubleData;
};

struct TProfileHeader {
  std::int32_t FFileVersion;
  std::uint8_t FFileType[8];
  std::uint8_t FFileName[44];
  std::uint32_t FProfileSize;
  std::uint8_t Pad60[4];
  TProfileUIDData FProfileUID;
};

struct TFUNCTIONLIST {
  std::uint8_t FunctionInfo[800];
};

// Parameters of a button's function. Which fields apply depends on FunctionKind; the bytes
// between them belong to the configurator and are kept as they are.
struct TFUNCPARAM {
  std::uint8_t Data0[2];
  WORD KeyCode;      // kind 8
  WORD KeyExtended;  // kind 8
  std::uint8_t Data6[1104];
  WORD MacroIndex;  // kind 4
  std::uint8_t Data1112[2952];
  std::uint8_t ReportMask[3];  // kind 11, 24-bit little-endian
  std::uint8_t Data4067[1];
  WORD AuxWord1;  // kind 13
  WORD AuxWord2;
  WORD AuxWord3;
  std::uint8_t Data4074[74];
};

struct TBUTTONFUNCINFO {
  TFUNCPARAM FuncParam;
  WORD ButtonIndex;
  WORD FunctionCode;
  BYTE FunctionKind;
  std::uint8_t Pad4153[3];
  std::int32_t TypeCode;
  std::int32_t ValueCode;
  std::uint8_t Reserved4164[4];
};

struct TCPISTATE {
  WORD CPIX;
  WORD CPIY;
  WORD CPIEnabled;
  std::uint8_t Reserved6[4];
};

struct TLEDCONFIG {
  BYTE R, G, B;
  BYTE BRIGHT_LEVEL;
  BYTE BREATH_SPEED;
  BYTE BREATH_SECOND;
};

struct TSENSORLIFT {
  BYTE SensorLift;
};

struct TPROFILE_MACRO_PATH {
  char16_t FilePath[513];
};

inline constexpr int kButtonRecords = 19;
inline constexpr int kCpiLevels = 11;

struct TMOUSECONFIGINFO {
  TBUTTONFUNCINFO ButtonFuncInfo[kButtonRecords];
  TBUTTONFUNCINFO VWheelButtonFuncInfo[2];
  TBUTTONFUNCINFO HWheelButtonFuncInfo[2];
  WORD VWheelType;
  WORD HWheelType;
  WORD VWheelSpeed;
  WORD HWheelSpeed;
  WORD DoubleClickSpeed;
  WORD PointerSpeed;
  WORD PointerAcceleration;
  WORD UseSystemPointerSpeedSetting;
  WORD ReportRate;
  std::uint8_t Pad95882[2];
  std::int32_t CurrentCPIIndex;
  WORD CurrentCPIX;
  WORD CurrentCPIY;
  WORD MinCPI;
  WORD MaxCPI;
  WORD UseDiffentXY[kCpiLevels];
  WORD UseCPIOnScreenFlyShow;
  TCPISTATE CPIState[kCpiLevels];
  WORD CPILevel;
  WORD AutoSwitchProfileWhenAppRun;
  std::uint8_t ApplicationList[10260];
  TLEDCONFIG LEDConfig;
  TSENSORLIFT Sensorlift;
  std::uint8_t Pad106301[3];
  std::int32_t ButtonCount;
  TPROFILE_MACRO_PATH ProfilePath;
  TPROFILE_MACRO_PATH MacroPath;
  std::int32_t FireKeySpeed;
  std::int32_t FireKeyCount;
};

struct TMACROKEYINFO {
  std::uint8_t MacroList[768];
  std::int32_t MacroListCount;
  WORD nAutoAddDelay;
  BYTE nLoopRunWhenPressed;
  std::uint8_t Pad775[1];
  WORD nLoopCount;
  WORD nMacroIndex;
  BYTE MacroUse;
  std::uint8_t Pad781[1];
  char16_t szMacroName[51];
  std::uint32_t Version;
  std::int32_t HaveErrors;
  std::int32_t ErrorCount;
};

struct TMACROKEYINFOLIST {
  TMACROKEYINFO MacroInfos[30];
  WORD nMacroInfoCount;
  std::uint8_t Pad26882[2];
};

struct TMACROINFOLIST_TO_DEVICE {
  TMACROKEYINFO MacroInfos[5];
  WORD nMacroInfoCount;
  std::uint8_t Pad4482[2];
};

struct TMouseProfileInfo {
  TProfileHeader ProfileHeader;
  TFUNCTIONLIST FunctionList;
  TMOUSECONFIGINFO ConfigInfo;
  TFUNCTIONLIST HWheelFunctionList;
  TFUNCTIONLIST VWheelFunctionList;
  TMACROKEYINFOLIST MacroKeyInfoList;
  TMACROINFOLIST_TO_DEVICE MacroInfoToDevice;
  // The place of an in-memory options record; stored as zeros and ignored on load.
  std::uint8_t OtherConfig[28];
  std::uint8_t Pad142236[4];
};

inline constexpr int kProfileCount = 5;

struct TPROFILESETTINGINFO {
  WORD ItemFlag;
  char16_t ProfileFilePath[1024];
  char16_t RegistryFolder[1024];
  char16_t ProfileFileName[21];
  char16_t MacroFolder[1024];
  BYTE StorageType;  // kStorageRegistry, kStorageFile, anything else neither
  std::uint8_t Pad6189[1];
};

struct TALLGAMESINFO {
  TPROFILESETTINGINFO Allgameset[kProfileCount];
  WORD CurrentGame;
  BYTE CurrentLanguage;
  std::uint8_t Pad30953[1];
};

struct TProfileSettingGroup {
  std::int32_t CurrentProfileGroup;
  std::int32_t ProfileIndexOfProfileGroup[2];
  TPROFILESETTINGINFO ProfileSettingList[kProfileCount];
  std::uint8_t Pad30962[2];
};

// Shared key vocabulary; the store itself neither reads nor writes these.
struct TCOMBOKEYINFO {
  WORD nKeyValue1;
  WORD nKey1Extended;
  WORD nKeyValue2;
  WORD nKey2Extended;
  WORD nModifier;
  char16_t ComboKeyText[31];
};

struct THID_CODE_INFO {
  WORD nKeyValue1;
  WORD nKeyValue2;
  WORD nModifier;
};

// ---------------------------------------------------------------------------------------------
// Constant tables.

struct TFunctionTableRow {
  std::int32_t Code;
  std::int32_t TypeCode;
  std::int32_t ValueCode;
};

inline constexpr int kFunctionCount = 39;
inline constexpr int kMicMuteFunction = 28;   // the one function the host carries out
inline constexpr int kKeyFunction = 5;        // sends a key (KeyCode)
inline constexpr int kAuxWordsFunction = 30;  // carries AuxWord1 to AuxWord3

// TBUTTONFUNCINFO::FunctionKind: which parameter fields of TFUNCPARAM apply.
inline constexpr BYTE kFunctionKindPlain = 1;        // no parameter
inline constexpr BYTE kFunctionKindMacro = 4;        // MacroIndex
inline constexpr BYTE kFunctionKindKey = 8;          // KeyCode, KeyExtended
inline constexpr BYTE kFunctionKindReportMask = 11;  // ReportMask
inline constexpr BYTE kFunctionKindAuxWords = 13;    // AuxWord1 to AuxWord3

// TPROFILESETTINGINFO::StorageType: where the profile lives; any other value stores it nowhere.
inline constexpr BYTE kStorageRegistry = 0;
inline constexpr BYTE kStorageFile = 1;

inline constexpr TFunctionTableRow kFunctionTable[kFunctionCount] = {
    {0, 1, 1},      {1, 2, 2},        {2, 3, 3},        {3, 5, 4},      {4, 4, 5},
    {5, 16, 6},     {6, 15, 7},       {7, 15, 801},     {8, 15, 802},   {9, 15, 803},
    {10, 15, 804},  {11, 15, 805},    {12, 15, 806},    {13, 15, 807},  {14, 15, 808},
    {15, 15, 901},  {16, 15, 902},    {17, 15, 903},    {18, 15, 904},  {19, 15, 905},
    {20, 15, 906},  {21, 14, 1001},   {22, 14, 1002},   {23, 14, 1003}, {24, 14, 1004},
    {25, 14, 1005}, {26, 14, 1006},   {27, 14, 1007},   {28, 19, 1008}, {29, 14, 1009},
    {30, 17, 11},   {31, 25, 12},     {32, 8, 13},      {33, 10, 14},   {34, 9, 15},
    {35, 13, 16},   {36, 18, 170101}, {37, 18, 170102}, {38, 14, 18},
};

// Entry k: the report byte 7 and the 24-bit little-endian mask with bit k, which is how the
// mouse reports a press of button k.
struct TReportMaskEntry {
  std::uint8_t Bytes[4];
};

inline constexpr int kReportMaskCount = 24;

constexpr TReportMaskEntry ReportMaskEntry(int k) {
  const std::uint32_t mask = 1u << k;
  return {{7, static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(mask >> 8),
           static_cast<std::uint8_t>(mask >> 16)}};
}

inline constexpr auto kReportMaskTable = [] {
  struct Table {
    TReportMaskEntry Entries[kReportMaskCount];
  } t{};
  for (int k = 0; k < kReportMaskCount; ++k) t.Entries[k] = ReportMaskEntry(k);
  return t;
}();

// ---------------------------------------------------------------------------------------------
// Layout checks: every size and offset the configurator relies on.

#define KV_AT(rec, field, off) static_assert(offsetof(rec, field) == (off), #rec "." #field)

static_assert(sizeof(TProfileUIDData) == 8);
static_assert(sizeof(TProfileHeader) == 72);
KV_AT(TProfileHeader, FFileVersion, 0);
KV_AT(TProfileHeader, FFileType, 4);
KV_AT(TProfileHeader, FFileName, 12);
KV_AT(TProfileHeader, FProfileSize, 56);
KV_AT(TProfileHeader, FProfileUID, 64);

static_assert(sizeof(TFUNCTIONLIST) == 800);
static_assert(sizeof(TFUNCPARAM) == 4148);
KV_AT(TFUNCPARAM, KeyCode, 2);
KV_AT(TFUNCPARAM, KeyExtended, 4);
KV_AT(TFUNCPARAM, MacroIndex, 1110);
KV_AT(TFUNCPARAM, ReportMask, 4064);
KV_AT(TFUNCPARAM, AuxWord1, 4068);
KV_AT(TFUNCPARAM, AuxWord2, 4070);
KV_AT(TFUNCPARAM, AuxWord3, 4072);

static_assert(sizeof(TBUTTONFUNCINFO) == 4168);
KV_AT(TBUTTONFUNCINFO, FuncParam, 0);
KV_AT(TBUTTONFUNCINFO, ButtonIndex, 4148);
KV_AT(TBUTTONFUNCINFO, FunctionCode, 4150);
KV_AT(TBUTTONFUNCINFO, FunctionKind, 4152);
KV_AT(TBUTTONFUNCINFO, TypeCode, 4156);
KV_AT(TBUTTONFUNCINFO, ValueCode, 4160);

static_assert(sizeof(TCPISTATE) == 10);
KV_AT(TCPISTATE, CPIY, 2);
KV_AT(TCPISTATE, CPIEnabled, 4);
static_assert(sizeof(TLEDCONFIG) == 6);
KV_AT(TLEDCONFIG, BRIGHT_LEVEL, 3);
KV_AT(TLEDCONFIG, BREATH_SPEED, 4);
KV_AT(TLEDCONFIG, BREATH_SECOND, 5);
static_assert(sizeof(TSENSORLIFT) == 1);
static_assert(sizeof(TPROFILE_MACRO_PATH) == 1026);

static_assert(sizeof(TMOUSECONFIGINFO) == 108368);
KV_AT(TMOUSECONFIGINFO, ButtonFuncInfo, 0);
KV_AT(TMOUSECONFIGINFO, VWheelButtonFuncInfo, 79192);
KV_AT(TMOUSECONFIGINFO, HWheelButtonFuncInfo, 87528);
KV_AT(TMOUSECONFIGINFO, VWheelType, 95864);
KV_AT(TMOUSECONFIGINFO, HWheelType, 95866);
KV_AT(TMOUSECONFIGINFO, VWheelSpeed, 95868);
KV_AT(TMOUSECONFIGINFO, HWheelSpeed, 95870);
KV_AT(TMOUSECONFIGINFO, DoubleClickSpeed, 95872);
KV_AT(TMOUSECONFIGINFO, PointerSpeed, 95874);
KV_AT(TMOUSECONFIGINFO, PointerAcceleration, 95876);
KV_AT(TMOUSECONFIGINFO, UseSystemPointerSpeedSetting, 95878);
KV_AT(TMOUSECONFIGINFO, ReportRate, 95880);
KV_AT(TMOUSECONFIGINFO, CurrentCPIIndex, 95884);
KV_AT(TMOUSECONFIGINFO, CurrentCPIX, 95888);
KV_AT(TMOUSECONFIGINFO, CurrentCPIY, 95890);
KV_AT(TMOUSECONFIGINFO, MinCPI, 95892);
KV_AT(TMOUSECONFIGINFO, MaxCPI, 95894);
KV_AT(TMOUSECONFIGINFO, UseDiffentXY, 95896);
KV_AT(TMOUSECONFIGINFO, UseCPIOnScreenFlyShow, 95918);
KV_AT(TMOUSECONFIGINFO, CPIState, 95920);
KV_AT(TMOUSECONFIGINFO, CPILevel, 96030);
KV_AT(TMOUSECONFIGINFO, AutoSwitchProfileWhenAppRun, 96032);
KV_AT(TMOUSECONFIGINFO, ApplicationList, 96034);
KV_AT(TMOUSECONFIGINFO, LEDConfig, 106294);
KV_AT(TMOUSECONFIGINFO, Sensorlift, 106300);
KV_AT(TMOUSECONFIGINFO, ButtonCount, 106304);
KV_AT(TMOUSECONFIGINFO, ProfilePath, 106308);
KV_AT(TMOUSECONFIGINFO, MacroPath, 107334);
KV_AT(TMOUSECONFIGINFO, FireKeySpeed, 108360);
KV_AT(TMOUSECONFIGINFO, FireKeyCount, 108364);

static_assert(sizeof(TMACROKEYINFO) == 896);
KV_AT(TMACROKEYINFO, MacroListCount, 768);
KV_AT(TMACROKEYINFO, nAutoAddDelay, 772);
KV_AT(TMACROKEYINFO, nLoopRunWhenPressed, 774);
KV_AT(TMACROKEYINFO, nLoopCount, 776);
KV_AT(TMACROKEYINFO, nMacroIndex, 778);
KV_AT(TMACROKEYINFO, MacroUse, 780);
KV_AT(TMACROKEYINFO, szMacroName, 782);
KV_AT(TMACROKEYINFO, Version, 884);
KV_AT(TMACROKEYINFO, HaveErrors, 888);
KV_AT(TMACROKEYINFO, ErrorCount, 892);
static_assert(sizeof(TMACROKEYINFOLIST) == 26884);
KV_AT(TMACROKEYINFOLIST, nMacroInfoCount, 26880);
static_assert(sizeof(TMACROINFOLIST_TO_DEVICE) == 4484);
KV_AT(TMACROINFOLIST_TO_DEVICE, nMacroInfoCount, 4480);

static_assert(sizeof(TMouseProfileInfo) == 142240);
KV_AT(TMouseProfileInfo, ProfileHeader, 0);
KV_AT(TMouseProfileInfo, FunctionList, 72);
KV_AT(TMouseProfileInfo, ConfigInfo, 872);
KV_AT(TMouseProfileInfo, HWheelFunctionList, 109240);
KV_AT(TMouseProfileInfo, VWheelFunctionList, 110040);
KV_AT(TMouseProfileInfo, MacroKeyInfoList, 110840);
KV_AT(TMouseProfileInfo, MacroInfoToDevice, 137724);
KV_AT(TMouseProfileInfo, OtherConfig, 142208);
// The monitor reads FunctionCode of button b at 5022 + 4168 * b.
static_assert(offsetof(TMouseProfileInfo, ConfigInfo) + offsetof(TBUTTONFUNCINFO, FunctionCode) ==
              5022);

static_assert(sizeof(TPROFILESETTINGINFO) == 6190);
KV_AT(TPROFILESETTINGINFO, ProfileFilePath, 2);
KV_AT(TPROFILESETTINGINFO, RegistryFolder, 2050);
KV_AT(TPROFILESETTINGINFO, ProfileFileName, 4098);
KV_AT(TPROFILESETTINGINFO, MacroFolder, 4140);
KV_AT(TPROFILESETTINGINFO, StorageType, 6188);

static_assert(sizeof(TALLGAMESINFO) == 30954);
KV_AT(TALLGAMESINFO, CurrentGame, 30950);
KV_AT(TALLGAMESINFO, CurrentLanguage, 30952);

static_assert(sizeof(TProfileSettingGroup) == 30964);
KV_AT(TProfileSettingGroup, ProfileIndexOfProfileGroup, 4);
KV_AT(TProfileSettingGroup, ProfileSettingList, 12);

static_assert(sizeof(TCOMBOKEYINFO) == 72);
KV_AT(TCOMBOKEYINFO, nKey1Extended, 2);
KV_AT(TCOMBOKEYINFO, nKeyValue2, 4);
KV_AT(TCOMBOKEYINFO, nKey2Extended, 6);
KV_AT(TCOMBOKEYINFO, nModifier, 8);
KV_AT(TCOMBOKEYINFO, ComboKeyText, 10);
static_assert(sizeof(THID_CODE_INFO) == 6);
KV_AT(THID_CODE_INFO, nModifier, 4);

#undef KV_AT

// ---------------------------------------------------------------------------------------------
// Helpers.

// The date-time double of a local calendar time (days since 30 December 1899 plus the day's
// fraction, to the millisecond).
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond);

// Button b (0 to 18) of a profile; anything else throws ProfileRangeError.
TBUTTONFUNCINFO& Button(TMouseProfileInfo& profile, int b);
const TBUTTONFUNCINFO& Button(const TMouseProfileInfo& profile, int b);

// The FunctionKind that function `code` is written with: the key function (5) carries a key, the
// microphone mute (28), which the device reports to the host, the button's report mask, function
// 30 its three words; every other function carries no parameter (kind 1).
BYTE FunctionKindOf(int code);

// Assigns function `code` (0 to 38) to the record of button `buttonIndex` as the configurator
// writes it: ButtonIndex, FunctionCode, the table's type and value codes, the function's kind
// and its parameters (`keyCode` for the key function, the button's report mask, the three words),
// with the parameter fields of every other kind cleared. The rest of FuncParam is configurator
// data and keeps its bytes. Throws ProfileRangeError for a code or button outside its table.
void AssignFunction(TBUTTONFUNCINFO& button, int buttonIndex, int code, WORD keyCode = 0);

// The 24-bit mask of a button record as a number.
std::uint32_t ReportMaskOf(const TBUTTONFUNCINFO& button);

}  // namespace kv
