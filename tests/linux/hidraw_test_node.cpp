#include "linux/hidraw_test_node.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace kv::test {

using platform::linux_::HidrawNode;
using platform::linux_::HidrawOpener;

class HidrawTestNode::File : public platform::linux_::HidrawFile {
 public:
  File(std::shared_ptr<HidrawTestNode> node, int fd) : node_(std::move(node)), fd_(fd) {}
  ~File() override {
    node_->Closed(fd_);
    close(fd_);
  }
  int PollDescriptor() const override { return fd_; }
  ssize_t Read(std::uint8_t* buffer, std::size_t size) override {
    const ssize_t n = recv(fd_, buffer, size, MSG_DONTWAIT);
    if (n < 0) return -errno;
    return n == 0 ? -EIO : n;  // hidraw once the device has gone and the queue is empty
  }
  ssize_t Write(const std::uint8_t* data, std::size_t size) override {
    return node_->Write(data, size);
  }
  int Ioctl(unsigned long request, void* argument) override {
    return node_->Ioctl(request, argument);
  }

 private:
  std::shared_ptr<HidrawTestNode> node_;
  int fd_;
};

HidrawTestNode::HidrawTestNode(std::string name, platform::linux_::HidNodeIds ids,
                               std::vector<std::uint8_t> descriptor)
    : name_(std::move(name)), ids_(ids), descriptor_(std::move(descriptor)) {}

HidrawTestNode::~HidrawTestNode() { Unplug(); }

std::vector<HidrawNode> HidrawTestNode::Nodes() {
  std::lock_guard lock(mutex_);
  if (gone_) return {};
  return {{name_, "", ids_, descriptor_}};
}

std::optional<HidrawOpener::Opened> HidrawTestNode::Open(const std::string& name) {
  if (name != name_) return std::nullopt;
  std::lock_guard lock(mutex_);
  int pair[2];
  if (gone_ || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
    return std::nullopt;
  pairs_.push_back({pair[0], pair[1]});
  return Opened{ids_, std::make_unique<File>(shared_from_this(), pair[1])};
}

void HidrawTestNode::Input(const std::vector<std::uint8_t>& report) {
  std::lock_guard lock(mutex_);
  for (auto& p : pairs_) send(p.feed, report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void HidrawTestNode::Unplug() {
  std::lock_guard lock(mutex_);
  gone_ = true;
  for (auto& p : pairs_) {
    if (p.feed >= 0) close(p.feed);
    p.feed = -1;
  }
}

void HidrawTestNode::Closed(int readerFd) {
  std::lock_guard lock(mutex_);
  auto it =
      std::find_if(pairs_.begin(), pairs_.end(), [&](auto& p) { return p.reader == readerFd; });
  if (it == pairs_.end()) return;
  if (it->feed >= 0) close(it->feed);
  pairs_.erase(it);
}

ssize_t HidrawTestNode::Write(const std::uint8_t* data, std::size_t size) {
  std::lock_guard lock(mutex_);
  if (gone_) return -ENODEV;
  outputs_.emplace_back(data, data + size);
  return static_cast<ssize_t>(size);
}

int HidrawTestNode::Ioctl(unsigned long request, void* argument) {
  std::lock_guard lock(mutex_);
  if (gone_) return -ENODEV;
  if (request == HIDIOCGRDESCSIZE) {
    if (refuseDescriptor_) return -ENODEV;
    *static_cast<int*>(argument) = static_cast<int>(descriptor_.size());
    return 0;
  }
  if (request == HIDIOCGRDESC) {
    auto* rd = static_cast<hidraw_report_descriptor*>(argument);
    if (refuseDescriptor_) return -ENODEV;
    if (rd->size > HID_MAX_DESCRIPTOR_SIZE - 1) return -EINVAL;
    std::copy_n(descriptor_.begin(), std::min<std::size_t>(rd->size, descriptor_.size()),
                rd->value);
    return 0;
  }
  if (request == HIDIOCGRAWINFO) {
    auto* info = static_cast<hidraw_devinfo*>(argument);
    info->bustype = 3;
    info->vendor = static_cast<std::int16_t>(ids_.vendorId);
    info->product = static_cast<std::int16_t>(ids_.productId);
    return 0;
  }
  // Feature requests carry the buffer's length in the request number; byte 0 is the report ID.
  const bool feature = _IOC_TYPE(request) == 'H' && _IOC_DIR(request) == (_IOC_READ | _IOC_WRITE);
  const std::size_t length = _IOC_SIZE(request);
  auto* buffer = static_cast<std::uint8_t*>(argument);
  if (feature && _IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0)) && length > 0) {
    ++featureRequests_;
    auto it =
        std::find_if(answers_.begin(), answers_.end(), [&](auto& a) { return a[0] == buffer[0]; });
    if (it == answers_.end()) return -EPIPE;  // the device stalls the request
    const std::size_t n = std::min(length, it->size());
    std::copy_n(it->begin(), n, buffer);
    return static_cast<int>(n);
  }
  if (feature && _IOC_NR(request) == _IOC_NR(HIDIOCSFEATURE(0)) && length > 0) {
    ++featureRequests_;
    featuresSet_.emplace_back(buffer, buffer + length);
    return static_cast<int>(length);
  }
  return -ENOTTY;
}

std::vector<std::vector<std::uint8_t>> HidrawTestNode::Outputs() const {
  std::lock_guard lock(mutex_);
  return outputs_;
}

std::vector<std::vector<std::uint8_t>> HidrawTestNode::FeaturesSet() const {
  std::lock_guard lock(mutex_);
  return featuresSet_;
}

void HidrawTestNode::AnswerFeature(const std::vector<std::uint8_t>& report) {
  std::lock_guard lock(mutex_);
  if (report.empty()) return;
  std::erase_if(answers_, [&](auto& a) { return a[0] == report[0]; });
  answers_.push_back(report);
}

std::size_t HidrawTestNode::FeatureRequests() const {
  std::lock_guard lock(mutex_);
  return featureRequests_;
}

void HidrawTestNode::RefuseDescriptor() {
  std::lock_guard lock(mutex_);
  refuseDescriptor_ = true;
}

namespace {
bool IsPoll(long number) {
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}
}  // namespace

// A thread blocked in a system call shows its number and arguments in /proc; for poll() the
// first argument is the address of its pollfd array, read here without trusting it.
bool HidrawTestNode::ReaderWaiting() const {
  std::vector<int> readers;
  {
    std::lock_guard lock(mutex_);
    for (auto& p : pairs_) readers.push_back(p.reader);
  }
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream in(task.path() / "syscall");
    std::string line;
    std::getline(in, line);
    long number = -1;
    unsigned long address = 0, count = 0;
    if (std::sscanf(line.c_str(), "%ld %lx %lx", &number, &address, &count) != 3) continue;
    if (!IsPoll(number) || count == 0 || count > 16) continue;
    pollfd fds[16];
    iovec local{fds, count * sizeof(pollfd)};
    iovec remote{reinterpret_cast<void*>(address), count * sizeof(pollfd)};
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(local.iov_len))
      continue;
    for (unsigned long i = 0; i < count; ++i)
      if (std::find(readers.begin(), readers.end(), fds[i].fd) != readers.end()) return true;
  }
  return false;
}

}  // namespace kv::test
