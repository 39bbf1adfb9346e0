#include "platform/linux/sqlite_registry.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/path.h"
#include "base/strings.h"

namespace kv::platform::linux_ {
namespace {

constexpr int kSchemaVersion = 1;

// Key paths are kept as "a\b\c": no empty levels, no leading or trailing separator.
std::string CanonicalPath(std::string_view path) {
  std::string out;
  for (const auto& part : Split(path, '\\')) {
    if (part.empty()) continue;
    if (!out.empty()) out += '\\';
    out += part;
  }
  return out;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    if (rc_ != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  explicit operator bool() const { return stmt_ != nullptr; }
  // The result of the preparation (when the statement is empty).
  int Error() const { return rc_; }
  sqlite3_stmt* get() { return stmt_; }
  void Bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void Bind(int i, std::string_view s) {
    sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
  void BindBlob(int i, std::span<const std::uint8_t> data) {
    // A zero-length blob must still be a blob, not NULL.
    sqlite3_bind_blob(stmt_, i, data.empty() ? "" : static_cast<const void*>(data.data()),
                      static_cast<int>(data.size()), SQLITE_TRANSIENT);
  }
  int Step() { return sqlite3_step(stmt_); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

}  // namespace

class SqliteRegistry::Key : public RegistryKey {
 public:
  Key(SqliteRegistry& owner, std::int64_t id) : owner_(owner), id_(id) {}

  std::optional<RegistryValue> QueryValue(std::string_view name) override {
    std::lock_guard lock(owner_.mutex_);
    Statement st(owner_.db_, "SELECT type, data FROM reg_values WHERE key_id = ? AND name = ?");
    if (!st) owner_.Fail(st.Error(), "cannot read the settings store");
    st.Bind(1, id_);
    st.Bind(2, name);
    const int rc = st.Step();
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) owner_.Fail(rc, "cannot read the settings store");
    RegistryValue value;
    value.rawType = static_cast<std::uint32_t>(sqlite3_column_int64(st.get(), 0));
    value.kind = value.rawType == 3   ? ValueKind::Binary
                 : value.rawType == 4 ? ValueKind::Dword
                                      : ValueKind::Other;
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.get(), 1));
    const int size = sqlite3_column_bytes(st.get(), 1);
    if (data && size > 0) value.data.assign(data, data + size);
    return value;
  }

  void SetBinary(std::string_view name, std::span<const std::uint8_t> data) override {
    Set(name, 3, data);
  }

  void SetDword(std::string_view name, std::uint32_t v) override {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16),
                                   static_cast<std::uint8_t>(v >> 24)};
    Set(name, 4, bytes);
  }

  bool DeleteValue(std::string_view name) override {
    std::lock_guard lock(owner_.mutex_);
    Statement st(owner_.db_, "DELETE FROM reg_values WHERE key_id = ? AND name = ?");
    if (!st) owner_.Fail(st.Error(), "cannot write the settings store");
    st.Bind(1, id_);
    st.Bind(2, name);
    if (const int rc = st.Step(); rc != SQLITE_DONE)
      owner_.Fail(rc, "cannot write the settings store");
    return sqlite3_changes(owner_.db_) > 0;
  }

  std::vector<std::string> ValueNames() override {
    std::lock_guard lock(owner_.mutex_);
    Statement st(owner_.db_, "SELECT name FROM reg_values WHERE key_id = ? ORDER BY seq");
    if (!st) owner_.Fail(st.Error(), "cannot read the settings store");
    st.Bind(1, id_);
    std::vector<std::string> names;
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW)
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
    if (rc != SQLITE_DONE) owner_.Fail(rc, "cannot read the settings store");
    return names;
  }

 private:
  void Set(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data) {
    std::lock_guard lock(owner_.mutex_);
    // One statement, so one transaction: the old value stays whole until the new one is durable.
    Statement st(
        owner_.db_,
        "INSERT INTO reg_values (key_id, name, type, data) VALUES (?, ?, ?, ?) "
        "ON CONFLICT (key_id, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!st) owner_.Fail(st.Error(), "cannot write the settings store");
    st.Bind(1, id_);
    st.Bind(2, name);
    st.Bind(3, static_cast<std::int64_t>(type));
    st.BindBlob(4, data);
    if (const int rc = st.Step(); rc != SQLITE_DONE)
      owner_.Fail(rc, "cannot write the settings store");
  }

  SqliteRegistry& owner_;
  std::int64_t id_;
};

