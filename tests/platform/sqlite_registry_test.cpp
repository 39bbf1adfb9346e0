// What only the on-disk store can get wrong: persistence, and refusing a broken file.
#ifdef KV_HAVE_LINUX_CORE
#include "platform/linux/sqlite_registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
