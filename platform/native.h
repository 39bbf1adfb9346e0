#pragma once
// The real platform of this build, for the executables' main() and the command-line tools only.
// Components never include this header: they receive the services by reference.
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/platform.h"

namespace kv::platform {

// The services a command-line tool needs without a main loop: the settings store, paths, clock,
// debug output and, where the platform has them, message windows (to notify a running monitor).
class NativeCore {
 public:
  virtual ~NativeCore() = default;
  // Throws RegistryError (one sentence for a person) when the settings store cannot be opened.
  virtual Registry& registry() = 0;
  virtual Paths& paths() = 0;
  virtual Clock& clock() = 0;
  virtual DebugOutput& debug() = 0;
  // nullptr where the platform cannot reach other programs' windows (no session bus, say).
  virtual MessageWindows* windows() = 0;
  // Where nothing but the user's locale can choose the language of a first start (Linux, which
  // has no configurator), that locale's Windows language ID; nullopt where the configurator
  // chooses it (Windows).
  virtual std::optional<std::uint16_t> FirstStartLanguageId() { return std::nullopt; }
};

std::unique_ptr<NativeCore> OpenNativeCore();

}  // namespace kv::platform
