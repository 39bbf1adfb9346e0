#pragma once
// A monitor on a simulated machine, with what a configurator does to its store.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "app/monitor.h"
#include "lang/translation.h"
#include "world.h"

namespace kvtest {

class MonitorFixture : public ::testing::Test {
 protected:
  void SetUp() override { kv::lang::ResetTranslationTable(); }
  void TearDown() override {
    main.reset();
    dm.reset();
    kv::lang::ResetTranslationTable();
  }
  void Start() {
    dm = std::make_unique<kv::TDM>(w.platform());
    main = std::make_unique<kv::TKVMonMain>(w.platform(), *dm);
  }
  // The configurator edits through a store of its own before it tells the monitor.
  void BindButton(int button, std::uint16_t functionCode) {
    kv::TDM cfg(w.platform());
    cfg.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[button].FunctionCode = functionCode;
    cfg.SaveCurrentProfileInfoToRegistry();
  }
  std::optional<std::uint32_t> StoredProfileId() {
    auto v = w.sim.registry.Value(pf::RootKey::CurrentUser,
                                  dm->FOptionsFromConfigFile.ProfileRegFolder, "ProfileID");
    if (!v || v->data.size() != 4) return std::nullopt;
    return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | std::uint32_t(v->data[3]) << 24;
  }

  World w;
  std::unique_ptr<kv::TDM> dm;
  std::unique_ptr<kv::TKVMonMain> main;
};

}  // namespace kvtest
