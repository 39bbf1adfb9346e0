#pragma once
// The virtual mouse of `kvmon --virtual-mouse SOCKET`: one simulated HID node with the mouse's
// control collection (usage page 0xFFA0, usage 1; input reports 7 and 8 of 7 data bytes) whose
// input reports arrive as datagrams on a local socket (kvmouse sends them). The node is a device
// of its own: an opener added to the HID service, whose every open is one end of a socket pair
// that carries one report per read and answers the hidraw requests, as a kernel node does.
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/hidraw_hid.h"

namespace kv::app {

class VirtualMouse {
 public:
  static constexpr const char* kNodeName = "virtual/kvmouse";
  static const std::vector<std::uint8_t>& Descriptor();

  // Binds the socket (replacing a stale socket file) and adds the node. Throws
  // std::runtime_error with one sentence when the socket cannot be made, and
  // std::invalid_argument when the service has a virtual mouse already.
  VirtualMouse(platform::linux_::HidrawHid& hid, std::string socketPath);
  ~VirtualMouse();  // removes the node (its readers see "not connected") and the socket file
  VirtualMouse(const VirtualMouse&) = delete;
  VirtualMouse& operator=(const VirtualMouse&) = delete;

 private:
  class Node;
  class File;
  void Listen();

  platform::linux_::HidrawHid& hid_;
  std::string socketPath_;
  int socket_ = -1, wake_ = -1;
  std::shared_ptr<Node> node_;
  std::thread listener_;
};

}  // namespace kv::app
