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
    : TDM(platform.registry, platform.paths, platform.clock, firstLanguage) {}

TDM::TDM(platform::Registry& registry, platform::Paths& paths, platform::Clock& clock,
         BYTE firstLanguage)
    : registry_(registry), paths_(paths), clock_(clock), firstLanguage_(firstLanguage) {
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

  {
    const TProfileSettingGroup zero{};
    SetUpRecord(*gxProfileSettingGroup, "ProfileSettingGroup.pfd", &zero, sizeof zero);
  }
  LoadProfileGroupSettingInfoFromRegistry();

  SetUpRecord(*gxProfileAllSettingInfo, "allsettings.pfd", &FAllProfileSettingInfo,
              sizeof FAllProfileSettingInfo);
  LoadAllProfileInfoFromRegistry();

  SetUpRecord(*gxProfileRecordMacroInfo, "RecordRPROFILE.pfd", &FRecordMacroInfo,
              sizeof FRecordMacroInfo);

  TgxProfile* games[kProfileCount] = {gxProfileGame1.get(), gxProfileGame2.get(),
                                      gxProfileGame3.get(), gxProfileGame4.get(),
                                      gxProfileGame5.get()};
  for (int i = 0; i < kProfileCount; ++i) {
    FProfileGroup[i] = games[i];
    LoadProfileAtStartUp(i);
  }

  (void)SwitchToProfile(FAllProfileSettingInfo.CurrentGame);
}

void TDM::LoadProfileAtStartUp(int i) {
  const TPROFILESETTINGINFO& s = FProfileSettingGroup.ProfileSettingList[i];
  TgxProfile& c = *FProfileGroup[i];
  const std::string fileName = ReadField(s.ProfileFileName);
  const std::string filePath = ReadField(s.ProfileFilePath);
  c.SetRootKey(RootKey::CurrentUser);
  c.SetFileName(fileName);
  c.SetFilePath(filePath);
  c.SetKeyPath(FOptionsFromConfigFile.ProfileRegFolder);
  {
    const auto zero = std::make_unique<TMouseProfileInfo>();
    c.Write(zero.get(), kProfileSize);
  }
  if (s.StorageType == kStorageRegistry) {
    if (!c.LoadStreamFromRegistry()) c.RestoreToDefault();
  } else if (s.StorageType == kStorageFile) {
    const std::string f = path::WithTrailingSep(filePath) + fileName;
    if (!path::FileExists(f)) {
      c.RestoreToDefault();
      (void)c.SaveStreamToFile(f);
    } else if (!c.LoadStreamFromFile(f)) {
      c.RestoreToDefault();
      (void)c.SaveStreamToFile();
    }
  }
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
