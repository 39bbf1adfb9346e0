#include "platform/linux/hidraw_hid.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/strings.h"
#include "platform/hid_descriptor.h"
#include "platform/waiter_stop_event.h"

namespace kv::platform::linux_ {
namespace fs = std::filesystem;
namespace {

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

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

// Splits "node#col02" into the node and the 1-based collection (0 without a suffix).
std::pair<std::string, int> SplitPath(std::string_view path) {
  const auto hash = path.rfind("#col");
  if (hash == std::string_view::npos || path.size() != hash + 6) return {std::string(path), 0};
  const char a = path[hash + 4], b = path[hash + 5];
  if (a < '0' || a > '9' || b < '0' || b > '9') return {std::string(path), 0};
  return {std::string(path.substr(0, hash)), (a - '0') * 10 + (b - '0')};
}

std::string CollectionPath(const std::string& node, std::size_t index, std::size_t count) {
  if (count <= 1) return node;
  char buf[32];
  std::snprintf(buf, sizeof buf, "#col%02zu", index + 1);
  return node + buf;
}

bool IsGoneError(int err) {
  return err == ENODEV || err == EIO || err == ENXIO || err == EPIPE || err == ESHUTDOWN;
}

}  // namespace

std::vector<std::string> SynthesiseHardwareIds(const HidNodeIds& ids, int collection,
                                               std::uint16_t usagePage, std::uint16_t usage) {
  const std::string vidPid = "HID\\VID_" + Hex4(ids.vendorId) + "&PID_" + Hex4(ids.productId);
  std::string tail;
  if (ids.interfaceNumber) {
    char mi[16];
    std::snprintf(mi, sizeof mi, "&MI_%02X", *ids.interfaceNumber);
    tail += mi;
  }
  if (collection > 0) {
    char col[32];
    std::snprintf(col, sizeof col, "&Col%02d", collection);
    tail += col;
  }
  const std::string up = "UP:" + Hex4(usagePage) + "_U:" + Hex4(usage);
  std::vector<std::string> out;
  if (ids.revision) out.push_back(vidPid + "&REV_" + Hex4(*ids.revision) + tail);
  out.push_back(vidPid + tail);
  out.push_back("HID\\VID_" + Hex4(ids.vendorId) + "&" + up);
  out.push_back("HID_DEVICE_" + up);
  out.push_back("HID_DEVICE");
  return out;
}

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

// --- stop event ---------------------------------------------------------------------------------

// Waiting reads register their wake-up descriptor (an eventfd).
class HidrawHid::StopEvent : public WaiterStopEvent<int> {
 public:
  StopEvent() : WaiterStopEvent(&Wake) {}
  static void Wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(fd, &one, sizeof one);
  }
};

std::unique_ptr<HidStopEvent> HidrawHid::CreateStopEvent() { return std::make_unique<StopEvent>(); }

// --- virtual nodes ------------------------------------------------------------------------------

class HidrawHid::Virtual : public VirtualNode {
 public:
  Virtual(HidNodeIds ids, std::vector<std::uint8_t> descriptor)
      : ids_(ids), descriptor_(std::move(descriptor)) {}
  ~Virtual() override { Disconnect(); }

