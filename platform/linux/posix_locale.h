#pragma once
// Locale information on Linux: a fixed table of the Windows locale IDs the suite knows, and the
// user's locale from $LC_ALL, $LC_MESSAGES or $LANG. Needs no desktop (the tools use it too).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale.h"

namespace kv::platform::linux_ {

class PosixLocale : public Locale {
 public:
  std::vector<LocaleInfo> SupportedLocales() override;
  std::uint16_t SystemDefaultLanguageId() override;
  std::string UserLanguageAbbreviation() override;
  // The entry for a POSIX locale name ("zh_CN.UTF-8"), or nullopt. Exposed for tests.
  static std::optional<LocaleInfo> FromPosixName(std::string_view name);
};

}  // namespace kv::platform::linux_
