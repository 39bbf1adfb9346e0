// libFuzzer target: any bytes as a run of datagrams on the virtual mouse's socket. Each
// datagram is one input report or nothing; what is accepted must be exactly the datagram, and
// the device's own descriptor must read every accepted report without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "app/linux/virtual_mouse.h"
#include "platform/hid_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace desc = kv::platform::descriptor;
  static const desc::ReportDescriptor descriptor =
      desc::ParseReportDescriptor(kv::app::VirtualMouse::Descriptor());
  // Each datagram: a length byte, then that many bytes (fewer at the end of the input).
  while (size > 0) {
    const std::size_t n = std::min<std::size_t>(data[0], size - 1);
    const std::span<const std::uint8_t> datagram(data + 1, n);
    data += 1 + n;
    size -= 1 + n;
    const auto report = kv::app::VirtualMouse::ReportFromDatagram(datagram);
    if (!report) {
      if (n >= 2 && n <= 64) std::abort();  // a report of a size a device may send was dropped
      continue;
    }
    if (report->size() != n || !std::equal(report->begin(), report->end(), datagram.begin()))
      std::abort();
    for (const auto& c : descriptor.collections) (void)c.ButtonsOn(*report);
  }
  return 0;
}
