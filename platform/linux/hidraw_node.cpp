#include "platform/linux/hidraw_node.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/strings.h"

namespace kv::platform::linux_ {
namespace fs = std::filesystem;
namespace {

std::string ReadText(const fs::path& file) {
  std::ifstream f(file);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream f(file, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::optional<unsigned long> ReadHexFile(const fs::path& file) {
  std::string text(TrimBlanks(ReadText(file)));
  if (text.empty()) return std::nullopt;
  try {
    return std::stoul(text, nullptr, 16);
  } catch (...) {
    return std::nullopt;
  }
}

// "HID_ID=0003:0000046D:0000C52B" in the HID device's uevent.
bool ParseHidId(const std::string& uevent, HidNodeIds& ids) {
  std::istringstream in(uevent);
  std::string line;
  while (std::getline(in, line)) {
    unsigned bus = 0, vendor = 0, product = 0;
    if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3) {
      ids.vendorId = static_cast<std::uint16_t>(vendor);
      ids.productId = static_cast<std::uint16_t>(product);
      return true;
    }
  }
  return false;
}

std::optional<HidrawNode> ReadNode(const fs::path& classEntry, const std::string& devRoot) {
  std::error_code ec;
  const fs::path dev = fs::canonical(classEntry / "device", ec);
  if (ec) return std::nullopt;
  HidrawNode node;
  node.devNode = devRoot + "/" + classEntry.filename().string();
  node.sysDir = dev.string();
  node.descriptor = ReadBytes(dev / "report_descriptor");
  if (node.descriptor.empty() || !ParseHidId(ReadText(dev / "uevent"), node.ids))
    return std::nullopt;
  // A USB HID device sits below its USB interface, which sits below the USB device.
  const fs::path usbInterface = dev.parent_path();
  if (auto mi = ReadHexFile(usbInterface / "bInterfaceNumber")) {
    node.ids.interfaceNumber = static_cast<std::uint8_t>(*mi);
    if (auto rev = ReadHexFile(usbInterface.parent_path() / "bcdDevice"))
      node.ids.revision = static_cast<std::uint16_t>(*rev);
  }
  return node;
}

// A hidraw device node of the kernel.
class KernelHidrawFile : public HidrawFile {
 public:
  explicit KernelHidrawFile(int fd) : fd_(fd) {}
  ~KernelHidrawFile() override { close(fd_); }
  int PollDescriptor() const override { return fd_; }
  ssize_t Read(std::uint8_t* buffer, std::size_t size) override {
    const ssize_t n = ::read(fd_, buffer, size);
    return n < 0 ? -errno : n;
  }
  ssize_t Write(const std::uint8_t* data, std::size_t size) override {
    const ssize_t n = ::write(fd_, data, size);
    return n < 0 ? -errno : n;
  }
  int Ioctl(unsigned long request, void* argument) override {
    const int r = ::ioctl(fd_, request, argument);
    return r < 0 ? -errno : r;
  }

 private:
  int fd_;
};

}  // namespace

std::vector<HidrawNode> ScanHidrawNodes(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<HidrawNode> nodes;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "hidraw", ec)) {
    if (auto node = ReadNode(entry.path(), devRoot)) nodes.push_back(std::move(*node));
  }
  // hidraw2 before hidraw10: the numbers are the order the kernel made them.
  auto number = [](const std::string& dev) {
    const auto digits = dev.find_last_not_of("0123456789");
    return std::atoi(dev.c_str() + digits + 1);
  };
  std::sort(nodes.begin(), nodes.end(), [&](const HidrawNode& a, const HidrawNode& b) {
    return number(a.devNode) < number(b.devNode);
  });
  return nodes;
}

std::vector<HidrawNode> SysfsHidrawOpener::Nodes() { return ScanHidrawNodes(sysRoot_, devRoot_); }

std::optional<HidrawOpener::Opened> SysfsHidrawOpener::Open(const std::string& name) {
  // Only a node of the device folder: a path is never a way to open some other file.
  const std::string prefix = devRoot_ + "/hidraw";
  if (!name.starts_with(prefix) || name.size() == prefix.size() ||
      name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
    return std::nullopt;
  auto node = ReadNode(fs::path(sysRoot_) / "class" / "hidraw" / name.substr(devRoot_.size() + 1),
                       devRoot_);
  if (!node) return std::nullopt;
  const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  return Opened{node->ids, std::make_unique<KernelHidrawFile>(fd)};
}

}  // namespace kv::platform::linux_
