#include "profile/options.h"

#include <algorithm>

#include "base/ini_file.h"
#include "base/strings.h"

namespace kv {

TOptionsFromConfigFile LoadOptionsFromConfigFile(platform::Paths& paths) {
  const IniFile ini = IniFile::Load(paths.ConfigFile());
  TOptionsFromConfigFile o;
  // The prefix goes in front of the default too: the store has always lived under
  // "software\software\KVgmmouse" when the file names no folder.
  o.ProfileRegFolder =
      "software\\" + ini.ReadString("options", "ProfileRegFolder", "software\\KVgmmouse");
  o.ProfileFolder = ini.ReadString("options", "profileFolder", "Profile");
  o.ProfileNamePrefix = ini.ReadString("options", "profilePrefix", "Profile");
  o.ProfileMacroFolder = ini.ReadString("options", "profileMacroFolder", "MacroDB");
  return o;
}

TOtherConfig LoadOtherConfig(platform::Paths& paths) {
  const IniFile ini = IniFile::Load(paths.ConfigFile());
  TOtherConfig c;
  c.Nologo = ParseInteger(TrimBlanks(ini.ReadString("OtherConfig", "NoLogo", "0"))).value_or(0);
  c.OfficialWebsite = ini.ReadString("OtherConfig", "OfficialWebsite", "http://");
  for (const std::string& name : ini.KeyNames("HelpFiles")) {
    const std::string value = ini.ReadString("HelpFiles", name, "");
    auto it = std::find_if(c.HelpFile.begin(), c.HelpFile.end(),
                           [&](const auto& e) { return EqualsIgnoreCase(e.first, name); });
    if (value.empty()) {
      if (it != c.HelpFile.end()) c.HelpFile.erase(it);
    } else if (it != c.HelpFile.end()) {
      it->second = value;
    } else {
      c.HelpFile.emplace_back(name, value);
    }
  }
  return c;
}

std::vector<std::string> LoadIncludeHIDDeviceList(platform::Paths& paths) {
  const IniFile ini = IniFile::Load(paths.ConfigFile());
  std::vector<std::string> ids;
  for (int n = 1; n <= 101; ++n) {
    std::string id = ini.ReadString("IncludeHIDDeviceList", "id" + std::to_string(n), "");
    if (id.empty()) break;
    ids.push_back(std::move(id));
  }
  return ids;
}

}  // namespace kv
