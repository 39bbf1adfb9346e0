// The sim versions of the dynamic-library and keyboard services.
#include "dynlib_contract.h"
#include "platform/sim/sim_dynlib.h"
#include "platform/sim/sim_keyboard.h"

namespace kv::platform::contract {
namespace {

struct SimLibrariesEnv {
  DynamicLibraries& libraries() { return sim; }
  std::string LibraryFolder() { return KV_TEST_HOOK_DIR; }
  bool SearchIn(const std::string& folder) {
    sim.AddSearchFolder(folder);
    return true;
  }
  sim::SimDynamicLibraries sim;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, DynamicLibrariesContract, ::testing::Types<SimLibrariesEnv>);

TEST(SimKeyboard, GenericModifiersFollowEitherSideAndLockKeysKeepTheirToggle) {
  sim::SimKeyboard kb;
  EXPECT_FALSE(kb.IsDown(17));
  kb.SetDown(163, true);
  EXPECT_TRUE(kb.IsDown(17));
  EXPECT_FALSE(kb.IsDown(16));
  EXPECT_FALSE(kb.IsDown(162));
  kb.SetToggled(20, true);
  kb.SetDown(20, true);
  EXPECT_EQ(kb.KeyState(20), Keyboard::kDown | Keyboard::kToggled);
  kb.SetDown(20, false);
  EXPECT_EQ(kb.KeyState(20), Keyboard::kToggled);
  EXPECT_EQ(kb.KeyState(300), 0);
  EXPECT_EQ(kb.KeyState(-1), 0);
  kb.ReleaseAll();
  EXPECT_FALSE(kb.IsDown(17));
}

}  // namespace
}  // namespace kv::platform::contract
