#pragma once
// Linux services that need no desktop: paths, clock, debug output, the single-instance lock.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kv::platform::linux_ {

class LinuxPaths : public Paths {
 public:
  std::string ExecutableDir() override;
  // The XDG documents folder (user-dirs.dirs), else ~/Documents; created when missing, since a
  // fresh account may have none.
  std::string DocumentsDir() override;
  // config.ini: beside the executable when there is one there or in a build tree (a
  // CMakeCache.txt in its folder or above); for an installed program
  // $XDG_CONFIG_HOME/kvmon/config.ini (~/.config when unset), else /etc/kvmon/config.ini. The
  // monitor and the tools follow the same rule.
  std::string ConfigFile() override;
  static std::string ChooseConfigFile(const std::string& exeDir, const std::string& xdgConfigHome,
                                      const std::string& etcDir);
  // The etc folder of the installation a program in `exeDir` belongs to, from its prefix (the
  // folder above its bin folder): /etc for /usr, /etc/opt/P for /opt/P, else PREFIX/etc, as the
  // installation chose it; `fallback` for a program outside a bin folder.
  static std::string InstalledEtcDir(const std::string& exeDir, const std::string& fallback);
};

class LinuxClock : public Clock {
 public:
  std::uint32_t TickCount() override;
  LocalTime Now() override;
};

// Traces go to stderr when KVMON_DEBUG is set (there is no debugger channel on Linux).
class LinuxDebugOutput : public DebugOutput {
 public:
  void Write(std::string_view text) override;
};

// A lock file in $XDG_RUNTIME_DIR (else /tmp/kvmon-UID), held with flock for the process's life;
// the kernel drops it when the process dies, so a crash never leaves a stale guard. A lock that
// cannot be made is said on stderr and comes back as a guard with its Problem() set.
class LinuxSingleInstance : public SingleInstance {
 public:
  std::unique_ptr<InstanceGuard> Acquire(std::string_view name) override;
  // Throws std::runtime_error when the fallback folder is unusable.
  static std::string RuntimeDir();
  // Makes `path` a folder only this user can use (0700), or accepts one that is already this
  // user's own (tightening its mode). Throws std::runtime_error with the reason when another user
  // owns it or it is not a folder (a link to one included).
  static std::string PrivateFolder(const std::string& path);
};

// Reads XDG_DOCUMENTS_DIR from a user-dirs.dirs text; "" when absent. Exposed for tests.
std::string ParseUserDirsDocuments(std::string_view text, std::string_view home);

}  // namespace kv::platform::linux_
