#pragma once
// HID on Linux: hidraw nodes, one interface per top-level collection of a node's report
// descriptor, as Windows lists them. Input reports are filtered to the collection's report IDs
// and padded to its input report length, so components see what they see on Windows. Hardware
// IDs are made in the Windows form (HID\VID_xxxx&PID_xxxx&REV_xxxx&MI_xx&Colxx, then the less
// specific forms) so that one config.ini include list serves both systems.
//
// The nodes come from openers (hidraw_node.h): the system's from sysfs and /dev, and any that a
// program adds (a simulated device). Every node is read, written and asked for feature reports
// through the same code, whichever opener it came from.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid.h"
#include "platform/linux/hidraw_node.h"

namespace kv::platform::linux_ {

// The hardware-ID list of one collection: `collection` is 1-based, 0 when the node has only
// one top-level collection (Windows then adds no "&Colxx").
std::vector<std::string> SynthesiseHardwareIds(const HidNodeIds& ids, int collection,
                                               std::uint16_t usagePage, std::uint16_t usage);

class HidrawHid : public Hid {
 public:
  // The system's nodes.
  HidrawHid();
  // The nodes of `system` (none when it is nullptr) and of the openers added later.
  explicit HidrawHid(std::shared_ptr<HidrawOpener> system);
  ~HidrawHid() override;

  bool Available() override { return true; }
  std::string InterfaceClass() override { return "{4d1e55b2-f16f-11cf-88cb-001111000030}"; }
  std::optional<std::vector<HidInterfaceInfo>> Interfaces() override;
  std::unique_ptr<HidDevice> Open(std::string_view path, HidOpenMode mode) override;
  std::unique_ptr<HidStopEvent> CreateStopEvent() override;
  // The device node and the system's reason; EACCES and EPERM count as denied access.
  std::optional<HidOpenFailure> WhyNotOpen(std::string_view path) override;

  // Nodes that come and go with their opener (a simulated device); its set of nodes stays fixed
  // while it is added. Their interfaces are listed from now on, and the node listener hears of
  // their arrival. Throws
  // std::invalid_argument when it is added already or a node of it has the name of a node of
  // another added opener. Any thread.
  void AddOpener(std::shared_ptr<HidrawOpener> opener);
  // Its nodes are no longer listed or opened, and the node listener hears of their removal.
  // Devices open on them keep their files (the opener ends those). False when it was not added.
  bool RemoveOpener(const std::shared_ptr<HidrawOpener>& opener);

  // The interface paths a node has, from the last scan or the opener's arrival.
  std::vector<std::string> PathsOfNode(const std::string& node);
  // Told (on the adding or removing thread) when an added opener's nodes come or go, with the
  // paths of their interfaces.
  using NodeListener = std::function<void(bool arrived, const std::vector<std::string>& paths)>;
  void SetNodeListener(NodeListener listener);

 private:
  class Device;
  class StopEvent;
  std::vector<std::shared_ptr<HidrawOpener>> Openers();

  std::shared_ptr<HidrawOpener> system_;
  std::mutex mutex_;
  struct Added {
    std::shared_ptr<HidrawOpener> opener;
    std::vector<std::string> nodes;  // its node names when it was added
  };
  std::vector<Added> added_;
  std::map<std::string, std::vector<std::string>> knownPaths_;
  NodeListener listener_;
};

}  // namespace kv::platform::linux_
