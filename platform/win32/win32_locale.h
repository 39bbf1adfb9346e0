#pragma once
// Locale information from the system's national language support tables.
#include "platform/locale.h"

namespace kv::platform::win32 {

class Win32Locale : public Locale {
 public:
  // EnumSystemLocalesW(LCID_SUPPORTED), each with its native language name and its abbreviated
  // country and language names.
  std::vector<LocaleInfo> SupportedLocales() override;
  std::uint16_t SystemDefaultLanguageId() override;
  std::string UserLanguageAbbreviation() override;
};

}  // namespace kv::platform::win32
