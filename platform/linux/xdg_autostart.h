#pragma once
// Start at login through the XDG autostart entry "kvmon.desktop": an entry in the user's
// autostart folder ($XDG_CONFIG_HOME/autostart) overrides the one of the same name in the
// system's ($XDG_CONFIG_DIRS, by default /etc/xdg). Turning it off writes a user entry with
// Hidden=true, so that a system entry no longer starts kvmon for this user.
#include <string>
#include <vector>

namespace kv::platform::linux_ {

class XdgAutostart {
 public:
  // `exec` is what the entry starts (the kvmon program's path).
  XdgAutostart(std::string userConfigHome, std::vector<std::string> systemConfigDirs,
               std::string exec);
  // From $XDG_CONFIG_HOME (else ~/.config) and $XDG_CONFIG_DIRS (else /etc/xdg).
  static XdgAutostart ForThisUser(std::string exec);

  static constexpr const char* kEntryName = "kvmon.desktop";

  // The entry that counts: the user's when there is one, else the first system folder's.
  bool Enabled() const;
  // Writes the user's entry (atomically); throws std::runtime_error with a sentence when it
  // cannot be written.
  void SetEnabled(bool on) const;
  std::string UserEntry() const;

 private:
  std::string userDir_;
  std::vector<std::string> systemDirs_;
  std::string exec_;
};

}  // namespace kv::platform::linux_
