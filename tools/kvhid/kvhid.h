#pragma once
// kvhid: what a user needs to fill the include list of config.ini.
//   kvhid list [--json]                      every present HID interface
//   kvhid describe FILE [--json]             the top-level collections of a report descriptor
//   kvhid usages FILE REPORT-HEX [--json]    the buttons that are on in an input report
//   kvhid udev-rule [--config F] [--group G] the udev rule for the devices config.ini includes
//   kvhid udev-probe SYSPATH                 KVMON_CONTROL=1 for a node with the control collection
// FILE holds the descriptor in binary or as hex text.
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace kv::tools {

// Returns the exit status: 0 done, 1 failed, 2 usage error. `hid` is the native HID service, or
// null where there is none; `configFile` the config.ini the monitor reads (udev-rule's default);
// `selfPath` where this program lies (what the rule runs for udev-probe).
int RunKvhid(const std::vector<std::string>& args, platform::Hid* hid, std::ostream& out,
             std::ostream& err, const std::string& configFile = "",
             const std::string& selfPath = "kvhid");

// The rule for the devices of an include list (USB and Bluetooth); with no usable ID, a rule
// that finds the control collection through `kvhidPath udev-probe`. `source` names where the list
// came from, for the rule's comment.
std::string UdevRule(const std::vector<std::string>& includeList, const std::string& source,
                     const std::string& group, const std::string& kvhidPath);

}  // namespace kv::tools
