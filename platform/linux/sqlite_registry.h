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
  // How long an operation waits for another process (a second opener, a writer) to finish.
  static constexpr int kBusyTimeoutMs = 5000;

  // Opens (creating when absent) the database at `file`, creating its folder. Throws
  // RegistryError with one clear sentence that says what happened (the disk is full, the file is
  // read-only, locked, corrupt, or not a store of ours); an existing store is never reset, and
  // nothing is written to a file before it is known to be a kvmon store. Two processes that
  // create the same new store at once both succeed: the second waits for the first.
  explicit SqliteRegistry(std::string file, int busyTimeoutMs = kBusyTimeoutMs);
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
  // Throws RegistryError: `what`, the file, and what SQLite's result `rc` means for a person.
  [[noreturn]] void Fail(int rc, const std::string& what) const;
  std::string Describe(int rc) const;
  void Exec(const char* sql, const char* what);
  std::int64_t KeyId(RootKey root, const std::string& path, bool create);

  std::string file_;
  sqlite3* db_ = nullptr;
  std::recursive_mutex mutex_;
};

}  // namespace kv::platform::linux_
