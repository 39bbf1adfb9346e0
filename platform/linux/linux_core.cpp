#include "platform/linux/linux_core.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/path.h"
#include "base/strings.h"

namespace kv::platform::linux_ {
namespace {

std::string Home() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "/tmp";
}

}  // namespace

std::string LinuxPaths::ExecutableDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string folder, name;
  path::SplitFolderAndName(std::string_view(buf, static_cast<std::size_t>(n)), folder, name);
  return folder;
}

std::string ParseUserDirsDocuments(std::string_view text, std::string_view home) {
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    auto trimmed = TrimBlanks(line);
    if (!trimmed.starts_with("XDG_DOCUMENTS_DIR=")) continue;
    auto value = trimmed.substr(18);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    std::string out(value);
    if (out.starts_with("$HOME")) out = std::string(home) + out.substr(5);
    // "$HOME/" alone means "no documents folder" to xdg-user-dirs.
    if (out.empty() || out == std::string(home) || out == std::string(home) + "/") return "";
    return out;
  }
  return "";
}

std::string LinuxPaths::DocumentsDir() {
  const std::string home = Home();
  std::string config;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') config = x;
  else config = home + "/.config";
  std::string docs;
  if (std::ifstream f(config + "/user-dirs.dirs"); f) {
    std::stringstream ss;
    ss << f.rdbuf();
    docs = ParseUserDirsDocuments(ss.str(), home);
  }
  if (docs.empty()) docs = home + "/Documents";
  std::error_code ec;
  std::filesystem::create_directories(path::ToFs(docs), ec);
  return path::FolderExists(docs) ? docs : "";
}

std::string LinuxPaths::ChooseConfigFile(const std::string& exeDir,
                                         const std::string& xdgConfigHome,
                                         const std::string& etcDir) {
  // A config.ini beside the program always wins (a portable copy, as on Windows).
  if (path::FileExists(exeDir + "config.ini")) return exeDir + "config.ini";
  std::error_code ec;
  for (std::filesystem::path p = path::ToFs(exeDir); !p.empty(); p = p.parent_path()) {
    if (std::filesystem::exists(p / "CMakeCache.txt", ec)) return exeDir + "config.ini";
    if (p == p.parent_path()) break;
  }
  const std::string user = path::Join(path::Join(xdgConfigHome, "kvmon"), "config.ini");
  if (path::FileExists(user)) return user;
  return path::Join(etcDir, "config.ini");
}

std::string LinuxPaths::InstalledEtcDir(const std::string& exeDir, const std::string& fallback) {
  std::string dir = exeDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!dir.ends_with("/bin")) return fallback;
  std::string prefix = dir.substr(0, dir.size() - 4);
  if (prefix == "/usr") return "/etc";
  if (prefix.starts_with("/opt/")) return "/etc" + prefix;
  return (prefix.empty() ? "" : prefix) + "/etc";
}

std::string LinuxPaths::ConfigFile() {
  std::string xdg;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') xdg = x;
  else xdg = Home() + "/.config";
    // The installation may have been made with another prefix than the build was configured for.
#ifdef KV_SYSCONFDIR
  const std::string etc = InstalledEtcDir(ExecutableDir(), KV_SYSCONFDIR);
#else
  const std::string etc = InstalledEtcDir(ExecutableDir(), "/etc");
#endif
  return ChooseConfigFile(ExecutableDir(), xdg, etc + "/kvmon");
}

std::uint32_t LinuxClock::TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1'000'000u);
}

LocalTime LinuxClock::Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  return LocalTime{local.tm_year + 1900,
                   local.tm_mon + 1,
                   local.tm_mday,
                   local.tm_hour,
                   local.tm_min,
                   local.tm_sec,
                   static_cast<int>(ts.tv_nsec / 1'000'000)};
}

void LinuxDebugOutput::Write(std::string_view text) {
  if (std::getenv("KVMON_DEBUG"))
    std::fprintf(stderr, "kvmon: %.*s\n", static_cast<int>(text.size()), text.data());
}

std::string LinuxSingleInstance::PrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return path;
  const int made = errno;
  // The name is predictable in a shared folder: whatever is there must be this user's own
  // folder, not a link to one, and no one else may create the lock inside it.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    throw std::runtime_error("cannot make the folder " + path + ": " +
                             std::strerror(made == EEXIST ? errno : made));
  }
  struct stat st {};
  const bool statted = fstat(fd, &st) == 0;
  std::string problem;
  if (!statted) problem = std::string("cannot inspect it: ") + std::strerror(errno);
  else if (st.st_uid != geteuid())
    problem = "it belongs to user " + std::to_string(st.st_uid) + ", not to this user";
  else if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0)
    problem = std::string("others may write to it and it cannot be made private: ") +
              std::strerror(errno);
  close(fd);
  if (!problem.empty()) throw std::runtime_error("refusing the folder " + path + ": " + problem);
  return path;
}

std::string LinuxSingleInstance::RuntimeDir() {
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r == '/') return r;
  return PrivateFolder("/tmp/kvmon-" + std::to_string(getuid()));
}

namespace {

class FlockGuard : public InstanceGuard {
 public:
  explicit FlockGuard(int fd) : fd_(fd) {}
  ~FlockGuard() override { close(fd_); }

 private:
  int fd_;
};

// The lock could not be made: the process goes on without a guard, and says why.
class NoGuard : public InstanceGuard {
 public:
  explicit NoGuard(std::string problem) : problem_(std::move(problem)) {}
  std::string Problem() const override { return problem_; }

 private:
  std::string problem_;
};

std::unique_ptr<InstanceGuard> Unguarded(std::string problem) {
  return std::make_unique<NoGuard>(std::move(problem));
}

}  // namespace

std::unique_ptr<InstanceGuard> LinuxSingleInstance::Acquire(std::string_view name) {
  std::string file;
  try {
    file = RuntimeDir() + "/" + std::string(name) + ".lock";
  } catch (const std::runtime_error& e) {
    return Unguarded(std::string("single-instance lock: ") + e.what());
  }
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return Unguarded("cannot open the single-instance lock " + file + ": " + std::strerror(errno));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return nullptr;  // another instance holds it
    return Unguarded("cannot lock " + file + ": " + std::strerror(err));
  }
  return std::make_unique<FlockGuard>(fd);
}

}  // namespace kv::platform::linux_
