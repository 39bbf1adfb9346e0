#pragma once
// kvhid: what a user needs to fill the include list of config.ini.
//   kvhid list [--json]                      every present HID interface
//   kvhid describe FILE [--json]             the top-level collections of a report descriptor
//   kvhid usages FILE REPORT-HEX [--json]    the buttons that are on in an input report
// FILE holds the descriptor in binary or as hex text.
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace kv::tools {

// Returns the exit status. `hid` is the native HID service, or null where there is none.
int RunKvhid(const std::vector<std::string>& args, platform::Hid* hid, std::ostream& out,
             std::ostream& err);

}  // namespace kv::tools
