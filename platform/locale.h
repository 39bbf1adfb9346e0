#pragma once
// Locale information: the locales the system supports and the user's and system's defaults.
// Main thread; nothing throws. A platform that cannot read a field leaves it empty.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv::platform {

struct LocaleInfo {
  std::uint32_t localeId = 0;           // e.g. 0x0409
  std::uint16_t languageId = 0;         // e.g. 0x0409
  std::string nativeLanguageName;       // the language's name in itself, e.g. "English"
  std::string abbreviatedCountryName;   // three letters as the system has them, e.g. "USA", "CHN"
  std::string abbreviatedLanguageName;  // three letters, e.g. "ENU", "CHS"
};

class Locale {
 public:
  virtual ~Locale() = default;
  // Every supported locale, in the system's enumeration order.
  virtual std::vector<LocaleInfo> SupportedLocales() = 0;
  // The system's default language ID (e.g. 0x0409).
  virtual std::uint16_t SystemDefaultLanguageId() = 0;
  // The three-letter abbreviated language name of the user's default locale (e.g. "ENU");
  // empty when unknown.
  virtual std::string UserLanguageAbbreviation() = 0;
};

}  // namespace kv::platform