  // A new reader end; the feeding end stays here. -1 when the node is gone.
  int Connect() {
    int pair[2];
    std::lock_guard lock(mutex_);
    if (gone_ || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
      return -1;
    feeds_.push_back(pair[0]);
    return pair[1];
  }
  void Disconnect() {
    std::lock_guard lock(mutex_);
    gone_ = true;
    for (int fd : feeds_) close(fd);
    feeds_.clear();
  }
  void Input(const std::vector<std::uint8_t>& report) override {
    std::lock_guard lock(mutex_);
    for (auto it = feeds_.begin(); it != feeds_.end();) {
      // A reader that went away (EPIPE) is dropped; a full queue drops the report, as a
      // hidraw node does when its reader falls behind.
      if (send(*it, report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
          errno == EPIPE) {
        close(*it);
        it = feeds_.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::vector<std::vector<std::uint8_t>> Outputs() const override {
    std::lock_guard lock(mutex_);
    return outputs_;
  }
  std::vector<std::vector<std::uint8_t>> FeaturesSet() const override {
    std::lock_guard lock(mutex_);
    return featuresSet_;
  }
  void AnswerFeature(const std::vector<std::uint8_t>& report) override {
    std::lock_guard lock(mutex_);
    if (!report.empty()) answers_[report[0]] = report;
  }
  std::size_t Readers() const override { return readers_.load(); }

  std::uint32_t Write(std::span<const std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    if (gone_) return ENODEV;
    outputs_.emplace_back(report.begin(), report.end());
    return 0;
  }
  std::uint32_t SetFeature(std::span<const std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    if (gone_) return ENODEV;
    featuresSet_.emplace_back(report.begin(), report.end());
    return 0;
  }
  std::uint32_t GetFeature(std::span<std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    if (gone_) return ENODEV;
    auto it = answers_.find(report[0]);
    if (it == answers_.end()) return EINVAL;
    std::fill(report.begin(), report.end(), 0);
    std::copy_n(it->second.begin(), std::min(it->second.size(), report.size()), report.begin());
    return 0;
  }

  const HidNodeIds ids_;
  const std::vector<std::uint8_t> descriptor_;
  std::atomic<std::size_t> readers_{0};

 private:
  mutable std::mutex mutex_;
  bool gone_ = false;
  std::vector<int> feeds_;
  std::vector<std::vector<std::uint8_t>> outputs_, featuresSet_;
  std::map<std::uint8_t, std::vector<std::uint8_t>> answers_;
};

// --- nodes and devices --------------------------------------------------------------------------

struct HidrawHid::Node {
  std::string name;  // device node, or the virtual node's name
  HidNodeIds ids;
  descriptor::ReportDescriptor parsed;
  std::shared_ptr<Virtual> virt;
};

class HidrawHid::Device : public HidDevice {
 public:
  Device(int fd, HidOpenMode mode, std::shared_ptr<Node> node, std::size_t collection)
      : fd_(fd),
        wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        mode_(mode),
        node_(std::move(node)),
        tlc_(node_->parsed.collections[collection]) {
    for (const auto& field : tlc_.fields)
      if (field.kind == descriptor::ReportKind::Input) inputIds_.insert(field.reportId);
    inputLength_ = tlc_.ReportByteLength(descriptor::ReportKind::Input);
  }
  ~Device() override {
    close(fd_);
    if (wake_ >= 0) close(wake_);
  }

  std::optional<HidAttributes> Attributes() override {
    return HidAttributes{node_->ids.vendorId, node_->ids.productId,
                         node_->ids.revision.value_or(0)};
  }
  std::optional<HidCapabilities> Capabilities() override { return tlc_.Capabilities(); }

  HidReadResult Read(std::span<std::uint8_t> buffer, HidStopEvent& stopEvent,
                     std::uint64_t stopGeneration) override {
    if (mode_ != HidOpenMode::Overlapped) return {HidReadStatus::InvalidHandle, 0, EBADF};
    auto* stop = dynamic_cast<StopEvent*>(&stopEvent);
    if (!stop || wake_ < 0) return {HidReadStatus::Failed, 0, EINVAL};
    stop->AddWaiter(wake_);
    struct Unregister {
      StopEvent* stop;
      int fd;
      ~Unregister() { stop->RemoveWaiter(fd); }
    } unregister{stop, wake_};
    if (node_->virt) ++node_->virt->readers_;
    struct Count {
      Virtual* v;
      ~Count() {
        if (v) --v->readers_;
      }
    } count{node_->virt.get()};

    std::uint8_t raw[4097];
    for (;;) {
      if (cancel_.exchange(false)) return {HidReadStatus::Cancelled, 0, ECANCELED};
      if (stop->Stopped(stopGeneration)) return {HidReadStatus::Stopped, 0, 0};
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return {HidReadStatus::Failed, 0, static_cast<std::uint32_t>(errno)};
      }
      if (fds[1].revents & POLLIN) {
        std::uint64_t drained;
        [[maybe_unused]] auto n = ::read(wake_, &drained, sizeof drained);
        continue;
      }
      if (fds[0].revents & POLLNVAL) return {HidReadStatus::InvalidHandle, 0, EBADF};
      if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fd_, raw + 1, sizeof raw - 1);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        const int err = errno;
        if (IsGoneError(err))
          return {HidReadStatus::NotConnected, 0, static_cast<std::uint32_t>(err)};
        return {HidReadStatus::Failed, 0, static_cast<std::uint32_t>(err)};
      }
      if (n == 0) return {HidReadStatus::NotConnected, 0, ENODEV};  // the other end is gone
      if (auto bytes = Deliver(raw, static_cast<std::size_t>(n), buffer))
        return {HidReadStatus::Report, *bytes, 0};
    }
  }

  void CancelRead() override {
    cancel_ = true;
    if (wake_ >= 0) StopEvent::Wake(wake_);
  }

  std::uint32_t WriteOutput(std::span<const std::uint8_t> report) override {
    if (report.empty()) return EINVAL;
    if (node_->virt) return node_->virt->Write(report);
    const ssize_t n = ::write(fd_, report.data(), report.size());
    if (n < 0) return static_cast<std::uint32_t>(errno);
    return static_cast<std::size_t>(n) == report.size() ? 0 : EIO;
  }
  std::uint32_t GetFeature(std::span<std::uint8_t> report) override {
    if (report.empty()) return EINVAL;
    if (node_->virt) return node_->virt->GetFeature(report);
    std::vector<std::uint8_t> tmp(report.begin(), report.end());
    const int n = ioctl(fd_, HIDIOCGFEATURE(tmp.size()), tmp.data());
    if (n < 0) return static_cast<std::uint32_t>(errno);
    std::fill(tmp.begin() + std::min<std::size_t>(n, tmp.size()), tmp.end(), 0);
    std::copy(tmp.begin(), tmp.end(), report.begin());
    return 0;
  }
  std::uint32_t SetFeature(std::span<const std::uint8_t> report) override {
    if (report.empty()) return EINVAL;
    if (node_->virt) return node_->virt->SetFeature(report);
    std::vector<std::uint8_t> tmp(report.begin(), report.end());
    return ioctl(fd_, HIDIOCSFEATURE(tmp.size()), tmp.data()) < 0
               ? static_cast<std::uint32_t>(errno)
               : 0;
  }

  std::optional<std::size_t> MaxUsageListLength() override {
    return tlc_.MaxInputUsageListLength();
  }
  std::optional<std::vector<HidUsage>> ButtonsOn(std::span<const std::uint8_t> report) override {
    return tlc_.ButtonsOn(report);
  }
  std::uint64_t HandleValue() const override { return static_cast<std::uint64_t>(fd_) + 1; }

 private:
  // `raw + 1` holds what the node gave. A node without report IDs gives no ID byte: the report
  // then gets the 0 Windows puts there. Reports of other collections are dropped, and short
  // ones are padded to the collection's input length. nullopt: not for this interface.
  std::optional<std::size_t> Deliver(std::uint8_t* raw, std::size_t n,
                                     std::span<std::uint8_t> buffer) {
    std::uint8_t* report = raw + 1;
    if (!tlc_.usesReportIds) {
      raw[0] = 0;
      report = raw;
      ++n;
    }
    if (!inputIds_.count(report[0])) return std::nullopt;
    const std::size_t length = std::max<std::size_t>(n, inputLength_);
    const std::size_t bytes = std::min(length, buffer.size());
    std::fill(buffer.begin(), buffer.begin() + bytes, 0);
    std::copy_n(report, std::min(n, bytes), buffer.begin());
    return bytes;
  }

  int fd_, wake_;
  HidOpenMode mode_;
  std::shared_ptr<Node> node_;
  const descriptor::TopLevelCollection& tlc_;
  std::set<std::uint8_t> inputIds_;
  std::size_t inputLength_ = 0;
  std::atomic<bool> cancel_{false};
};

// --- the service --------------------------------------------------------------------------------

HidrawHid::HidrawHid(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

HidrawHid::~HidrawHid() {
  std::lock_guard lock(mutex_);
  for (auto& [name, v] : virtuals_) v->Disconnect();
}

std::optional<std::vector<HidInterfaceInfo>> HidrawHid::Interfaces() {
  struct Source {
    std::string name;
    HidNodeIds ids;
    std::vector<std::uint8_t> descriptor;
  };
  std::vector<Source> sources;
  for (auto& node : ScanHidrawNodes(sysRoot_, devRoot_))
    sources.push_back({node.devNode, node.ids, std::move(node.descriptor)});
  {
    std::lock_guard lock(mutex_);
    for (auto& [name, v] : virtuals_) sources.push_back({name, v->ids_, v->descriptor_});
  }
  std::vector<HidInterfaceInfo> out;
  std::map<std::string, std::vector<std::string>> known;
  for (auto& source : sources) {
    descriptor::ReportDescriptor parsed;
    try {
      parsed = descriptor::ParseReportDescriptor(source.descriptor);
    } catch (const descriptor::DescriptorError&) {
      continue;  // a device we cannot understand is not offered
    }
    const std::size_t count = parsed.collections.size();
    for (std::size_t i = 0; i < count; ++i) {
      const auto& tlc = parsed.collections[i];
      HidInterfaceInfo info;
      info.path = CollectionPath(source.name, i, count);
      info.hardwareIds = SynthesiseHardwareIds(source.ids, count > 1 ? static_cast<int>(i + 1) : 0,
                                               tlc.usagePage, tlc.usage);
      known[source.name].push_back(info.path);
      out.push_back(std::move(info));
    }
  }
  std::lock_guard lock(mutex_);
  for (auto& [name, paths] : known) knownPaths_[name] = paths;
  return out;
}

std::vector<std::string> HidrawHid::PathsOfNode(const std::string& node) {
  std::lock_guard lock(mutex_);
  auto it = knownPaths_.find(node);
  return it == knownPaths_.end() ? std::vector<std::string>{} : it->second;
}

std::shared_ptr<HidrawHid::Node> HidrawHid::FindNode(const std::string& name, bool) {
  auto node = std::make_shared<Node>();
  node->name = name;
  std::vector<std::uint8_t> descriptor;
  {
    std::lock_guard lock(mutex_);
    if (auto it = virtuals_.find(name); it != virtuals_.end()) {
      node->virt = it->second;
      node->ids = it->second->ids_;
      descriptor = it->second->descriptor_;
    }
  }
  if (!node->virt) {
    const std::string prefix = devRoot_ + "/hidraw";
    if (!name.starts_with(prefix) || name.find('/', prefix.size()) != std::string::npos)
      return nullptr;
    auto read = ReadNode(fs::path(sysRoot_) / "class" / "hidraw" / name.substr(devRoot_.size() + 1),
                         devRoot_);
    if (!read) return nullptr;
    node->ids = read->ids;
    descriptor = std::move(read->descriptor);
  }
  try {
    node->parsed = descriptor::ParseReportDescriptor(descriptor);
  } catch (const descriptor::DescriptorError&) {
    return nullptr;
  }
  return node->parsed.collections.empty() ? nullptr : node;
}

std::unique_ptr<HidDevice> HidrawHid::Open(std::string_view path, HidOpenMode mode) {
  auto [name, collection] = SplitPath(path);
  auto node = FindNode(name, false);
  if (!node) return nullptr;
  const std::size_t count = node->parsed.collections.size();
  // A path names its collection exactly as the enumeration wrote it.
  if ((count == 1) != (collection == 0) || collection > static_cast<int>(count)) return nullptr;
  const std::size_t index = collection == 0 ? 0 : static_cast<std::size_t>(collection - 1);
  int fd;
  if (node->virt) fd = node->virt->Connect();
  else fd = ::open(node->name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  return std::make_unique<Device>(fd, mode, node, index);
}

std::shared_ptr<HidrawHid::VirtualNode> HidrawHid::AddVirtual(
    const std::string& name, const HidNodeIds& ids, const std::vector<std::uint8_t>& descriptor) {
  const auto parsed = descriptor::ParseReportDescriptor(descriptor);
  if (parsed.collections.empty())
    throw descriptor::DescriptorError("the descriptor has no top-level collection");
  if (name.empty() || name.find('#') != std::string::npos)
    throw std::invalid_argument("a virtual HID node needs a name without '#'");
  std::lock_guard lock(mutex_);
  if (virtuals_.count(name))
    throw std::invalid_argument("a virtual HID node named " + name + " exists");
  auto v = std::make_shared<Virtual>(ids, descriptor);
  virtuals_[name] = v;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < parsed.collections.size(); ++i)
    paths.push_back(CollectionPath(name, i, parsed.collections.size()));
  knownPaths_[name] = paths;
  if (listener_) listener_(true, paths);
  return v;
}

void HidrawHid::SetVirtualListener(VirtualListener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

bool HidrawHid::RemoveVirtual(const std::string& name) {
  std::shared_ptr<Virtual> v;
  {
    std::lock_guard lock(mutex_);
    auto it = virtuals_.find(name);
    if (it == virtuals_.end()) return false;
    v = it->second;
    virtuals_.erase(it);
    if (listener_) listener_(false, knownPaths_[name]);
  }
  v->Disconnect();
  return true;
}

}  // namespace kv::platform::linux_
