// The Linux HID service: the shared HID contract on test nodes that answer as hidraw nodes do
// (so the same read, write and feature code runs as on a kernel node), and what only Linux does:
// sysfs enumeration, hardware IDs in the Windows form, one interface per top-level collection
// with reports filtered and padded, and nodes that come and go with their opener.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "linux/hidraw_test_node.h"
#include "platform/hid_contract.h"
#include "platform/linux/hidraw_hid.h"

using namespace kv::platform;
using namespace kv::platform::linux_;
using kv::test::HidrawTestNode;
namespace fs = std::filesystem;

namespace {

struct HidrawEnv {
  HidrawHid hid_{nullptr};
  std::map<std::string, std::shared_ptr<HidrawTestNode>> nodes;
  int next = 0;
  Hid& hid() { return hid_; }
  bool CanPlug() { return true; }
  std::string Plug(const std::vector<std::uint8_t>& descriptor) {
    const std::string name = "test/contract" + std::to_string(++next);
    nodes[name] =
        std::make_shared<HidrawTestNode>(name, HidNodeIds{0x1234, 0x5678, 0x0100, 1}, descriptor);
    hid_.AddOpener(nodes[name]);
    return name;
  }
  void Input(const std::string& path, const std::vector<std::uint8_t>& report) {
    nodes[path]->Input(report);
  }
  void Unplug(const std::string& path) {
    nodes[path]->Unplug();
    hid_.RemoveOpener(nodes[path]);
  }
  std::vector<std::vector<std::uint8_t>> Outputs(const std::string& path) {
    return nodes[path]->Outputs();
  }
  std::vector<std::vector<std::uint8_t>> FeaturesSet(const std::string& path) {
    return nodes[path]->FeaturesSet();
  }
  void AnswerFeature(const std::string& path, const std::vector<std::uint8_t>& r) {
    nodes[path]->AnswerFeature(r);
  }
  void WaitForReader(const std::string& path) {
    for (int i = 0; i < 5000 && !nodes[path]->ReaderWaiting(); ++i) usleep(1000);
  }
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Hidraw, HidContract, ::testing::Types<HidrawEnv>);
}

namespace {

TEST(HardwareIds, FollowTheWindowsFormMostSpecificFirst) {
  EXPECT_EQ(SynthesiseHardwareIds({0x046D, 0xC52B, 0x1211, 2}, 1, 0xFFA0, 1),
            (std::vector<std::string>{
                "HID\\VID_046D&PID_C52B&REV_1211&MI_02&Col01", "HID\\VID_046D&PID_C52B&MI_02&Col01",
                "HID\\VID_046D&UP:FFA0_U:0001", "HID_DEVICE_UP:FFA0_U:0001", "HID_DEVICE"}));
  // One collection: no "&Col"; not a USB interface: no "&MI" and no revision.
  EXPECT_EQ(SynthesiseHardwareIds({0x1234, 0x00AB, std::nullopt, std::nullopt}, 0, 1, 2),
            (std::vector<std::string>{"HID\\VID_1234&PID_00AB", "HID\\VID_1234&UP:0001_U:0002",
                                      "HID_DEVICE_UP:0001_U:0002", "HID_DEVICE"}));
}

// A mouse node with two top-level collections: a boot mouse (report 1, 3 data bytes) and the
// vendor collection 0xFFA0/1 (reports 7 and 8, 7 data bytes each).
const std::vector<std::uint8_t> kTwoCollections = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01,              // mouse, report 1
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01,  // 3 buttons
    0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x01,
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08,
    0x95, 0x02, 0x81, 0x06, 0xC0, 0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // vendor collection
    0x85, 0x07, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95,
    0x07, 0x81, 0x02, 0x85, 0x08, 0x09, 0x02, 0x95, 0x07, 0x81, 0x02, 0xC0,
};

