// kvstore's JSON output stays JSON whatever bytes config.ini holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class KvstoreJson : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("kvstore-json-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "bin");
    fs::create_directories(root_ / "home");
    fs::copy_file(KVSTORE_BINARY, root_ / "bin" / "kvstore");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Exit status and standard output of the tool; standard error goes to `err`.
  int Run(const std::string& args, std::string& out, std::string& err) {
    const std::string cmd = "env -u XDG_CONFIG_HOME HOME='" + (root_ / "home").string() +
                            "' KVMON_REGISTRY='" + (root_ / "store.db").string() + "' '" +
                            (root_ / "bin" / "kvstore").string() + "' " + args + " >'" +
                            (root_ / "out").string() + "' 2>'" + (root_ / "err").string() + "'";
    const int status = std::system(cmd.c_str());
    out = Slurp(root_ / "out");
    err = Slurp(root_ / "err");
    return WEXITSTATUS(status);
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path root_;
};

TEST_F(KvstoreJson, BytesThatAreNotUtf8InConfigIniPrintAsReplacementCharacters) {
  // Latin-1 "é", a lone continuation byte and a truncated sequence, in every kind of value that
  // the options print, the registry folder included (dump prints it too).
  std::ofstream(root_ / "bin" / "config.ini", std::ios::binary)
      << "[options]\nProfileRegFolder=Acme\xE9\nprofilePrefix=P\x80x\n"
      << "[OtherConfig]\nOfficialWebsite=http://a\xE2\x82/\n"
      << "[HelpFiles]\nen=a\xFF.chm\n"
      << "[IncludeHIDDeviceList]\nid1=HID\\VID_12\xC3\n";
  std::string out, err;
  ASSERT_EQ(Run("options --json", out, err), 0) << err;
  const json o = json::parse(out);  // throws, failing the test, if the output is not JSON
  EXPECT_EQ(o["profile_reg_folder"], "software\\Acme\xEF\xBF\xBD");
  EXPECT_EQ(o["official_website"], "http://a\xEF\xBF\xBD/");
  EXPECT_EQ(o["help_files"][0][1], "a\xEF\xBF\xBD.chm");
  EXPECT_EQ(o["include_hid_devices"][0], "HID\\VID_12\xEF\xBF\xBD");

  ASSERT_EQ(Run("dump --json", out, err), 0) << err;
  const json d = json::parse(out);
  EXPECT_EQ(d["registry_folder"], "software\\Acme\xEF\xBF\xBD");
  ASSERT_EQ(d["profiles"].size(), 5u);

  // The plain listing shows the same replacement character.
  ASSERT_EQ(Run("options", out, err), 0) << err;
  EXPECT_NE(out.find("help file en = a\xEF\xBF\xBD.chm"), std::string::npos) << out;
}

}  // namespace
