#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/cli/command_line.h"
#include "tools/kvmouse/kvmouse.h"

int main(int argc, char** argv) {
  CLI::App app("Send the input reports of the virtual mouse of kvmon --virtual-mouse SOCKET",
               "kvmouse");
  kv::cli::Prepare(app,
                   "COMMAND: press B (button 0..23 pressed, then released) | profile P "
                   "(on-board profile switch, 0..255) | notify V (device notification, 0..255). "
                   "Exit status: 0 sent, 1 not sent, 2 usage error.");
  std::string socket, command, value;
  app.add_option("SOCKET", socket, "The socket kvmon listens on")->required();
  app.add_option("COMMAND", command, "press, profile or notify")->required();
  app.add_option("VALUE", value, "The button, profile or value")->required();
  if (auto status = kv::cli::Parse(app, std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                   std::cerr))
    return *status;
  std::vector<std::vector<std::uint8_t>> reports;
  try {
    reports = kv::kvmouse::ReportsFor(command, value);
  } catch (const std::invalid_argument& e) {
    return kv::cli::ReportUsageError(app, e.what(), std::cerr);
  }
  const std::string error = kv::kvmouse::Send(socket, reports);
  if (!error.empty()) {
    std::fprintf(stderr, "kvmouse: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
