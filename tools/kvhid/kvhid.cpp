#include "tools/kvhid/kvhid.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "base/cli/command_line.h"
#include "base/strings.h"
#include "platform/hid_descriptor.h"
#include "base/path.h"
#include "profile/dm.h"
#include "profile/options.h"

namespace kv::tools {
namespace {

class BadInput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string JsonString(const std::string& s) {
  std::ostringstream o;
  o << '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') o << '\\' << c;
    else if (c < 0x20)
      o << "\\u" << std::hex << std::setw(4) << std::setfill('0') << int(c) << std::dec;
    else o << c;
  }
  o << '"';
  return o.str();
}

std::string Hex4(unsigned v) {
  std::ostringstream o;
  o << "0x" << std::uppercase << std::hex << std::setw(4) << std::setfill('0') << v;
  return o.str();
}

// Hex digits in pairs; blanks, commas and "0x" prefixes between bytes are allowed.
std::vector<std::uint8_t> ParseHex(const std::string& text, const std::string& what) {
  std::vector<std::uint8_t> out;
  std::string digits;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        digits.size() % 2 == 0) {
      ++i;
      continue;
    }
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ':' || c == '-') {
      if (digits.size() % 2 != 0) throw BadInput(what + " has an odd number of hex digits");
    } else {
      throw BadInput(what + " is not hex text (unexpected '" + std::string(1, c) + "')");
    }
  }
  if (digits.size() % 2 != 0) throw BadInput(what + " has an odd number of hex digits");
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

bool LooksLikeHexText(const std::string& bytes) {
  if (bytes.empty()) return false;
  for (unsigned char c : bytes)
    if (!std::isxdigit(c) && !std::isspace(c) && c != ',' && c != 'x' && c != 'X' && c != ':' &&
        c != '-')
      return false;
  return true;
}

platform::descriptor::ReportDescriptor LoadDescriptor(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw BadInput("cannot read " + file);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::uint8_t> d = LooksLikeHexText(bytes)
                                    ? ParseHex(bytes, file)
                                    : std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  if (d.empty()) throw BadInput(file + " is empty");
  try {
    return platform::descriptor::ParseReportDescriptor(d);
  } catch (const platform::descriptor::DescriptorError& e) {
    throw BadInput(file + ": bad report descriptor: " + e.what());
  }
}

void Describe(const platform::descriptor::ReportDescriptor& d, bool json, std::ostream& out) {
  if (json) {
    out << "{\"collections\": [";
    for (std::size_t i = 0; i < d.collections.size(); ++i) {
      const auto c = d.collections[i].Capabilities();
      out << (i ? ", " : "") << "{\"usage_page\": " << c.usagePage << ", \"usage\": " << c.usage
          << ", \"input_len\": " << c.inputReportByteLength
          << ", \"output_len\": " << c.outputReportByteLength
          << ", \"feature_len\": " << c.featureReportByteLength << "}";
    }
    out << "]}\n";
    return;
  }
  for (std::size_t i = 0; i < d.collections.size(); ++i) {
    const auto c = d.collections[i].Capabilities();
    out << "collection " << i << ": usage page " << Hex4(c.usagePage) << ", usage " << Hex4(c.usage)
        << ", input " << c.inputReportByteLength << ", output " << c.outputReportByteLength
        << ", feature " << c.featureReportByteLength << " bytes\n";
  }
}

void Usages(const platform::descriptor::ReportDescriptor& d,
            const std::vector<std::uint8_t>& report, bool json, std::ostream& out) {
  if (report.empty()) throw BadInput("the report is empty");
  for (const auto& c : d.collections) {
    const auto on = c.ButtonsOn(report);
    if (!on) continue;
    if (json) {
      out << "{\"usages\": [";
      for (std::size_t i = 0; i < on->size(); ++i)
        out << (i ? ", " : "") << "[" << (*on)[i].usagePage << ", " << (*on)[i].usage << "]";
      out << "]}\n";
    } else {
      if (on->empty()) out << "no buttons on\n";
      for (const auto& u : *on)
        out << "usage page " << Hex4(u.usagePage) << ", usage " << Hex4(u.usage) << "\n";
    }
    return;
  }
  throw BadInput("no collection has an input report with ID " + std::to_string(report[0]) + " of " +
                 std::to_string(report.size()) + " bytes");
}

