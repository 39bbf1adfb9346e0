// A hook library for tests: it exports the four entry points of the real one and, instead of
// seeing the desktop, lets a test hand it keyboard and mouse records. It calls the registered
// callback exactly as a real library does and reports the verdict back.
#include <cstdint>

#include "hook/hook_library.h"

#ifdef _WIN32
#define KV_EXPORT extern "C" __declspec(dllexport)
#else
#define KV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace kv::hooklib;

namespace {

struct Slot {
  HookCallback callback = nullptr;
  void* context = nullptr;
  int enables = 0;
  int disables = 0;
};

Slot keyboard, mouse;

// -1 when no callback is registered (the event goes on), else 1 when it was blocked, 0 if not.
int Deliver(Slot& slot, std::int32_t nCode, std::uintptr_t message, const void* record) {
  if (!slot.callback) return -1;
  bool blocked = false;
  slot.callback(slot.context, nCode, message, reinterpret_cast<std::intptr_t>(record), &blocked);
  return blocked ? 1 : 0;
}

}  // namespace

KV_EXPORT void EnableKeyboardHook(HookCallback callback, void* context, std::int32_t) {
  keyboard.callback = callback;
  keyboard.context = context;
  ++keyboard.enables;
}

KV_EXPORT void DisableKeyboardHook() {
  keyboard.callback = nullptr;
  keyboard.context = nullptr;
  ++keyboard.disables;
}

KV_EXPORT void EnableMouseHook(HookCallback callback, void* context, std::int32_t) {
  mouse.callback = callback;
  mouse.context = context;
  ++mouse.enables;
}

KV_EXPORT void DisableMouseHook() {
  mouse.callback = nullptr;
  mouse.context = nullptr;
  ++mouse.disables;
}

// --- test controls ---------------------------------------------------------------------------

KV_EXPORT int TestHookSendKeyboard(std::int32_t nCode, std::uintptr_t message,
                                   const KeyboardRecord* record) {
  return Deliver(keyboard, nCode, message, record);
}

KV_EXPORT int TestHookSendMouse(std::int32_t nCode, std::uintptr_t message,
                                const MouseRecord* record) {
  return Deliver(mouse, nCode, message, record);
}

// which: 0 keyboard, 1 mouse. what: 0 registered callback present (0/1), 1 enables, 2 disables.
KV_EXPORT int TestHookQuery(int which, int what) {
  const Slot& s = which == 0 ? keyboard : mouse;
  return what == 0 ? (s.callback != nullptr) : what == 1 ? s.enables : s.disables;
}

KV_EXPORT void TestHookReset() { keyboard = mouse = Slot{}; }
