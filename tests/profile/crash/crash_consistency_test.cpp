// A writer that saves profile records to the settings store and to .pfd files is killed with
// SIGKILL at random moments. After every kill the store must be intact, hold every write the
// writer had acknowledged, whole and at its size, and no .pfd may be torn.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "platform/linux/sqlite_registry.h"
#include "profile/gx_profile.h"
#include "profile/records.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 3;
constexpr std::size_t kSize = sizeof(kv::TMouseProfileInfo);
constexpr const char* kKey = "software\\kvcrash";
constexpr int kMinKills = 200;
constexpr auto kTimeLimit = std::chrono::seconds(40);

std::string RecordName(int k) { return "rec" + std::to_string(k) + ".pfd"; }

// Every byte depends on the sequence number, so a record mixed from two writes or cut short
// never passes for a whole one.
std::uint8_t PatternByte(std::uint64_t seq, std::size_t i) {
  return static_cast<std::uint8_t>(seq * 131 + i * 7 + (i >> 9));
}

std::vector<std::uint8_t> Image(std::uint64_t seq) {
  std::vector<std::uint8_t> b(kSize);
  std::memcpy(b.data(), &seq, sizeof seq);
  for (std::size_t i = sizeof seq; i < kSize; ++i) b[i] = PatternByte(seq, i);
  return b;
}

// The sequence number of a whole record; nullopt when the bytes are not one.
std::optional<std::uint64_t> SeqOf(const std::uint8_t* bytes, std::size_t size) {
  if (size != kSize) return std::nullopt;
  std::uint64_t seq;
  std::memcpy(&seq, bytes, sizeof seq);
  for (std::size_t i = sizeof seq; i < kSize; ++i)
    if (bytes[i] != PatternByte(seq, i)) return std::nullopt;
  return seq;
}

struct Ack {
  char kind;  // 'S' store open, 'R' registry value saved, 'F' file saved
  std::uint8_t record;
  std::uint64_t seq;
};

// The writer: saves record seq % kRecords to its registry value, acknowledges, saves it to its
// file, acknowledges, and goes on until it is killed (or `count` saves when count > 0).
[[noreturn]] void Writer(const std::string& db, const std::string& folder, std::uint64_t start,
                         int ackFd, int count) {
  try {
    kv::platform::linux_::SqliteRegistry registry(db);
    std::vector<std::unique_ptr<kv::TgxProfile>> records;
    for (int k = 0; k < kRecords; ++k) {
      auto& c = *records.emplace_back(std::make_unique<kv::TgxProfile>(registry));
      c.SetRootKey(kv::platform::RootKey::CurrentUser);
      c.SetKeyPath(kKey);
      c.SetFileName(RecordName(k));
      c.SetFilePath(folder);
    }
    const Ack open{'S', 0, 0};
    if (write(ackFd, &open, sizeof open) != sizeof open) _exit(4);
    for (std::uint64_t seq = start; count <= 0 || seq < start + count; ++seq) {
      const int k = static_cast<int>(seq % kRecords);
      const auto image = Image(seq);
      records[k]->Write(image.data(), static_cast<int>(image.size()));
      if (!records[k]->SaveStreamToRegistry()) _exit(3);
      Ack ack{'R', static_cast<std::uint8_t>(k), seq};
      if (write(ackFd, &ack, sizeof ack) != sizeof ack) _exit(4);
      if (!records[k]->SaveStreamToFile()) _exit(5);
      ack.kind = 'F';
      if (write(ackFd, &ack, sizeof ack) != sizeof ack) _exit(4);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    _exit(2);
  }
  _exit(0);
}

class CrashConsistency : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvcrash-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    folder_ = (dir_ / "files").string();
    fs::create_directories(folder_);
    db_ = (dir_ / "registry.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs one writer; kills it `killAfter` after its start, or after its first save when
  // `afterOpen` (a writer's first save is slow: it makes the log and the key); lets it end when
  // killAfter is nullopt. Returns its acknowledged saves.
  std::vector<Ack> RunWriter(std::uint64_t start,
                             std::optional<std::chrono::microseconds> killAfter, bool afterOpen,
                             int count, int* status) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      Writer(db_, folder_, start, fds[1], count);
    }
    close(fds[1]);
    std::vector<Ack> acks;
    Ack ack;
    if (killAfter) {
      if (afterOpen)
        while (read(fds[0], &ack, sizeof ack) == sizeof ack) {
          if (ack.kind == 'S') continue;
          acks.push_back(ack);
          break;
        }
      std::this_thread::sleep_for(*killAfter);
      kill(pid, SIGKILL);
    }
    while (read(fds[0], &ack, sizeof ack) == sizeof ack)
      if (ack.kind != 'S') acks.push_back(ack);
    close(fds[0]);
    waitpid(pid, status, 0);
    return acks;
  }

  std::vector<std::uint8_t> FileBytes(const std::string& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec) return {};
    std::vector<std::uint8_t> bytes(size);
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
  }

  // Checks the store and the files against what was acknowledged so far. Empty when all holds.
  std::string Verify() {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(db_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return "the store cannot be opened";
    }
    std::string problem;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
    if (sqlite3_step(st) != SQLITE_ROW ||
        std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) != "ok")
      problem = "integrity_check failed";
    sqlite3_finalize(st);
    for (int k = 0; k < kRecords && problem.empty(); ++k) {
      sqlite3_prepare_v2(db, "SELECT data FROM reg_values WHERE name = ?", -1, &st, nullptr);
      const std::string name = RecordName(k);
      sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      const bool found = sqlite3_step(st) == SQLITE_ROW;
      const auto* data =
          found ? static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 0)) : nullptr;
      const std::size_t size = found ? static_cast<std::size_t>(sqlite3_column_bytes(st, 0)) : 0;
      const auto seq = found ? SeqOf(data, size) : std::nullopt;
      sqlite3_finalize(st);
      if (acked_[k].registry) {
        if (!found) problem = name + ": an acknowledged value is missing";
        else if (!seq)
          problem = name + ": the value is not a whole record (" + std::to_string(size) + " bytes)";
        else if (*seq < *acked_[k].registry)
          problem = name + ": value " + std::to_string(*seq) + " is older than acknowledged " +
                    std::to_string(*acked_[k].registry);
      }
      const std::string file = (fs::path(folder_) / name).string();
      if (acked_[k].file && problem.empty()) {
        const auto bytes = FileBytes(file);
        const auto seq = SeqOf(bytes.data(), bytes.size());
        if (!seq)
          problem = name + ": the file is torn (" + std::to_string(bytes.size()) + " bytes)";
        else if (*seq < *acked_[k].file) problem = name + ": the file is older than acknowledged";
      }
      if (fs::exists(file + ".tmp")) ++tmpLeft_;
    }
    sqlite3_close(db);
    return problem;
  }

  struct Acked {
    std::optional<std::uint64_t> registry, file;
  };
  fs::path dir_;
  std::string folder_, db_;
  Acked acked_[kRecords];
  int tmpLeft_ = 0;
};