void List(platform::Hid& hid, bool json, std::ostream& out) {
  const auto interfaces = hid.Interfaces();
  if (!interfaces) throw BadInput("the HID interfaces cannot be listed");
  if (json) out << "{\"interfaces\": [";
  bool first = true;
  for (const auto& info : *interfaces) {
    std::optional<platform::HidCapabilities> caps;
    if (auto dev = hid.Open(info.path, platform::HidOpenMode::Synchronous))
      caps = dev->Capabilities();
    if (json) {
      out << (first ? "" : ", ") << "{\"path\": " << JsonString(info.path)
          << ", \"hardware_ids\": [";
      for (std::size_t i = 0; i < info.hardwareIds.size(); ++i)
        out << (i ? ", " : "") << JsonString(info.hardwareIds[i]);
      out << "]";
      if (caps)
        out << ", \"usage_page\": " << caps->usagePage << ", \"usage\": " << caps->usage
            << ", \"input_len\": " << caps->inputReportByteLength
            << ", \"output_len\": " << caps->outputReportByteLength
            << ", \"feature_len\": " << caps->featureReportByteLength;
      else out << ", \"error\": \"cannot open or read its capabilities\"";
      out << "}";
    } else {
      out << info.path << "\n";
      for (const auto& id : info.hardwareIds) out << "  id " << id << "\n";
      if (caps)
        out << "  usage page " << Hex4(caps->usagePage) << ", usage " << Hex4(caps->usage)
            << ", input " << caps->inputReportByteLength << ", output "
            << caps->outputReportByteLength << ", feature " << caps->featureReportByteLength
            << " bytes\n";
      else out << "  (cannot open or read its capabilities)\n";
    }
    first = false;
  }
  if (json) out << "]}\n";
}

// The include list of a config.ini named on the command line.
class ConfigAt : public platform::Paths {
 public:
  explicit ConfigAt(std::string file) : file_(std::move(file)) {}
  std::string ExecutableDir() override { return ""; }
  std::string DocumentsDir() override { return ""; }
  std::string ConfigFile() override { return file_; }

 private:
  std::string file_;
};

// Four hex digits of an ID, both letter cases accepted: the kernel names HID devices in upper
// case, while people (and lsusb) write lower case.
std::string HexPattern(std::string_view hex) {
  std::string out;
  for (char c : hex) {
    const char lower = AsciiLower(c);
    if (lower >= 'a' && lower <= 'f')
      out += std::string("[") + lower + static_cast<char>(lower - 'a' + 'A') + "]";
    else out += c;
  }
  return out;
}

// The four hex digits after `tag` ("VID_") in a hardware ID, or "".
std::string IdField(const std::string& id, std::string_view tag) {
  const std::string upper = AsciiUpper(id);
  const auto at = upper.find(tag);
  if (at == std::string::npos || at + tag.size() + 4 > upper.size()) return "";
  const std::string hex = upper.substr(at + tag.size(), 4);
  for (char c : hex)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
  return hex;
}