TEST(HidrawInterfaces, EachCollectionIsAnInterfaceThatSeesOnlyItsOwnReportsPadded) {
  HidrawHid hid(nullptr);
  auto node = std::make_shared<HidrawTestNode>("test/mouse", HidNodeIds{0x3151, 0x4002, 0x0105, 1},
                                               kTwoCollections);
  hid.AddOpener(node);
  auto list = hid.Interfaces();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].path, "test/mouse#col01");
  EXPECT_EQ((*list)[1].path, "test/mouse#col02");
  EXPECT_EQ((*list)[1].hardwareIds.front(), "HID\\VID_3151&PID_4002&REV_0105&MI_01&Col02");
  EXPECT_EQ(hid.Open("test/mouse", HidOpenMode::Synchronous), nullptr);  // needs its collection
  EXPECT_EQ(hid.Open("test/mouse#col03", HidOpenMode::Synchronous), nullptr);

  auto vendor = hid.Open("test/mouse#col02", HidOpenMode::Overlapped);
  auto mouse = hid.Open("test/mouse#col01", HidOpenMode::Overlapped);
  ASSERT_TRUE(vendor && mouse);
  EXPECT_EQ(vendor->Capabilities()->inputReportByteLength, 8);
  EXPECT_EQ(mouse->Capabilities()->usage, 2);
  auto stop = hid.CreateStopEvent();
  node->Input({1, 0x01, 0x05, 0xFB});  // mouse movement: not for the vendor interface
  node->Input({7, 0x08});              // short report 7: padded to 8 bytes
  node->Input({8, 1, 3, 0, 0, 0, 0, 0});
  std::vector<std::uint8_t> buf(8, 0xEE);
  auto r = vendor->Read(buf, *stop, 0);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(r.bytes, 8u);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{7, 0x08, 0, 0, 0, 0, 0, 0}));
  r = vendor->Read(buf, *stop, 0);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{8, 1, 3, 0, 0, 0, 0, 0}));
  std::vector<std::uint8_t> mbuf(4);
  r = mouse->Read(mbuf, *stop, 0);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(mbuf, (std::vector<std::uint8_t>{1, 0x01, 0x05, 0xFB}));
  // A report longer than the buffer is cut to it.
  node->Input({7, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  std::vector<std::uint8_t> small(4);
  r = vendor->Read(small, *stop, 0);
  ASSERT_EQ(r.status, HidReadStatus::Report);
  EXPECT_EQ(r.bytes, 4u);
  EXPECT_EQ(small, (std::vector<std::uint8_t>{7, 1, 2, 3}));
}

TEST(HidrawInterfaces, AnOpenerIsAddedOnceAndNoNodeNameTwice) {
  HidrawHid hid(nullptr);
  auto v = std::make_shared<HidrawTestNode>("v", HidNodeIds{}, kTwoCollections);
  hid.AddOpener(v);
  EXPECT_THROW(hid.AddOpener(v), std::invalid_argument);
  EXPECT_THROW(hid.AddOpener(std::make_shared<HidrawTestNode>("v", HidNodeIds{}, kTwoCollections)),
               std::invalid_argument);
  // A node whose descriptor does not parse (an unbalanced collection) is neither listed nor opened.
  auto w =
      std::make_shared<HidrawTestNode>("w", HidNodeIds{}, std::vector<std::uint8_t>{0xA1, 0x01});
  hid.AddOpener(w);
  EXPECT_EQ(hid.Interfaces()->size(), 2u);
  EXPECT_EQ(hid.Open("w", HidOpenMode::Synchronous), nullptr);
  EXPECT_TRUE(hid.RemoveOpener(w));
  EXPECT_FALSE(hid.RemoveOpener(w));
  EXPECT_TRUE(hid.RemoveOpener(v));
  EXPECT_EQ(hid.Interfaces()->size(), 0u);
  EXPECT_EQ(hid.Open("v#col01", HidOpenMode::Synchronous), nullptr);
}

TEST(HidrawInterfaces, ANodeWhoseDescriptorTheOpenNodeDoesNotGiveIsNotOpened) {
  HidrawHid hid(nullptr);
  auto node = std::make_shared<HidrawTestNode>("n", HidNodeIds{}, contract::kVendorDescriptor);
  hid.AddOpener(node);
  EXPECT_NE(hid.Open("n", HidOpenMode::Synchronous), nullptr);
  node->RefuseDescriptor();
  EXPECT_EQ(hid.Interfaces()->size(), 1u);  // listed from what the opener says
  EXPECT_EQ(hid.Open("n", HidOpenMode::Synchronous), nullptr);
}

TEST(HidrawFeatures, ReportsLongerThanARequestCanCarryAreRefusedBeforeReachingTheNode) {
  HidrawHid hid(nullptr);
  auto node = std::make_shared<HidrawTestNode>("n", HidNodeIds{}, contract::kVendorDescriptor);
  hid.AddOpener(node);
  auto dev = hid.Open("n", HidOpenMode::Synchronous);
  ASSERT_NE(dev, nullptr);
  // A feature request carries the report's length in 14 bits of its request number.
  std::vector<std::uint8_t> huge(16384, 0);
  huge[0] = 9;
  EXPECT_EQ(dev->GetFeature(huge), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(dev->SetFeature(huge), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(node->FeatureRequests(), 0u);
  std::vector<std::uint8_t> longest(16383, 0);
  longest[0] = 9;
  EXPECT_EQ(dev->SetFeature(longest), 0u);
  ASSERT_EQ(node->FeaturesSet().size(), 1u);
  EXPECT_EQ(node->FeaturesSet()[0].size(), 16383u);
}

// A sysfs tree laid out as the kernel does for a USB mouse: the hidraw class entry links to the
// HID device, below the USB interface (bInterfaceNumber), below the USB device (bcdDevice).
class SysfsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("kvsys-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    const fs::path usbDev = root / "sys/devices/pci0000:00/usb1/1-2";
    const fs::path usbIf = usbDev / "1-2:1.1";
    const fs::path hidDev = usbIf / "0003:3151:4002.0007";
    fs::create_directories(hidDev / "hidraw/hidraw5");
    Write(usbDev / "bcdDevice", "0105\n");
    Write(usbIf / "bInterfaceNumber", "01\n");
    Write(hidDev / "uevent",
          "DRIVER=hid-generic\nHID_ID=0003:00003151:00004002\nHID_NAME=Gaming Mouse\n");
    std::ofstream(hidDev / "report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(kTwoCollections.data()), kTwoCollections.size());
    fs::create_directories(root / "sys/class/hidraw");
    fs::create_directory_symlink(hidDev / "hidraw/hidraw5", root / "sys/class/hidraw/hidraw5");
    fs::create_directory_symlink(hidDev, hidDev / "hidraw/hidraw5/device");
    // A node whose descriptor is unreadable garbage is not offered.
    const fs::path bad = root / "sys/devices/virtual/0005:0001:0002.0009";
    fs::create_directories(bad / "hidraw/hidraw2");
    Write(bad / "uevent", "HID_ID=0005:00000001:00000002\n");
    Write(bad / "report_descriptor", std::string("\xA1\x01", 2));
    fs::create_directory_symlink(bad / "hidraw/hidraw2", root / "sys/class/hidraw/hidraw2");
    fs::create_directory_symlink(bad, bad / "hidraw/hidraw2/device");
  }
  void TearDown() override { fs::remove_all(root); }
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  fs::path root;
};

TEST_F(SysfsFixture, NodesAreReadWithTheirUsbInterfaceAndRevision) {
  auto nodes = ScanHidrawNodes((root / "sys").string(), "/dev");
  ASSERT_EQ(nodes.size(), 2u);  // the scan keeps both; the descriptor is judged later
  EXPECT_EQ(nodes[0].devNode, "/dev/hidraw2");
  EXPECT_FALSE(nodes[0].ids.interfaceNumber);
  const auto& n = nodes[1];
  EXPECT_EQ(n.devNode, "/dev/hidraw5");
  EXPECT_EQ(n.ids.vendorId, 0x3151);
  EXPECT_EQ(n.ids.productId, 0x4002);
  EXPECT_EQ(n.ids.revision, std::optional<std::uint16_t>(0x0105));
  EXPECT_EQ(n.ids.interfaceNumber, std::optional<std::uint8_t>(1));
  EXPECT_EQ(n.descriptor, kTwoCollections);
}

TEST_F(SysfsFixture, InterfacesListEachCollectionWithWindowsStyleIdsAndSkipBadNodes) {
  HidrawHid hid(
      std::make_shared<SysfsHidrawOpener>((root / "sys").string(), (root / "dev").string()));
  auto list = hid.Interfaces();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  const std::string dev = (root / "dev/hidraw5").string();
  EXPECT_EQ((*list)[0].path, dev + "#col01");
  EXPECT_EQ((*list)[1].path, dev + "#col02");
  EXPECT_EQ((*list)[1].hardwareIds,
            (std::vector<std::string>{
                "HID\\VID_3151&PID_4002&REV_0105&MI_01&Col02", "HID\\VID_3151&PID_4002&MI_01&Col02",
                "HID\\VID_3151&UP:FFA0_U:0001", "HID_DEVICE_UP:FFA0_U:0001", "HID_DEVICE"}));
  EXPECT_EQ(hid.PathsOfNode(dev), (std::vector<std::string>{dev + "#col01", dev + "#col02"}));
  // There is no device node in the fixture: the path is known but cannot be opened. Nor can a
  // file in its place that does not answer the hidraw requests.
  EXPECT_EQ(hid.Open(dev + "#col02", HidOpenMode::Synchronous), nullptr);
  fs::create_directories(root / "dev");
  Write(root / "dev/hidraw5", "not a device");
  EXPECT_EQ(hid.Open(dev + "#col02", HidOpenMode::Synchronous), nullptr);
}

TEST_F(SysfsFixture, WhyNotOpenNamesTheNodeAndTellsDeniedAccessFromOtherFailures) {
  HidrawHid hid(
      std::make_shared<SysfsHidrawOpener>((root / "sys").string(), (root / "dev").string()));
  ASSERT_TRUE(hid.Interfaces());
  const std::string dev = (root / "dev/hidraw5").string();
  auto why = hid.WhyNotOpen(dev + "#col02");
  ASSERT_TRUE(why);
  EXPECT_FALSE(why->accessDenied);
  EXPECT_EQ(why->detail, dev + ": " + std::strerror(ENOENT));
  why = hid.WhyNotOpen((root / "dev/hidraw9").string());
  ASSERT_TRUE(why);
  EXPECT_NE(why->detail.find("no such HID interface"), std::string::npos) << why->detail;

  fs::create_directories(root / "dev");
  Write(dev, "");
  fs::permissions(dev, fs::perms::none);
  why = hid.WhyNotOpen(dev + "#col01");
  ASSERT_TRUE(why);
  if (geteuid() != 0) {  // root opens a file whatever its mode
    EXPECT_TRUE(why->accessDenied);
    EXPECT_EQ(why->detail, dev + ": " + std::strerror(EACCES));
  }
  // A file that opens but is no hidraw node is not a matter of rights.
  fs::permissions(dev, fs::perms::owner_read | fs::perms::owner_write);
  why = hid.WhyNotOpen(dev + "#col01");
  ASSERT_TRUE(why);
  EXPECT_FALSE(why->accessDenied);
  EXPECT_EQ(why->detail, dev + ": does not answer as a hidraw node");
}

TEST(HidrawInterfaces, PathsOutsideTheDeviceFolderAreRefused) {
  HidrawHid hid;
  EXPECT_EQ(hid.Open("/dev/null", HidOpenMode::Synchronous), nullptr);
  EXPECT_EQ(hid.Open("/dev/hidraw", HidOpenMode::Synchronous), nullptr);
  EXPECT_EQ(hid.Open("/dev/hidraw0/../null", HidOpenMode::Synchronous), nullptr);
  EXPECT_EQ(hid.Open("/etc/passwd", HidOpenMode::Synchronous), nullptr);
}

}  // namespace
