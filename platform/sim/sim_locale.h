#pragma once
// Simulated locale data: a small fixed set of locales, changeable by tests.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/locale.h"

namespace kv::platform::sim {

class SimLocale : public Locale {
 public:
  // Starts with English (United States), German (Germany), Chinese (PRC) and
  // German (Switzerland); system and user default English (United States).
  SimLocale();
  std::vector<LocaleInfo> SupportedLocales() override {
    ++enumerations_;
    return locales_;
  }
  std::uint16_t SystemDefaultLanguageId() override { return systemLang_; }
  std::string UserLanguageAbbreviation() override { return userAbbrev_; }

  void SetLocales(std::vector<LocaleInfo> locales) { locales_ = std::move(locales); }
  void SetSystemDefaultLanguageId(std::uint16_t id) { systemLang_ = id; }
  void SetUserLanguageAbbreviation(std::string abbrev) { userAbbrev_ = std::move(abbrev); }
  std::size_t EnumerationCount() const { return enumerations_; }

 private:
  std::vector<LocaleInfo> locales_;
  std::uint16_t systemLang_ = 0x0409;
  std::string userAbbrev_ = "ENU";
  std::size_t enumerations_ = 0;
};

}  // namespace kv::platform::sim
