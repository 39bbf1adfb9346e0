#include "profile/options.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/sim/sim_platform.h"

namespace {

using HelpFiles = std::vector<std::pair<std::string, std::string>>;

struct Options : ::testing::Test {
  kv::platform::sim::SimPlatform sim;
  void WriteConfig(const std::string& text) {
    std::ofstream(sim.paths.ConfigFile(), std::ios::binary) << text;
  }
};

TEST_F(Options, WithoutAFileEverythingIsTheDefaultAndTheRegistryFolderGetsItsPrefixTwice) {
  const kv::TOptionsFromConfigFile o = kv::LoadOptionsFromConfigFile(sim.paths);
  EXPECT_EQ(o.ProfileRegFolder, "software\\software\\KVgmmouse");
  EXPECT_EQ(o.ProfileFolder, "Profile");
  EXPECT_EQ(o.ProfileNamePrefix, "Profile");
  EXPECT_EQ(o.ProfileMacroFolder, "MacroDB");
  const kv::TOtherConfig c = kv::LoadOtherConfig(sim.paths);
  EXPECT_EQ(c.Nologo, 0);
  EXPECT_EQ(c.OfficialWebsite, "http://");
  EXPECT_TRUE(c.HelpFile.empty());
}

TEST_F(Options, ValuesAreReadWithCaseBlindNamesAndTheRegistryFolderIsPrefixed) {
  WriteConfig(
      "[OPTIONS]\r\n"
      "profileregfolder = software\\Vendor\r\n"
      "ProfileFolder=Mouse Profiles\r\n"
      "PROFILEPREFIX=\"Game\"\r\n"
      "[OtherConfig]\r\n"
      "OfficialWebsite=https://example.org/a=b\r\n");
  const kv::TOptionsFromConfigFile o = kv::LoadOptionsFromConfigFile(sim.paths);
  EXPECT_EQ(o.ProfileRegFolder, "software\\software\\Vendor");
  EXPECT_EQ(o.ProfileFolder, "Mouse Profiles");
  EXPECT_EQ(o.ProfileNamePrefix, "Game");
  EXPECT_EQ(o.ProfileMacroFolder, "MacroDB");
  EXPECT_EQ(kv::LoadOtherConfig(sim.paths).OfficialWebsite, "https://example.org/a=b");
}

TEST_F(Options, NoLogoIsDecimalOrHexadecimalAndAnythingElseIsZero) {
  for (auto [text, expected] : std::vector<std::pair<const char*, int>>{{"16", 16},
                                                                        {"0x10", 16},
                                                                        {"0X10", 16},
                                                                        {"$10", 16},
                                                                        {"-3", -3},
                                                                        {"yes", 0},
                                                                        {"", 0},
                                                                        {"12abc", 0}}) {
    WriteConfig(std::string("[OtherConfig]\nNoLogo=") + text + "\n");
    EXPECT_EQ(kv::LoadOtherConfig(sim.paths).Nologo, expected) << text;
  }
}

TEST_F(Options, HelpFilesKeepFileOrderAndAnEmptyValueRemovesItsName) {
  WriteConfig("[HelpFiles]\nen=a.chm\nde=\nfr=b.chm\n;it=c.chm\n");
  EXPECT_EQ(kv::LoadOtherConfig(sim.paths).HelpFile, (HelpFiles{{"en", "a.chm"}, {"fr", "b.chm"}}));
  WriteConfig("[HelpFiles]\nen=a.chm\nfr=b.chm\nEN=\n");
  // The duplicate "EN" reads the first value, so it replaces en with the same text.
  EXPECT_EQ(kv::LoadOtherConfig(sim.paths).HelpFile, (HelpFiles{{"en", "a.chm"}, {"fr", "b.chm"}}));
}

TEST_F(Options, IncludeListEndsAtTheFirstGapAndAfterId101) {
  EXPECT_TRUE(kv::LoadIncludeHIDDeviceList(sim.paths).empty());
  WriteConfig("[IncludeHIDDeviceList]\nid1=HID\\VID_1\nID2= b \nid3=\nid4=d\n");
  EXPECT_EQ(kv::LoadIncludeHIDDeviceList(sim.paths), (std::vector<std::string>{"HID\\VID_1", "b"}));
  std::string all = "[IncludeHIDDeviceList]\n";
  for (int n = 1; n <= 102; ++n) all += "id" + std::to_string(n) + "=x" + std::to_string(n) + "\n";
  WriteConfig(all);
  const auto ids = kv::LoadIncludeHIDDeviceList(sim.paths);
  ASSERT_EQ(ids.size(), 101u);
  EXPECT_EQ(ids.back(), "x101");
}

}  // namespace
