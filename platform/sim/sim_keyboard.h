#pragma once
// Keyboard state in the sim world: the test says which keys are held.
#include <array>
#include <cstdint>
#include <mutex>

#include "platform/keyboard.h"

namespace kv::platform::sim {

class SimKeyboard : public Keyboard {
 public:
  std::uint8_t KeyState(int virtualKey) override;

  // Test controls.
  void SetDown(int virtualKey, bool down);
  void SetToggled(int virtualKey, bool on);
  void ReleaseAll();

 private:
  std::uint8_t Raw(int virtualKey) const;
  mutable std::mutex mutex_;
  std::array<std::uint8_t, 256> state_{};
};

}  // namespace kv::platform::sim
