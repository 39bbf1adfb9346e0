// The command lines of kvmon and its tools, run as the user runs them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int code;
  std::string out, err;
};

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kvcli_" + std::to_string(std::random_device{}()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // No display and no session bus, a private home, store and autostart folders.
  Result Run(const std::string& program, const std::string& args) {
    const fs::path out = root_ / "out", err = root_ / "err";
    const std::string cmd =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CONFIG_HOME "
        "-u DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_DIRS='" +
        root_.string() + "' HOME='" + root_.string() + "' KVMON_REGISTRY='" +
        (root_ / "store.db").string() + "' " + program + " " + args + " >'" + out.string() +
        "' 2>'" + err.string() + "' </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, Slurp(out), Slurp(err)};
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  fs::path root_;
};

struct Program {
  const char* name;
  const char* path;
  std::vector<const char*> usageErrors;
};

const Program kPrograms[] = {
    {"kvmon", KVMON_BINARY, {"--bogus", "--virtual-mouse", "extra"}},
    {"kvstore", KVSTORE_BINARY, {"", "--bogus", "frobnicate", "switch", "switch 9", "dump --xml"}},
    {"kvhid", KVHID_BINARY, {"", "--bogus", "describe", "usages x", "list extra"}},
    {"kvmouse", KVMOUSE_BINARY, {"", "/tmp/s press", "/tmp/s jump 1", "/tmp/s press 24"}},
};

TEST_F(CommandLine, EveryProgramAnswersHelpAndVersionAndRefusesBadUsageAlike) {
  for (const Program& p : kPrograms) {
    for (const char* help : {"--help", "-h"}) {
      const Result r = Run(p.path, help);
      EXPECT_EQ(r.code, 0) << p.name << " " << help << ": " << r.err;
      EXPECT_NE(r.out.find(std::string("Usage: ") + p.name), std::string::npos) << r.out;
      EXPECT_EQ(r.err, "") << p.name;
    }
    const Result v = Run(p.path, "--version");
    EXPECT_EQ(v.code, 0) << p.name;
    EXPECT_EQ(v.out, std::string(p.name) + " " + KV_PROJECT_VERSION + "\n");
    for (const char* args : p.usageErrors) {
      const Result r = Run(p.path, args);
      EXPECT_EQ(r.code, 2) << p.name << " " << args;
      EXPECT_EQ(r.out, "") << p.name << " " << args;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
          << p.name << " " << args << ": " << r.err;
      EXPECT_EQ(r.err.rfind(std::string(p.name) + ": ", 0), 0u) << r.err;
    }
  }
  EXPECT_FALSE(fs::exists(root_ / "store.db")) << "no usage error may open the store";
}

TEST_F(CommandLine, KvhidTellsABadDescriptorFromABadCommandLine) {
  std::ofstream(root_ / "bad.bin", std::ios::binary) << std::string("\x05\x01\x09\x02\xA1\x01", 6);
  const Result r = Run(KVHID_BINARY, "describe '" + (root_ / "bad.bin").string() + "'");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("bad report descriptor"), std::string::npos) << r.err;
}

TEST_F(CommandLine, StatusShowsTheStoreInTheUsersLanguageAndTheEditsOfKvstore) {
  const auto status = [&](const std::string& env) {
    const Result r = Run("env " + env + " " KVMON_BINARY, "--status --json");
    EXPECT_EQ(r.code, 0) << r.err;
    return nlohmann::json::parse(r.out);
  };
  auto s = status("LC_ALL= LC_MESSAGES= LANG=en_US.UTF-8");
  EXPECT_EQ(s["version"], KV_PROJECT_VERSION);
  EXPECT_EQ(s["language"]["short_id"], "US");
  EXPECT_EQ(s["store"]["ok"], true);
  EXPECT_EQ(s["monitor_running"], false);
  EXPECT_EQ(s["profiles"].size(), 5u);
  EXPECT_EQ(s["start_at_login"], false);
  const std::string state = s["mouse"]["state"];
  EXPECT_TRUE(state == "not_found" || state == "ready" || state == "no_access" ||
              state == "cannot_open")
      << state;

  ASSERT_EQ(Run(KVSTORE_BINARY, "set-button 1 4 28").code, 0);
  s = status("LANG=zh_CN.UTF-8");
  EXPECT_EQ(s["language"]["short_id"], "US") << "the store keeps what its first start chose";
  EXPECT_EQ(s["profiles"][1]["mute_buttons"], nlohmann::json::array({4}));
  EXPECT_EQ(s["profiles"][0]["mute_buttons"], nlohmann::json::array());

  const Result text = Run(KVMON_BINARY, "--status");
  EXPECT_NE(text.out.find("1 Profile2.pfd (registry), microphone button: 4"), std::string::npos)
      << text.out;
  const Result quit = Run(KVMON_BINARY, "--quit");
  EXPECT_EQ(quit.code, 0);
  EXPECT_EQ(quit.out, "kvmon is not running\n");
}

TEST_F(CommandLine, AFreshChineseStoreSpeaksChinese) {
  const Result r =
      Run("env LC_ALL= LC_MESSAGES= LANG=zh_CN.UTF-8 " KVMON_BINARY, "--status --json");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["language"]["short_id"], "CH");
}

}  // namespace
