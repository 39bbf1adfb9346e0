// Start-up of the profile store with five stored profiles, and a save of all five, on the
// SQLite settings store (the one the Linux monitor uses) and on the in-memory sim registry.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>

#include "platform/linux/sqlite_registry.h"
#include "platform/sim/sim_platform.h"
#include "profile/dm.h"

namespace {

namespace fs = std::filesystem;

struct SqliteWorld {
  kv::platform::sim::SimPaths paths;  // temporary exe/ and Documents/ folders
  kv::platform::sim::SimClock clock;
  std::unique_ptr<kv::platform::linux_::SqliteRegistry> registry;
  SqliteWorld() {
    registry = std::make_unique<kv::platform::linux_::SqliteRegistry>(
        (fs::path(paths.Root()) / "bench.db").string());
    // Store all five profiles once, so that start-up loads them instead of making defaults.
    kv::TDM dm(*registry, paths, clock);
    dm.SaveBackAllProfileInfoToRegistry();
  }
};

void BM_StartUpSqlite(benchmark::State& state) {
  SqliteWorld w;
  for (auto _ : state) {
    auto dm = std::make_unique<kv::TDM>(*w.registry, w.paths, w.clock);
    benchmark::DoNotOptimize(dm->FCurrentProfileInfo.ConfigInfo.ButtonCount);
  }
}
BENCHMARK(BM_StartUpSqlite)->Unit(benchmark::kMillisecond);

void BM_SaveAllFiveSqlite(benchmark::State& state) {
  SqliteWorld w;
  auto dm = std::make_unique<kv::TDM>(*w.registry, w.paths, w.clock);
  for (auto _ : state) dm->SaveBackAllProfileInfoToRegistry();
}
BENCHMARK(BM_SaveAllFiveSqlite)->Unit(benchmark::kMillisecond);

void BM_SaveAllFiveToFiles(benchmark::State& state) {
  SqliteWorld w;
  auto dm = std::make_unique<kv::TDM>(*w.registry, w.paths, w.clock);
  for (auto _ : state) dm->SaveBackAllProfileInfoToFile();
}
BENCHMARK(BM_SaveAllFiveToFiles)->Unit(benchmark::kMillisecond);

void BM_StartUpSim(benchmark::State& state) {
  kv::platform::sim::SimPlatform sim;
  kv::TDM(sim.platform()).SaveBackAllProfileInfoToRegistry();
  for (auto _ : state) {
    auto dm = std::make_unique<kv::TDM>(sim.platform());
    benchmark::DoNotOptimize(dm->FCurrentProfileInfo.ConfigInfo.ButtonCount);
  }
}
BENCHMARK(BM_StartUpSim)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
