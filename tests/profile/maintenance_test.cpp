#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "base/path.h"
#include "base/utf16.h"
#include "profile/errors.h"
#include "store_fixture.h"

namespace {

using namespace kv;
using Maintenance = kv::testing::Store;

int CpiIndexOf(const TgxProfile& c) {
  auto p = std::make_unique<TMouseProfileInfo>();
  c.Read(p.get(), sizeof *p);
  return p->ConfigInfo.CurrentCPIIndex;
}

TEST_F(Maintenance, SavingMovesWorkingCopiesIntoComponentsAndOnToTheRegistry) {
  auto dm = Start();
  dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex = 9;
  dm->SaveCurrentProfileInfoToRegistry();
  EXPECT_TRUE(dm->IsProfileChanged(0));
  EXPECT_EQ(Stored<TMouseProfileInfo>("Profile1.pfd")->ConfigInfo.CurrentCPIIndex, 9);

  auto other = std::make_unique<TMouseProfileInfo>(dm->FCurrentProfileInfo);
  other->ConfigInfo.CurrentCPIIndex = 7;
  EXPECT_TRUE(dm->SaveBackToProfileInfo(*other, 3));
  EXPECT_FALSE(dm->IsProfileChanged(3));
  EXPECT_EQ(CpiIndexOf(*dm->gxProfileGame4), 7);
  EXPECT_FALSE(Value("Profile4.pfd")) << "save-back alone does not store";
  EXPECT_TRUE(dm->SaveProfileInfoToRegistry(3));
  EXPECT_FALSE(dm->SaveProfileInfoToRegistry(5));
  EXPECT_EQ(Stored<TMouseProfileInfo>("Profile4.pfd")->ConfigInfo.CurrentCPIIndex, 7);

  dm->SaveBackAllProfileInfoToRegistry();
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(Value("Profile" + std::to_string(i) + ".pfd"));

  EXPECT_TRUE(dm->SwitchToProfile(2));
  dm->FAllProfileSettingInfo.CurrentGame = 0;
  dm->SaveBackAllProfileSettingInfo();
  EXPECT_EQ(Stored<TALLGAMESINFO>("allsettings.pfd")->CurrentGame, 2);

  TMACROKEYINFO macro{};
  macro.nMacroIndex = 42;
  dm->SaveBackRecordMacroInfoToRegistry(macro);
  EXPECT_EQ(dm->FRecordMacroInfo.nMacroIndex, 0);
  dm->LoadRecordMacroInfoFromRegistry();
  EXPECT_EQ(dm->FRecordMacroInfo.nMacroIndex, 42);
}

TEST_F(Maintenance, AFileSaveWritesTheComponentImageNotTheUnsavedWorkingCopy) {
  auto dm = Start();
  dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex = 9;
  const std::string file = path::Join(sim.paths.DocumentsDir(), "exported.pfd");
  dm->SaveCurrentProfileInfoToFile(file);
  auto reread = Start();
  EXPECT_TRUE(reread->LoadCurrentProfileInfoFromFile(file));
  EXPECT_EQ(reread->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 0);

  dm->SaveBackAllProfileInfoToFile();
  const std::string folder = path::Join(sim.paths.DocumentsDir(), "Profile");
  for (int i = 1; i <= 5; ++i)
    EXPECT_TRUE(path::FileExists(path::Join(folder, "Profile" + std::to_string(i) + ".pfd")));
}

TEST_F(Maintenance, RestoringProfilesSetsTheirFlagsAndRefreshesOnlyTheCurrentOne) {
  auto dm = Start();
  dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex = 9;
  dm->SaveBackToCurrentProfileInfo();
  dm->SetProfileChanged(0, false);
  dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex = 8;

  // Group 1 selects profile 1, which is not current: only its image changes.
  auto p1 = std::make_unique<TMouseProfileInfo>();
  p1->ConfigInfo.CurrentCPIIndex = 6;
  EXPECT_TRUE(dm->SaveBackToProfileInfo(*p1, 1));
  EXPECT_TRUE(dm->RestoreProfileGroupToDefault(1));
  EXPECT_EQ(CpiIndexOf(*dm->gxProfileGame2), 1);
  EXPECT_FALSE(dm->IsProfileChanged(1));
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 8);

