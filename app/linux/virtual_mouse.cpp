#include "app/linux/virtual_mouse.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kv::app {

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

VirtualMouse::VirtualMouse(platform::linux_::HidrawHid& hid, std::string socketPath)
    : hid_(hid), socketPath_(std::move(socketPath)) {
  sockaddr_un addr{};
  if (socketPath_.empty() || socketPath_.size() >= sizeof addr.sun_path)
    throw std::runtime_error("the virtual mouse socket path is empty or too long");
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  wake_ = eventfd(0, EFD_CLOEXEC);
  unlink(socketPath_.c_str());  // a socket file left by an earlier run
  if (socket_ < 0 || wake_ < 0 ||
      bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const std::string why = std::strerror(errno);
    if (socket_ >= 0) close(socket_);
    if (wake_ >= 0) close(wake_);
    throw std::runtime_error("cannot listen on " + socketPath_ + ": " + why);
  }
  try {
    node_ = hid_.AddVirtual(kNodeName, {0x0000, 0x0001, 0x0100, 1}, Descriptor());
  } catch (...) {
    close(socket_);
    close(wake_);
    unlink(socketPath_.c_str());
    throw;
  }
  listener_ = std::thread([this] { Listen(); });
}

VirtualMouse::~VirtualMouse() {
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
  listener_.join();
  hid_.RemoveVirtual(kNodeName);
  close(socket_);
  close(wake_);
  unlink(socketPath_.c_str());
}

void VirtualMouse::Listen() {
  std::uint8_t report[65];
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const ssize_t n = recv(socket_, report, sizeof report, 0);
    // One datagram is one input report, report ID first; anything else is dropped.
    if (n >= 2 && n <= 64) node_->Input(std::vector<std::uint8_t>(report, report + n));
  }
}

}  // namespace kv::app
