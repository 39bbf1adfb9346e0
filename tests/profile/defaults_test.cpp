#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "base/path.h"
#include "base/strings.h"
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

TEST_F(Defaults, APrefixTooLongForTheNameFieldGivesWaySoTheNamesStayDistinct) {
  // 17 units of prefix, "1.pfd" and the terminator do not fit 21 units: the prefix is cut.
  std::ofstream(sim.paths.ConfigFile()) << "[options]\nprofilePrefix=P ; not a comment\n";
  auto dm = Start();
  ASSERT_EQ(dm->StartupError(), "");
  auto g = Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd");
  ASSERT_TRUE(g);
  for (int i = 0; i < kProfileCount; ++i) {
    const TPROFILESETTINGINFO& s = g->ProfileSettingList[i];
    EXPECT_EQ(ReadField(s.ProfileFileName), "P ; not a comme" + std::to_string(i + 1) + ".pfd");
    // The macro folder's field has room for the whole prefix.
    EXPECT_NE(ReadField(s.MacroFolder).find("P ; not a comment" + std::to_string(i + 1)),
              std::string::npos);
  }
  const auto lines = sim.debug.Lines();
  ASSERT_EQ(lines.size(), 1u) << "one trace per group record written";
  EXPECT_NE(lines[0].find("P ; not a comme1.pfd"), std::string::npos) << lines[0];

  // A prefix that fills the field on its own keeps only what leaves room for number and type; a
  // surrogate pair is never split.
  std::ofstream(sim.paths.ConfigFile())
      << "[options]\nprofilePrefix=" << std::string(14, 'Q') << "\xF0\x9F\x96\xB1x\n";
  dm->FOptionsFromConfigFile = LoadOptionsFromConfigFile(sim.paths);
  dm->RestoreProfileSettingGroupToDefault();
  g = Stored<TProfileSettingGroup>("ProfileSettingGroup.pfd");
  EXPECT_EQ(ReadField(g->ProfileSettingList[4].ProfileFileName), std::string(14, 'Q') + "5.pfd");
}

TEST_F(Defaults, AFolderTextTooLongForItsFieldIsCutAtTheFieldAndTraced) {
  std::ofstream(sim.paths.ConfigFile())
      << "[options]\nProfileRegFolder=" << std::string(1100, 'R') << "\n";
  auto dm = Start();
  ASSERT_EQ(dm->StartupError(), "");
  EXPECT_EQ(dm->FOptionsFromConfigFile.ProfileRegFolder.size(), 1109u) << "the key uses all of it";
  const auto& g = dm->FProfileSettingGroup;
  ASSERT_TRUE(sim.registry.Value(platform::RootKey::CurrentUser,
                                 dm->FOptionsFromConfigFile.ProfileRegFolder,
                                 "ProfileSettingGroup.pfd"));
  for (const TPROFILESETTINGINFO& s : g.ProfileSettingList) {
    EXPECT_EQ(ReadField(s.RegistryFolder),
              dm->FOptionsFromConfigFile.ProfileRegFolder.substr(0, 1023));
    EXPECT_EQ(s.RegistryFolder[1023], 0);
  }
  const auto lines = sim.debug.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("registry folder"), std::string::npos) << lines[0];
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

// --- every field against the transcription in data/default_records.txt -----------------------

constexpr std::uint8_t kMarker = 0xEE;

struct Expected {
  std::vector<std::pair<std::size_t, std::size_t>> zeros;                // offset, size
  std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> bytes;  // offset, bytes
  std::vector<std::pair<std::size_t, double>> dates;
};

std::size_t Offset(const std::string& text) {
  std::size_t sum = 0;
  for (const std::string& term : Split(text, '+'))
    sum += term[0] == 'B' ? 872 + 4168 * std::stoul(term.substr(1)) : std::stoul(term);
  return sum;
}

