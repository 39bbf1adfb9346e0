#include "locale_contract.h"
#include "platform/sim/sim_locale.h"

namespace {
struct SimLocaleEnv {
  kv::platform::sim::SimLocale sim;
  kv::platform::Locale& locale() { return sim; }
};
}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, LocaleContract, ::testing::Types<SimLocaleEnv>);
}
