#include <cstdio>
#include <stdexcept>

#include "tools/kvmouse/kvmouse.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kvmouse SOCKET press B | profile P | notify V\n");
    return 2;
  }
  try {
    const auto reports = kv::kvmouse::ReportsFor(argv[2], argv[3]);
    const std::string error = kv::kvmouse::Send(argv[1], reports);
    if (!error.empty()) {
      std::fprintf(stderr, "kvmouse: %s\n", error.c_str());
      return 1;
    }
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "kvmouse: %s\n", e.what());
    return 2;
  }
  return 0;
}
