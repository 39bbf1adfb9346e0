#include "platform/sim/sim_locale.h"

namespace kv::platform::sim {

SimLocale::SimLocale()
    : locales_{
          {0x0409, 0x0409, "English", "USA", "ENU"},
          {0x0407, 0x0407, "Deutsch", "DEU", "DEU"},
          {0x0804, 0x0804, "中文(简体)", "CHN", "CHS"},
          {0x0807, 0x0807, "Deutsch", "CHE", "DES"},
      } {}

}  // namespace kv::platform::sim
