#pragma once
// The languages the monitor's main window carries in itself: "CH" at position 0 and "US" at
// position 1, in the language resource format.
#include <cstdint>
#include <vector>

namespace kv {

std::vector<std::uint8_t> MonitorLanguageResource();

}  // namespace kv