std::string SqliteRegistry::DefaultFile() {
  if (const char* f = std::getenv("KVMON_REGISTRY"); f && *f) return f;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
    base = x;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.config";
  }
  return base + "/kvmon/registry.db";
}

std::string SqliteRegistry::Describe(int rc) const {
  // The operating system's error says more than SQLite's summary of it.
  const int sys = db_ ? sqlite3_system_errno(db_) : 0;
  const auto fromErrno = [&]() -> std::string {
    switch (sys) {
      case ENOSPC: return "the disk is full";
      case EDQUOT: return "the disk quota is used up";
      case EFBIG: return "the file has reached the size limit";
      case EROFS: return "the file system is read-only";
      case EACCES:
      case EPERM: return "permission denied";
      default: return sys ? std::strerror(sys) : "";
    }
  };
  switch (rc & 0xFF) {
    case SQLITE_FULL: return sys == EDQUOT ? fromErrno() : "the disk is full";
    case SQLITE_READONLY:
      return "the store is read-only (check the permissions of the file and its folder)";
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "another program keeps the store locked";
    case SQLITE_CORRUPT: return "the store is corrupt";
    case SQLITE_NOTADB: return "the file is not an SQLite database (damaged, or another program's)";
    case SQLITE_PERM:
    case SQLITE_AUTH: return "permission denied";
    case SQLITE_NOMEM: return "out of memory";
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR: {
      const std::string why = fromErrno();
      return std::string((rc & 0xFF) == SQLITE_CANTOPEN ? "the file cannot be opened"
                                                        : "input/output error") +
             (why.empty() ? "" : ": " + why);
    }
    default: return sqlite3_errstr(rc);
  }
}

void SqliteRegistry::Fail(int rc, const std::string& what) const {
  throw RegistryError(what + " " + file_ + ": " + Describe(rc));
}

