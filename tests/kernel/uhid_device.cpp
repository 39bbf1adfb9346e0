#include "uhid_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kvtest {
namespace {

void WriteEvent(int fd, const uhid_event& ev) {
  if (write(fd, &ev, sizeof ev) != static_cast<ssize_t>(sizeof ev))
    throw std::runtime_error(std::string("write to /dev/uhid failed: ") + std::strerror(errno));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void SleepMs(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

}  // namespace

std::vector<std::uint8_t> ParseHexBytes(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::string digits;
  auto flush = [&] {
    if (digits.size() % 2) throw std::runtime_error("odd number of hex digits in '" + text + "'");
    for (std::size_t i = 0; i < digits.size(); i += 2)
      out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    digits.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = text[i];
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        digits.empty()) {
      ++i;
    } else if (std::isxdigit(c)) {
      digits += static_cast<char>(c);
    } else if (std::isspace(c) || c == ',') {
      flush();
    } else if (c == '#') {  // a comment to the end of the line
      flush();
      while (i < text.size() && text[i] != '\n') ++i;
    } else {
      throw std::runtime_error(std::string("not hex text: '") + static_cast<char>(c) + "'");
    }
  }
  flush();
  return out;
}

std::vector<std::uint8_t> LoadDescriptorFile(const std::string& file) {
  std::ifstream probe(file);
  if (!probe) throw std::runtime_error("cannot read " + file);
  const std::string bytes = ReadFile(file);
  // Hex text (with '#' comments) is printable; a raw descriptor starts with a control byte.
  bool text = !bytes.empty();
  for (unsigned char c : bytes)
    if (c >= 0x7F || (c < 0x20 && !std::isspace(c))) text = false;
  std::vector<std::uint8_t> d =
      text ? ParseHexBytes(bytes) : std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  if (d.empty()) throw std::runtime_error(file + " holds no descriptor");
  if (d.size() > HID_MAX_DESCRIPTOR_SIZE)
    throw std::runtime_error(file + ": descriptor longer than uhid takes");
  return d;
}

std::string HexBytes(const std::uint8_t* data, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", data[i]);
    s += b;
  }
  return s;
}

UhidDevice::UhidDevice(UhidParams params) : params_(std::move(params)) {
  fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd_ < 0)
    throw std::runtime_error(std::string("cannot open /dev/uhid: ") + std::strerror(errno));
}

UhidDevice::~UhidDevice() {
  if (created_) {
    try {
      Destroy();
    } catch (...) {
    }
  }
  close(fd_);
}

void UhidDevice::Create() {
  uhid_event ev{};
  ev.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, "%s",
                params_.name.c_str());
  std::snprintf(reinterpret_cast<char*>(ev.u.create2.phys), sizeof ev.u.create2.phys, "kvtest/%d",
                getpid());
  // A fresh unique string per plug lets WaitHidraw find this device's node among the others.
  uniq_ = "kvtest-" + std::to_string(getpid()) + "-" + std::to_string(++generation_);
  std::snprintf(reinterpret_cast<char*>(ev.u.create2.uniq), sizeof ev.u.create2.uniq, "%s",
                uniq_.c_str());
  ev.u.create2.rd_size = static_cast<std::uint16_t>(params_.descriptor.size());
  ev.u.create2.bus = params_.bus;
  ev.u.create2.vendor = params_.vendor;
  ev.u.create2.product = params_.product;
  ev.u.create2.version = params_.version;
  std::memcpy(ev.u.create2.rd_data, params_.descriptor.data(), params_.descriptor.size());
  WriteEvent(fd_, ev);
  created_ = true;
}

void UhidDevice::Destroy() {
  uhid_event ev{};
  ev.type = UHID_DESTROY;
  created_ = false;
  WriteEvent(fd_, ev);
}

void UhidDevice::Input(const std::vector<std::uint8_t>& report) {
  if (report.empty() || report.size() > UHID_DATA_MAX)
    throw std::runtime_error("bad input report size");
  uhid_event ev{};
  ev.type = UHID_INPUT2;
  ev.u.input2.size = static_cast<std::uint16_t>(report.size());
  std::memcpy(ev.u.input2.data, report.data(), report.size());
  WriteEvent(fd_, ev);
}

std::string UhidDevice::WaitHidraw(int ms) const {
  for (int waited = 0; waited <= ms; waited += 10) {
    if (DIR* dir = opendir("/sys/class/hidraw")) {
      std::string found;
      while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string uevent =
            ReadFile(std::string("/sys/class/hidraw/") + e->d_name + "/device/uevent");
        if (uevent.find("HID_UNIQ=" + uniq_ + "\n") != std::string::npos) found = e->d_name;
      }
      closedir(dir);
      if (!found.empty() && access(("/dev/" + found).c_str(), F_OK) == 0) return "/dev/" + found;
    }
    SleepMs(10);
  }
  return "";
}

void UhidDevice::AnswerFeature(const std::vector<std::uint8_t>& report) {
  if (report.empty()) return;
  for (auto& a : answers_)
    if (a[0] == report[0]) {
      a = report;
      return;
    }
  answers_.push_back(report);
}

std::string UhidDevice::HandleEvent() {
  uhid_event ev{};
  const ssize_t n = read(fd_, &ev, sizeof ev);
  if (n <= 0) return n == 0 ? "eof" : std::string("error ") + std::strerror(errno);
  switch (ev.type) {
    case UHID_START: return "start";
    case UHID_STOP: return "stop";
    case UHID_OPEN: return "open";
    case UHID_CLOSE: return "close";
    case UHID_OUTPUT: return "output " + HexBytes(ev.u.output.data, ev.u.output.size);
    case UHID_GET_REPORT: {
      uhid_event reply{};
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = ev.u.get_report.id;
      reply.u.get_report_reply.err = EIO;
      for (const auto& a : answers_)
        if (a[0] == ev.u.get_report.rnum) {
          reply.u.get_report_reply.err = 0;
          reply.u.get_report_reply.size = static_cast<std::uint16_t>(a.size());
          std::memcpy(reply.u.get_report_reply.data, a.data(), a.size());
        }
      WriteEvent(fd_, reply);
      char line[48];
      std::snprintf(line, sizeof line, "get-report %02x", ev.u.get_report.rnum);
      return line;
    }
    case UHID_SET_REPORT: {
      uhid_event reply{};
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = ev.u.set_report.id;
      reply.u.set_report_reply.err = 0;
      WriteEvent(fd_, reply);
      return "set-report " + HexBytes(ev.u.set_report.data, ev.u.set_report.size);
    }
    default: return "event " + std::to_string(ev.type);
  }
}

}  // namespace kvtest
