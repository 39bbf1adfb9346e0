#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <random>

#include "base/path.h"
#include "base/utf16.h"
#include "profile/errors.h"
#include "store_fixture.h"

namespace {

using namespace kv;
using kv::testing::Store;

using DmStartUp = Store;
using DmOperations = Store;

TEST_F(DmStartUp, FirstStartWritesGroupAndAllProfilesRecordsAndFoldersButNoProfileValue) {
  auto dm = Start();
  ASSERT_EQ(dm->StartupError(), "");
  auto group = Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd");
  auto all = Stored<TALLGAMESINFO>("allsettings.pfd");
  ASSERT_TRUE(group && all);
  EXPECT_EQ(std::memcmp(group.get(), &dm->FProfileSettingGroup, sizeof *group), 0);
  EXPECT_EQ(all->Allgameset[0].ItemFlag, 1);
  for (int i = 1; i <= 5; ++i) EXPECT_FALSE(Value("Profile" + std::to_string(i) + ".pfd"));
  EXPECT_FALSE(Value("RecordRPROFILE.pfd"));

  const std::string profiles = path::Join(sim.paths.DocumentsDir(), "Profile");
  EXPECT_TRUE(path::FolderExists(profiles));
  for (int i = 1; i <= 5; ++i)
    EXPECT_TRUE(
        path::FolderExists(path::Join(profiles, "Profile" + std::to_string(i) + "_Macros")));

  EXPECT_EQ(dm->FProfileIndex, 0);
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 0);
  EXPECT_EQ(dm->FHidSelector.Usage, 1);
  EXPECT_EQ(dm->FHidSelector.UsagePage, 0xFFA0);
  // Every profile holds the game defaults in memory; the current one is profile 0's.
  EXPECT_EQ(dm->FCurrentProfileInfo.ProfileHeader.FFileVersion, 259);
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.LEDConfig.G, 255);
  auto p4 = std::make_unique<TMouseProfileInfo>();
  EXPECT_TRUE(dm->ReadProfileInfo(*p4, 4));
  EXPECT_EQ(p4->ConfigInfo.CurrentCPIIndex, 4);

  // A second start reads what the first one wrote and writes nothing.
  const auto writes = sim.registry.WriteCount();
  auto again = Start();
  EXPECT_EQ(again->StartupError(), "");
  EXPECT_EQ(sim.registry.WriteCount(), writes);
}

TEST_F(DmStartUp, TheOwnersFirstLanguageGoesIntoNewRecordsOnlyAndZeroStaysTheDefault) {
  EXPECT_EQ(Start()->FAllProfileSettingInfo.CurrentLanguage, 0);
  ASSERT_TRUE(sim.registry.CreateKey(platform::RootKey::CurrentUser, kv::testing::kStoreKey)
                  ->DeleteValue("allsettings.pfd"));
  auto dm = std::make_unique<TDM>(sim.platform(), BYTE{1});
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 1);
  EXPECT_EQ(Stored<TALLGAMESINFO>("allsettings.pfd")->CurrentLanguage, 1);
  // A record that exists keeps its language, whatever the owner would choose.
  EXPECT_EQ(std::make_unique<TDM>(sim.platform(), BYTE{0})->FAllProfileSettingInfo.CurrentLanguage,
            1);
  // A record lost later is rewritten with the owner's choice as well.
  ASSERT_TRUE(sim.registry.CreateKey(platform::RootKey::CurrentUser, kv::testing::kStoreKey)
                  ->DeleteValue("allsettings.pfd"));
  dm->LoadAllProfileInfoFromRegistry();
  EXPECT_EQ(Stored<TALLGAMESINFO>("allsettings.pfd")->CurrentLanguage, 1);
}

TEST_F(DmStartUp, StoredProfilesAreLoadedByteForByteAndTheStoredCurrentGameIsSelected) {
  Start();
  auto all = Stored<TALLGAMESINFO>("allsettings.pfd");
  all->CurrentGame = 3;
  all->CurrentLanguage = 2;
  Plant("allsettings.pfd", *all);
  auto stored = std::make_unique<TMouseProfileInfo>();
  auto* bytes = reinterpret_cast<std::uint8_t*>(stored.get());
  for (std::size_t i = 0; i < sizeof *stored; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  Plant("Profile4.pfd", *stored);

  auto dm = Start();
  ASSERT_EQ(dm->StartupError(), "");
  EXPECT_EQ(dm->FProfileIndex, 3);
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 2);
  EXPECT_EQ(std::memcmp(&dm->FCurrentProfileInfo, stored.get(), sizeof *stored), 0);
}

