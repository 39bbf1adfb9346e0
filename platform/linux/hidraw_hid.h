#pragma once
// HID on Linux: hidraw nodes found through sysfs, one interface per top-level collection of a
// node's report descriptor, as Windows lists them. Input reports are filtered to the collection's
// report IDs and padded to its input report length, so components see what they see on Windows.
// Hardware IDs are made in the Windows form (HID\VID_xxxx&PID_xxxx&REV_xxxx&MI_xx&Colxx, then the
// less specific forms) so that one config.ini include list serves both systems.
//
// Virtual nodes (the --virtual-mouse of kvmon, and the tests) go through the same code: each open
// of one is a packet socket that carries one report per read, as a hidraw node does.
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

namespace kv::platform::linux_ {

// What identifies a HID device node besides its descriptor.
struct HidNodeIds {
  std::uint16_t vendorId = 0, productId = 0;
  std::optional<std::uint16_t> revision;        // bcdDevice of a USB device
  std::optional<std::uint8_t> interfaceNumber;  // bInterfaceNumber of a USB interface
};

// The hardware-ID list of one collection: `collection` is 1-based, 0 when the node has only
// one top-level collection (Windows then adds no "&Colxx").
std::vector<std::string> SynthesiseHardwareIds(const HidNodeIds& ids, int collection,
                                               std::uint16_t usagePage, std::uint16_t usage);

// One hidraw node as sysfs describes it.
struct HidrawNode {
  std::string devNode;  // "/dev/hidraw3"
  std::string sysDir;   // the HID device's sysfs folder
  HidNodeIds ids;
  std::vector<std::uint8_t> descriptor;
};

// Reads the hidraw nodes below `sysRoot` (normally "/sys"); device nodes are `devRoot`/hidrawN.
// Nodes whose descriptor cannot be read are left out.
std::vector<HidrawNode> ScanHidrawNodes(const std::string& sysRoot, const std::string& devRoot);

class HidrawHid : public Hid {
 public:
  explicit HidrawHid(std::string sysRoot = "/sys", std::string devRoot = "/dev");
  ~HidrawHid() override;

  bool Available() override { return true; }
  std::string InterfaceClass() override { return "{4d1e55b2-f16f-11cf-88cb-001111000030}"; }
  std::optional<std::vector<HidInterfaceInfo>> Interfaces() override;
  std::unique_ptr<HidDevice> Open(std::string_view path, HidOpenMode mode) override;
  std::unique_ptr<HidStopEvent> CreateStopEvent() override;

  // A simulated device node. Its interfaces' paths are `name` (and name#colNN with several
  // collections). Any thread.
  class VirtualNode {
   public:
    // Hands one input report (report ID first, as the device sends it) to every open reader.
    virtual void Input(const std::vector<std::uint8_t>& report) = 0;
    virtual std::vector<std::vector<std::uint8_t>> Outputs() const = 0;
    virtual std::vector<std::vector<std::uint8_t>> FeaturesSet() const = 0;
    virtual void AnswerFeature(const std::vector<std::uint8_t>& report) = 0;
    virtual std::size_t Readers() const = 0;  // reads waiting now
    virtual ~VirtualNode() = default;
  };
  // Throws std::invalid_argument for a name in use and DescriptorError for a bad descriptor.
  std::shared_ptr<VirtualNode> AddVirtual(const std::string& name, const HidNodeIds& ids,
                                          const std::vector<std::uint8_t>& descriptor);
  // Its readers fail as "not connected"; false when there was none of that name.
  bool RemoveVirtual(const std::string& name);
  // The interface paths a node (by device node or virtual name) has, from the last scan.
  std::vector<std::string> PathsOfNode(const std::string& node);
  // Told (on the adding or removing thread) when a virtual node comes or goes, with its paths.
  using VirtualListener = std::function<void(bool arrived, const std::vector<std::string>& paths)>;
  void SetVirtualListener(VirtualListener listener);

 private:
  class Device;
  class StopEvent;
  class Virtual;
  struct Node;
  std::shared_ptr<Node> FindNode(const std::string& node, bool rescan);

  std::string sysRoot_, devRoot_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Virtual>> virtuals_;
  std::map<std::string, std::vector<std::string>> knownPaths_;
  VirtualListener listener_;
};

}  // namespace kv::platform::linux_
