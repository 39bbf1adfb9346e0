// Cost of one keyboard and one mouse hook callback with 64 rules, called the way a hook library
// calls it: through the registered callback address, with the component as context. The rule
// that matches is the last one, so every call walks the whole list and fires both events.
#include <benchmark/benchmark.h>

#include "hook/gx_hook.h"
#include "platform/sim/sim_dynlib.h"
#include "platform/sim/sim_platform.h"

namespace {

using namespace kv;

hooklib::HookCallback g_keyboard = nullptr, g_mouse = nullptr;
void* g_keyboardContext = nullptr;
void* g_mouseContext = nullptr;

void EnableKeyboard(hooklib::HookCallback cb, void* ctx, std::int32_t) {
  g_keyboard = cb;
  g_keyboardContext = ctx;
}
void EnableMouse(hooklib::HookCallback cb, void* ctx, std::int32_t) {
  g_mouse = cb;
  g_mouseContext = ctx;
}
void Disable() {}

struct World {
  World() {
    libraries.AddTable(libraries.FileName(kHookLibraryName),
                       {{hooklib::kEnableKeyboardHook, reinterpret_cast<void*>(&EnableKeyboard)},
                        {hooklib::kDisableKeyboardHook, reinterpret_cast<void*>(&Disable)},
                        {hooklib::kEnableMouseHook, reinterpret_cast<void*>(&EnableMouse)},
                        {hooklib::kDisableMouseHook, reinterpret_cast<void*>(&Disable)}});
    sim.platform().libraries = &libraries;
    hook = std::make_unique<TgxHook>(sim.platform());
  }
  platform::sim::SimPlatform sim;
  platform::sim::SimDynamicLibraries libraries;
  std::unique_ptr<TgxHook> hook;
};

void KeyboardCallback64Rules(benchmark::State& state) {
  World w;
  for (int i = 0; i < 63; ++i) {
    auto r = std::make_unique<TKeyBoardHookDetailObject>();
    r->FKeyBoardHookDetail = {100 + i, 0, 0, 1};
    w.hook->AddKeyboardHookObject(std::move(r));
  }
  auto last = std::make_unique<TKeyBoardHookDetailObject>();
  last->FKeyBoardHookDetail = {65, 0, 0, 1};
  w.hook->AddKeyboardHookObject(std::move(last));
  int fired = 0;
  w.hook->OnHookKeyboardAllKey = [&](int, int, int, bool&, std::uint32_t) { ++fired; };
  w.hook->OnHookKeyboardKey = [&](int, int, int, bool&, std::uint32_t) { ++fired; };
  w.hook->StartHookKeyboard();
  hooklib::KeyboardRecord record{65, 0x1E, 0, 1000, 0};
  for (auto _ : state) {
    bool blocked = false;
    g_keyboard(g_keyboardContext, 0, hooklib::kKeyDown, reinterpret_cast<std::intptr_t>(&record),
               &blocked);
    benchmark::DoNotOptimize(blocked);
    ++record.time;
  }
  if (fired != 2 * static_cast<int>(state.iterations())) state.SkipWithError("rule did not match");
}
BENCHMARK(KeyboardCallback64Rules);

void MouseCallback64Rules(benchmark::State& state) {
  World w;
  for (int i = 0; i < 63; ++i) {
    auto r = std::make_unique<TMouseHookDetailObject>();
    r->FMouseHookDetail.MouseButton = TMouseButtons::BUTTONX3;
    r->FMouseHookDetail.MouseStateSet = StateBit(TMouseButtonStates::LBUTTONDOWN);
    r->FMouseHookDetail.ModifiedFunction = TMouseButtons::LCLICK;
    w.hook->AddMouseHookObject(std::move(r));
  }
  auto last = std::make_unique<TMouseHookDetailObject>();
  last->FMouseHookDetail.MouseButton = TMouseButtons::WHEELUP;
  last->FMouseHookDetail.MouseStateSet = StateBit(TMouseButtonStates::MOUSEWHEEL);
  last->FMouseHookDetail.ModifiedFunction = TMouseButtons::BUTTONX1;
  w.hook->AddMouseHookObject(std::move(last));
  int fired = 0;
  w.hook->OnHookMouseAllButton = [&](TMouseButtons, int, std::int16_t, bool&) { ++fired; };
  w.hook->OnHookMouseButton = [&](TMouseButtons, int, bool&) { ++fired; };
  w.hook->StartHookMouse();
  hooklib::MouseRecord record{10, 20, 120u << 16, 0, 1000, 0};
  for (auto _ : state) {
    bool blocked = false;
    g_mouse(g_mouseContext, 0, hooklib::kMouseWheel, reinterpret_cast<std::intptr_t>(&record),
            &blocked);
    benchmark::DoNotOptimize(blocked);
    ++record.time;
  }
  if (fired != 2 * static_cast<int>(state.iterations())) state.SkipWithError("rule did not match");
}
BENCHMARK(MouseCallback64Rules);

}  // namespace

BENCHMARK_MAIN();
