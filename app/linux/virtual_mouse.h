#pragma once
// The virtual mouse of `kvmon --virtual-mouse SOCKET`: one simulated HID node with the mouse's
// control collection (usage page 0xFFA0, usage 1; input reports 7 and 8 of 7 data bytes) whose
// input reports arrive as datagrams on a local socket (kvmouse sends them). The node is a device
// of its own: an opener added to the HID service, whose every open is one end of a socket pair
// that carries one report per read and answers the hidraw requests, as a kernel node does.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/hidraw_hid.h"

namespace kv::app {

class VirtualMouse {
 public:
  static constexpr const char* kNodeName = "virtual/kvmouse";
  static const std::vector<std::uint8_t>& Descriptor();

  // The socket protocol: one datagram is one input report, report ID first, 2 to 64 bytes.
  // nullopt for anything else (the datagram is dropped).
  static std::optional<std::vector<std::uint8_t>> ReportFromDatagram(
      std::span<const std::uint8_t> datagram);

  // Binds the socket and adds the node. Only a stale socket of this user's (one nobody listens
  // on) is replaced; any other file at the path, a live socket or another user's is left alone
  // and refused. Throws std::runtime_error with one sentence when the socket cannot be made, and
  // std::invalid_argument when the service has a virtual mouse already.
  VirtualMouse(platform::linux_::HidrawHid& hid, std::string socketPath);
  // Removes the node (its readers see "not connected") and the socket file, if the path still
  // names the socket this object bound.
  ~VirtualMouse();
  VirtualMouse(const VirtualMouse&) = delete;
  VirtualMouse& operator=(const VirtualMouse&) = delete;

 private:
  class Node;
  class File;
  void Listen();
  void RemoveOwnSocketFile();

  platform::linux_::HidrawHid& hid_;
  std::string socketPath_;
  int socket_ = -1, wake_ = -1;
  dev_t boundDevice_ = 0;
  ino_t boundInode_ = 0;
  std::shared_ptr<Node> node_;
  std::thread listener_;
};

}  // namespace kv::app