TEST_F(CrashConsistency, KilledWritersNeverLoseAcknowledgedSavesOrTearARecord) {
  std::mt19937 random(std::random_device{}());
  // One kill in four is timed from the writer's start and may land in the store's opening (or
  // its creation) or its first save; the others land among the saves that follow.
  std::uniform_int_distribution<int> fromStartUs(0, 25000), fromOpenUs(0, 3000);
  const auto begin = Clock::now();
  int kills = 0, killsAfterASave = 0, acks = 0;
  std::uint64_t start = 1;
  while (kills < kMinKills && Clock::now() - begin < kTimeLimit) {
    int status = 0;
    const bool afterOpen = kills % 4 != 0;
    const auto delay =
        std::chrono::microseconds(afterOpen ? fromOpenUs(random) : fromStartUs(random));
    const auto got = RunWriter(start, delay, afterOpen, 0, &status);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the writer ended by itself with status " << status;
    ++kills;
    if (!got.empty()) ++killsAfterASave;
    acks += static_cast<int>(got.size());
    for (const Ack& a : got)
      (a.kind == 'R' ? acked_[a.record].registry : acked_[a.record].file) = a.seq;
    const std::string problem = Verify();
    ASSERT_EQ(problem, "") << "after kill " << kills;
    start += 1'000'000;  // every writer's sequence numbers are newer than all before
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  std::cout << "crash consistency: " << kills << " kills in " << seconds << " s, "
            << killsAfterASave << " after at least one acknowledged save, " << acks
            << " acknowledged saves, " << tmpLeft_ << " checks found a stale .tmp\n";
  ASSERT_GE(kills, kMinKills) << "too slow: " << kills << " kills in " << seconds << " s";
  EXPECT_GE(killsAfterASave, kMinKills / 2) << "the kills rarely met a save";

  // One writer that runs to its end saves every record once: no temporary file stays.
  int status = 0;
  const auto last = RunWriter(start, std::nullopt, false, kRecords, &status);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (const Ack& a : last)
    (a.kind == 'R' ? acked_[a.record].registry : acked_[a.record].file) = a.seq;
  tmpLeft_ = 0;
  EXPECT_EQ(Verify(), "");
  EXPECT_EQ(tmpLeft_, 0) << "a stale .tmp survived the next save of its file";
}

}  // namespace
