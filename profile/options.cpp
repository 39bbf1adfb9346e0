#include "profile/options.h"

#include <unordered_map>

#include "base/ini_file.h"
#include "base/strings.h"

namespace kv {
namespace {

// Each reader opens the file afresh, in the encoding Windows' own reader would use.
IniFile ReadConfigFile(platform::Paths& paths) {
  return IniFile::Load(paths.ConfigFile(), [&paths](std::string_view bytes) {
    return paths.DecodeUnmarkedText(bytes);
  });
}

}  // namespace

std::string ConfigFileProblem(platform::Paths& paths) { return ReadConfigFile(paths).Problem(); }

TOptionsFromConfigFile LoadOptionsFromConfigFile(platform::Paths& paths) {
  const IniFile ini = ReadConfigFile(paths);
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
  const IniFile ini = ReadConfigFile(paths);
  TOtherConfig c;
  c.Nologo = ParseInteger(TrimBlanks(ini.ReadString("OtherConfig", "NoLogo", "0"))).value_or(0);
  c.OfficialWebsite = ini.ReadString("OtherConfig", "OfficialWebsite", "http://");
  // Names compare without regard to case, as in the list the configurator keeps. Removals only
  // mark an entry, so that a large section is still read in linear time.
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<bool> removed;
  std::unordered_map<std::string, std::size_t> byName;
  for (const std::string& name : ini.KeyNames("HelpFiles")) {
    std::string value = ini.ReadString("HelpFiles", name, "");
    const std::string folded = AsciiLower(name);
    const auto it = byName.find(folded);
    if (value.empty()) {
      if (it != byName.end()) {
        removed[it->second] = true;
        byName.erase(it);
      }
    } else if (it != byName.end()) {
      entries[it->second].second = std::move(value);
    } else {
      byName.emplace(folded, entries.size());
      entries.emplace_back(name, std::move(value));
      removed.push_back(false);
    }
  }
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!removed[i]) c.HelpFile.push_back(std::move(entries[i]));
  return c;
}

std::vector<std::string> LoadIncludeHIDDeviceList(platform::Paths& paths) {
  const IniFile ini = ReadConfigFile(paths);
  std::vector<std::string> ids;
  for (int n = 1; n <= 101; ++n) {
    std::string id = ini.ReadString("IncludeHIDDeviceList", "id" + std::to_string(n), "");
    if (id.empty()) break;
    ids.push_back(std::move(id));
  }
  return ids;
}

}  // namespace kv
