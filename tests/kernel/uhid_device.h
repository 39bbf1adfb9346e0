#pragma once
// A HID device on the real kernel through /dev/uhid: hid-generic binds it and makes its hidraw
// node (and evdev nodes for the standard collections) exactly as for a plugged-in device.
#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

struct UhidParams {
  std::string name = "kvtest mouse";
  std::uint16_t bus = 3;  // BUS_USB
  std::uint32_t vendor = 0x4B56, product = 0x0001, version = 0x0100;
  std::vector<std::uint8_t> descriptor;
};

// Reads a report descriptor: hex text (blanks, commas, "0x" allowed) or raw bytes.
std::vector<std::uint8_t> LoadDescriptorFile(const std::string& file);
std::vector<std::uint8_t> ParseHexBytes(const std::string& text);  // throws on bad text
std::string HexBytes(const std::uint8_t* data, std::size_t n);

class UhidDevice {
 public:
  explicit UhidDevice(UhidParams params);
  ~UhidDevice();
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  void Create();   // plugs the device in (UHID_CREATE2)
  void Destroy();  // unplugs it
  bool Created() const { return created_; }
  void Input(const std::vector<std::uint8_t>& report);  // report ID first
  int Fd() const { return fd_; }
  // The /dev/hidrawN node of the current device; waits up to `ms` for it. Empty when none came.
  std::string WaitHidraw(int ms) const;
  const std::string& Uniq() const { return uniq_; }

  // One event from the kernel (call when Fd() is readable). Feature requests are answered from
  // the table set with AnswerFeature (unknown IDs fail with EIO); a line describing the event is
  // returned ("output 0a 01 ...", "set-report 09 ...", "get-report 09", "open", "close", ...).
  std::string HandleEvent();
  void AnswerFeature(const std::vector<std::uint8_t>& report);

 private:
  UhidParams params_;
  int fd_ = -1;
  bool created_ = false;
  std::string uniq_;
  unsigned generation_ = 0;
  std::vector<std::vector<std::uint8_t>> answers_;
};

}  // namespace kvtest