void SqliteRegistry::Exec(const char* sql, const char* what) {
  if (const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
    Fail(rc, what);
}

SqliteRegistry::SqliteRegistry(std::string file, int busyTimeoutMs) : file_(std::move(file)) {
  std::error_code ec;
  const auto folder = path::ToFs(file_).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);

  const int opened =
      sqlite3_open_v2(file_.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    const std::string why = db_ ? Describe(opened) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw RegistryError("cannot open the settings store " + file_ + ": " + why);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyTimeoutMs);
  // Closing the last connection to a database folds its write-ahead log into it: not before the
  // file is known to be ours (another program's left-over log stays where it is).
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  try {
    // Identity and creation in one write transaction: a second process opening a store that
    // does not exist yet waits here until the first has created it, and a file is known to be
    // ours before anything (the journal mode included) is written to it. A file that is not a
    // healthy store of ours is reported, never repaired by starting over. A store that can only
    // be read is opened for reading: its writes fail one by one, saying why.
    int begun = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    const bool readOnly = (begun & 0xFF) == SQLITE_READONLY;
    if (readOnly) begun = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    if (begun != SQLITE_OK) Fail(begun, "cannot open the settings store");
    try {
      int found = 0, tableCount = 0;
      {
        Statement version(db_, "PRAGMA user_version");
        if (!version) Fail(version.Error(), "cannot read the settings store");
        if (const int rc = version.Step(); rc != SQLITE_ROW)
          Fail(rc, "cannot read the settings store");
        found = sqlite3_column_int(version.get(), 0);
      }
      int ourTables = 0;
      {
        // All objects, and how many of them are the two tables a store of ours has.
        Statement tables(db_,
                         "SELECT count(*), count(CASE WHEN type = 'table' AND name IN "
                         "('reg_keys', 'reg_values') THEN 1 END) FROM sqlite_master");
        if (!tables) Fail(tables.Error(), "cannot read the settings store");
        if (const int rc = tables.Step(); rc != SQLITE_ROW)
          Fail(rc, "cannot read the settings store");
        tableCount = sqlite3_column_int(tables.get(), 0);
        ourTables = sqlite3_column_int(tables.get(), 1);
      }
      if ((found == 0 && tableCount != 0) || (found == kSchemaVersion && ourTables != 2)) {
        throw RegistryError("the file " + file_ +
                            " is not a kvmon settings store (it holds another program's tables)");
      } else if (found == 0) {
        if (readOnly) Fail(SQLITE_READONLY, "cannot create the settings store");
        Exec(
            "CREATE TABLE reg_keys (id INTEGER PRIMARY KEY, root INTEGER NOT NULL,"
            "  path TEXT NOT NULL COLLATE NOCASE, UNIQUE (root, path));"
            "CREATE TABLE reg_values (key_id INTEGER NOT NULL REFERENCES reg_keys(id),"
            "  name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
            "  seq INTEGER PRIMARY KEY AUTOINCREMENT, UNIQUE (key_id, name));"
            "PRAGMA user_version = 1;",
            "cannot create the settings store");
      } else if (found != kSchemaVersion) {
        throw RegistryError("the settings store " + file_ + " has an unknown format version " +
                            std::to_string(found));
      }
      Exec("COMMIT", "cannot create the settings store");
      sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }

    {
      Statement check(db_, "PRAGMA quick_check");
      if (!check) Fail(check.Error(), "cannot check the settings store");
      const int rc = check.Step();
      if (rc != SQLITE_ROW) Fail(rc, "cannot check the settings store");
      const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
      if (!verdict || std::string_view(verdict) != "ok")
        throw RegistryError("the settings store " + file_ + " is corrupt (" +
                            (verdict ? verdict : "no verdict") + ")");
    }
    // Ours, so now WAL: a crash mid-write keeps the previous value. A store left in another mode
    // (the switch needs a moment without other users) still commits atomically.
    sqlite3_exec(db_, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;", nullptr, nullptr,
                 nullptr);
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

SqliteRegistry::~SqliteRegistry() { sqlite3_close(db_); }

std::int64_t SqliteRegistry::KeyId(RootKey root, const std::string& path, bool create) {
  auto lookup = [&](const std::string& p) -> std::int64_t {
    Statement st(db_, "SELECT id FROM reg_keys WHERE root = ? AND path = ?");
    if (!st) Fail(st.Error(), "cannot read the settings store");
    st.Bind(1, static_cast<std::int64_t>(root));
    st.Bind(2, p);
    const int rc = st.Step();
    if (rc == SQLITE_ROW) return sqlite3_column_int64(st.get(), 0);
    if (rc != SQLITE_DONE) Fail(rc, "cannot read the settings store");
    return 0;
  };
  if (const auto id = lookup(path); id || !create) return id;

  // The key and its missing parents in one transaction.
  Exec("BEGIN IMMEDIATE", "cannot write the settings store");
  try {
    std::string prefix;
    for (const auto& part : Split(path, '\\')) {
      prefix += prefix.empty() ? part : "\\" + part;
      Statement st(db_, "INSERT OR IGNORE INTO reg_keys (root, path) VALUES (?, ?)");
      if (!st) Fail(st.Error(), "cannot write the settings store");
      st.Bind(1, static_cast<std::int64_t>(root));
      st.Bind(2, prefix);
      if (const int rc = st.Step(); rc != SQLITE_DONE) Fail(rc, "cannot write the settings store");
    }
    Exec("COMMIT", "cannot write the settings store");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return lookup(path);
}

std::unique_ptr<RegistryKey> SqliteRegistry::CreateKey(RootKey root, std::string_view path) {
  if (root != RootKey::CurrentUser && root != RootKey::LocalMachine) return nullptr;
  const std::string canonical = CanonicalPath(path);
  if (canonical.empty()) return nullptr;  // the root itself holds no values here
  std::lock_guard lock(mutex_);
  return std::make_unique<Key>(*this, KeyId(root, canonical, true));
}

std::unique_ptr<RegistryKey> SqliteRegistry::OpenKey(RootKey root, std::string_view path) {
  if (root != RootKey::CurrentUser && root != RootKey::LocalMachine) return nullptr;
  const std::string canonical = CanonicalPath(path);
  if (canonical.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  const auto id = KeyId(root, canonical, false);
  return id ? std::make_unique<Key>(*this, id) : nullptr;
}

}  // namespace kv::platform::linux_
