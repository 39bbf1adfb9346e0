#pragma once
// A hidraw node for tests: an opener of one node whose every open is one end of a socket pair.
// The node answers the calls the HID service makes as the kernel's hidraw driver does (one
// report per read, the descriptor and feature requests by ioctl with the length in the request
// number, -EIO on reads and -ENODEV on requests once unplugged), and records what it is sent.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/hidraw_node.h"

namespace kv::test {

class HidrawTestNode : public platform::linux_::HidrawOpener,
                       public std::enable_shared_from_this<HidrawTestNode> {
 public:
  HidrawTestNode(std::string name, platform::linux_::HidNodeIds ids,
                 std::vector<std::uint8_t> descriptor);
  ~HidrawTestNode() override;

  std::vector<platform::linux_::HidrawNode> Nodes() override;
  std::optional<Opened> Open(const std::string& name) override;

  // Queues one input report (report ID first, as the device sends it) on every open.
  void Input(const std::vector<std::uint8_t>& report);
  // Opens read what is queued, then fail as gone; every request fails; nothing opens any more.
  void Unplug();
  // Output reports written, and feature reports set, in order.
  std::vector<std::vector<std::uint8_t>> Outputs() const;
  std::vector<std::vector<std::uint8_t>> FeaturesSet() const;
  // The answer to a get-feature request of report[0]; without one the device refuses it.
  void AnswerFeature(const std::vector<std::uint8_t>& report);
  // Feature requests (get and set) that reached the node.
  std::size_t FeatureRequests() const;
  // Makes the descriptor requests fail, as on a node that went away between listing and open.
  void RefuseDescriptor();
  // True while some thread of this process waits in poll() on one of the node's opens.
  bool ReaderWaiting() const;

 private:
  class File;
  int Ioctl(unsigned long request, void* argument);
  ssize_t Write(const std::uint8_t* data, std::size_t size);
  void Closed(int readerFd);

  const std::string name_;
  const platform::linux_::HidNodeIds ids_;
  const std::vector<std::uint8_t> descriptor_;
  mutable std::mutex mutex_;
  bool gone_ = false, refuseDescriptor_ = false;
  struct Pair {
    int feed, reader;
  };
  std::vector<Pair> pairs_;
  std::vector<std::vector<std::uint8_t>> outputs_, featuresSet_;
  std::vector<std::vector<std::uint8_t>> answers_;
  std::size_t featureRequests_ = 0;
};

}  // namespace kv::test
