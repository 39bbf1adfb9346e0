#include "platform/linux/hidraw_hid.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "platform/hid_descriptor.h"
#include "platform/waiter_stop_event.h"

namespace kv::platform::linux_ {
namespace {

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
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

// The interface paths of a node; none when its descriptor does not parse.
std::vector<std::string> PathsOf(const HidrawNode& node) {
  std::vector<std::string> paths;
  try {
    const auto parsed = descriptor::ParseReportDescriptor(node.descriptor);
    for (std::size_t i = 0; i < parsed.collections.size(); ++i)
      paths.push_back(CollectionPath(node.devNode, i, parsed.collections.size()));
  } catch (const descriptor::DescriptorError&) {
  }
  return paths;
}

bool IsGoneError(int err) {
  return err == ENODEV || err == EIO || err == ENXIO || err == EPIPE || err == ESHUTDOWN;
}

// The descriptor of the node that is open, not of whatever sysfs said before it was opened.
std::optional<std::vector<std::uint8_t>> ReadDescriptor(HidrawFile& file) {
  int size = 0;
  if (file.Ioctl(HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE)
    return std::nullopt;
  auto rd = std::make_unique<hidraw_report_descriptor>();
  rd->size = static_cast<std::uint32_t>(size);
  if (file.Ioctl(HIDIOCGRDESC, rd.get()) < 0) return std::nullopt;
  return std::vector<std::uint8_t>(rd->value, rd->value + size);
}

// The length field of a hidraw feature request: longer reports cannot be asked for at all.
constexpr std::size_t kMaxFeatureRequest = _IOC_SIZEMASK;

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

// --- devices ------------------------------------------------------------------------------------

class HidrawHid::Device : public HidDevice {
 public:
  Device(HidrawOpener::Opened opened, HidOpenMode mode, descriptor::TopLevelCollection tlc)
      : file_(std::move(opened.file)),
        ids_(opened.ids),
        wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        mode_(mode),
        tlc_(std::move(tlc)) {
    for (const auto& field : tlc_.fields)
      if (field.kind == descriptor::ReportKind::Input) inputIds_.insert(field.reportId);
    inputLength_ = tlc_.ReportByteLength(descriptor::ReportKind::Input);
  }
  ~Device() override {
    if (wake_ >= 0) close(wake_);
  }

  std::optional<HidAttributes> Attributes() override {
    return HidAttributes{ids_.vendorId, ids_.productId, ids_.revision.value_or(0)};
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

    std::uint8_t raw[4097];
    for (;;) {
      if (cancel_.exchange(false)) return {HidReadStatus::Cancelled, 0, ECANCELED};
      if (stop->Stopped(stopGeneration)) return {HidReadStatus::Stopped, 0, 0};
      pollfd fds[2] = {{file_->PollDescriptor(), POLLIN, 0}, {wake_, POLLIN, 0}};
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
      const ssize_t n = file_->Read(raw + 1, sizeof raw - 1);
      if (n < 0) {
        const int err = static_cast<int>(-n);
        if (err == EAGAIN || err == EINTR) continue;
        if (IsGoneError(err))
          return {HidReadStatus::NotConnected, 0, static_cast<std::uint32_t>(err)};
        return {HidReadStatus::Failed, 0, static_cast<std::uint32_t>(err)};
      }
      if (n == 0) return {HidReadStatus::NotConnected, 0, ENODEV};  // no report is ever empty
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
    const ssize_t n = file_->Write(report.data(), report.size());
    if (n < 0) return static_cast<std::uint32_t>(-n);
    return static_cast<std::size_t>(n) == report.size() ? 0 : EIO;
  }
  std::uint32_t GetFeature(std::span<std::uint8_t> report) override {
    if (report.empty() || report.size() > kMaxFeatureRequest) return EINVAL;
    std::vector<std::uint8_t> tmp(report.begin(), report.end());
    const int n = file_->Ioctl(HIDIOCGFEATURE(tmp.size()), tmp.data());
    if (n < 0) return static_cast<std::uint32_t>(-n);
    // The device may answer with fewer bytes than asked for; the rest reads as 0.
    std::fill(tmp.begin() + std::min<std::size_t>(n, tmp.size()), tmp.end(), 0);
    std::copy(tmp.begin(), tmp.end(), report.begin());
    return 0;
  }
  std::uint32_t SetFeature(std::span<const std::uint8_t> report) override {
    if (report.empty() || report.size() > kMaxFeatureRequest) return EINVAL;
    std::vector<std::uint8_t> tmp(report.begin(), report.end());
    const int n = file_->Ioctl(HIDIOCSFEATURE(tmp.size()), tmp.data());
    return n < 0 ? static_cast<std::uint32_t>(-n) : 0;
  }

  std::optional<std::size_t> MaxUsageListLength() override {
    return tlc_.MaxInputUsageListLength();
  }
  std::optional<std::vector<HidUsage>> ButtonsOn(std::span<const std::uint8_t> report) override {
    return tlc_.ButtonsOn(report);
  }
  std::uint64_t HandleValue() const override {
    return static_cast<std::uint64_t>(file_->PollDescriptor()) + 1;
  }

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

  std::unique_ptr<HidrawFile> file_;
  HidNodeIds ids_;
  int wake_;
  HidOpenMode mode_;
  descriptor::TopLevelCollection tlc_;
  std::set<std::uint8_t> inputIds_;
  std::size_t inputLength_ = 0;
  std::atomic<bool> cancel_{false};
};

// --- the service --------------------------------------------------------------------------------

HidrawHid::HidrawHid() : HidrawHid(std::make_shared<SysfsHidrawOpener>()) {}

HidrawHid::HidrawHid(std::shared_ptr<HidrawOpener> system) : system_(std::move(system)) {}

HidrawHid::~HidrawHid() = default;

std::vector<std::shared_ptr<HidrawOpener>> HidrawHid::Openers() {
  std::vector<std::shared_ptr<HidrawOpener>> openers;
  if (system_) openers.push_back(system_);
  std::lock_guard lock(mutex_);
  for (auto& a : added_) openers.push_back(a.opener);
  return openers;
}

std::optional<std::vector<HidInterfaceInfo>> HidrawHid::Interfaces() {
  std::vector<HidInterfaceInfo> out;
  std::map<std::string, std::vector<std::string>> known;
  for (auto& opener : Openers()) {
    for (auto& node : opener->Nodes()) {
      descriptor::ReportDescriptor parsed;
      try {
        parsed = descriptor::ParseReportDescriptor(node.descriptor);
      } catch (const descriptor::DescriptorError&) {
        continue;  // a device we cannot understand is not offered
      }
      const std::size_t count = parsed.collections.size();
      for (std::size_t i = 0; i < count; ++i) {
        const auto& tlc = parsed.collections[i];
        HidInterfaceInfo info;
        info.path = CollectionPath(node.devNode, i, count);
        info.hardwareIds = SynthesiseHardwareIds(node.ids, count > 1 ? static_cast<int>(i + 1) : 0,
                                                 tlc.usagePage, tlc.usage);
        known[node.devNode].push_back(info.path);
        out.push_back(std::move(info));
      }
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

std::unique_ptr<HidDevice> HidrawHid::Open(std::string_view path, HidOpenMode mode) {
  auto [name, collection] = SplitPath(path);
  for (auto& opener : Openers()) {
    auto opened = opener->Open(name);
    if (!opened || !opened->file) continue;
    const auto bytes = ReadDescriptor(*opened->file);
    if (!bytes) return nullptr;
    descriptor::ReportDescriptor parsed;
    try {
      parsed = descriptor::ParseReportDescriptor(*bytes);
    } catch (const descriptor::DescriptorError&) {
      return nullptr;
    }
    const std::size_t count = parsed.collections.size();
    // A path names its collection exactly as the enumeration wrote it.
    if (count == 0 || (count == 1) != (collection == 0) || collection > static_cast<int>(count))
      return nullptr;
    const std::size_t index = collection == 0 ? 0 : static_cast<std::size_t>(collection - 1);
    return std::make_unique<Device>(std::move(*opened), mode, std::move(parsed.collections[index]));
  }
  return nullptr;
}

std::optional<HidOpenFailure> HidrawHid::WhyNotOpen(std::string_view path) {
  if (Open(path, HidOpenMode::Synchronous)) return std::nullopt;
  const std::string name = SplitPath(path).first;
  // The system's reason, asked of a node the enumeration listed and never of another file.
  if (PathsOfNode(name).empty())
    return HidOpenFailure{false, std::string(path) + ": no such HID interface"};
  const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    return HidOpenFailure{err == EACCES || err == EPERM, name + ": " + std::strerror(err)};
  }
  ::close(fd);
  return HidOpenFailure{false, name + ": does not answer as a hidraw node"};
}

void HidrawHid::AddOpener(std::shared_ptr<HidrawOpener> opener) {
  if (!opener) throw std::invalid_argument("no HID node opener");
  Added added{opener, {}};
  std::vector<std::string> paths;
  std::map<std::string, std::vector<std::string>> nodePaths;
  for (auto& node : opener->Nodes()) {
    added.nodes.push_back(node.devNode);
    nodePaths[node.devNode] = PathsOf(node);
    paths.insert(paths.end(), nodePaths[node.devNode].begin(), nodePaths[node.devNode].end());
  }
  std::lock_guard lock(mutex_);
  for (auto& other : added_) {
    if (other.opener == opener) throw std::invalid_argument("the HID node opener is added already");
    for (auto& name : added.nodes)
      if (std::find(other.nodes.begin(), other.nodes.end(), name) != other.nodes.end())
        throw std::invalid_argument("a HID node named " + name + " exists");
  }
  for (auto& [name, p] : nodePaths) knownPaths_[name] = p;
  added_.push_back(std::move(added));
  if (listener_) listener_(true, paths);
}

bool HidrawHid::RemoveOpener(const std::shared_ptr<HidrawOpener>& opener) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(added_.begin(), added_.end(),
                         [&](const Added& a) { return a.opener == opener; });
  if (it == added_.end()) return false;
  std::vector<std::string> paths;
  for (auto& name : it->nodes) {
    auto known = knownPaths_.find(name);
    if (known == knownPaths_.end()) continue;
    paths.insert(paths.end(), known->second.begin(), known->second.end());
    knownPaths_.erase(known);
  }
  added_.erase(it);
  if (listener_) listener_(false, paths);
  return true;
}

void HidrawHid::SetNodeListener(NodeListener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace kv::platform::linux_