  // Group 0 selects the current profile: the working copy follows.
  EXPECT_TRUE(dm->RestoreProfileGroupToDefault(0));
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 0);
  EXPECT_TRUE(dm->IsProfileChanged(0));
  EXPECT_FALSE(dm->RestoreProfileGroupToDefault(2));

  dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex = 8;
  EXPECT_TRUE(dm->RestoreProfileInfoToDefault(0));
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 8) << "not refreshed";
  EXPECT_FALSE(dm->RestoreProfileInfoToDefault(-1));

  for (int i = 0; i < kProfileCount; ++i) dm->SetProfileChanged(i, false);
  dm->RestoreAllProfileInfoToDefault();
  for (int i = 0; i < kProfileCount; ++i) EXPECT_TRUE(dm->IsProfileChanged(i));
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 0);
}

TEST_F(Maintenance, AProfileIsSavedWhereItsGroupEntrySaysItLives) {
  auto dm = Start();
  TProfileSettingGroup& g = dm->FProfileSettingGroup;
  const std::string folder = path::Join(sim.paths.DocumentsDir(), "moved");
  g.ProfileSettingList[1].StorageType = kStorageFile;
  WriteField(g.ProfileSettingList[1].ProfileFilePath, folder);
  g.ProfileSettingList[2].StorageType = 9;
  EXPECT_EQ(dm->ProfileStorage(0), TProfileStorage::Registry);
  EXPECT_EQ(dm->ProfileStorage(1), TProfileStorage::File);
  EXPECT_EQ(dm->ProfileStorage(2), TProfileStorage::None);
  EXPECT_THROW(dm->ProfileStorage(5), ProfileRangeError);

  EXPECT_TRUE(dm->SaveProfileInfo(0));
  EXPECT_TRUE(Value("Profile1.pfd"));
  // The file goes where the entry names it (its folder made), not to the registry.
  EXPECT_TRUE(dm->SaveProfileInfo(1));
  EXPECT_FALSE(Value("Profile2.pfd"));
  EXPECT_EQ(std::filesystem::file_size(path::Join(folder, "Profile2.pfd")),
            sizeof(TMouseProfileInfo));
  const auto writes = sim.registry.WriteCount();
  EXPECT_FALSE(dm->SaveProfileInfo(2));
  EXPECT_FALSE(dm->SaveProfileInfo(-1));
  EXPECT_EQ(sim.registry.WriteCount(), writes);
  // A file entry without a folder names no file (not one at the file system's root).
  WriteField(g.ProfileSettingList[1].ProfileFilePath, "");
  EXPECT_FALSE(dm->SaveProfileInfo(1));
}

TEST_F(Maintenance, AssigningAButtonFunctionEditsTheProfileAndTheWorkingCopyWhenCurrent) {
  auto dm = Start();
  dm->FCurrentProfileInfo.ConfigInfo.PointerSpeed = 77;  // an unsaved edit that must survive
  EXPECT_TRUE(dm->AssignButtonFunction(0, 4, kMicMuteFunction));
  EXPECT_TRUE(dm->AssignButtonFunction(3, 6, kKeyFunction, 65));
  const TBUTTONFUNCINFO& cur = Button(dm->FCurrentProfileInfo, 4);
  EXPECT_EQ(cur.FunctionCode, 28);
  EXPECT_EQ(cur.FunctionKind, kFunctionKindReportMask);
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.PointerSpeed, 77);
  auto p = std::make_unique<TMouseProfileInfo>();
  ASSERT_TRUE(dm->ReadProfileInfo(*p, 0));
  EXPECT_EQ(std::memcmp(&Button(*p, 4), &cur, sizeof cur), 0);
  ASSERT_TRUE(dm->ReadProfileInfo(*p, 3));
  EXPECT_EQ(Button(*p, 6).FuncParam.KeyCode, 65);
  EXPECT_EQ(Button(dm->FCurrentProfileInfo, 6).FuncParam.KeyCode, 49) << "profile 3 is not current";
  EXPECT_FALSE(Value("Profile1.pfd")) << "nothing is saved";
  EXPECT_FALSE(dm->IsProfileChanged(0));

  // Refused, with nothing changed: bad profile, button or code, or a key function without a key.
  ASSERT_TRUE(dm->ReadProfileInfo(*p, 1));
  for (auto [profile, button, code, key] : {std::tuple{5, 0, 0, 0}, std::tuple{1, 19, 0, 0},
                                            std::tuple{1, 0, 39, 0}, std::tuple{1, 0, 5, 0}})
    EXPECT_FALSE(dm->AssignButtonFunction(profile, button, code, static_cast<WORD>(key)));
  auto after = std::make_unique<TMouseProfileInfo>();
  ASSERT_TRUE(dm->ReadProfileInfo(*after, 1));
  EXPECT_EQ(std::memcmp(p.get(), after.get(), sizeof *p), 0);
}

