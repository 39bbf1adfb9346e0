// kvhid, run in-process against files and the sim HID service.
#include "tools/kvhid/kvhid.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hid_fixture.h"

using namespace kv;
using namespace kv::testing;

namespace {

class KvhidTest : public HidTest {
 protected:
  std::string File(const std::string& name, const std::string& content) {
    const std::string path = p.paths.Root() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  int Run(std::vector<std::string> args, platform::Hid* service = nullptr) {
    out.str("");
    err.str("");
    return tools::RunKvhid(args, service, out, err);
  }
  std::ostringstream out, err;
};

TEST_F(KvhidTest, DescribeReadsBinaryAndHexTextAlike) {
  const Bytes d = MouseDescriptor();
  const auto bin = File("mouse.bin", std::string(d.begin(), d.end()));
  std::string hex;
  for (auto b : d) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02X, ", b);
    hex += s;
  }
  const auto txt = File("mouse.txt", hex + "\n");
  const std::string expected =
      "{\"collections\": [{\"usage_page\": 65440, \"usage\": 1, \"input_len\": 8, \"output_len\": "
      "9, "
      "\"feature_len\": 5}]}\n";
  ASSERT_EQ(Run({"describe", bin, "--json"}), 0) << err.str();
  EXPECT_EQ(out.str(), expected);
  ASSERT_EQ(Run({"--json", "describe", txt}), 0) << err.str();
  EXPECT_EQ(out.str(), expected);
  ASSERT_EQ(Run({"describe", txt}), 0);
  EXPECT_NE(out.str().find("usage page 0xFFA0, usage 0x0001, input 8, output 9, feature 5"),
            std::string::npos);
}

TEST_F(KvhidTest, UsagesListsTheButtonsOnInTheReport) {
  const Bytes d = MouseDescriptor();
  const auto bin = File("mouse.bin", std::string(d.begin(), d.end()));
  ASSERT_EQ(Run({"usages", bin, "07 05 00 80 00 00 00 00", "--json"}), 0) << err.str();
  EXPECT_EQ(out.str(), "{\"usages\": [[9, 1], [9, 3], [9, 24]]}\n");
  EXPECT_EQ(Run({"usages", bin, "0800000000000000"}), 1);  // no input report 8
  EXPECT_NE(err.str().find("report with ID 8"), std::string::npos);
}

TEST_F(KvhidTest, ErrorsAreOneLineOnStderrWithANonZeroExit) {
  const auto truncated = File("bad.bin", std::string("\x05\x01\x09\x02\xA1\x01\x26\xFF", 8));
  const auto garbage = File("bad.txt", "05 01 zz");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"describe"},
      {"describe", p.paths.Root() + "/missing.bin"},
      {"describe", truncated},
      {"describe", garbage},
      {"usages", truncated, "07"},
      {"usages", File("m.bin", "\x06\xA0\xFF\x09\x01\xA1\x01\xC0"), "7"},
      {"frobnicate"},
      {"list", "--yaml"},
      {"list"},  // no HID service
  };
  for (const auto& args : cases) {
    EXPECT_NE(Run(args), 0);
    const std::string e = err.str();
    EXPECT_EQ(e.rfind("kvhid: ", 0), 0u) << e;
    EXPECT_TRUE(out.str().empty());
  }
  Run({"list"});
  EXPECT_EQ(err.str(), "kvhid: no HID service is available on this machine\n");
}

TEST_F(KvhidTest, ListShowsEveryInterfaceWithIdsAndCapabilities) {
  Plug("\\\\?\\hid#vid_1044&pid_7a0d&mi_01#a",
       {"HID\\VID_1044&PID_7A0D&MI_01", "HID\\VID_1044&PID_7A0D"});
  const auto broken = Plug("b", {});
  hid.FailOpen(broken, true);
  ASSERT_EQ(Run({"list", "--json"}, &hid), 0) << err.str();
  EXPECT_EQ(
      out.str(),
      "{\"interfaces\": [{\"path\": \"\\\\\\\\?\\\\hid#vid_1044&pid_7a0d&mi_01#a\", "
      "\"hardware_ids\": "
      "[\"HID\\\\VID_1044&PID_7A0D&MI_01\", \"HID\\\\VID_1044&PID_7A0D\"], \"usage_page\": 65440, "
      "\"usage\": 1, \"input_len\": 8, \"output_len\": 9, \"feature_len\": 5}, {\"path\": \"b\", "
      "\"hardware_ids\": [], \"error\": \"cannot open or read its capabilities\"}]}\n");
  hid.SetInterfacesUnavailable(true);
  EXPECT_EQ(Run({"list"}, &hid), 1);
}

}  // namespace

