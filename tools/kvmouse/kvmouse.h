#pragma once
// kvmouse: the input reports of the virtual mouse, made from a command line.
//   kvmouse SOCKET press B     button B (0..23) pressed, then released
//   kvmouse SOCKET profile P   the mouse switched to on-board profile P (0..255)
//   kvmouse SOCKET notify V    device notification V (0..255)
#include <cstdint>
#include <string>
#include <vector>

namespace kv::kvmouse {

// The reports (report ID first, 7 data bytes) a command sends, in order. Throws
// std::invalid_argument with one sentence for a bad command or value.
std::vector<std::vector<std::uint8_t>> ReportsFor(const std::string& command,
                                                  const std::string& value);

// Sends each report as one datagram to the socket; "" on success, else the reason.
std::string Send(const std::string& socketPath,
                 const std::vector<std::vector<std::uint8_t>>& reports);

}  // namespace kv::kvmouse
