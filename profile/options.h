#pragma once
// The options of "config.ini" that the profile store reads once at start-up. The file is only
// ever read; a missing file, section or key gives the defaults.
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kv {

struct TOptionsFromConfigFile {
  std::string ProfileRegFolder;    // registry key below the current user: "software\" + value
  std::string ProfileFolder;       // below the documents folder
  std::string ProfileNamePrefix;   // starts the default profile file and macro folder names
  std::string ProfileMacroFolder;  // below ProfileFolder
};

struct TOtherConfig {
  int ShowNumLock = 0;
  int ShowCapsLock = 0;
  int ShowScrollLock = 0;
  int ShowLockStatePop = 0;
  // [HelpFiles] as name=value pairs in file order; a name appears once.
  std::vector<std::pair<std::string, std::string>> HelpFile;
  int Nologo = 0;
  std::string OfficialWebsite;
};

// Each reads paths.ConfigFile() afresh. A file that cannot be read, or is larger than an options
// file can be, gives the defaults; ConfigFileProblem says why (empty when the file was read or
// does not exist).
TOptionsFromConfigFile LoadOptionsFromConfigFile(platform::Paths& paths);
std::string ConfigFileProblem(platform::Paths& paths);
TOtherConfig LoadOtherConfig(platform::Paths& paths);
// The device IDs of [IncludeHIDDeviceList]: keys id1 to id101, ending at the first missing or
// empty one.
std::vector<std::string> LoadIncludeHIDDeviceList(platform::Paths& paths);

}  // namespace kv
