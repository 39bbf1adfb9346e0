#pragma once
// Where the hidraw HID service gets its device nodes from. An opener lists the nodes it knows,
// with what identifies each one, and opens one of them; the service does the rest (collections,
// reads, writes, feature reports) in the same way for every opener. The system's nodes come from
// sysfs and /dev; a program may add openers of its own (a simulated device whose node is one end
// of a socket pair that answers the hidraw calls as the kernel does).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform::linux_ {

// What identifies a HID device node besides its descriptor.
struct HidNodeIds {
  std::uint16_t vendorId = 0, productId = 0;
  std::optional<std::uint16_t> revision;        // bcdDevice of a USB device
  std::optional<std::uint8_t> interfaceNumber;  // bInterfaceNumber of a USB interface
};

// One node as its opener lists it.
struct HidrawNode {
  std::string devNode;  // the name it opens by: "/dev/hidraw3", or a simulated node's name
  std::string sysDir;   // the HID device's sysfs folder ("" when it has none)
  HidNodeIds ids;
  std::vector<std::uint8_t> descriptor;
};

// An open node: the calls of read(2), write(2) and ioctl(2) on one hidraw descriptor. Each
// returns what the call returns, or a negative errno value where the call fails. One thread may
// wait on and read from it while others write and make requests.
class HidrawFile {
 public:
  virtual ~HidrawFile() = default;
  // Polls readable while a report waits, and with POLLHUP or POLLERR once the node has gone.
  // Owned by the file; valid while it exists.
  virtual int PollDescriptor() const = 0;
  // One report per call, never blocking: -EAGAIN when none waits, -EIO once the node has gone.
  virtual ssize_t Read(std::uint8_t* buffer, std::size_t size) = 0;
  virtual ssize_t Write(const std::uint8_t* data, std::size_t size) = 0;
  virtual int Ioctl(unsigned long request, void* argument) = 0;
};

class HidrawOpener {
 public:
  virtual ~HidrawOpener() = default;
  // The nodes present now, in a stable order. Nodes whose descriptor cannot be read are left out.
  virtual std::vector<HidrawNode> Nodes() = 0;
  // Opens node `name` (a devNode of Nodes) for reading and writing, with its ids. nullopt when the
  // name is not one of this opener's nodes or it cannot be opened (gone, no permission).
  struct Opened {
    HidNodeIds ids;
    std::unique_ptr<HidrawFile> file;
  };
  virtual std::optional<Opened> Open(const std::string& name) = 0;
};

// The system's nodes: sysfs below `sysRoot` ("/sys") describes them, `devRoot` ("/dev") holds
// them. Only names of the form devRoot/hidrawN open.
class SysfsHidrawOpener : public HidrawOpener {
 public:
  explicit SysfsHidrawOpener(std::string sysRoot = "/sys", std::string devRoot = "/dev")
      : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}
  std::vector<HidrawNode> Nodes() override;
  std::optional<Opened> Open(const std::string& name) override;

 private:
  std::string sysRoot_, devRoot_;
};

// Reads the hidraw nodes below `sysRoot`; device nodes are `devRoot`/hidrawN. Nodes whose
// descriptor or HID_ID cannot be read are left out (a descriptor that does not parse is kept).
std::vector<HidrawNode> ScanHidrawNodes(const std::string& sysRoot, const std::string& devRoot);

}  // namespace kv::platform::linux_
