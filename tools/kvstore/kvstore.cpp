// kvstore: inspect and edit the profile store from a shell, the way the configurator does. It
// starts the store exactly as the monitor does (a first run writes the default records) and
// reads config.ini from its own folder.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/cli/command_line.h"
#include "base/strings.h"
#include "base/utf16.h"
#include "platform/native.h"
#include "profile/dm.h"
#include "app/embedded_languages.h"
#include "app/messages.h"
#include "app/monitor_settings.h"

namespace {

using kv::TDM;
using nlohmann::json;

// Bad input found once the store is open (a profile without storage): one line, status 2.
class BadInput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int Number(const std::string& text, int lo, int hi, const char* what) {
  const std::optional<std::int32_t> n = kv::ParseInteger(text);
  if (!n || *n < lo || *n > hi)
    throw kv::cli::UsageError(std::string(what) + " must be a number from " + std::to_string(lo) +
                              " to " + std::to_string(hi) + ", not \"" + text + "\"");
  return *n;
}

// A parsed command line; everything is checked before the store is touched.
struct Command {
  std::string name;
  bool asJson = false;
  int profile = -1, button = -1, code = -1, key = 0, language = -1;
  bool on = false;
};

// Numbers are taken as text and checked here, so that "-1" is a value and every range error
// reads the same.
std::optional<int> ParseCommand(const std::vector<std::string>& args, Command& c) {
  CLI::App app("Inspect and edit kvmon's profile store, the way the configurator does", "kvstore");
  kv::cli::Prepare(app,
                   "Profiles P are 0..4, buttons B 0..18, function codes 0..38 (28: microphone "
                   "mute). An edit notifies a running monitor. Exit status: 0 done, 1 failed, 2 "
                   "usage error.");
  app.require_subcommand(1);
  std::string p, b, code, key, language;
  auto* dump = app.add_subcommand("dump", "Print the store's records");
  dump->add_flag("--json", c.asJson, "Print JSON");
  auto* options = app.add_subcommand("options", "Print the options of config.ini");
  options->add_flag("--json", c.asJson, "Print JSON");
  auto* setButton = app.add_subcommand("set-button", "Assign function CODE to button B of P");
  setButton->add_option("P", p, "Profile")->required();
  setButton->add_option("B", b, "Button")->required();
  setButton->add_option("CODE", code, "Function code")->required();
  setButton->add_option("KEY", key, "Virtual-key code that a key function sends (1..254)");
  auto* switchTo = app.add_subcommand("switch", "Make profile P the current one");
  switchTo->add_option("P", p, "Profile")->required();
  auto* lang = app.add_subcommand("language", "Select language N (0 CH, 1 US)");
  lang->add_option("N", language, "Language index")->required();
  std::string onOff;
  auto* notifications = app.add_subcommand(
      "mute-notifications", "Show a notification when the mouse button toggles the microphone");
  notifications->add_option("STATE", onOff, "on or off")->required();
  auto* reset = app.add_subcommand("reset", "Restore profile P (or all five) to its defaults");
  reset->add_option("P", p, "Profile");
  if (auto status = kv::cli::Parse(app, args, std::cout, std::cerr)) return status;
  try {
    c.name = app.get_subcommands().front()->get_name();
    if (setButton->parsed()) {
      c.profile = Number(p, 0, kv::kProfileCount - 1, "the profile");
      c.button = Number(b, 0, kv::kButtonRecords - 1, "the button");
      c.code = Number(code, 0, kv::kFunctionCount - 1, "the function code");
      // The key function is written with the key it sends; no other function takes one.
      const bool keyFunction = kv::FunctionKindOf(c.code) == kv::kFunctionKindKey;
      if (keyFunction && key.empty())
        throw kv::cli::UsageError("function " + std::to_string(c.code) +
                                  " sends a key: give its virtual-key code (1 to 254) as KEY");
      if (!keyFunction && !key.empty())
        throw kv::cli::UsageError("function " + std::to_string(c.code) + " takes no KEY");
      if (keyFunction) c.key = Number(key, 1, 254, "the key code");
    } else if (switchTo->parsed() || (reset->parsed() && !p.empty())) {
      c.profile = Number(p, 0, kv::kProfileCount - 1, "the profile");
    } else if (lang->parsed()) {
      c.language = Number(language, 0, 255, "the language index");
    } else if (notifications->parsed()) {
      if (onOff != "on" && onOff != "off")
        throw kv::cli::UsageError("mute-notifications takes \"on\" or \"off\", not \"" + onOff +
                                  "\"");
      c.on = onOff == "on";
    }
  } catch (const kv::cli::UsageError& e) {
    return kv::cli::ReportUsageError(app, e.what(), std::cerr);
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Inspection

std::optional<std::uint32_t> ProfileId(kv::platform::Registry& registry, const TDM& dm) {
  auto key = registry.OpenKey(kv::platform::RootKey::CurrentUser,
                              dm.FOptionsFromConfigFile.ProfileRegFolder);
  if (!key) return std::nullopt;
  const auto v = key->QueryValue("ProfileID");
  if (!v || v->kind != kv::platform::ValueKind::Dword || v->data.size() != 4) return std::nullopt;
  return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (std::uint32_t{v->data[3]} << 24);
}

// The profile manager refuses only what the argument checks already ruled out; a refusal here is
// a fault of this tool, reported as such rather than printed or saved as if it had worked.
void Require(bool done, const std::string& what) {
  if (!done) throw std::logic_error(what + " was refused by the profile manager");
}

// Texts from config.ini and the store are bytes that need not be UTF-8; JSON must be. A byte
// that is not UTF-8 becomes U+FFFD rather than failing the whole output.
std::string JsonText(const json& j) {
  return j.dump(2, ' ', false, json::error_handler_t::replace);
}

const char* StorageName(kv::TProfileStorage storage) {
  switch (storage) {
    case kv::TProfileStorage::Registry: return "registry";
    case kv::TProfileStorage::File: return "file";
    case kv::TProfileStorage::None: break;
  }
  return "none";
}

json ProfileJson(TDM& dm, int i) {
  auto p = std::make_unique<kv::TMouseProfileInfo>();
  Require(dm.ReadProfileInfo(*p, i), "reading profile " + std::to_string(i));
  const kv::TMOUSECONFIGINFO& c = p->ConfigInfo;
  const kv::TPROFILESETTINGINFO& s = dm.FProfileSettingGroup.ProfileSettingList[i];
  json buttons = json::array();
  for (const kv::TBUTTONFUNCINFO& b : c.ButtonFuncInfo)
    buttons.push_back({{"function_code", b.FunctionCode},
                       {"function_kind", b.FunctionKind},
                       {"type_code", b.TypeCode},
                       {"value_code", b.ValueCode}});
  json cpi = json::array();
  for (const kv::TCPISTATE& l : c.CPIState) cpi.push_back({l.CPIX, l.CPIY, l.CPIEnabled});
  return {{"index", i},
          {"storage_type", s.StorageType},
          {"storage", StorageName(dm.ProfileStorage(i))},
          {"file_name", kv::ReadField(s.ProfileFileName)},
          {"file_path", kv::ReadField(s.ProfileFilePath)},
          {"file_version", p->ProfileHeader.FFileVersion},
          {"button_count", c.ButtonCount},
          {"buttons", buttons},
          {"report_rate", c.ReportRate},
          {"current_cpi_index", c.CurrentCPIIndex},
          {"cpi_level", c.CPILevel},
          {"cpi", cpi},
          {"led", {c.LEDConfig.R, c.LEDConfig.G, c.LEDConfig.B}}};
}

json DumpJson(TDM& dm, kv::platform::Registry& registry) {
  json profiles = json::array();
  for (int i = 0; i < kv::kProfileCount; ++i) profiles.push_back(ProfileJson(dm, i));
  const auto id = ProfileId(registry, dm);
  const kv::TProfileSettingGroup& g = dm.FProfileSettingGroup;
  return {{"registry_folder", dm.FOptionsFromConfigFile.ProfileRegFolder},
          {"profile_id", id ? json(*id) : json(nullptr)},
          {"current_game", dm.FAllProfileSettingInfo.CurrentGame},
          {"current_language", dm.FAllProfileSettingInfo.CurrentLanguage},
          {"mute_notifications",
           kv::MonitorSettings(registry, dm.FOptionsFromConfigFile.ProfileRegFolder)
               .MuteNotifications()},
          {"current_profile_group", g.CurrentProfileGroup},
          {"profile_index_of_group",
           {g.ProfileIndexOfProfileGroup[0], g.ProfileIndexOfProfileGroup[1]}},
          {"profiles", profiles}};
}

void PrintDump(const json& d) {
  std::cout << "registry folder     " << d["registry_folder"].get<std::string>() << "\n"
            << "ProfileID           "
            << (d["profile_id"].is_null() ? "(none)" : d["profile_id"].dump()) << "\n"
            << "current profile     " << d["current_game"] << "\n"
            << "language            " << d["current_language"] << "\n"
            << "mute notifications  " << (d["mute_notifications"].get<bool>() ? "on" : "off")
            << "\n"
            << "profile group       " << d["current_profile_group"] << " (groups select profiles "
            << d["profile_index_of_group"][0] << " and " << d["profile_index_of_group"][1] << ")\n";
  for (const json& p : d["profiles"]) {
    const std::string storage = p["storage"];
    std::cout << "\nprofile " << p["index"] << ": " << p["file_name"].get<std::string>() << " in "
              << (storage == "none" ? "no storage" : storage) << ", version " << p["file_version"]
              << ", " << p["button_count"] << " buttons, report rate " << p["report_rate"]
              << ", CPI level " << p["current_cpi_index"] << " of " << p["cpi_level"] << ", LED "
              << p["led"].dump() << "\n";
    int b = 0;
    for (const json& button : p["buttons"]) {
      std::cout << "  button " << (b < 10 ? " " : "") << b << ": function "
                << button["function_code"] << " kind " << button["function_kind"] << " type "
                << button["type_code"] << " value " << button["value_code"] << "\n";
      ++b;
    }
  }
}

// What config.ini says, read as the store's start-up reads it; the store itself is not opened.
json OptionsJson(kv::platform::Paths& paths) {
  const kv::TOptionsFromConfigFile o = kv::LoadOptionsFromConfigFile(paths);
  const kv::TOtherConfig other = kv::LoadOtherConfig(paths);
  json help = json::array();
  for (const auto& [name, value] : other.HelpFile) help.push_back({name, value});
  json devices = json::array();
  for (const std::string& id : kv::LoadIncludeHIDDeviceList(paths)) devices.push_back(id);
  return {{"config_file", paths.ConfigFile()},
          {"profile_reg_folder", o.ProfileRegFolder},
          {"profile_folder", o.ProfileFolder},
          {"profile_name_prefix", o.ProfileNamePrefix},
          {"profile_macro_folder", o.ProfileMacroFolder},
          {"no_logo", other.Nologo},
          {"official_website", other.OfficialWebsite},
          {"help_files", help},
          {"include_hid_devices", devices}};
}

void PrintOptions(const json& o) {
  for (const char* k : {"config_file", "profile_reg_folder", "profile_folder",
                        "profile_name_prefix", "profile_macro_folder", "official_website"})
    std::cout << k << " = " << o[k].get<std::string>() << "\n";
  std::cout << "no_logo = " << o["no_logo"] << "\n";
  for (const json& h : o["help_files"])
    std::cout << "help file " << h[0].get<std::string>() << " = " << h[1].get<std::string>()
              << "\n";
  for (const json& id : o["include_hid_devices"])
    std::cout << "include device " << id.get<std::string>() << "\n";
}

// ---------------------------------------------------------------------------------------------
// Editing

// The manager's SaveBackAllProfileSettingInfo, but with its result: a store that refuses the
// record (a key the user may only read) is an error here, not a quiet no.
void SaveAllSettings(TDM& dm) {
  dm.FAllProfileSettingInfo.CurrentGame = static_cast<kv::WORD>(dm.FProfileIndex);
  dm.gxProfileAllSettingInfo->Write(&dm.FAllProfileSettingInfo, sizeof dm.FAllProfileSettingInfo);
  if (!dm.gxProfileAllSettingInfo->SaveStreamToRegistry())
    throw std::runtime_error("the all-profiles record could not be saved to its registry value");
}

// The profile number that WM_PROFILE_CHANGED asks the monitor to record as "ProfileID": the one
// recorded now, so that an edit leaves it as it is, or the store's current profile when none is
// recorded yet.
std::intptr_t ActiveProfile(kv::platform::Registry& registry, const TDM& dm) {
  if (const auto id = ProfileId(registry, dm)) return static_cast<std::int32_t>(*id);
  return dm.FProfileIndex;
}

void Notify(kv::platform::MessageWindows* windows, std::uint32_t msg, std::intptr_t lParam) {
  if (!windows) {
    std::cerr << "kvstore: saved, but could not notify the monitor: no other program's window "
                 "can be reached from here\n";
    return;
  }
  const kv::platform::WindowHandle monitor = windows->Find(kv::kMonitorWindowClass);
  if (monitor == 0) {
    std::cout << "saved; the monitor is not running\n";
  } else if (!windows->Post(monitor, {msg, 0, lParam})) {
    std::cerr << "kvstore: saved, but could not notify the monitor\n";
  } else {
    std::cout << "saved; the monitor was notified\n";
  }
}

// Profiles that an edit must save: every one must have a storage before anything changes.
void RequireStorage(const TDM& dm, int first, int last) {
  for (int i = first; i <= last; ++i)
    if (dm.ProfileStorage(i) == kv::TProfileStorage::None)
      throw BadInput("profile " + std::to_string(i) + " has no storage (storage type " +
                     std::to_string(dm.FProfileSettingGroup.ProfileSettingList[i].StorageType) +
                     ")");
}

void SaveProfile(TDM& dm, int i) {
  if (!dm.SaveProfileInfo(i))
    throw std::runtime_error("profile " + std::to_string(i) + " could not be saved");
}

// The profile manager's traces (a text cut to its record field, say) are news for the user.
class StderrNotes : public kv::platform::DebugOutput {
 public:
  void Write(std::string_view text) override { std::cerr << "kvstore: note: " << text << "\n"; }
};

int Run(const Command& c) {
  std::unique_ptr<kv::platform::NativeCore> core = kv::platform::OpenNativeCore();
  if (const std::string why = kv::ConfigFileProblem(core->paths()); !why.empty())
    std::cerr << "kvstore: " << why << "; the defaults apply\n";
  if (c.name == "options") {
    const json o = OptionsJson(core->paths());
    if (c.asJson) std::cout << JsonText(o) << "\n";
    else PrintOptions(o);
    return 0;
  }

  StderrNotes notes;
  const auto languageId = core->FirstStartLanguageId();
  TDM dm(core->registry(), core->paths(), core->clock(),
         languageId ? static_cast<kv::BYTE>(kv::LanguageForUser(*languageId)) : 0, &notes);
  if (!dm.StartupError().empty())
    throw std::runtime_error("the store could not be started: " + dm.StartupError());

  if (c.name == "dump") {
    const json d = DumpJson(dm, core->registry());
    if (c.asJson) std::cout << JsonText(d) << "\n";
    else PrintDump(d);
  } else if (c.name == "set-button") {
    RequireStorage(dm, c.profile, c.profile);
    Require(dm.AssignButtonFunction(c.profile, c.button, c.code, static_cast<kv::WORD>(c.key)),
            "assigning the function");
    SaveProfile(dm, c.profile);
    Notify(core->windows(), kv::WM_PROFILE_CHANGED, ActiveProfile(core->registry(), dm));
  } else if (c.name == "switch") {
    // The monitor reloads the profile that the current group selects, so the group selects the
    // new profile; the all-profiles record names it as the current one.
    dm.FProfileSettingGroup.ProfileIndexOfProfileGroup[dm.FProfileGroupIndex] = c.profile;
    Require(dm.SwitchToProfile(c.profile), "switching the profile");
    dm.SaveProfileGroupSettingInfoToRegistry();
    SaveAllSettings(dm);
    Notify(core->windows(), kv::WM_PROFILE_CHANGED, ActiveProfile(core->registry(), dm));
  } else if (c.name == "language") {
    dm.FAllProfileSettingInfo.CurrentLanguage = static_cast<kv::BYTE>(c.language);
    SaveAllSettings(dm);
    Notify(core->windows(), kv::WM_GLOBAL_SETTINGS_CHANGED, 0);
  } else if (c.name == "mute-notifications") {
    // Read at every press: a running monitor needs no message.
    kv::MonitorSettings(core->registry(), dm.FOptionsFromConfigFile.ProfileRegFolder)
        .SetMuteNotifications(c.on);
    std::cout << "saved\n";
  } else if (c.name == "reset") {
    const int first = c.profile < 0 ? 0 : c.profile;
    const int last = c.profile < 0 ? kv::kProfileCount - 1 : c.profile;
    RequireStorage(dm, first, last);
    for (int i = first; i <= last; ++i) {
      Require(dm.RestoreProfileInfoToDefault(i), "resetting profile " + std::to_string(i));
      SaveProfile(dm, i);
    }
    Notify(core->windows(), kv::WM_PROFILE_CHANGED, ActiveProfile(core->registry(), dm));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Command c;
  if (auto status = ParseCommand(std::vector<std::string>(argv + 1, argv + argc), c))
    return *status;
  try {
    return Run(c);
  } catch (const BadInput& e) {
    std::cerr << "kvstore: " << e.what() << "\n";
    return kv::cli::kUsageStatus;
  } catch (const std::exception& e) {
    std::cerr << "kvstore: " << e.what() << "\n";
    return 1;
  }
}