TEST_F(Maintenance, RestoringTheGroupRecordSavesItButLeavesTheWorkingCopy) {
  auto dm = Start();
  EXPECT_TRUE(dm->SwitchToProfileGroup(1));
  dm->SaveProfileGroupSettingInfoToRegistry();
  EXPECT_EQ(Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd")->CurrentProfileGroup, 1);
  dm->RestoreProfileSettingGroupToDefault();
  EXPECT_EQ(Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd")->CurrentProfileGroup, 0);
  EXPECT_EQ(dm->FProfileSettingGroup.CurrentProfileGroup, 1);
  EXPECT_EQ(dm->FProfileIndex, 1);
}

TEST_F(Maintenance, MacroIndexListIsDistinctInOrderOfFirstUse) {
  auto dm = Start();
  auto p = std::make_unique<TMouseProfileInfo>();
  auto useMacro = [&](int profile, int button, int macro) {
    EXPECT_TRUE(dm->ReadProfileInfo(*p, profile));
    Button(*p, button).FunctionKind = 4;
    Button(*p, button).FuncParam.MacroIndex = static_cast<WORD>(macro);
    EXPECT_TRUE(dm->SaveBackToProfileInfo(*p, profile));
  };
  useMacro(0, 2, 7);
  useMacro(0, 9, 7);
  useMacro(2, 0, 3);
  useMacro(3, 17, 11);
  EXPECT_EQ(dm->GetAllProfilesMacroIndexList(), (std::vector<int>{7, 3, 11}));

  // Outside ButtonCount a macro does not count; a count above 19 is a range error.
  EXPECT_TRUE(dm->ReadProfileInfo(*p, 4));
  Button(*p, 18).FunctionKind = 4;
  Button(*p, 18).FuncParam.MacroIndex = 99;
  EXPECT_TRUE(dm->SaveBackToProfileInfo(*p, 4));
  EXPECT_EQ(dm->GetAllProfilesMacroIndexList(), (std::vector<int>{7, 3, 11}));
  p->ConfigInfo.ButtonCount = 20;
  EXPECT_TRUE(dm->SaveBackToProfileInfo(*p, 4));
  EXPECT_THROW(dm->GetAllProfilesMacroIndexList(), ProfileRangeError);
  p->ConfigInfo.ButtonCount = -3;
  EXPECT_TRUE(dm->SaveBackToProfileInfo(*p, 4));
  EXPECT_EQ(dm->GetAllProfilesMacroIndexList().size(), 3u);
}

TEST_F(Maintenance, ChangingTheCurrentFileKeepsAMissingFolderOutOfTheComponent) {
  auto dm = Start();
  const std::string docs = sim.paths.DocumentsDir();
  const std::string before = dm->gxProfileGame1->FilePath();
  ASSERT_TRUE(
      dm->ChangeCurrentProfileFileNameAndPath(path::Join(path::Join(docs, "gone"), "mine.pfd")));
  EXPECT_EQ(dm->gxProfileGame1->FileName(), "mine.pfd");
  EXPECT_EQ(dm->gxProfileGame1->FilePath(), before);
  const TPROFILESETTINGINFO& s = dm->FProfileSettingGroup.ProfileSettingList[0];
  EXPECT_EQ(ReadField(s.ProfileFilePath), path::WithTrailingSep(path::Join(docs, "gone")));
  EXPECT_EQ(ReadField(s.ProfileFileName), "mine.pfd");

  ASSERT_TRUE(dm->ChangeCurrentProfileFileNameAndPath(path::Join(docs, "mine2.pfd")));
  EXPECT_EQ(dm->gxProfileGame1->FilePath(), path::WithTrailingSep(docs));

  EXPECT_THROW(
      (void)dm->ChangeCurrentProfileFileNameAndPath(path::Join(docs, std::string(21, 'n'))),
      TextFieldOverflow);
  EXPECT_EQ(dm->gxProfileGame1->FileName(), "mine2.pfd")
      << "a name that does not fit changes nothing";
  EXPECT_EQ(ReadField(s.ProfileFileName), "mine2.pfd");
}

}  // namespace
