#include "profile/dm.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/path.h"
#include "base/utf16.h"
#include "profile/errors.h"

namespace kv {

using platform::RootKey;

namespace {

constexpr int kProfileSize = static_cast<int>(sizeof(TMouseProfileInfo));

std::string IndexMessage(const char* what, int index, int limit) {
  return std::string(what) + " " + std::to_string(index) + " is outside 0 to " +
         std::to_string(limit - 1);
}

}  // namespace

TDM::TDM(platform::Platform& platform, BYTE firstLanguage)
    : TDM(platform.registry, platform.paths, platform.clock, firstLanguage, &platform.debug) {}

TDM::TDM(platform::Registry& registry, platform::Paths& paths, platform::Clock& clock,
         BYTE firstLanguage, platform::DebugOutput* debug)
    : registry_(registry),
      paths_(paths),
      clock_(clock),
      firstLanguage_(firstLanguage),
      debug_(debug) {
  for (auto* c : {&gxProfileAllSettingInfo, &gxProfileGame1, &gxProfileGame2, &gxProfileGame3,
                  &gxProfileGame4, &gxProfileGame5, &gxProfileSettingGroup, &gxProfileDefaultGame,
                  &gxProfileTest, &gxProfileRecordMacroInfo})
    *c = std::make_unique<TgxProfile>(registry_);
  // The place of the other-configuration record inside a profile holds references that mean
  // nothing once stored: storage carries zeros there.
  for (auto* c : {&gxProfileGame1, &gxProfileGame2, &gxProfileGame3, &gxProfileGame4,
                  &gxProfileGame5, &gxProfileDefaultGame, &gxProfileTest})
    (*c)->SetUnstoredBytes(offsetof(TMouseProfileInfo, OtherConfig),
                           sizeof(TMouseProfileInfo::OtherConfig));
  gxProfileAllSettingInfo->OnRestoreToDefault = [this](auto& s) {
    gxProfileAllSettingInfoRestoreToDefault(s);
  };
  gxProfileGame1->OnRestoreToDefault = [this](auto& s) { gxProfileGame1RestoreToDefault(s); };
  gxProfileGame2->OnRestoreToDefault = [this](auto& s) { gxProfileGame2RestoreToDefault(s); };
  gxProfileGame3->OnRestoreToDefault = [this](auto& s) { gxProfileGame3RestoreToDefault(s); };
  gxProfileGame4->OnRestoreToDefault = [this](auto& s) { gxProfileGame4RestoreToDefault(s); };
  gxProfileGame5->OnRestoreToDefault = [this](auto& s) { gxProfileGame5RestoreToDefault(s); };
  gxProfileSettingGroup->OnRestoreToDefault = [this](auto& s) {
    gxProfileSettingGroupRestoreToDefault(s);
  };
  gxProfileDefaultGame->OnRestoreToDefault = [this](auto& s) { gxProfileGame1RestoreToDefault(s); };
  gxProfileTest->OnRestoreToDefault = [this](auto& s) { gxProfileTestRestoreToDefault(s); };
  // Bound before anything can fail: every profile index finds its component, whatever part of
  // start-up ran.
  TgxProfile* games[kProfileCount] = {gxProfileGame1.get(), gxProfileGame2.get(),
                                      gxProfileGame3.get(), gxProfileGame4.get(),
                                      gxProfileGame5.get()};
  std::copy(std::begin(games), std::end(games), FProfileGroup);

  try {
    DataModuleCreate();
  } catch (const std::exception& e) {
    startupError_ = e.what();
    if (startupError_.empty()) startupError_ = "profile store start-up failed";
  }
}

TDM::~TDM() = default;

void TDM::SetUpRecord(TgxProfile& component, const char* valueName, const void* image, int size) {
  component.SetRootKey(RootKey::CurrentUser);
  component.SetFileName(valueName);
  component.SetKeyPath(FOptionsFromConfigFile.ProfileRegFolder);
  component.Write(image, size);
}

void TDM::DataModuleCreate() {
  FOptionsFromConfigFile = LoadOptionsFromConfigFile(paths_);
  FOtherConfig = LoadOtherConfig(paths_);
  FHidSelector = kMouseControlSelector;
  FProfileGroupIndex = 0;

  // Every component gets its place in the store and its zero image before the first load, so
  // that a load that fails leaves the records after it reachable by the reload operations.
  {
    const TProfileSettingGroup zero{};
    SetUpRecord(*gxProfileSettingGroup, "ProfileSettingGroup.pfd", &zero, sizeof zero);
  }
  SetUpRecord(*gxProfileAllSettingInfo, "allsettings.pfd", &FAllProfileSettingInfo,
              sizeof FAllProfileSettingInfo);
  SetUpRecord(*gxProfileRecordMacroInfo, "RecordRPROFILE.pfd", &FRecordMacroInfo,
              sizeof FRecordMacroInfo);
  {
    const auto zero = std::make_unique<TMouseProfileInfo>();
    for (TgxProfile* c : FProfileGroup) {
      c->SetRootKey(RootKey::CurrentUser);
      c->SetKeyPath(FOptionsFromConfigFile.ProfileRegFolder);
      c->Write(zero.get(), kProfileSize);
    }
  }

  LoadProfileGroupSettingInfoFromRegistry();  // also names the profile components
  LoadAllProfileInfoFromRegistry();
  for (int i = 0; i < kProfileCount; ++i) LoadProfileAtStartUp(i);

  (void)SwitchToProfile(FAllProfileSettingInfo.CurrentGame);
}

void TDM::NameProfile(int i) {
  const TPROFILESETTINGINFO& s = FProfileSettingGroup.ProfileSettingList[i];
  FProfileGroup[i]->SetFileName(ReadField(s.ProfileFileName));
  FProfileGroup[i]->SetFilePath(ReadField(s.ProfileFilePath));
}

std::string TDM::ProfileFile(int i) const {
  const TPROFILESETTINGINFO& s = FProfileSettingGroup.ProfileSettingList[i];
  const std::string folder = ReadField(s.ProfileFilePath);
  // No folder names no file: a separator in front of the name would be the file system's root.
  if (folder.empty()) return "";
  return path::WithTrailingSep(folder) + ReadField(s.ProfileFileName);
}

TProfileStorage TDM::ProfileStorage(int AProfileIndex) const {
  if (!IsProfileIndexInRange(AProfileIndex))
    throw ProfileRangeError(IndexMessage("profile index", AProfileIndex, kProfileCount));
  switch (FProfileSettingGroup.ProfileSettingList[AProfileIndex].StorageType) {
    case kStorageRegistry: return TProfileStorage::Registry;
    case kStorageFile: return TProfileStorage::File;
    default: return TProfileStorage::None;
  }
}

void TDM::LoadProfileAtStartUp(int i) {
  TgxProfile& c = *FProfileGroup[i];
  switch (ProfileStorage(i)) {
    case TProfileStorage::Registry:
      if (!c.LoadStreamFromRegistry()) c.RestoreToDefault();
      break;
    case TProfileStorage::File: {
      const std::string f = ProfileFile(i);
      if (f.empty()) {
        c.RestoreToDefault();
      } else if (!path::FileExists(f)) {
        c.RestoreToDefault();
        (void)c.SaveStreamToFile(f);
      } else if (!c.LoadStreamFromFile(f)) {
        c.RestoreToDefault();
        (void)c.SaveStreamToFile();
      }
      break;
    }
    case TProfileStorage::None:  // keeps the zero image
      break;
  }
}

void TDM::Trace(const std::string& text) {
  if (debug_) debug_->Write(text);
}

void TDM::WriteText(char16_t* field, std::size_t units, const std::string& text, const char* what,
                    bool trace) {
  if (WriteUtf16FieldTruncated(field, units, Utf8ToUtf16(text)) && trace)
    Trace(std::string(what) + " \"" + text + "\" is longer than its record field of " +
          std::to_string(units - 1) + " characters; the store keeps \"" +
          ReadUtf16FieldUtf8(field, units) + "\"");
}

// ---------------------------------------------------------------------------------------------
// Loading

void TDM::CopyOut(const TgxProfile& component, void* record, int size) {
  component.Read(record, size);
}

TgxProfile& TDM::ProfileAt(int index) {
  if (!IsProfileIndexInRange(index))
    throw ProfileRangeError(IndexMessage("profile index", index, kProfileCount));
  return *FProfileGroup[index];
}

void TDM::LoadProfileGroupSettingInfoFromRegistry() {
  if (!gxProfileSettingGroup->LoadStreamFromRegistry()) {
    gxProfileSettingGroup->RestoreToDefault();
    (void)gxProfileSettingGroup->SaveStreamToRegistry();
  }
  CopyOut(*gxProfileSettingGroup, &FProfileSettingGroup, sizeof FProfileSettingGroup);
  const int group = FProfileSettingGroup.CurrentProfileGroup;
  if (!IsProfileGroupIndexInRange(group))
    throw ProfileRangeError("the stored profile group record selects " +
                            IndexMessage("group", group, 2));
  FProfileGroupIndex = group;
  FProfileIndex = FProfileSettingGroup.ProfileIndexOfProfileGroup[group];
  // Start-up names the profiles from the first group record that passes; when start-up ended
  // before that, the first one that passes later (a record the configurator repaired) does, so
  // that the reloads which follow find the profiles. Names only: nothing is loaded here.
  if (!profilesNamed_) {
    for (int i = 0; i < kProfileCount; ++i) NameProfile(i);
    profilesNamed_ = true;
  }
}

void TDM::LoadAllProfileInfoFromRegistry() {
  if (!gxProfileAllSettingInfo->LoadStreamFromRegistry()) {
    gxProfileAllSettingInfo->RestoreToDefault();
    (void)gxProfileAllSettingInfo->SaveStreamToRegistry();
  }
  CopyOut(*gxProfileAllSettingInfo, &FAllProfileSettingInfo, sizeof FAllProfileSettingInfo);
}

bool TDM::LoadCurrentProfileInfoFromRegistry() {
  TgxProfile& c = ProfileAt(FProfileIndex);
  const bool loaded = c.LoadStreamFromRegistry();
  CopyOut(c, &FCurrentProfileInfo, kProfileSize);
  return loaded;
}

bool TDM::LoadCurrentProfileInfoFromFile(const std::string& AFile) {
  TgxProfile& c = ProfileAt(FProfileIndex);
  const bool loaded = c.LoadStreamFromFile(AFile);
  CopyOut(c, &FCurrentProfileInfo, kProfileSize);
  return loaded;
}

bool TDM::LoadProfileInfoFromRegistry(int AProfileIndex) {
  return ProfileAt(AProfileIndex).LoadStreamFromRegistry();
}

void TDM::LoadRecordMacroInfoFromRegistry() {
  (void)gxProfileRecordMacroInfo->LoadStreamFromRegistry();
  CopyOut(*gxProfileRecordMacroInfo, &FRecordMacroInfo, sizeof FRecordMacroInfo);
}

bool TDM::ReadCurrentProfileInfo() {
  CopyOut(ProfileAt(FProfileIndex), &FCurrentProfileInfo, kProfileSize);
  return true;
}

bool TDM::ReadProfileInfo(TMouseProfileInfo& AProfileInfo, int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  CopyOut(ProfileAt(AProfileIndex), &AProfileInfo, kProfileSize);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Switching and ranges

bool TDM::SwitchToProfile(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  FProfileIndex = AProfileIndex;
  CopyOut(ProfileAt(AProfileIndex), &FCurrentProfileInfo, kProfileSize);
  FAllProfileSettingInfo.CurrentGame = static_cast<WORD>(AProfileIndex);
  return true;
}

bool TDM::SwitchToProfileGroup(int AProfileGroupIndex) {
  if (!IsProfileGroupIndexInRange(AProfileGroupIndex)) return false;
  FProfileSettingGroup.CurrentProfileGroup = AProfileGroupIndex;
  FProfileGroupIndex = AProfileGroupIndex;
  FProfileIndex = FProfileSettingGroup.ProfileIndexOfProfileGroup[AProfileGroupIndex];
  (void)SwitchToProfile(FProfileIndex);
  return true;
}

bool TDM::IsProfileIndexInRange(int AProfileIndex) {
  return AProfileIndex >= 0 && AProfileIndex < kProfileCount;
}

bool TDM::IsProfileGroupIndexInRange(int AProfileGroupIndex) {
  return AProfileGroupIndex >= 0 && AProfileGroupIndex < 2;
}

// ---------------------------------------------------------------------------------------------
// Documents folders

namespace {

std::string EnsureFolder(std::string folder) {
  if (!path::FolderExists(folder) && !path::CreateOneFolder(folder))
    throw ProfileFileError("cannot create the folder \"" + folder + "\"");
  return folder;
}

}  // namespace

std::string TDM::GetPersonalDocumentProfilePath() {
  const std::string docs = paths_.DocumentsDir();
  // Without a documents folder the profile folder would land at the file system's root.
  if (docs.empty()) throw ProfileFileError("the user's documents folder is not available");
  return EnsureFolder(path::WithTrailingSep(docs) + FOptionsFromConfigFile.ProfileFolder +
                      path::kSep);
}

std::string TDM::GetPersonalDocumentMacroDatabasePath() {
  const std::string folder =
      EnsureFolder(GetPersonalDocumentProfilePath() + FOptionsFromConfigFile.ProfileMacroFolder);
  return folder + path::kSep + "MacroSet.MSDB";
}

// ---------------------------------------------------------------------------------------------
// Saving
//
// A record's save reports false only when its settings are unusable or a handler cancelled it;
// these procedures, like the start-up and reload fallbacks above, go on without that answer,
// while storage failures still raise to the caller.

void TDM::SaveBackToCurrentProfileInfo() {
  ProfileAt(FProfileIndex).Write(&FCurrentProfileInfo, kProfileSize);
  FProfileChanged[FProfileIndex] = true;
}

void TDM::SaveCurrentProfileInfoToRegistry() {
  SaveBackToCurrentProfileInfo();
  (void)ProfileAt(FProfileIndex).SaveStreamToRegistry();
}

void TDM::SaveCurrentProfileInfoToFile(const std::string& AFile) {
  (void)ProfileAt(FProfileIndex).SaveStreamToFile(AFile);
}

void TDM::SaveCurrentProfileInfoToFile() { (void)ProfileAt(FProfileIndex).SaveStreamToFile(); }

bool TDM::SaveBackToProfileInfo(const TMouseProfileInfo& AProfileInfo, int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  ProfileAt(AProfileIndex).Write(&AProfileInfo, kProfileSize);
  return true;
}

bool TDM::SaveProfileInfoToRegistry(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  (void)ProfileAt(AProfileIndex).SaveStreamToRegistry();
  return true;
}

void TDM::SaveBackAllProfileInfo() {
  for (int i = 0; i < kProfileCount; ++i) (void)ProfileAt(i).SaveStreamToRegistry();
}

void TDM::SaveBackAllProfileInfoToRegistry() { SaveBackAllProfileInfo(); }

void TDM::SaveBackAllProfileInfoToFile() {
  for (int i = 0; i < kProfileCount; ++i) (void)ProfileAt(i).SaveStreamToFile();
}

void TDM::SaveBackAllProfileSettingInfo() {
  FAllProfileSettingInfo.CurrentGame = static_cast<WORD>(FProfileIndex);
  gxProfileAllSettingInfo->Write(&FAllProfileSettingInfo, sizeof FAllProfileSettingInfo);
  (void)gxProfileAllSettingInfo->SaveStreamToRegistry();
}

void TDM::SaveBackToProfileGroupSettingInfo() {
  gxProfileSettingGroup->Write(&FProfileSettingGroup, sizeof FProfileSettingGroup);
}

void TDM::SaveProfileGroupSettingInfoToRegistry() {
  SaveBackToProfileGroupSettingInfo();
  (void)gxProfileSettingGroup->SaveStreamToRegistry();
}

void TDM::SaveBackRecordMacroInfoToRegistry(const TMACROKEYINFO& ARecordMacroInfo) {
  gxProfileRecordMacroInfo->Write(&ARecordMacroInfo, sizeof ARecordMacroInfo);
  (void)gxProfileRecordMacroInfo->SaveStreamToRegistry();
}

bool TDM::SaveProfileInfo(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  TgxProfile& c = ProfileAt(AProfileIndex);
  switch (ProfileStorage(AProfileIndex)) {
    case TProfileStorage::Registry: return c.SaveStreamToRegistry();
    // Where the group record names the file, as the next start-up will look for it.
    case TProfileStorage::File: {
      const std::string f = ProfileFile(AProfileIndex);
      return !f.empty() && c.SaveStreamToFile(f);
    }
    case TProfileStorage::None: return false;
  }
  return false;
}

bool TDM::AssignButtonFunction(int AProfileIndex, int AButton, int AFunctionCode, WORD AKeyCode) {
  if (!IsProfileIndexInRange(AProfileIndex) || AButton < 0 || AButton >= kButtonRecords ||
      AFunctionCode < 0 || AFunctionCode >= kFunctionCount)
    return false;
  if (FunctionKindOf(AFunctionCode) == kFunctionKindKey && AKeyCode == 0) return false;
  TgxProfile& c = ProfileAt(AProfileIndex);
  const auto info = std::make_unique<TMouseProfileInfo>();
  CopyOut(c, info.get(), kProfileSize);
  AssignFunction(Button(*info, AButton), AButton, AFunctionCode, AKeyCode);
  c.Write(info.get(), kProfileSize);
  if (AProfileIndex == FProfileIndex)
    AssignFunction(Button(FCurrentProfileInfo, AButton), AButton, AFunctionCode, AKeyCode);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Restoring

void TDM::RestoreCurrentProfileInfoToDefault() {
  TgxProfile& c = ProfileAt(FProfileIndex);
  c.RestoreToDefault();
  CopyOut(c, &FCurrentProfileInfo, kProfileSize);
  FProfileChanged[FProfileIndex] = true;
}

void TDM::RestoreAllProfileInfoToDefault() {
  for (int i = 0; i < kProfileCount; ++i) {
    ProfileAt(i).RestoreToDefault();
    FProfileChanged[i] = true;
  }
  CopyOut(ProfileAt(FProfileIndex), &FCurrentProfileInfo, kProfileSize);
}

bool TDM::RestoreProfileInfoToDefault(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  ProfileAt(AProfileIndex).RestoreToDefault();
  FProfileChanged[AProfileIndex] = true;
  return true;
}

bool TDM::RestoreProfileGroupToDefault(int AProfileGroupIndex) {
  if (!IsProfileGroupIndexInRange(AProfileGroupIndex)) return false;
  const int p = FProfileSettingGroup.ProfileIndexOfProfileGroup[AProfileGroupIndex];
  if (p == FProfileIndex) RestoreCurrentProfileInfoToDefault();
  else ProfileAt(p).RestoreToDefault();
  return true;
}

void TDM::RestoreProfileSettingGroupToDefault() {
  gxProfileSettingGroup->RestoreToDefault();
  (void)gxProfileSettingGroup->SaveStreamToRegistry();
}

void TDM::InitTestDefaultValue() {
  SetUpRecord(*gxProfileTest, "Z7700ProfileTest.pfd", &FTestProfileInfo, kProfileSize);
  gxProfileTest->RestoreToDefault();
  CopyOut(*gxProfileTest, &FTestProfileInfo, kProfileSize);
  SetUpRecord(*gxProfileDefaultGame, "Z7700ProfileDef.pfd", &FDefaultProfileInfo, kProfileSize);
  gxProfileDefaultGame->RestoreToDefault();
  CopyOut(*gxProfileDefaultGame, &FDefaultProfileInfo, kProfileSize);
}

// ---------------------------------------------------------------------------------------------
// Change flags and maintenance

void TDM::SetProfileChanged(int AIndex, bool AIsChanged) {
  ProfileAt(AIndex);
  FProfileChanged[AIndex] = AIsChanged;
}

bool TDM::IsProfileChanged(int AIndex) const {
  if (!IsProfileIndexInRange(AIndex))
    throw ProfileRangeError(IndexMessage("profile index", AIndex, kProfileCount));
  return FProfileChanged[AIndex];
}

bool TDM::ChangeCurrentProfileFileNameAndPath(const std::string& AProfileFilePath) {
  TgxProfile& c = ProfileAt(FProfileIndex);
  std::string folder, name;
  path::SplitFolderAndName(AProfileFilePath, folder, name);
  TPROFILESETTINGINFO& s = FProfileSettingGroup.ProfileSettingList[FProfileIndex];
  // Both texts are checked before anything changes, so a name that does not fit its field
  // leaves the component and the record as they were.
  TPROFILESETTINGINFO staged = s;
  WriteField(staged.ProfileFileName, name);
  WriteField(staged.ProfileFilePath, folder);
  c.SetFileName(name);
  c.SetFilePath(folder);
  std::memcpy(s.ProfileFileName, staged.ProfileFileName, sizeof s.ProfileFileName);
  std::memcpy(s.ProfileFilePath, staged.ProfileFilePath, sizeof s.ProfileFilePath);
  return true;
}

std::vector<int> TDM::GetAllProfilesMacroIndexList() {
  std::vector<int> list;
  const auto info = std::make_unique<TMouseProfileInfo>();
  for (int i = 0; i < kProfileCount; ++i) {
    std::memset(static_cast<void*>(info.get()), 0, sizeof *info);
    (void)ReadProfileInfo(*info, i);
    for (int b = 0; b < info->ConfigInfo.ButtonCount; ++b) {
      const TBUTTONFUNCINFO& button = Button(*info, b);
      if (button.FunctionKind != kFunctionKindMacro) continue;
      const int macro = button.FuncParam.MacroIndex;
      if (std::find(list.begin(), list.end(), macro) == list.end()) list.push_back(macro);
    }
  }
  return list;
}

}  // namespace kv
