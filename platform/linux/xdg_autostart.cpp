#include "platform/linux/xdg_autostart.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "base/ini_file.h"
#include "base/strings.h"

namespace kv::platform::linux_ {
namespace fs = std::filesystem;
namespace {

// An entry starts the program unless it is hidden or switched off the GNOME way.
bool EntryEnabled(const std::string& file) {
  const IniFile entry = IniFile::Load(file);
  const auto yes = [&](const char* key, const char* def) {
    return EqualsIgnoreCase(entry.ReadString("Desktop Entry", key, def), "true");
  };
  return !yes("Hidden", "false") && yes("X-GNOME-Autostart-enabled", "true");
}

// The Exec value of a desktop entry: quoted when it holds anything but plain characters.
std::string ExecValue(const std::string& program) {
  if (program.find_first_of(" \t\"'\\$`") == std::string::npos) return program;
  std::string out = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += "\\\\";
    out += c;
  }
  return out + "\"";
}

}  // namespace

XdgAutostart::XdgAutostart(std::string userConfigHome, std::vector<std::string> systemConfigDirs,
                           std::string exec)
    : userDir_(std::move(userConfigHome) + "/autostart"),
      systemDirs_(std::move(systemConfigDirs)),
      exec_(std::move(exec)) {}

XdgAutostart XdgAutostart::ForThisUser(std::string exec) {
  std::string user;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') user = x;
  else user = std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/.config";
  std::vector<std::string> system;
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::stringstream list(dirs && *dirs ? dirs : "/etc/xdg");
  for (std::string dir; std::getline(list, dir, ':');)
    if (!dir.empty() && dir[0] == '/') system.push_back(dir);
  return XdgAutostart(user, system, std::move(exec));
}

std::string XdgAutostart::UserEntry() const { return userDir_ + "/" + kEntryName; }

bool XdgAutostart::Enabled() const {
  std::error_code ec;
  if (fs::exists(UserEntry(), ec)) return EntryEnabled(UserEntry());
  for (const std::string& dir : systemDirs_) {
    const std::string file = dir + "/autostart/" + kEntryName;
    if (fs::exists(file, ec)) return EntryEnabled(file);
  }
  return false;
}

void XdgAutostart::SetEnabled(bool on) const {
  std::error_code ec;
  fs::create_directories(userDir_, ec);
  const std::string file = UserEntry(), temp = file + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Gaming Mouse Monitor\n"
        << "Comment=Carries out the mouse's host-side button functions\n"
        << "Exec=" << ExecValue(exec_) << "\n"
        << "Icon=kvmon\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=" << (on ? "true" : "false") << "\n";
    if (!on) out << "Hidden=true\n";
    out.flush();
    if (!out) {
      fs::remove(temp, ec);
      throw std::runtime_error("cannot write " + file);
    }
  }
  fs::rename(temp, file, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw std::runtime_error("cannot write " + file + ": " + ec.message());
  }
}

}  // namespace kv::platform::linux_
