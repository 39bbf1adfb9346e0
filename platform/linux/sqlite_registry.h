#pragma once
// The Linux settings store: the registry model in one SQLite database. Each write is its own
// transaction, journaled (WAL), so a crash mid-write leaves the previous value. WAL with
// synchronous NORMAL keeps every commit atomic; only a power loss may drop the last few commits.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"

struct sqlite3;

namespace kv::platform::linux_ {

class SqliteRegistry : public Registry {
 public:
  // Opens (creating when absent) the database at `file`, creating its folder. Throws
  // RegistryError with one clear sentence when the store cannot be opened or is corrupt; an
  // existing store is never reset.
  explicit SqliteRegistry(std::string file);
  ~SqliteRegistry() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  std::unique_ptr<RegistryKey> CreateKey(RootKey root, std::string_view path) override;
  std::unique_ptr<RegistryKey> OpenKey(RootKey root, std::string_view path) override;

  const std::string& File() const { return file_; }

  // $XDG_CONFIG_HOME/kvmon/registry.db, else ~/.config/kvmon/registry.db. The KVMON_REGISTRY
  // environment variable names another file (tests and side-by-side installations use it).
  static std::string DefaultFile();

 private:
  class Key;
  friend class Key;
  [[noreturn]] void Fail(const std::string& what) const;
  std::int64_t KeyId(RootKey root, const std::string& path, bool create);

  std::string file_;
  sqlite3* db_ = nullptr;
  std::recursive_mutex mutex_;
};

}  // namespace kv::platform::linux_