TEST_F(DmStartUp, AFileProfileWhoseFileIsMissingGetsItsDefaultsWrittenThere) {
  Start();
  auto group = Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd");
  const std::string folder = path::Join(sim.paths.DocumentsDir(), "elsewhere");
  group->ProfileSettingList[2].StorageType = 1;
  WriteField(group->ProfileSettingList[2].ProfileFilePath, folder);
  WriteField(group->ProfileSettingList[2].ProfileFileName, "three.pfd");
  group->ProfileSettingList[4].StorageType = 7;  // neither registry nor file
  // A file entry without a folder: defaults in memory, no file at the root or anywhere else.
  const std::string stray = "kvnf" + std::to_string(std::random_device{}() % 1000000) + ".pfd";
  group->ProfileSettingList[3].StorageType = 1;
  WriteField(group->ProfileSettingList[3].ProfileFilePath, "");
  WriteField(group->ProfileSettingList[3].ProfileFileName, stray);
  Plant("ProfileSettingGroup.pfd", *group);

  auto dm = Start();
  ASSERT_EQ(dm->StartupError(), "");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path("/") / stray));
  EXPECT_FALSE(std::filesystem::exists(stray));
  EXPECT_EQ(dm->gxProfileGame4->MemoryStream().at(offsetof(TMouseProfileInfo, ConfigInfo) +
                                                  offsetof(TMOUSECONFIGINFO, CurrentCPIIndex)),
            3);
  const std::string file = path::Join(folder, "three.pfd");
  ASSERT_TRUE(path::FileExists(file));
  EXPECT_EQ(std::filesystem::file_size(file), sizeof(TMouseProfileInfo));
  EXPECT_EQ(dm->gxProfileGame3->MemoryStream().at(offsetof(TMouseProfileInfo, ConfigInfo) +
                                                  offsetof(TMOUSECONFIGINFO, CurrentCPIIndex)),
            2);
  EXPECT_TRUE(std::all_of(dm->gxProfileGame5->MemoryStream().begin(),
                          dm->gxProfileGame5->MemoryStream().end(), [](auto b) { return b == 0; }));

  // The next start reads the file instead of writing it.
  { std::ofstream(file, std::ios::binary | std::ios::app) << "tail"; }
  auto again = Start();
  EXPECT_EQ(again->gxProfileGame3->MemoryStream().size(), sizeof(TMouseProfileInfo) + 4);
}

// A store whose group record selects group 2, with a stored profile 0 and CurrentGame 3, so that
// every later start-up step, had it run, would leave a trace.
struct DmAfterStartUpError : Store {
  std::unique_ptr<TMouseProfileInfo> profile0 = std::make_unique<TMouseProfileInfo>();
  void SetUp() override {
    Start();
    auto all = Stored<TALLGAMESINFO>("allsettings.pfd");
    all->CurrentGame = 3;
    all->CurrentLanguage = 4;
    Plant("allsettings.pfd", *all);
    Button(*profile0, 0).FunctionCode = 28;
    profile0->ConfigInfo.ButtonCount = 18;
    Plant("Profile1.pfd", *profile0);
    SetStoredGroup(2);
  }
  void SetStoredGroup(int group) {
    auto g = Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd");
    g->CurrentProfileGroup = group;
    Plant("ProfileSettingGroup.pfd", *g);
  }
};

TEST_F(DmAfterStartUpError, AStoredGroupOutsideZeroToOneIsReportedAndEndsStartUp) {
  auto dm = Start();
  EXPECT_NE(dm->StartupError().find("group 2"), std::string::npos) << dm->StartupError();
  // Steps 5 to 8 did not run: nothing loaded, no profile named, nothing switched.
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 0) << "the all-profiles record was loaded";
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 0);
  EXPECT_EQ(dm->gxProfileGame1->FileName(), "");
  EXPECT_EQ(dm->FProfileIndex, 0);
  EXPECT_THROW(dm->LoadProfileGroupSettingInfoFromRegistry(), ProfileRangeError);
}

TEST_F(DmAfterStartUpError, EveryOperationBehavesAsOnAStoreWithoutTheRecordsItDidNotReach) {
  auto dm = Start();
  ASSERT_NE(dm->StartupError(), "");
  const auto writes = sim.registry.WriteCount();
  // Profiles: zero images behind every index, unnamed, so loads and saves are soft failures.
  EXPECT_TRUE(dm->SwitchToProfile(1));
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.ButtonCount, 0);
  EXPECT_FALSE(dm->LoadCurrentProfileInfoFromRegistry());
  EXPECT_FALSE(dm->LoadProfileInfoFromRegistry(4));
  EXPECT_TRUE(dm->SaveProfileInfoToRegistry(2)) << "true also when the save did not happen";
  dm->SaveBackAllProfileInfoToRegistry();
  dm->SaveBackAllProfileInfoToFile();
  EXPECT_FALSE(dm->SaveProfileInfo(0));
  EXPECT_TRUE(dm->GetAllProfilesMacroIndexList().empty());
  dm->FCurrentProfileInfo.ConfigInfo.ButtonCount = 7;
  dm->SaveBackToCurrentProfileInfo();
  EXPECT_TRUE(dm->IsProfileChanged(1));
  EXPECT_EQ(sim.registry.WriteCount(), writes) << "an unnamed profile reached the store";
  dm->RestoreAllProfileInfoToDefault();
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.ButtonCount, 18);
  // Index errors stay range errors.
  dm->FProfileIndex = 9;
  EXPECT_THROW((void)dm->ReadCurrentProfileInfo(), ProfileRangeError);
  EXPECT_THROW(dm->SaveCurrentProfileInfoToFile(), ProfileRangeError);
  EXPECT_FALSE(dm->SwitchToProfileGroup(2));
  // The records start-up did not reach still load from their own values.
  dm->LoadAllProfileInfoFromRegistry();
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 4);
}

