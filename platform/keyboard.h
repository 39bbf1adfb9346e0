#pragma once
// The keyboard's current state as the desktop sees it: which keys are held and which lock keys
// are on. Key numbers are Windows virtual-key codes (0..255) on every platform.
#include <cstdint>

namespace kv::platform {

class Keyboard {
 public:
  // Bits of a key's state byte.
  static constexpr std::uint8_t kDown = 0x80;     // the key is held down
  static constexpr std::uint8_t kToggled = 0x01;  // a lock key (Caps, Num, Scroll) is on

  virtual ~Keyboard() = default;
  // State byte of one virtual key; 0 for a key that is up (and for codes outside 0..255).
  // The generic modifier codes 16 (Shift), 17 (Ctrl) and 18 (Alt) report a key as down when
  // either of its left/right keys is. Main thread.
  virtual std::uint8_t KeyState(int virtualKey) = 0;
  bool IsDown(int virtualKey) { return (KeyState(virtualKey) & kDown) != 0; }
};

}  // namespace kv::platform
