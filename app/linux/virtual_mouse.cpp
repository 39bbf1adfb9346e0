#include "app/linux/virtual_mouse.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace kv::app {

using platform::linux_::HidNodeIds;
using platform::linux_::HidrawFile;
using platform::linux_::HidrawNode;
using platform::linux_::HidrawOpener;

// The mouse's one node. Each open gets a socket pair: reports go in at this end, one per
// datagram, and come out of the reader's end one per read.
class VirtualMouse::Node : public HidrawOpener, public std::enable_shared_from_this<Node> {
 public:
  static constexpr HidNodeIds kIds{0x0000, 0x0001, 0x0100, 1};

  ~Node() override { Disconnect(); }

  std::vector<HidrawNode> Nodes() override { return {{kNodeName, "", kIds, Descriptor()}}; }
  std::optional<Opened> Open(const std::string& name) override;

  // Hands one input report to every open of the node.
  void Input(const std::uint8_t* report, std::size_t size) {
    std::lock_guard lock(mutex_);
    for (auto it = feeds_.begin(); it != feeds_.end();) {
      // An open that was closed (EPIPE) is dropped; a full queue drops the report, as a hidraw
      // node does when its reader falls behind.
      if (send(*it, report, size, MSG_DONTWAIT | MSG_NOSIGNAL) < 0 && errno == EPIPE) {
        close(*it);
        it = feeds_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // The mouse is gone: readers get what was queued, then "gone".
  void Disconnect() {
    std::lock_guard lock(mutex_);
    gone_ = true;
    for (int fd : feeds_) close(fd);
    feeds_.clear();
  }
  bool Gone() {
    std::lock_guard lock(mutex_);
    return gone_;
  }

 private:
  std::mutex mutex_;
  bool gone_ = false;
  std::vector<int> feeds_;
};

// One open of the node.
class VirtualMouse::File : public HidrawFile {
 public:
  File(std::shared_ptr<Node> node, int fd) : node_(std::move(node)), fd_(fd) {}
  ~File() override { close(fd_); }
  int PollDescriptor() const override { return fd_; }
  ssize_t Read(std::uint8_t* buffer, std::size_t size) override {
    const ssize_t n = recv(fd_, buffer, size, MSG_DONTWAIT);
    if (n < 0) return -errno;
    return n == 0 ? -EIO : n;  // the feeding end closed: the mouse is gone
  }
  // The mouse has no output reports: what it is sent is dropped.
  ssize_t Write(const std::uint8_t*, std::size_t size) override {
    return node_->Gone() ? -ENODEV : static_cast<ssize_t>(size);
  }
  int Ioctl(unsigned long request, void* argument) override {
    if (node_->Gone()) return -ENODEV;
    const auto& descriptor = VirtualMouse::Descriptor();
    if (request == HIDIOCGRDESCSIZE) {
      *static_cast<int*>(argument) = static_cast<int>(descriptor.size());
      return 0;
    }
    if (request == HIDIOCGRDESC) {
      auto* rd = static_cast<hidraw_report_descriptor*>(argument);
      if (rd->size > HID_MAX_DESCRIPTOR_SIZE) return -EINVAL;
      std::copy_n(descriptor.begin(), std::min<std::size_t>(rd->size, descriptor.size()),
                  rd->value);
      return 0;
    }
    if (_IOC_TYPE(request) == 'H' && (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0)) ||
                                      _IOC_NR(request) == _IOC_NR(HIDIOCSFEATURE(0))))
      return -EPIPE;  // no feature reports: the device refuses the request
    return -ENOTTY;
  }

 private:
  std::shared_ptr<Node> node_;
  int fd_;
};

std::optional<HidrawOpener::Opened> VirtualMouse::Node::Open(const std::string& name) {
  if (name != kNodeName) return std::nullopt;
  int pair[2];
  std::lock_guard lock(mutex_);
  if (gone_ || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
    return std::nullopt;
  feeds_.push_back(pair[0]);
  return Opened{kIds, std::make_unique<File>(shared_from_this(), pair[1])};
}

const std::vector<std::uint8_t>& VirtualMouse::Descriptor() {
  static const std::vector<std::uint8_t> d = {
      0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01,              // usage page 0xFFA0, usage 1
      0x85, 0x07, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,  //   report 7
      0x75, 0x08, 0x95, 0x07, 0x81, 0x02,                    //   7 data bytes
      0x85, 0x08, 0x09, 0x02, 0x95, 0x07, 0x81, 0x02,        //   report 8, 7 data bytes
      0xC0,
  };
  return d;
}

std::optional<std::vector<std::uint8_t>> VirtualMouse::ReportFromDatagram(
    std::span<const std::uint8_t> datagram) {
  if (datagram.size() < 2 || datagram.size() > 64) return std::nullopt;
  return std::vector<std::uint8_t>(datagram.begin(), datagram.end());
}

namespace {

// Makes way for the socket at `addr`: nothing there, or a socket of this user's that nobody
// listens on any more (left by a run that was killed), which is removed. Anything else is
// someone's data or someone's running program: refused.
void ClaimSocketPath(const sockaddr_un& addr, const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    throw std::runtime_error("cannot inspect " + path + ": " + std::strerror(errno));
  }
  if (!S_ISSOCK(st.st_mode))
    throw std::runtime_error(path + " exists and is not a socket; it is left as it is");
  if (st.st_uid != geteuid())
    throw std::runtime_error(path + " is another user's socket; it is left as it is");
  const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) throw std::runtime_error(std::string("cannot probe ") + path);
  const int connected = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  const int err = errno;
  close(probe);
  if (connected == 0 || err != ECONNREFUSED)
    throw std::runtime_error(path + " is a socket in use (another kvmon?); it is left as it is");
  if (unlink(path.c_str()) != 0 && errno != ENOENT)
    throw std::runtime_error("cannot remove the stale socket " + path + ": " +
                             std::strerror(errno));
}

}  // namespace