TEST_F(DmAfterStartUpError, ARepairedGroupRecordIsFollowedByTheMonitorsReload) {
  auto dm = Start();
  ASSERT_NE(dm->StartupError(), "");
  SetStoredGroup(0);
  dm->LoadProfileGroupSettingInfoFromRegistry();
  dm->LoadAllProfileInfoFromRegistry();
  EXPECT_TRUE(dm->LoadCurrentProfileInfoFromRegistry());
  EXPECT_EQ(dm->FProfileIndex, 0);
  EXPECT_EQ(std::memcmp(&dm->FCurrentProfileInfo, profile0.get(), sizeof *profile0), 0);
  EXPECT_EQ(dm->gxProfileGame5->FileName(), "Profile5.pfd");
}

TEST_F(DmStartUp, AForeignValueWhereARecordShouldBeIsReportedNotOverwritten) {
  sim.registry.SetRawValue(platform::RootKey::CurrentUser, kv::testing::kStoreKey,
                           "ProfileSettingGroup.pfd", 1, {'x', 0});
  auto dm = Start();
  EXPECT_NE(dm->StartupError().find("not binary"), std::string::npos) << dm->StartupError();
  EXPECT_EQ(Value("ProfileSettingGroup.pfd")->rawType, 1u);
  // The manager stays usable: switching finds a profile behind every index.
  EXPECT_TRUE(dm->SwitchToProfile(3));
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 3);
  EXPECT_FALSE(dm->SaveProfileInfo(3));
}

TEST_F(DmOperations, MonitorReloadSequenceFollowsTheConfiguratorsWrites) {
  auto dm = Start();
  auto cfg = Start();  // stands in for the configurator
  EXPECT_TRUE(cfg->SwitchToProfileGroup(1));
  cfg->FProfileSettingGroup.ProfileIndexOfProfileGroup[1] = 2;
  EXPECT_TRUE(cfg->SwitchToProfileGroup(1));
  cfg->SaveProfileGroupSettingInfoToRegistry();
  Button(cfg->FCurrentProfileInfo, 4).FunctionCode = 28;
  cfg->SaveCurrentProfileInfoToRegistry();
  cfg->FAllProfileSettingInfo.CurrentLanguage = 5;
  cfg->SaveBackAllProfileSettingInfo();

  dm->LoadProfileGroupSettingInfoFromRegistry();
  dm->LoadAllProfileInfoFromRegistry();
  EXPECT_TRUE(dm->LoadCurrentProfileInfoFromRegistry());
  EXPECT_EQ(dm->FProfileGroupIndex, 1);
  EXPECT_EQ(dm->FProfileIndex, 2);
  EXPECT_EQ(Button(dm->FCurrentProfileInfo, 4).FunctionCode, 28);
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 5);
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 2);
}

TEST_F(DmOperations, AMissingRecordIsRewrittenWithDefaultsByItsLoad) {
  auto dm = Start();
  ASSERT_TRUE(sim.registry.CreateKey(platform::RootKey::CurrentUser, kv::testing::kStoreKey)
                  ->DeleteValue("allsettings.pfd"));
  dm->FAllProfileSettingInfo.CurrentLanguage = 9;
  dm->LoadAllProfileInfoFromRegistry();
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 0);
  EXPECT_TRUE(Value("allsettings.pfd"));
}

TEST_F(DmOperations, SwitchingValidatesAndChangesMemoryOnly) {
  auto dm = Start();
  const auto writes = sim.registry.WriteCount();
  EXPECT_FALSE(dm->SwitchToProfile(5));
  EXPECT_FALSE(dm->SwitchToProfile(-1));
  EXPECT_EQ(dm->FProfileIndex, 0);
  EXPECT_TRUE(dm->SwitchToProfile(4));
  EXPECT_EQ(dm->FProfileIndex, 4);
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 4);
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 4);

  EXPECT_FALSE(dm->SwitchToProfileGroup(2));
  EXPECT_TRUE(dm->SwitchToProfileGroup(1));
  EXPECT_EQ(dm->FProfileIndex, 1);
  EXPECT_EQ(dm->FProfileSettingGroup.CurrentProfileGroup, 1);
  EXPECT_EQ(Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd")->CurrentProfileGroup, 0);
  EXPECT_EQ(sim.registry.WriteCount(), writes);
}

