#include "tools/kvmouse/kvmouse.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/strings.h"

namespace kv::kvmouse {
namespace {

int Value(const std::string& text, int max, const char* what) {
  auto v = ParseInteger(text);
  if (!v || *v < 0 || *v > max)
    throw std::invalid_argument(std::string(what) + " must be a number from 0 to " +
                                std::to_string(max));
  return static_cast<int>(*v);
}

}  // namespace

std::vector<std::vector<std::uint8_t>> ReportsFor(const std::string& command,
                                                  const std::string& value) {
  if (command == "press") {
    const int b = Value(value, 23, "the button");
    const std::uint32_t mask = 1u << b;
    return {{7, static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(mask >> 8),
             static_cast<std::uint8_t>(mask >> 16), 0, 0, 0, 0},
            {7, 0, 0, 0, 0, 0, 0, 0}};
  }
  if (command == "profile")
    return {{8, 1, static_cast<std::uint8_t>(Value(value, 255, "the profile")), 0, 0, 0, 0, 0}};
  if (command == "notify")
    return {{8, 2, static_cast<std::uint8_t>(Value(value, 255, "the value")), 0, 0, 0, 0, 0}};
  throw std::invalid_argument("unknown command '" + command + "' (press, profile or notify)");
}

std::string Send(const std::string& socketPath,
                 const std::vector<std::vector<std::uint8_t>>& reports) {
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path)
    return "the socket path is empty or too long";
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::strerror(errno);
  std::string error;
  for (const auto& r : reports) {
    if (sendto(fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
      error = "no kvmon --virtual-mouse is listening on " + socketPath + " (" +
              std::strerror(errno) + ")";
      break;
    }
  }
  close(fd);
  return error;
}

}  // namespace kv::kvmouse
