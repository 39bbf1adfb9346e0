#pragma once
// Turns the event stream of one evdev device into the low-level keyboard and mouse records that
// hook callbacks receive. Pure: no devices, no main loop, so recorded streams can be replayed.
#include <linux/input.h>

#include <cstdint>
#include <vector>

#include "hook/hook_library.h"

namespace kv::hooklib {

// Where a Linux key code sits on a PC keyboard: its HID usage and its set-1 scan code.
struct KeyPosition {
  std::uint16_t page = 0;  // 0x07 Keyboard/Keypad, 0x0C Consumer; 0 = unknown key
  std::uint16_t usage = 0;
  std::uint8_t scan = 0;
  bool extended = false;  // the scan code carries the 0xE0 prefix
};
KeyPosition PositionOfKey(unsigned linuxKey);

// Virtual-key code for a HID usage, from the key tables; 0 when the tables have none. With
// `numLock` off the keypad's digits and point give their navigation keys, as on Windows.
int VirtualKeyOfUsage(std::uint16_t page, std::uint16_t usage, bool extended, bool numLock);

// Millisecond tick of an event's timestamp (wraps like the tick counter).
std::uint32_t TickOf(const timeval& time);

struct PointerPosition {
  std::int32_t x = 0, y = 0;
};

// One record made from a frame of events, and which of the frame's events it stands for (those
// are left out when the record comes back blocked).
struct TranslatedEvent {
  bool keyboard = false;
  std::uintptr_t message = 0;
  hooklib::KeyboardRecord key{};
  hooklib::MouseRecord mouse{};
  std::vector<std::size_t> sources;
};

class EvdevTranslator {
 public:
  // `pointer` is shared by every pointing device: relative motion moves it, absolute axes set it.
  explicit EvdevTranslator(PointerPosition& pointer) : pointer_(pointer) {}

  // Adds one event to the current frame. At the end of the frame (SYN_REPORT) returns true and
  // fills `out` with the frame's records in order; the frame's events stay readable through
  // Frame() until the next Feed. A SYN_DROPPED frame is discarded whole.
  bool Feed(const input_event& event, std::vector<TranslatedEvent>& out);
  const std::vector<input_event>& Frame() const { return frame_; }

  void SetNumLock(bool on) { numLock_ = on; }
  bool NumLock() const { return numLock_; }

 private:
  void TranslateFrame(std::vector<TranslatedEvent>& out);
  TranslatedEvent Key(const input_event& e, std::size_t index);
  TranslatedEvent Mouse(std::uintptr_t message, const input_event& e, std::int16_t high);

  PointerPosition& pointer_;
  std::vector<input_event> frame_;
  bool frameDone_ = false;
  bool dropping_ = false;
  bool numLock_ = true;
};

}  // namespace kv::hooklib
