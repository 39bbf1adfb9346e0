#pragma once
// The languages the monitor's main window carries in itself: "CH" at position 0 and "US" at
// position 1, in the language resource format.
#include <cstdint>
#include <vector>

namespace kv {

std::vector<std::uint8_t> MonitorLanguageResource();

// Positions of the two languages, as the store's CurrentLanguage names them.
inline constexpr int kLanguageCH = 0;
inline constexpr int kLanguageUS = 1;

// The language for a user whose locale has this Windows language ID: "CH" for every Chinese
// locale (primary language 0x04), "US" for any other.
inline int LanguageForUser(std::uint16_t languageId) {
  return (languageId & 0x3FF) == 0x04 ? kLanguageCH : kLanguageUS;
}

}  // namespace kv
