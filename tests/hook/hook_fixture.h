#pragma once
// A sim world with the project's test hook library bound for real through the sim loader, and
// helpers that play keyboard and mouse events through that library.
#include <gtest/gtest.h>

#include <memory>

#include "hook/gx_hook.h"
#include "platform/sim/sim_dynlib.h"
#include "platform/sim/sim_keyboard.h"
#include "platform/sim/sim_platform.h"

namespace kv::test {

using namespace kv::hooklib;

class HookTest : public ::testing::Test {
 protected:
  HookTest() {
    libraries.AddSearchFolder(KV_TEST_HOOK_DIR);
    sim.platform().libraries = &libraries;
    sim.platform().keyboard = &keyboard;
    sim.platform().messageBoxes = &sim.messageBoxes;
    control_ = libraries.Load(libraries.FileName(kHookLibraryName));
    if (!control_) return;
    sendKeyboard_ = reinterpret_cast<SendKeyboardFn>(control_->Symbol("TestHookSendKeyboard"));
    sendMouse_ = reinterpret_cast<SendMouseFn>(control_->Symbol("TestHookSendMouse"));
    query_ = reinterpret_cast<QueryFn>(control_->Symbol("TestHookQuery"));
    reinterpret_cast<void (*)()>(control_->Symbol("TestHookReset"))();
  }

  void SetUp() override {
    ASSERT_TRUE(control_) << "test hook library not found in " KV_TEST_HOOK_DIR;
  }

  std::unique_ptr<TgxHook> MakeHook() { return std::make_unique<TgxHook>(sim.platform()); }

  // Plays a key event; -1 = no keyboard callback registered, 1 = blocked, 0 = passed on.
  int Key(int vk, bool down, std::uint32_t time, bool extended = false, std::uint32_t scan = 0,
          int nCode = 0) {
    KeyboardRecord r{static_cast<std::uint32_t>(vk), scan,
                     (extended ? kKeyExtended : 0u) | (down ? 0u : kKeyReleased), time, 0};
    return sendKeyboard_(nCode, down ? kKeyDown : kKeyUp, &r);
  }
  int Mouse(std::uintptr_t message, std::uint32_t time, int x = 0, int y = 0, std::int16_t high = 0,
            bool injected = false) {
    MouseRecord r{x,
                  y,
                  static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16,
                  injected ? kMouseInjected : 0u,
                  time,
                  0};
    return sendMouse_(0, message, &r);
  }
  bool KeyboardHooked() { return query_(0, 0) != 0; }
  bool MouseHooked() { return query_(1, 0) != 0; }
  int Enables(int which) { return query_(which, 1); }
  int Disables(int which) { return query_(which, 2); }

  platform::sim::SimPlatform sim;
  platform::sim::SimDynamicLibraries libraries;
  platform::sim::SimKeyboard keyboard;

 private:
  using SendKeyboardFn = int (*)(std::int32_t, std::uintptr_t, const KeyboardRecord*);
  using SendMouseFn = int (*)(std::int32_t, std::uintptr_t, const MouseRecord*);
  using QueryFn = int (*)(int, int);
  std::unique_ptr<platform::DynamicLibrary> control_;
  SendKeyboardFn sendKeyboard_ = nullptr;
  SendMouseFn sendMouse_ = nullptr;
  QueryFn query_ = nullptr;
};

}  // namespace kv::test
