#include "platform/sim/sim_keyboard.h"

namespace kv::platform::sim {

std::uint8_t SimKeyboard::Raw(int virtualKey) const {
  return virtualKey >= 0 && virtualKey < 256 ? state_[static_cast<std::size_t>(virtualKey)] : 0;
}

std::uint8_t SimKeyboard::KeyState(int virtualKey) {
  std::lock_guard lock(mutex_);
  // Generic Shift/Ctrl/Alt follow their left and right keys.
  constexpr int kLeftOf[3] = {160, 162, 164};
  if (virtualKey >= 16 && virtualKey <= 18) {
    const int left = kLeftOf[virtualKey - 16];
    return static_cast<std::uint8_t>(Raw(virtualKey) | ((Raw(left) | Raw(left + 1)) & kDown));
  }
  return Raw(virtualKey);
}

void SimKeyboard::SetDown(int virtualKey, bool down) {
  std::lock_guard lock(mutex_);
  if (virtualKey < 0 || virtualKey > 255) return;
  auto& s = state_[static_cast<std::size_t>(virtualKey)];
  s = static_cast<std::uint8_t>(down ? (s | kDown) : (s & ~kDown));
}

void SimKeyboard::SetToggled(int virtualKey, bool on) {
  std::lock_guard lock(mutex_);
  if (virtualKey < 0 || virtualKey > 255) return;
  auto& s = state_[static_cast<std::size_t>(virtualKey)];
  s = static_cast<std::uint8_t>(on ? (s | kToggled) : (s & ~kToggled));
}

void SimKeyboard::ReleaseAll() {
  std::lock_guard lock(mutex_);
  state_.fill(0);
}

}  // namespace kv::platform::sim