void ProbeNode(const std::string& sysPath, std::ostream& out) {
  std::ifstream in(sysPath + "/device/report_descriptor", std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the report descriptor of " + sysPath);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  platform::descriptor::ReportDescriptor d;
  try {
    d = platform::descriptor::ParseReportDescriptor(
        std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  } catch (const platform::descriptor::DescriptorError&) {
    return;  // not a device the monitor could use: no property
  }
  for (const auto& c : d.collections) {
    const auto caps = c.Capabilities();
    if (caps.usagePage == kMouseControlSelector.UsagePage &&
        caps.usage == kMouseControlSelector.Usage) {
      out << "KVMON_CONTROL=1\n";
      return;
    }
  }
}

}  // namespace

std::string UdevRule(const std::vector<std::string>& includeList, const std::string& source,
                     const std::string& group, const std::string& kvhidPath) {
  std::ostringstream out;
  const std::string access = ", TAG+=\"uaccess\", GROUP=\"" + group + "\", MODE=\"0660\"\n";
  out << "# kvmon: read and write access to the mouse's hidraw nodes, made by `kvhid udev-rule`\n"
      << "# from " << source << ". The user at the seat gets it (uaccess); members of the group\n"
      << "# " << group << " get it in any session.\n";
  std::vector<std::pair<std::string, std::string>> seen;
  for (const std::string& id : includeList) {
    const std::string vid = IdField(id, "VID_"), pid = IdField(id, "PID_");
    if (vid.empty()) {
      out << "# skipped (no vendor ID): " << id << "\n";
      continue;
    }
    if (std::find(seen.begin(), seen.end(), std::pair(vid, pid)) != seen.end()) continue;
    seen.emplace_back(vid, pid);
    const std::string product = pid.empty() ? "*" : HexPattern(pid) + ".*";
    // 0003: USB, 0005: Bluetooth.
    for (const char* bus : {"0003", "0005"})
      out << "SUBSYSTEM==\"hidraw\", KERNELS==\"" << bus << ":" << HexPattern(vid) << ":" << product
          << "\"" << access;
  }
  if (seen.empty()) {
    // No device named: the monitor opens every interface with its control collection, so the
    // rule grants access to exactly those, told by their report descriptor.
    out << "# No device in the include list: every hidraw node with the control collection.\n"
        << "SUBSYSTEM==\"hidraw\", ACTION!=\"remove\", IMPORT{program}=\"" << kvhidPath
        << " udev-probe %S%p\"\n"
        << "SUBSYSTEM==\"hidraw\", ENV{KVMON_CONTROL}==\"1\"" << access;
  }
  return out.str();
}

int RunKvhid(const std::vector<std::string>& args, platform::Hid* hid, std::ostream& out,
             std::ostream& err, const std::string& configFile, const std::string& selfPath) {
  CLI::App app("Inspect HID interfaces and report descriptors for kvmon's config.ini", "kvhid");
  kv::cli::Prepare(app,
                   "FILE holds a report descriptor in binary or as hex text. Exit status: 0 "
                   "done, 1 failed, 2 usage error.");
  app.require_subcommand(1);
  bool json = false;
  app.add_flag("--json", json, "Print JSON");
  app.fallthrough();
  auto* list = app.add_subcommand("list", "Every present HID interface with its hardware IDs");
  std::string file, reportHex, sysPath, config = configFile, group = "plugdev";
  auto* describe = app.add_subcommand("describe", "The top-level collections of a descriptor");
  describe->add_option("FILE", file, "Report descriptor")->required();
  auto* usages = app.add_subcommand("usages", "The buttons that are on in an input report");
  usages->add_option("FILE", file, "Report descriptor")->required();
  usages->add_option("REPORT-HEX", reportHex, "Input report, report ID first")->required();
  auto* rule = app.add_subcommand("udev-rule", "The udev rule for the devices config.ini includes");
  rule->add_option("--config", config, "config.ini to read")->capture_default_str();
  rule->add_option("--group", group, "Group that gets access in any session")
      ->capture_default_str();
  std::string kvhidPath = selfPath;
  rule->add_option("--kvhid", kvhidPath, "kvhid as the rule runs it (default: this program)");
  auto* probe = app.add_subcommand(
      "udev-probe", "Print KVMON_CONTROL=1 for a hidraw node with the control collection");
  probe->add_option("SYSPATH", sysPath, "The node's sysfs folder")->required();
  if (auto status = kv::cli::Parse(app, args, out, err)) return *status;

  try {
    if (list->parsed()) {
      if (!hid || !hid->Available()) throw BadInput("no HID service is available on this machine");
      List(*hid, json, out);
    } else if (describe->parsed()) {
      Describe(LoadDescriptor(file), json, out);
    } else if (usages->parsed()) {
      const auto d = LoadDescriptor(file);
      std::vector<std::uint8_t> report;
      try {
        report = ParseHex(reportHex, "REPORT-HEX");
      } catch (const BadInput& e) {
        return kv::cli::ReportUsageError(app, e.what(), err);
      }
      Usages(d, report, json, out);
    } else if (rule->parsed()) {
      if (config.empty()) throw BadInput("no config.ini: name one with --config");
      if (!path::FileExists(config)) throw BadInput("cannot read " + config);
      if (group.empty() || group.find_first_of("\"\\ \t\n") != std::string::npos)
        return kv::cli::ReportUsageError(app, "the group name \"" + group + "\" is not usable",
                                         err);
      ConfigAt paths(config);
      out << UdevRule(LoadIncludeHIDDeviceList(paths), config, group, kvhidPath);
    } else if (probe->parsed()) {
      ProbeNode(sysPath, out);
    }
    return 0;
  } catch (const std::exception& e) {
    err << "kvhid: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace kv::tools
