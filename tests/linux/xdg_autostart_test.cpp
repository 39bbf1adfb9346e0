// Start at login through XDG autostart entries, in a private config tree.
#include "platform/linux/xdg_autostart.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/ini_file.h"

using kv::platform::linux_::XdgAutostart;
namespace fs = std::filesystem;

namespace {

class Autostart : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("kvautostart-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "etc/xdg/autostart");
    fs::create_directories(root / "usr/xdg");
  }
  void TearDown() override { fs::remove_all(root); }
  XdgAutostart Make(const std::string& exec = "/usr/bin/kvmon") {
    return XdgAutostart((root / "home/.config").string(),
                        {(root / "usr/xdg").string(), (root / "etc/xdg").string()}, exec);
  }
  void SystemEntry(const std::string& extra = "") {
    std::ofstream(root / "etc/xdg/autostart/kvmon.desktop")
        << "[Desktop Entry]\nType=Application\nExec=kvmon\n"
        << extra;
  }
  kv::IniFile UserEntry() {
    return kv::IniFile::Load((root / "home/.config/autostart/kvmon.desktop").string());
  }
  fs::path root;
};

TEST_F(Autostart, TheSystemEntryCountsUntilTheUserHasOne) {
  EXPECT_FALSE(Make().Enabled());
  SystemEntry();
  EXPECT_TRUE(Make().Enabled());
  SystemEntry("X-GNOME-Autostart-enabled=false\n");
  EXPECT_FALSE(Make().Enabled());
  SystemEntry("Hidden=true\n");
  EXPECT_FALSE(Make().Enabled());
  SystemEntry();

  // Off for this user: the user's entry hides the system's.
  Make().SetEnabled(false);
  EXPECT_FALSE(Make().Enabled());
  EXPECT_EQ(UserEntry().ReadString("Desktop Entry", "Hidden", ""), "true");
  EXPECT_TRUE(fs::exists(root / "etc/xdg/autostart/kvmon.desktop")) << "never touched";
  Make().SetEnabled(true);
  EXPECT_TRUE(Make().Enabled());
  EXPECT_EQ(UserEntry().ReadString("Desktop Entry", "Hidden", ""), "");
  EXPECT_EQ(UserEntry().ReadString("Desktop Entry", "Exec", ""), "/usr/bin/kvmon");
  EXPECT_FALSE(fs::exists(root / "home/.config/autostart/kvmon.desktop.tmp"));

  // Without any system entry, the user's alone decides.
  fs::remove(root / "etc/xdg/autostart/kvmon.desktop");
  EXPECT_TRUE(Make().Enabled());
  Make().SetEnabled(false);
  EXPECT_FALSE(Make().Enabled());
}

TEST_F(Autostart, AProgramPathWithBlanksIsQuotedAsTheDesktopEntryFormatSays) {
  Make("/opt/my kvmon/bin/kvmon").SetEnabled(true);
  std::ifstream f(root / "home/.config/autostart/kvmon.desktop");
  std::stringstream text;
  text << f.rdbuf();
  EXPECT_NE(text.str().find("\nExec=\"/opt/my kvmon/bin/kvmon\"\n"), std::string::npos)
      << text.str();
}

TEST_F(Autostart, AnEntryThatCannotBeWrittenIsAnErrorAndChangesNothing) {
  SystemEntry();
  std::ofstream(root / "home") << "a file where the home folder should be";
  EXPECT_THROW(Make().SetEnabled(false), std::runtime_error);
  EXPECT_TRUE(Make().Enabled());
}

}  // namespace