// The file's records by name; `docs` and the separator fill in the texts of the group record.
std::map<std::string, Expected> ReadTranscription(const std::string& docs) {
  std::map<std::string, Expected> records;
  std::ifstream file(KV_DEFAULT_RECORDS_FILE);
  EXPECT_TRUE(file) << "cannot read " << KV_DEFAULT_RECORDS_FILE;
  std::vector<std::string> current;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      current = Split(line.substr(1, line.find(']') - 1), ' ');
      continue;
    }
    if (current.empty()) {
      ADD_FAILURE() << "a line before any [record]: " << line;
      continue;
    }
    // Three words, then the rest of the line (a text, a date's value, or a field's name).
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; w.size() < 3 && in >> word;) w.push_back(word);
    std::string rest;
    std::getline(in, rest);
    rest = std::string(TrimBlanks(rest));
    if (w.size() < 3) {
      ADD_FAILURE() << "incomplete line: " << line;
      continue;
    }
    for (const std::string& name : current) {
      Expected& e = records[name];
      if (w[0] == "zero") {
        e.zeros.push_back({Offset(w[1]), std::stoul(w[2])});
      } else if (w[0] == "text") {
        std::string text = rest;
        for (auto [from, to] : {std::pair<std::string, std::string>{"{docs}", docs},
                                {"{sep}", std::string(1, path::kSep)}})
          for (std::size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, from.size(), to);
        std::vector<std::uint8_t> units;
        for (char16_t u : Utf8ToUtf16(text) + u'\0')
          units.insert(units.end(),
                       {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)});
        EXPECT_LE(units.size(), 2 * std::stoul(w[2])) << line;
        e.bytes.push_back({Offset(w[1]), units});
      } else if (w[2] == "date") {
        e.dates.push_back({Offset(w[0]), std::stod(rest)});
      } else {
        std::uint64_t v = std::stoull(w[2]);
        std::vector<std::uint8_t> le;
        for (std::size_t i = 0; i < std::stoul(w[1]); ++i, v >>= 8)
          le.push_back(static_cast<std::uint8_t>(v));
        e.bytes.push_back({Offset(w[0]), le});
      }
    }
  }
  return records;
}

// Compares an image with what its transcription says, byte by byte.
void ExpectImage(const std::uint8_t* got, std::size_t size, const Expected& e,
                 const std::string& name) {
  SCOPED_TRACE(name);
  std::vector<std::uint8_t> want(size, kMarker);
  std::vector<bool> isDate(size, false);
  for (auto [at, n] : e.zeros) std::fill_n(want.begin() + at, n, 0);
  for (const auto& [at, b] : e.bytes) std::copy(b.begin(), b.end(), want.begin() + at);
  for (auto [at, d] : e.dates) {
    double stored = 0;
    std::memcpy(&stored, got + at, sizeof stored);
    EXPECT_NEAR(stored, d, 1e-9) << "date-time at " << at;  // 1e-9 days: well below 1 ms
    std::fill_n(isDate.begin() + at, 8, true);
  }
  int reported = 0;
  for (std::size_t i = 0; i < size && reported < 10; ++i)
    if (!isDate[i] && got[i] != want[i]) {
      ADD_FAILURE() << "byte " << i << " is " << int(got[i]) << ", expected " << int(want[i]);
      ++reported;
    }
}

TEST_F(Defaults, EveryHandlerWritesExactlyTheTranscribedFields) {
  sim.clock.SetLocalTime({2026, 3, 14, 15, 9, 26, 535});
  auto dm = Start();
  const auto records = ReadTranscription(sim.paths.DocumentsDir());
  for (const char* name : {"game0", "game1", "game2", "game3", "game4", "default", "test", "group",
                           "all", "cpireset", "lightreset"})
    ASSERT_TRUE(records.count(name)) << name;

  const std::pair<const char*, TgxProfile*> components[] = {
      {"game0", dm->gxProfileGame1.get()},       {"game1", dm->gxProfileGame2.get()},
      {"game2", dm->gxProfileGame3.get()},       {"game3", dm->gxProfileGame4.get()},
      {"game4", dm->gxProfileGame5.get()},       {"default", dm->gxProfileDefaultGame.get()},
      {"test", dm->gxProfileTest.get()},         {"group", dm->gxProfileSettingGroup.get()},
      {"all", dm->gxProfileAllSettingInfo.get()}};
  for (auto [name, c] : components) {
    const std::size_t size = std::string_view(name) == "group" ? sizeof(TProfileSettingGroup)
                             : std::string_view(name) == "all" ? sizeof(TALLGAMESINFO)
                                                               : sizeof(TMouseProfileInfo);
    c->MemoryStream().assign(size, kMarker);
    c->RestoreToDefault();
    ASSERT_EQ(c->MemoryStream().size(), size) << name;
    ExpectImage(c->MemoryStream().data(), size, records.at(name), name);
  }

  auto* working = reinterpret_cast<std::uint8_t*>(&dm->FCurrentProfileInfo);
  std::fill_n(working, sizeof(TMouseProfileInfo), kMarker);
  dm->RestoreToDefaultCPISetting();
  ExpectImage(working, sizeof(TMouseProfileInfo), records.at("cpireset"), "cpireset");
  std::fill_n(working, sizeof(TMouseProfileInfo), kMarker);
  dm->RestoreToDefaultLightAndReportAdvancedSetting();
  ExpectImage(working, sizeof(TMouseProfileInfo), records.at("lightreset"), "lightreset");
}

}  // namespace
