#include <gtest/gtest.h>

#include <fstream>

#include "base/path.h"
#include "base/utf16.h"
#include "store_fixture.h"

namespace {

using namespace kv;
using Defaults = kv::testing::Store;

std::unique_ptr<TMouseProfileInfo> Image(const TgxProfile& c) {
  auto p = std::make_unique<TMouseProfileInfo>();
  c.Read(p.get(), sizeof *p);
  return p;
}

TEST_F(Defaults, GameProfilesCarryTheShippedButtonsSettingsAndPerProfileColours) {
  sim.clock.SetLocalTime({2026, 3, 14, 15, 9, 26, 535});
  auto dm = Start();
  const double now = EncodeDateTime(2026, 3, 14, 15, 9, 26, 535);
  const int cpi[5] = {0, 1, 2, 3, 4};
  const BYTE rgb[5][3] = {{255, 255, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}, {255, 0, 0}};
  for (int i = 0; i < kProfileCount; ++i) {
    auto p = Image(*dm->FProfileGroup[i]);
    const TMOUSECONFIGINFO& c = p->ConfigInfo;
    EXPECT_EQ(p->ProfileHeader.FFileVersion, 259);
    EXPECT_EQ(p->ProfileHeader.FProfileUID.DataTime, now) << "same millisecond, same identity";
    EXPECT_EQ(c.ButtonCount, 18);
    EXPECT_EQ(c.CurrentCPIIndex, cpi[i]);
    EXPECT_EQ(c.LEDConfig.R, rgb[i][0]);
    EXPECT_EQ(c.LEDConfig.G, rgb[i][1]);
    EXPECT_EQ(c.LEDConfig.B, rgb[i][2]);
    EXPECT_EQ(c.ReportRate, 500);
    EXPECT_EQ(c.CPILevel, 5);
    EXPECT_EQ(c.CPIState[4].CPIX, 16400);
    EXPECT_EQ(c.CPIState[4].CPIEnabled, 1);
    EXPECT_EQ(c.CPIState[5].CPIEnabled, 0);
    EXPECT_EQ(c.UseDiffentXY[4], 1);
    EXPECT_EQ(c.UseDiffentXY[5], 0);
    EXPECT_EQ(c.DoubleClickSpeed, 550);
    EXPECT_EQ(c.LEDConfig.BREATH_SPEED, 3);
  }
  auto p = Image(*dm->gxProfileGame1);
  // The word 30 at offset 17526: the function code of button 3.
  WORD at17526;
  std::memcpy(&at17526, reinterpret_cast<const std::uint8_t*>(p.get()) + 17526, 2);
  EXPECT_EQ(at17526, 30);
  const TBUTTONFUNCINFO* b = p->ConfigInfo.ButtonFuncInfo;
  EXPECT_EQ(b[1].TypeCode, 2);
  EXPECT_EQ(b[1].ValueCode, 2);
  EXPECT_EQ(b[3].TypeCode, 25);
  EXPECT_EQ(b[3].ValueCode, 12);
  EXPECT_EQ(b[3].FuncParam.AuxWord3, 129);
  EXPECT_EQ(b[5].FunctionCode, 34);
  EXPECT_EQ(b[6].FuncParam.KeyCode, 49);
  EXPECT_EQ(b[14].FuncParam.KeyCode, 57);
  EXPECT_EQ(b[15].FuncParam.KeyCode, 48);
  EXPECT_EQ(b[16].FuncParam.KeyCode, 107);
  EXPECT_EQ(b[17].FuncParam.KeyCode, 109);
  EXPECT_EQ(b[17].FunctionKind, 8);
  EXPECT_EQ(b[18].ButtonIndex, 18);
  EXPECT_EQ(b[18].TypeCode, 13);
}

TEST_F(Defaults, RestoringAProfileKeepsEverythingTheDefaultsDoNotList) {
  auto dm = Start();
  TMouseProfileInfo& cur = dm->FCurrentProfileInfo;
  cur.MacroKeyInfoList.nMacroInfoCount = 3;
  cur.MacroKeyInfoList.MacroInfos[2].MacroListCount = 44;
  cur.ConfigInfo.ApplicationList[500] = 0x5A;
  cur.ConfigInfo.ButtonFuncInfo[18].ValueCode = 777;
  cur.ConfigInfo.ButtonFuncInfo[7].FuncParam.MacroIndex = 12;
  cur.ConfigInfo.ButtonFuncInfo[7].Reserved4164[0] = 0x77;
  cur.ConfigInfo.CPIState[2].Reserved6[1] = 0x66;
  cur.ConfigInfo.ReportRate = 1000;
  dm->SaveBackToCurrentProfileInfo();
  dm->RestoreCurrentProfileInfoToDefault();

  const TMOUSECONFIGINFO& c = cur.ConfigInfo;
  EXPECT_EQ(cur.MacroKeyInfoList.nMacroInfoCount, 3);
  EXPECT_EQ(cur.MacroKeyInfoList.MacroInfos[2].MacroListCount, 44);
  EXPECT_EQ(c.ApplicationList[500], 0x5A);
  EXPECT_EQ(c.ButtonFuncInfo[18].ValueCode, 777) << "button 18's value code is not written";
  EXPECT_EQ(c.ButtonFuncInfo[7].FuncParam.MacroIndex, 0) << "parameters are cleared";
  EXPECT_EQ(c.ButtonFuncInfo[7].FuncParam.KeyCode, 50);
  EXPECT_EQ(c.ButtonFuncInfo[7].Reserved4164[0], 0x77);
  EXPECT_EQ(c.CPIState[2].Reserved6[1], 0x66);
  EXPECT_EQ(c.ReportRate, 500);
}

TEST_F(Defaults, AShortImageIsGrownWithZerosBeforeAHandlerWrites) {
  auto dm = Start();
  for (TgxProfile* c : {dm->gxProfileGame2.get(), dm->gxProfileSettingGroup.get(),
                        dm->gxProfileAllSettingInfo.get()}) {
    c->MemoryStream().assign(100, 0xCC);
    c->RestoreToDefault();
  }
  ASSERT_EQ(dm->gxProfileGame2->MemoryStream().size(), sizeof(TMouseProfileInfo));
  auto p = Image(*dm->gxProfileGame2);
  EXPECT_EQ(p->ConfigInfo.CurrentCPIIndex, 1);
  EXPECT_EQ(p->ProfileHeader.FFileType[0], 0xCC) << "stored bytes survive";
  EXPECT_EQ(p->MacroKeyInfoList.nMacroInfoCount, 0) << "new bytes are zero";
  EXPECT_EQ(dm->gxProfileSettingGroup->MemoryStream().size(), sizeof(TProfileSettingGroup));
  EXPECT_EQ(dm->gxProfileAllSettingInfo->MemoryStream().size(), sizeof(TALLGAMESINFO));
}

TEST_F(Defaults, TestProfileReportsButtonsByMaskAndIsZeroElsewhere) {
  auto dm = Start();
  dm->FTestProfileInfo.ConfigInfo.ApplicationList[0] = 1;
  dm->InitTestDefaultValue();
  const TMouseProfileInfo& t = dm->FTestProfileInfo;
  EXPECT_EQ(t.ConfigInfo.ButtonCount, 19);
  EXPECT_EQ(t.ConfigInfo.ApplicationList[0], 0) << "the whole image is zeroed first";
  EXPECT_EQ(t.ConfigInfo.ReportRate, 125);
  EXPECT_EQ(t.ConfigInfo.LEDConfig.BREATH_SPEED, 2);
  EXPECT_EQ(t.ConfigInfo.ButtonFuncInfo[3].TypeCode, 5);
  EXPECT_EQ(t.ConfigInfo.ButtonFuncInfo[4].ValueCode, 5);
  const std::uint8_t* m8 = t.ConfigInfo.ButtonFuncInfo[8].FuncParam.ReportMask;
  const std::uint8_t* m16 = t.ConfigInfo.ButtonFuncInfo[16].FuncParam.ReportMask;
  EXPECT_EQ((std::vector<int>{m8[0], m8[1], m8[2]}), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ((std::vector<int>{m16[0], m16[1], m16[2]}), (std::vector<int>{0, 0, 1}));
  for (int b = 5; b <= 18; ++b) {
    EXPECT_EQ(t.ConfigInfo.ButtonFuncInfo[b].TypeCode, 19);
    EXPECT_EQ(t.ConfigInfo.ButtonFuncInfo[b].FunctionKind, 11);
  }
  EXPECT_EQ(dm->FDefaultProfileInfo.ConfigInfo.LEDConfig.G, 255);
  EXPECT_EQ(dm->FDefaultProfileInfo.ConfigInfo.ButtonCount, 18);
  EXPECT_FALSE(Value("Z7700ProfileTest.pfd"));
  EXPECT_FALSE(Value("Z7700ProfileDef.pfd"));
}

TEST_F(Defaults, GroupRecordNamesFilesAndMacroFoldersFromTheOptions) {
  auto dm = Start();
  const TProfileSettingGroup& g = dm->FProfileSettingGroup;
  const std::string profiles =
      path::WithTrailingSep(path::Join(sim.paths.DocumentsDir(), "Profile"));
  for (int i = 0; i < kProfileCount; ++i) {
    const TPROFILESETTINGINFO& s = g.ProfileSettingList[i];
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(ReadField(s.ProfileFileName), "Profile" + n + ".pfd");
    EXPECT_EQ(ReadField(s.ProfileFilePath), profiles);
    EXPECT_EQ(ReadField(s.MacroFolder), profiles + path::kSep + "Profile" + n + "_Macros");
    EXPECT_EQ(ReadField(s.RegistryFolder), kv::testing::kStoreKey);
    EXPECT_EQ(s.StorageType, 0);
  }
  EXPECT_EQ(g.ProfileIndexOfProfileGroup[0], 0);
  EXPECT_EQ(g.ProfileIndexOfProfileGroup[1], 1);
}

TEST_F(Defaults, APrefixTooLongForTheNameFieldIsAnErrorAndTheRecordStaysUntouched) {
  std::ofstream(sim.paths.ConfigFile())
      << "[options]\nprofilePrefix=" << std::string(16, 'P') << "\n";
  auto dm = Start();
  EXPECT_NE(dm->StartupError(), "");
  EXPECT_FALSE(Value("ProfileSettingGroup.pfd"));
}

TEST_F(Defaults, PartialResetsChangeOnlyTheirFieldsOfTheWorkingCopy) {
  auto dm = Start();
  const auto writes = sim.registry.WriteCount();
  dm->RestoreToDefaultCPISetting();
  const TMOUSECONFIGINFO& c = dm->FCurrentProfileInfo.ConfigInfo;
  EXPECT_EQ(c.CPILevel, 5);
  EXPECT_EQ(c.CPIState[3].CPIX, 8200);
  EXPECT_EQ(c.CPIState[3].CPIEnabled, 1);
  EXPECT_EQ(c.CPIState[4].CPIX, 0);
  EXPECT_EQ(c.CPIState[4].CPIEnabled, 0);
  EXPECT_EQ(c.CurrentCPIIndex, 1);
  EXPECT_EQ(c.UseDiffentXY[3], 0);
  EXPECT_EQ(c.UseDiffentXY[4], 1);

  dm->RestoreToDefaultLightAndReportAdvancedSetting();
  EXPECT_EQ(c.ReportRate, 125);
  EXPECT_EQ(c.LEDConfig.R, 255);
  EXPECT_EQ(c.LEDConfig.G, 0);
  EXPECT_EQ(c.LEDConfig.BREATH_SPEED, 3);
  EXPECT_FALSE(dm->IsProfileChanged(0));
  EXPECT_EQ(sim.registry.WriteCount(), writes);
  EXPECT_EQ(Image(*dm->gxProfileGame1)->ConfigInfo.ReportRate, 500) << "only the working copy";
}

}  // namespace
