#include "profile/options.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

#include "base/ini_file.h"
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

TEST_F(Options, AHelpFileListEndsAtAKeyWithAnEmptyNameAsTheConfiguratorReadsIt) {
  WriteConfig("[HelpFiles]\nen=a.chm\n=nameless\nfr=b.chm\n");
  EXPECT_EQ(kv::LoadOtherConfig(sim.paths).HelpFile, (HelpFiles{{"en", "a.chm"}}));
}

TEST_F(Options, AFileTooLargeForAnOptionsFileGivesTheDefaultsAndSaysWhy) {
  const std::string options = "[options]\nprofileFolder=Elsewhere\n[HelpFiles]\nen=a.chm\n";
  WriteConfig(options);
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(sim.paths).ProfileFolder, "Elsewhere");
  EXPECT_EQ(kv::ConfigFileProblem(sim.paths), "");
  WriteConfig(options + ";" + std::string(kv::IniFile::kMaxFileSize, 'x') + "\n");
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(sim.paths).ProfileFolder, "Profile");
  EXPECT_TRUE(kv::LoadOtherConfig(sim.paths).HelpFile.empty());
  EXPECT_NE(kv::ConfigFileProblem(sim.paths).find("not read"), std::string::npos);
}

TEST_F(Options, ThousandsOfHelpFilesAreReadInLinearTime) {
  // Every name twice, the second time in another case (a duplicate reads the first value, so it
  // replaces the entry with the same text), and names with empty values, which add nothing. A
  // search of the list per key would take minutes here.
  std::string text = "[HelpFiles]\n";
  constexpr int kNames = 30000;
  for (int i = 0; i < kNames; ++i)
    text += "h" + std::to_string(i) + "=a" + std::to_string(i) + "\n";
  for (int i = 0; i < kNames; ++i) text += "H" + std::to_string(i) + "=b\n";
  for (int i = 0; i < kNames; ++i) text += "e" + std::to_string(i) + "=\n";
  WriteConfig(text);
  const std::clock_t start = std::clock();  // processor time where the host has it
  const HelpFiles help = kv::LoadOtherConfig(sim.paths).HelpFile;
  EXPECT_LT(std::clock() - start, 20 * CLOCKS_PER_SEC);
  ASSERT_EQ(help.size(), static_cast<std::size_t>(kNames));
  EXPECT_EQ(help.front(), (std::pair<std::string, std::string>{"h0", "a0"}));
  EXPECT_EQ(help.back(), (std::pair<std::string, std::string>{"h29999", "a29999"}));
}

// A platform that reads unmarked files in Latin-1, as Windows does in code page 1252.
struct Latin1Paths : kv::platform::Paths {
  explicit Latin1Paths(kv::platform::Paths& real) : real_(real) {}
  std::string ExecutableDir() override { return real_.ExecutableDir(); }
  std::string DocumentsDir() override { return real_.DocumentsDir(); }
  std::string DecodeUnmarkedText(std::string_view bytes) override {
    std::string out;
    for (const char b : bytes) {
      const auto c = static_cast<unsigned char>(b);
      if (c < 0x80) out += b;
      else out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    }
    return out;
  }
  kv::platform::Paths& real_;
};

TEST_F(Options, AFileWithoutAMarkIsReadInThePlatformsEncodingAndOneWithAMarkAsMarked) {
  Latin1Paths latin1(sim.paths);
  WriteConfig("[options]\nprofileFolder=Caf\xE9\nprofilePrefix=\xC3\xA9\n");
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(latin1).ProfileFolder, "Caf\xC3\xA9");
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(latin1).ProfileNamePrefix, "\xC3\x83\xC2\xA9");
  // The same bytes on a platform that takes them as UTF-8: the stray byte is replaced, never
  // passed on as malformed text.
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(sim.paths).ProfileFolder, "Caf\xEF\xBF\xBD");
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(sim.paths).ProfileNamePrefix, "\xC3\xA9");
  WriteConfig("\xEF\xBB\xBF[options]\nprofileFolder=Caf\xC3\xA9\n");
  EXPECT_EQ(kv::LoadOptionsFromConfigFile(latin1).ProfileFolder, "Caf\xC3\xA9");
}

}  // namespace
