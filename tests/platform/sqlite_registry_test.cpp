// What only the on-disk store can get wrong: persistence, and refusing a broken file.
#ifdef KV_HAVE_LINUX_CORE
#include "platform/linux/sqlite_registry.h"

#include <gtest/gtest.h>
#include <errno.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/linux/linux_core.h"

using namespace kv::platform;
namespace fs = std::filesystem;

namespace {

class SqliteRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("kvsql-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    file = (dir / "nested" / "registry.db").string();
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  std::string file;
};

TEST_F(SqliteRegistryTest, ValuesSurviveReopeningAndTheFolderIsCreated) {
  {
    linux_::SqliteRegistry reg(file);
    reg.CreateKey(RootKey::CurrentUser, "software\\software\\KVgmmouse")->SetDword("ProfileID", 3);
  }
  linux_::SqliteRegistry reg(file);
  auto key = reg.OpenKey(RootKey::CurrentUser, "software\\software\\kvgmmouse");
  ASSERT_TRUE(key);
  auto v = key->QueryValue("ProfileID");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->data, (std::vector<std::uint8_t>{3, 0, 0, 0}));
}

TEST_F(SqliteRegistryTest, AFileThatIsNotAStoreIsReportedAndLeftAlone) {
  fs::create_directories(fs::path(file).parent_path());
  const std::string garbage(8192, 'x');
  std::ofstream(file, std::ios::binary) << garbage;
  try {
    linux_::SqliteRegistry reg(file);
    FAIL() << "a garbage file was accepted as a store";
  } catch (const RegistryError& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  }
  std::ifstream in(file, std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(after, garbage) << "the broken store was reset";
}

TEST_F(SqliteRegistryTest, AnotherProgramsDatabaseIsNotTakenOver) {
  fs::create_directories(fs::path(file).parent_path());
  {
    linux_::SqliteRegistry reg(file);  // makes a valid store; now plant a foreign table next to it
  }
  // A database with tables but no format mark is someone else's.
  const std::string other = (dir / "other.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_THROW(linux_::SqliteRegistry{other}, RegistryError);
}

TEST_F(SqliteRegistryTest, AStoreInAnUnwritablePlaceGivesAnError) {
  EXPECT_THROW(linux_::SqliteRegistry{"/proc/kvmon-cannot-exist/registry.db"}, RegistryError);
}

std::string FileText(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The message of the RegistryError that `open` throws ("" when it throws none).
template <typename F>
std::string ErrorOf(F&& open) {
  try {
    open();
  } catch (const RegistryError& e) {
    return e.what();
  }
  return "";
}

// What a message must never say: a healthy file is never "corrupt", and SQLite's "not an error"
// (its text for a result that was no error) is no explanation.
void ExpectPlainMessage(const std::string& message, const std::string& expected) {
  EXPECT_NE(message.find(expected), std::string::npos) << message;
  EXPECT_EQ(message.find("corrupt"), std::string::npos) << message;
  EXPECT_EQ(message.find("not an error"), std::string::npos) << message;
}

TEST_F(SqliteRegistryTest, AForeignDatabaseIsRefusedWithoutAByteWritten) {
  fs::create_directories(dir);
  // Another program's database, also one whose format number happens to be ours.
  for (const char* version : {"0", "1"}) {
    const std::string other = (dir / (std::string("other") + version + ".db")).string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    const std::string sql =
        std::string("CREATE TABLE t(x); INSERT INTO t VALUES (1); PRAGMA user_version = ") +
        version;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = FileText(other);
    ExpectPlainMessage(ErrorOf([&] { linux_::SqliteRegistry reg(other); }),
                       "not a kvmon settings store");
    EXPECT_EQ(FileText(other), before) << "the journal mode or anything else was changed";
    EXPECT_FALSE(fs::exists(other + "-wal"));
  }
  // A database in WAL mode whose program ended with changes still in its log: the log is not
  // folded into the file when the refused store is closed.
  const std::string wal = (dir / "wal.db").string(), copy = (dir / "copy.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(wal.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, "PRAGMA journal_mode = WAL; CREATE TABLE t(x); INSERT INTO t VALUES (2)",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  fs::copy_file(wal, copy);
  fs::copy_file(wal + "-wal", copy + "-wal");
  sqlite3_close(db);
  const std::string before = FileText(copy);
  ExpectPlainMessage(ErrorOf([&] { linux_::SqliteRegistry reg(copy); }),
                     "not a kvmon settings store");
  EXPECT_EQ(FileText(copy), before) << "the other program's log was checkpointed into its file";
}

TEST_F(SqliteRegistryTest, TwoProcessesCreatingTheSameNewStoreBothSucceed) {
  // 60 rounds of two processes that open a store that does not exist yet at the same moment.
  constexpr int kRounds = 60;
  int failures = 0;
  std::string firstFailure;
  for (int round = 0; round < kRounds; ++round) {
    const std::string store = (dir / std::to_string(round) / "registry.db").string();
    int go[2], report[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(report), 0);
    pid_t pids[2];
    for (pid_t& pid : pids) {
      pid = fork();
      if (pid == 0) {
        close(go[1]);
        char c;
        (void)!read(go[0], &c, 1);  // both start when the parent closes the pipe
        std::string error;
        try {
          linux_::SqliteRegistry reg(store);
          reg.CreateKey(RootKey::CurrentUser, "software\\k")->SetDword("v", 1);
        } catch (const std::exception& e) {
          error = e.what();
        }
        if (!error.empty()) (void)!write(report[1], error.data(), error.size());
        _exit(error.empty() ? 0 : 1);
      }
    }
    close(go[0]);
    close(go[1]);
    close(report[1]);
    char buf[512];
    const ssize_t n = read(report[0], buf, sizeof buf);
    close(report[0]);
    for (pid_t pid : pids) {
      int status = 0;
      waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
    if (n > 0 && firstFailure.empty()) firstFailure.assign(buf, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(failures, 0) << "of " << 2 * kRounds << " opens; first: " << firstFailure;
}

TEST_F(SqliteRegistryTest, AStoreAnotherProgramKeepsLockedIsReportedAsLocked) {
  { linux_::SqliteRegistry reg(file); }
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder,
                         "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                         "INSERT INTO reg_keys (root, path) VALUES (1, 'held');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  ExpectPlainMessage(ErrorOf([&] { linux_::SqliteRegistry reg(file, 100); }), "locked");
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_NO_THROW(linux_::SqliteRegistry{file});
}

TEST_F(SqliteRegistryTest, ADamagedStoreIsCalledCorrupt) {
  {
    linux_::SqliteRegistry reg(file);
    auto key = reg.CreateKey(RootKey::CurrentUser, "a\\b");
    for (int i = 0; i < 50; ++i)
      key->SetBinary("v" + std::to_string(i), std::vector<std::uint8_t>(3000, 7));
  }
  // Overwrite the second page (a table's root) with garbage; the header stays valid.
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4096);
    const std::string garbage(4096, '\x5A');
    f.write(garbage.data(), garbage.size());
  }
  const std::string message = ErrorOf([&] { linux_::SqliteRegistry reg(file); });
  EXPECT_NE(message.find("corrupt"), std::string::npos) << message;
  EXPECT_EQ(message.find("not an error"), std::string::npos) << message;
}

// A full disk at the system-call boundary: while `full` is set, every write the store's file
// layer makes fails with ENOSPC, through SQLite's own hook for replacing its system calls.
struct FullDisk {
  static inline bool full = false;
  static inline sqlite3_syscall_ptr original[3] = {};
  static constexpr const char* kNames[3] = {"write", "pwrite", "pwrite64"};
  template <int I, typename... Args>
  static ssize_t Write(Args... args) {
    if (full) {
      errno = ENOSPC;
      return -1;
    }
    return reinterpret_cast<ssize_t (*)(Args...)>(original[I])(args...);
  }
  FullDisk() {
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    const sqlite3_syscall_ptr replacements[3] = {
        reinterpret_cast<sqlite3_syscall_ptr>(&Write<0, int, const void*, size_t>),
        reinterpret_cast<sqlite3_syscall_ptr>(&Write<1, int, const void*, size_t, off_t>),
        reinterpret_cast<sqlite3_syscall_ptr>(&Write<2, int, const void*, size_t, off64_t>)};
    for (int i = 0; i < 3; ++i) {
      original[i] = vfs->xGetSystemCall(vfs, kNames[i]);
      if (original[i]) vfs->xSetSystemCall(vfs, kNames[i], replacements[i]);
    }
  }
  ~FullDisk() {
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    for (int i = 0; i < 3; ++i)
      if (original[i]) vfs->xSetSystemCall(vfs, kNames[i], original[i]);
    full = false;
  }
};

TEST_F(SqliteRegistryTest, AFullDiskIsReportedAsAFullDisk) {
  FullDisk disk;
  linux_::SqliteRegistry reg(file);
  auto key = reg.CreateKey(RootKey::CurrentUser, "k");
  key->SetBinary("small", std::vector<std::uint8_t>(100, 1));
  FullDisk::full = true;
  const std::string message =
      ErrorOf([&] { key->SetBinary("large", std::vector<std::uint8_t>(400 * 1024, 2)); });
  FullDisk::full = false;
  ExpectPlainMessage(message, "cannot write the settings store " + file + ": the disk is full");
  // The store itself is fine: the earlier value is there, and the failed one is not.
  EXPECT_EQ(key->QueryValue("small")->data.size(), 100u);
  EXPECT_FALSE(key->QueryValue("large"));
}

// Runs `f` in a child process as a user whom file permissions bind (root is not bound by them,
// so a root test run lets the child become nobody) and returns what `f` returned.
std::string AsUnprivilegedUser(const std::function<std::string()>& f) {
  int report[2];
  if (pipe(report) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const std::string out = f();
    (void)!write(report[1], out.data(), out.size());
    _exit(0);
  }
  close(report[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = read(report[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return out;
}

TEST_F(SqliteRegistryTest, AStoreThatCannotBeWrittenIsReadAndItsWritesSaySo) {
  {
    linux_::SqliteRegistry reg(file);
    reg.CreateKey(RootKey::CurrentUser, "k")->SetDword("v", 5);
  }
  const fs::path folder = fs::path(file).parent_path();
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto exec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  fs::permissions(file, readOnly);
  fs::permissions(folder, fs::perms::all);
  // A read-only file in a folder where the store's side files can be made: read, not written.
  const std::string result = AsUnprivilegedUser([&] {
    try {
      linux_::SqliteRegistry reg(file);
      auto key = reg.OpenKey(RootKey::CurrentUser, "k");
      if (!key || !key->QueryValue("v")) return std::string("the value could not be read");
      return ErrorOf([&] { key->SetDword("v", 6); });
    } catch (const std::exception& e) {
      return std::string("open failed: ") + e.what();
    }
  });
  ExpectPlainMessage(result,
                     "cannot write the settings store " + file + ": the store is read-only");
  // Without even its side files the store cannot be read either, and the open says why.
  fs::remove(file + "-wal");
  fs::remove(file + "-shm");
  fs::permissions(folder, readOnly | exec);
  const std::string open =
      AsUnprivilegedUser([&] { return ErrorOf([&] { linux_::SqliteRegistry reg(file); }); });
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_TRUE(open.find("read-only") != std::string::npos ||
              open.find("permission denied") != std::string::npos)
      << open;
  EXPECT_EQ(open.find("corrupt"), std::string::npos) << open;
  EXPECT_EQ(open.find("not an error"), std::string::npos) << open;
}

TEST(UserDirs, DocumentsFolderIsReadFromTheXdgFile) {
  EXPECT_EQ(
      linux_::ParseUserDirsDocuments("# c\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/home/u"),
      "/home/u/Dokumente");
  EXPECT_EQ(linux_::ParseUserDirsDocuments("XDG_DOCUMENTS_DIR=\"/data/docs\"", "/home/u"),
            "/data/docs");
  EXPECT_EQ(linux_::ParseUserDirsDocuments("XDG_DOCUMENTS_DIR=\"$HOME/\"", "/home/u"), "");
  EXPECT_EQ(linux_::ParseUserDirsDocuments("XDG_MUSIC_DIR=\"$HOME/Music\"", "/home/u"), "");
}

TEST(SingleInstanceLock, ASecondAcquireFailsUntilTheFirstIsReleased) {
  linux_::LinuxSingleInstance instance;
  const std::string name = "kvtest-" + std::to_string(::getpid());
  auto first = instance.Acquire(name);
  ASSERT_TRUE(first);
  EXPECT_FALSE(instance.Acquire(name));
  first.reset();
  EXPECT_TRUE(instance.Acquire(name));
}

}  // namespace
#endif