VirtualMouse::VirtualMouse(platform::linux_::HidrawHid& hid, std::string socketPath)
    : hid_(hid), socketPath_(std::move(socketPath)) {
  sockaddr_un addr{};
  if (socketPath_.empty() || socketPath_.size() >= sizeof addr.sun_path)
    throw std::runtime_error("the virtual mouse socket path is empty or too long");
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  ClaimSocketPath(addr, socketPath_);
  socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  wake_ = eventfd(0, EFD_CLOEXEC);
  struct stat st {};
  if (socket_ < 0 || wake_ < 0 ||
      bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      lstat(socketPath_.c_str(), &st) != 0) {
    const std::string why = std::strerror(errno);
    if (socket_ >= 0) close(socket_);
    if (wake_ >= 0) close(wake_);
    throw std::runtime_error("cannot listen on " + socketPath_ + ": " + why);
  }
  boundDevice_ = st.st_dev;
  boundInode_ = st.st_ino;
  try {
    node_ = std::make_shared<Node>();
    hid_.AddOpener(node_);
  } catch (...) {
    close(socket_);
    close(wake_);
    RemoveOwnSocketFile();
    throw;
  }
  listener_ = std::thread([this] { Listen(); });
}

VirtualMouse::~VirtualMouse() {
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
  listener_.join();
  hid_.RemoveOpener(node_);
  node_->Disconnect();
  close(socket_);
  close(wake_);
  RemoveOwnSocketFile();
}

void VirtualMouse::RemoveOwnSocketFile() {
  // What stands at the path now may have replaced the socket meanwhile.
  struct stat st {};
  if (lstat(socketPath_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == boundDevice_ &&
      st.st_ino == boundInode_)
    unlink(socketPath_.c_str());
}

void VirtualMouse::Listen() {
  std::uint8_t datagram[65];  // one byte more than a report may have, to see one too long
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const ssize_t n = recv(socket_, datagram, sizeof datagram, 0);
    if (n < 0) continue;
    if (auto report = ReportFromDatagram({datagram, static_cast<std::size_t>(n)}))
      node_->Input(report->data(), report->size());
  }
}

}  // namespace kv::app
