// The locale contract on the POSIX locale table.
#include "platform/linux/qt_desktop.h"
#include "platform/locale_contract.h"

namespace {
struct PosixLocaleEnv {
  kv::platform::linux_::PosixLocale posix;
  kv::platform::Locale& locale() { return posix; }
};
}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, LocaleContract, ::testing::Types<PosixLocaleEnv>);
}
