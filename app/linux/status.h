#pragma once
// `kvmon --status`: what the settings window shows, as text for a person or as JSON.
#include <nlohmann/json.hpp>
#include <string>

#include "app/settings.h"

namespace kv::app {

nlohmann::json StatusJson(const SettingsSnapshot& s);
std::string StatusText(const SettingsSnapshot& s);

}  // namespace kv::app