TEST_F(DmOperations, AShortStoredProfileReplacesOnlyItsOwnBytes) {
  auto dm = Start();
  auto shortProfile = std::make_unique<TMouseProfileInfo>();
  std::memset(static_cast<void*>(shortProfile.get()), 0xAB, 100);
  Plant("Profile1.pfd", *shortProfile, 100);
  EXPECT_TRUE(dm->LoadProfileInfoFromRegistry(0));
  EXPECT_TRUE(dm->ReadCurrentProfileInfo());
  const auto* cur = reinterpret_cast<const std::uint8_t*>(&dm->FCurrentProfileInfo);
  EXPECT_EQ(cur[0], 0xAB);
  EXPECT_EQ(cur[99], 0xAB);
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.ButtonCount, 18) << "the rest stays";
}

TEST_F(DmOperations, UnvalidatedIndexesRaiseRangeErrors) {
  auto dm = Start();
  dm->FProfileIndex = 5;
  EXPECT_THROW((void)dm->LoadCurrentProfileInfoFromRegistry(), ProfileRangeError);
  EXPECT_THROW(dm->SaveBackToCurrentProfileInfo(), ProfileRangeError);
  EXPECT_THROW(dm->SetProfileChanged(-1, true), ProfileRangeError);
  EXPECT_THROW(dm->IsProfileChanged(5), ProfileRangeError);
  EXPECT_THROW((void)dm->LoadProfileInfoFromRegistry(7), ProfileRangeError);
  auto scratch = std::make_unique<TMouseProfileInfo>();
  EXPECT_FALSE(dm->ReadProfileInfo(*scratch, 5));
  EXPECT_FALSE(dm->SaveBackToProfileInfo(*scratch, -1));
}

TEST_F(DmOperations, DocumentsFoldersAreCreatedAndTheirAbsenceIsAnError) {
  auto dm = Start();
  const std::string db = dm->GetPersonalDocumentMacroDatabasePath();
  EXPECT_EQ(db, path::Join(path::Join(path::Join(sim.paths.DocumentsDir(), "Profile"), "MacroDB"),
                           "MacroSet.MSDB"));
  EXPECT_TRUE(
      path::FolderExists(path::Join(path::Join(sim.paths.DocumentsDir(), "Profile"), "MacroDB")));
  EXPECT_FALSE(path::FileExists(db));
  sim.paths.SetDocumentsDir("");
  EXPECT_THROW(dm->GetPersonalDocumentProfilePath(), ProfileFileError);
  sim.paths.SetDocumentsDir(path::Join(sim.paths.Root(), "no/such"));
  EXPECT_THROW(dm->GetPersonalDocumentProfilePath(), ProfileFileError);
}

TEST_F(DmOperations, StoredProfilesCarryZerosWhereTheirOtherConfigLies) {
  auto dm = Start();
  auto p = std::make_unique<TMouseProfileInfo>();
  ASSERT_TRUE(dm->ReadProfileInfo(*p, 1));
  std::memset(p->OtherConfig, 0xAB, sizeof p->OtherConfig);
  p->ConfigInfo.ApplicationList[0] = 0x42;
  ASSERT_TRUE(dm->SaveBackToProfileInfo(*p, 1));
  ASSERT_TRUE(dm->SaveProfileInfoToRegistry(1));
  const auto stored = Stored<TMouseProfileInfo>("Profile2.pfd");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->ConfigInfo.ApplicationList[0], 0x42);
  EXPECT_EQ(std::count(std::begin(stored->OtherConfig), std::end(stored->OtherConfig), 0), 28);

  ASSERT_TRUE(dm->SwitchToProfile(1));
  std::memset(dm->FCurrentProfileInfo.OtherConfig, 0xCD, sizeof p->OtherConfig);
  dm->SaveBackToCurrentProfileInfo();
  const std::string file = path::Join(sim.paths.DocumentsDir(), "other.pfd");
  dm->SaveCurrentProfileInfoToFile(file);
  std::ifstream in(path::ToFs(file), std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), sizeof(TMouseProfileInfo));
  const auto other = bytes.begin() + offsetof(TMouseProfileInfo, OtherConfig);
  EXPECT_EQ(std::count(other, other + 28, 0), 28);
  EXPECT_EQ(bytes[offsetof(TMouseProfileInfo, ConfigInfo.ApplicationList)], 0x42);
}

}  // namespace
