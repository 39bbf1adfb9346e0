// Default contents of the store's records, written by the storage components' default handlers,
// and the two partial resets of the current profile.
#include <cstring>
#include <memory>
#include <iterator>
#include <string>

#include "base/path.h"
#include "base/utf16.h"
#include "profile/dm.h"
#include "profile/errors.h"

namespace kv {
namespace {

// A handler edits a typed copy of the image and commits it when done. An image shorter than its
// record (an older value, or a short one written by another program) is first grown with zero
// bytes, so that every field the handler writes lies inside the image.
template <typename Record>
class Image {
 public:
  explicit Image(TgxProfile::Stream& stream)
      : stream_(stream), record_(std::make_unique<Record>()) {
    if (stream_.size() < sizeof(Record)) stream_.resize(sizeof(Record));
    std::memcpy(static_cast<void*>(record_.get()), stream_.data(), sizeof(Record));
  }
  // Only a handler that ran to its end changes the image.
  void Commit() {
    std::memcpy(stream_.data(), static_cast<const void*>(record_.get()), sizeof(Record));
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  Record* operator->() { return record_.get(); }
  Record& operator*() { return *record_; }

 private:
  TgxProfile::Stream& stream_;
  std::unique_ptr<Record> record_;
};

struct CpiLevel {
  WORD x, y, enabled;
};
constexpr CpiLevel kDefaultCpi[5] = {
    {1000, 1000, 1}, {2000, 2000, 1}, {4000, 4000, 1}, {8200, 8200, 1}, {16400, 16400, 1}};

void ClearFirstFiveCpiLevels(TMOUSECONFIGINFO& c) {
  for (int i = 0; i < 5; ++i)
    c.CPIState[i].CPIX = c.CPIState[i].CPIY = c.CPIState[i].CPIEnabled = 0;
}

void WriteCpiLevels(TMOUSECONFIGINFO& c, int levels) {
  ClearFirstFiveCpiLevels(c);
  for (int i = 0; i < levels; ++i) {
    c.CPIState[i].CPIX = kDefaultCpi[i].x;
    c.CPIState[i].CPIY = kDefaultCpi[i].y;
    c.CPIState[i].CPIEnabled = kDefaultCpi[i].enabled;
  }
}

void SetButton(TBUTTONFUNCINFO& b, int index, int code, BYTE kind, std::int32_t type) {
  b.ButtonIndex = static_cast<WORD>(index);
  b.FunctionCode = static_cast<WORD>(code);
  b.FunctionKind = kind;
  b.TypeCode = type;
}

void WriteCommonSettings(TMOUSECONFIGINFO& c) {
  c.VWheelSpeed = 3;
  c.DoubleClickSpeed = 550;
  c.PointerSpeed = 10;
  c.PointerAcceleration = 0;
}

}  // namespace

double TDM::NowAsDateTime() {
  const platform::LocalTime t = clock_.Now();
  return EncodeDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

void TDM::WriteGameDefaults(TgxProfile::Stream& AStream, int cpiIndex, BYTE r, BYTE g, BYTE b) {
  Image<TMouseProfileInfo> p(AStream);
  p->ProfileHeader.FProfileUID.DataTime = NowAsDateTime();
  p->ProfileHeader.FFileVersion = 259;
  TMOUSECONFIGINFO& c = p->ConfigInfo;
  c.ButtonCount = 18;
  for (TBUTTONFUNCINFO& button : c.ButtonFuncInfo)
    std::memset(static_cast<void*>(&button.FuncParam), 0, sizeof button.FuncParam);

  TBUTTONFUNCINFO* buttons = c.ButtonFuncInfo;
  for (int i = 0; i <= 2; ++i) {
    SetButton(buttons[i], i, i, kFunctionKindPlain, kFunctionTable[i].TypeCode);
    buttons[i].ValueCode = i + 1;
  }
  // Button 3 keeps the codes the configurator has always shipped with, not the table's.
  SetButton(buttons[3], 3, kAuxWordsFunction, kFunctionKindAuxWords, 25);
  buttons[3].ValueCode = 12;
  buttons[3].FuncParam.AuxWord1 = 3;
  buttons[3].FuncParam.AuxWord2 = 1;
  buttons[3].FuncParam.AuxWord3 = 129;
  SetButton(buttons[4], 4, 33, kFunctionKindPlain, 10);
  buttons[4].ValueCode = 14;
  SetButton(buttons[5], 5, 34, kFunctionKindPlain, 9);
  buttons[5].ValueCode = 15;
  for (int i = 6; i <= 17; ++i) {
    SetButton(buttons[i], i, kKeyFunction, kFunctionKindKey, 16);
    buttons[i].ValueCode = 6;
    buttons[i].FuncParam.KeyCode = static_cast<WORD>(i <= 14   ? 49 + (i - 6)
                                                     : i == 15 ? 48
                                                     : i == 16 ? 107
                                                               : 109);
    buttons[i].FuncParam.KeyExtended = 0;
  }
  SetButton(buttons[18], 18, 0, 0, 13);  // outside ButtonCount; its ValueCode is left alone

  WriteCommonSettings(c);
  c.ReportRate = 500;
  c.CPILevel = 5;
  WriteCpiLevels(c, 5);
  for (int i = 0; i < 5; ++i) c.UseDiffentXY[i] = 1;
  c.LEDConfig.BRIGHT_LEVEL = 2;
  c.LEDConfig.BREATH_SPEED = 3;

  c.CurrentCPIIndex = cpiIndex;
  c.LEDConfig.R = r;
  c.LEDConfig.G = g;
  c.LEDConfig.B = b;
  p.Commit();
}

void TDM::gxProfileGame1RestoreToDefault(TgxProfile::Stream& s) {
  WriteGameDefaults(s, 0, 255, 255, 0);
}
void TDM::gxProfileGame2RestoreToDefault(TgxProfile::Stream& s) {
  WriteGameDefaults(s, 1, 0, 255, 0);
}
void TDM::gxProfileGame3RestoreToDefault(TgxProfile::Stream& s) {
  WriteGameDefaults(s, 2, 0, 0, 255);
}
void TDM::gxProfileGame4RestoreToDefault(TgxProfile::Stream& s) {
  WriteGameDefaults(s, 3, 255, 0, 255);
}
void TDM::gxProfileGame5RestoreToDefault(TgxProfile::Stream& s) {
  WriteGameDefaults(s, 4, 255, 0, 0);
}

void TDM::gxProfileTestRestoreToDefault(TgxProfile::Stream& AStream) {
  if (AStream.empty()) return;
  Image<TMouseProfileInfo> p(AStream);
  std::memset(static_cast<void*>(&*p), 0, sizeof(TMouseProfileInfo));
  p->ProfileHeader.FProfileUID.DataTime = NowAsDateTime();
  p->ProfileHeader.FFileVersion = 259;
  TMOUSECONFIGINFO& c = p->ConfigInfo;
  c.ButtonCount = 19;
  for (int i = 0; i <= 4; ++i) {
    SetButton(c.ButtonFuncInfo[i], i, i, kFunctionKindPlain, kFunctionTable[i].TypeCode);
    c.ButtonFuncInfo[i].ValueCode = i + 1;
  }
  for (int i = 5; i <= 18; ++i) {
    TBUTTONFUNCINFO& b = c.ButtonFuncInfo[i];
    SetButton(b, i, 14, kFunctionKindReportMask, 19);
    b.ValueCode = 0;
    std::memcpy(b.FuncParam.ReportMask, &kReportMaskTable.Entries[i].Bytes[1], 3);
  }
  WriteCommonSettings(c);
  c.ReportRate = 125;
  c.CurrentCPIIndex = 0;
  c.CPILevel = 5;
  WriteCpiLevels(c, 5);
  for (int i = 0; i < 5; ++i) c.UseDiffentXY[i] = 1;
  c.LEDConfig.R = 255;
  c.LEDConfig.G = 0;
  c.LEDConfig.B = 0;
  c.LEDConfig.BRIGHT_LEVEL = 2;
  c.LEDConfig.BREATH_SPEED = 2;
  p->MacroKeyInfoList.nMacroInfoCount = 0;
  p.Commit();
}

void TDM::gxProfileSettingGroupRestoreToDefault(TgxProfile::Stream& AStream) {
  Image<TProfileSettingGroup> g(AStream);
  const std::string& prefix = FOptionsFromConfigFile.ProfileNamePrefix;
  const std::u16string prefix16 = Utf8ToUtf16(prefix);
  for (int i = 0; i < kProfileCount; ++i) {
    TPROFILESETTINGINFO& s = g->ProfileSettingList[i];
    const std::string n = std::to_string(i + 1);
    s.ItemFlag = 0;
    s.StorageType = kStorageRegistry;
    // The file name is also the profile's registry value name. A prefix too long for the field
    // gives way so that the number and ".pfd" stay and the five names stay distinct.
    const std::string suffix = n + ".pfd";
    const std::u16string_view namePrefix =
        Utf16Prefix(prefix16, std::size(s.ProfileFileName) - 1 - suffix.size());
    const std::string fileName = Utf16ToUtf8(namePrefix) + suffix;
    // Each text is traced once per record, at its first entry.
    const bool first = i == 0;
    if (namePrefix.size() != prefix16.size() && first)
      Trace("the profile name prefix \"" + prefix + "\" is too long for a profile file name of " +
            std::to_string(std::size(s.ProfileFileName) - 1) +
            " characters; the profiles are "
            "named \"" +
            fileName + "\" and so on");
    WriteField(s.ProfileFileName, fileName);
    WriteText(s.RegistryFolder, std::size(s.RegistryFolder),
              FOptionsFromConfigFile.ProfileRegFolder, "the registry folder", first);
    const std::string profileFolder = GetPersonalDocumentProfilePath();
    WriteText(s.ProfileFilePath, std::size(s.ProfileFilePath), profileFolder, "the profile folder",
              first);
    // The profile folder already ends with a separator; the stored text keeps both, as the
    // configurator has always written it.
    const std::string macroFolder = profileFolder + path::kSep + prefix + n + "_Macros";
    WriteText(s.MacroFolder, std::size(s.MacroFolder), macroFolder, "the macro folder", first);
    for (const std::string& folder : {profileFolder, macroFolder})
      if (!path::FolderExists(folder) && !path::CreateOneFolder(folder))
        throw ProfileFileError("cannot create the folder \"" + folder + "\"");
  }
  g->CurrentProfileGroup = 0;
  g->ProfileIndexOfProfileGroup[0] = 0;
  g->ProfileIndexOfProfileGroup[1] = 1;
  g.Commit();
}

void TDM::gxProfileAllSettingInfoRestoreToDefault(TgxProfile::Stream& AStream) {
  Image<TALLGAMESINFO> a(AStream);
  for (TPROFILESETTINGINFO& s : a->Allgameset) {
    s.ItemFlag = 0;
    s.StorageType = kStorageRegistry;
    WriteField(s.ProfileFilePath, "");
  }
  a->CurrentGame = 0;
  a->Allgameset[0].ItemFlag = 1;
  a->CurrentLanguage = firstLanguage_;
  a.Commit();
}

void TDM::RestoreToDefaultCPISetting() {
  TMOUSECONFIGINFO& c = FCurrentProfileInfo.ConfigInfo;
  WriteCpiLevels(c, 4);
  c.CurrentCPIIndex = 1;
  for (int i = 0; i < 4; ++i) c.UseDiffentXY[i] = 0;
}

void TDM::RestoreToDefaultLightAndReportAdvancedSetting() {
  TMOUSECONFIGINFO& c = FCurrentProfileInfo.ConfigInfo;
  c.ReportRate = 125;
  c.LEDConfig.BRIGHT_LEVEL = 2;
  c.LEDConfig.BREATH_SPEED = 3;
  c.LEDConfig.R = 255;
  c.LEDConfig.G = 0;
  c.LEDConfig.B = 0;
}

}  // namespace kv
