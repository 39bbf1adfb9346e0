// The Linux single-instance lock: only a lock held by another instance ends start-up; a lock that
// cannot be made leaves a guard that says why, and the shared fallback folder is never one that
// another user could have planted.
#ifdef KV_HAVE_LINUX_CORE
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/linux/linux_core.h"

using kv::platform::linux_::LinuxSingleInstance;
namespace fs = std::filesystem;

namespace {

class InstanceLock : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("kvlock-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (const char* r = std::getenv("XDG_RUNTIME_DIR")) savedRuntime = r;
  }
  void TearDown() override {
    if (savedRuntime) setenv("XDG_RUNTIME_DIR", savedRuntime->c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(dir);
  }
  static unsigned Mode(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
  }
  fs::path dir;
  std::optional<std::string> savedRuntime;
};

TEST_F(InstanceLock, ALockThatCannotBeMadeGivesAnUnguardedStartNotASilentExit) {
  setenv("XDG_RUNTIME_DIR", (dir / "missing").c_str(), 1);
  LinuxSingleInstance instance;
  auto first = instance.Acquire("kvtest");
  ASSERT_TRUE(first);
  EXPECT_NE(first->Problem().find((dir / "missing").string()), std::string::npos)
      << first->Problem();
  auto second = instance.Acquire("kvtest");  // no lock to find either: also unguarded
  ASSERT_TRUE(second);
  EXPECT_NE(second->Problem(), "");
}

TEST_F(InstanceLock, TheFallbackFolderIsMadePrivateAndAnOwnLooseOneIsTightened) {
  const fs::path made = dir / "kvmon-new";
  const mode_t old = umask(0);
  const std::string result = LinuxSingleInstance::PrivateFolder(made.string());
  umask(old);
  EXPECT_EQ(result, made.string());
  EXPECT_EQ(Mode(made), 0700u);

  const fs::path loose = dir / "kvmon-loose";
  fs::create_directory(loose);
  chmod(loose.c_str(), 0777);
  EXPECT_EQ(LinuxSingleInstance::PrivateFolder(loose.string()), loose.string());
  EXPECT_EQ(Mode(loose), 0700u);
}

TEST_F(InstanceLock, TheFallbackFolderIsRefusedWhenItIsNotThisUsersOwnFolder) {
  const fs::path target = dir / "mine";
  fs::create_directory(target);
  const fs::path link = dir / "link";
  fs::create_directory_symlink(target, link);
  EXPECT_THROW(LinuxSingleInstance::PrivateFolder(link.string()), std::runtime_error);
  const fs::path file = dir / "file";
  std::ofstream(file) << "x";
  EXPECT_THROW(LinuxSingleInstance::PrivateFolder(file.string()), std::runtime_error);

  // Another user's folder: made with chown when the test runs as root, else a folder root owns.
  fs::path foreign = "/";
  if (geteuid() == 0) {
    foreign = dir / "planted";
    fs::create_directory(foreign);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    chmod(foreign.c_str(), 0777);
  }
  try {
    LinuxSingleInstance::PrivateFolder(foreign.string());
    ADD_FAILURE() << "accepted a folder of another user";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("belongs to user"), std::string::npos) << e.what();
  }
  if (geteuid() == 0) {
    EXPECT_EQ(Mode(foreign), 0777u);  // and left as it was
  }
}

}  // namespace
#endif
