#include "tools/kvhid/kvhid.h"

#include <cctype>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "platform/hid_descriptor.h"

namespace kv::tools {
namespace {

class BadInput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kUsage =
    "usage: kvhid list [--json] | describe FILE [--json] | usages FILE REPORT-HEX [--json]";

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

}  // namespace

int RunKvhid(const std::vector<std::string>& args, platform::Hid* hid, std::ostream& out,
             std::ostream& err) {
  try {
    std::vector<std::string> words;
    bool json = false;
    for (const auto& a : args) {
      if (a == "--json") json = true;
      else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
        throw BadInput("unknown option " + a + "\n" + kUsage);
      else words.push_back(a);
    }
    if (words.empty()) throw BadInput(kUsage);
    const std::string& cmd = words[0];
    if (cmd == "list" && words.size() == 1) {
      if (!hid || !hid->Available()) throw BadInput("no HID service is available on this machine");
      List(*hid, json, out);
    } else if (cmd == "describe" && words.size() == 2) {
      Describe(LoadDescriptor(words[1]), json, out);
    } else if (cmd == "usages" && words.size() == 3) {
      const auto d = LoadDescriptor(words[1]);
      Usages(d, ParseHex(words[2], "REPORT-HEX"), json, out);
    } else {
      throw BadInput(kUsage);
    }
    return 0;
  } catch (const BadInput& e) {
    err << "kvhid: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "kvhid: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace kv::tools