namespace {

TEST_F(KvhidTest, UdevRuleCoversUsbAndBluetoothOfEveryListedDeviceInEitherCase) {
  const auto ini = File("config.ini",
                        "[IncludeHIDDeviceList]\n"
                        "id1=HID\\VID_1044&PID_7A0D&MI_01\n"
                        "id2=hid\\vid_1044&pid_7a0d&mi_02&col01\n"  // the same device again
                        "id3=HID\\VID_04B4\n"                       // any product of a vendor
                        "id4=HID_DEVICE_UP:FFA0_U:0001\n");         // names no vendor
  ASSERT_EQ(Run({"udev-rule", "--config", ini, "--group", "kvusers"}), 0) << err.str();
  const std::string access = ", TAG+=\"uaccess\", GROUP=\"kvusers\", MODE=\"0660\"\n";
  const std::string rule = out.str();
  EXPECT_NE(rule.find("SUBSYSTEM==\"hidraw\", KERNELS==\"0003:1044:7[aA]0[dD].*\"" + access),
            std::string::npos)
      << rule;
  EXPECT_NE(rule.find("SUBSYSTEM==\"hidraw\", KERNELS==\"0005:1044:7[aA]0[dD].*\"" + access),
            std::string::npos);
  EXPECT_NE(rule.find("KERNELS==\"0003:04[bB]4:*\""), std::string::npos);
  EXPECT_NE(rule.find("KERNELS==\"0005:04[bB]4:*\""), std::string::npos);
  EXPECT_NE(rule.find("# skipped (no vendor ID): HID_DEVICE_UP:FFA0_U:0001"), std::string::npos);
  // One line per device and bus: the duplicate adds none, and nothing falls back to the probe.
  EXPECT_EQ(std::count(rule.begin(), rule.end(), '\n') - 4, 4) << rule;
  EXPECT_EQ(rule.find("udev-probe"), std::string::npos);
  // Outside a [xX] class no letter may stand: it would miss the other case.
  for (std::size_t at = 0; (at = rule.find("KERNELS==\"", at)) != std::string::npos; ++at) {
    const std::size_t from = at + 10;
    std::string value = rule.substr(from, rule.find('"', from) - from);
    for (std::size_t c; (c = value.find('[')) != std::string::npos;) value.erase(c, 4);
    EXPECT_EQ(value.find_first_of("abcdefABCDEF"), std::string::npos) << value;
  }
}

TEST_F(KvhidTest, UdevRuleWithoutDevicesFindsTheControlCollectionThroughTheProbe) {
  const auto ini = File("config.ini", "[IncludeHIDDeviceList]\n;id1=HID\\VID_0000\n");
  ASSERT_EQ(Run({"udev-rule", "--config", ini, "--kvhid", "/usr/bin/kvhid"}), 0) << err.str();
  EXPECT_NE(out.str().find("IMPORT{program}=\"/usr/bin/kvhid udev-probe %S%p\""), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("ENV{KVMON_CONTROL}==\"1\", TAG+=\"uaccess\", GROUP=\"plugdev\""),
            std::string::npos);

  // The probe reads the node's descriptor as sysfs shows it.
  const Bytes mouse = MouseDescriptor();
  const std::string node = p.paths.Root() + "/hidraw7";
  std::filesystem::create_directories(node + "/device");
  std::ofstream(node + "/device/report_descriptor", std::ios::binary)
      << std::string(mouse.begin(), mouse.end());
  ASSERT_EQ(Run({"udev-probe", node}), 0) << err.str();
  EXPECT_EQ(out.str(), "KVMON_CONTROL=1\n");
  // A keyboard (no control collection) and a descriptor that does not parse: no property.
  for (const std::string& d : {std::string("\x05\x01\x09\x06\xA1\x01\x05\x07\xC0", 9),
                               std::string("\x05\x01\x09\x02\xA1\x01", 6)}) {
    std::ofstream(node + "/device/report_descriptor", std::ios::binary) << d;
    ASSERT_EQ(Run({"udev-probe", node}), 0) << err.str();
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(Run({"udev-probe", p.paths.Root() + "/nothing"}), 1);
}

TEST_F(KvhidTest, UdevRuleRefusesAMissingConfigAndAnUnusableGroup) {
  EXPECT_EQ(Run({"udev-rule"}), 1);  // no default config.ini in-process
  EXPECT_EQ(err.str(), "kvhid: no config.ini: name one with --config\n");
  EXPECT_EQ(Run({"udev-rule", "--config", p.paths.Root() + "/none.ini"}), 1);
  const auto ini = File("config.ini", "");
  EXPECT_EQ(Run({"udev-rule", "--config", ini, "--group", "a\"b"}), 2);
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
