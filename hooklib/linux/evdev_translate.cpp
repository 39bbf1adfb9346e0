#include "hooklib/linux/evdev_translate.h"

#include <algorithm>

#include "hook/key_tables.h"

namespace kv::hooklib {
namespace {

constexpr std::uint16_t kKeyboardPage = 0x07;
constexpr std::uint16_t kConsumerPage = 0x0C;

struct KeyRow {
  unsigned key;
  std::uint16_t page, usage;
  std::uint8_t scan;
  bool extended;
};

// Keys whose Linux code is their set-1 scan code: code and Keyboard-page usage.
constexpr std::pair<unsigned, std::uint16_t> kPlainKeys[] = {
    {KEY_ESC, 41},        {KEY_1, 30},         {KEY_2, 31},
    {KEY_3, 32},          {KEY_4, 33},         {KEY_5, 34},
    {KEY_6, 35},          {KEY_7, 36},         {KEY_8, 37},
    {KEY_9, 38},          {KEY_0, 39},         {KEY_MINUS, 45},
    {KEY_EQUAL, 46},      {KEY_BACKSPACE, 42}, {KEY_TAB, 43},
    {KEY_Q, 20},          {KEY_W, 26},         {KEY_E, 8},
    {KEY_R, 21},          {KEY_T, 23},         {KEY_Y, 28},
    {KEY_U, 24},          {KEY_I, 12},         {KEY_O, 18},
    {KEY_P, 19},          {KEY_LEFTBRACE, 47}, {KEY_RIGHTBRACE, 48},
    {KEY_ENTER, 40},      {KEY_LEFTCTRL, 224}, {KEY_A, 4},
    {KEY_S, 22},          {KEY_D, 7},          {KEY_F, 9},
    {KEY_G, 10},          {KEY_H, 11},         {KEY_J, 13},
    {KEY_K, 14},          {KEY_L, 15},         {KEY_SEMICOLON, 51},
    {KEY_APOSTROPHE, 52}, {KEY_GRAVE, 53},     {KEY_LEFTSHIFT, 225},
    {KEY_BACKSLASH, 49},  {KEY_Z, 29},         {KEY_X, 27},
    {KEY_C, 6},           {KEY_V, 25},         {KEY_B, 5},
    {KEY_N, 17},          {KEY_M, 16},         {KEY_COMMA, 54},
    {KEY_DOT, 55},        {KEY_SLASH, 56},     {KEY_RIGHTSHIFT, 229},
    {KEY_KPASTERISK, 85}, {KEY_LEFTALT, 226},  {KEY_SPACE, 44},
    {KEY_CAPSLOCK, 57},   {KEY_F1, 58},        {KEY_F2, 59},
    {KEY_F3, 60},         {KEY_F4, 61},        {KEY_F5, 62},
    {KEY_F6, 63},         {KEY_F7, 64},        {KEY_F8, 65},
    {KEY_F9, 66},         {KEY_F10, 67},       {KEY_SCROLLLOCK, 71},
    {KEY_KP7, 95},        {KEY_KP8, 96},       {KEY_KP9, 97},
    {KEY_KPMINUS, 86},    {KEY_KP4, 92},       {KEY_KP5, 93},
    {KEY_KP6, 94},        {KEY_KPPLUS, 87},    {KEY_KP1, 89},
    {KEY_KP2, 90},        {KEY_KP3, 91},       {KEY_KP0, 98},
    {KEY_KPDOT, 99},      {KEY_102ND, 100},    {KEY_F11, 68},
    {KEY_F12, 69},
};

// Every other key: code, page, usage, set-1 scan code, 0xE0 prefix.
constexpr KeyRow kOtherKeys[] = {
    {KEY_NUMLOCK, kKeyboardPage, 83, 0x45, true},
    {KEY_PAUSE, kKeyboardPage, 72, 0x45, false},
    {KEY_KPENTER, kKeyboardPage, 88, 0x1C, true},
    {KEY_RIGHTCTRL, kKeyboardPage, 228, 0x1D, true},
    {KEY_KPSLASH, kKeyboardPage, 84, 0x35, true},
    {KEY_SYSRQ, kKeyboardPage, 70, 0x37, true},
    {KEY_RIGHTALT, kKeyboardPage, 230, 0x38, true},
    {KEY_HOME, kKeyboardPage, 74, 0x47, true},
    {KEY_UP, kKeyboardPage, 82, 0x48, true},
    {KEY_PAGEUP, kKeyboardPage, 75, 0x49, true},
    {KEY_LEFT, kKeyboardPage, 80, 0x4B, true},
    {KEY_RIGHT, kKeyboardPage, 79, 0x4D, true},
    {KEY_END, kKeyboardPage, 77, 0x4F, true},
    {KEY_DOWN, kKeyboardPage, 81, 0x50, true},
    {KEY_PAGEDOWN, kKeyboardPage, 78, 0x51, true},
    {KEY_INSERT, kKeyboardPage, 73, 0x52, true},
    {KEY_DELETE, kKeyboardPage, 76, 0x53, true},
    {KEY_LEFTMETA, kKeyboardPage, 227, 0x5B, true},
    {KEY_RIGHTMETA, kKeyboardPage, 231, 0x5C, true},
    {KEY_COMPOSE, kKeyboardPage, 101, 0x5D, true},
    {KEY_POWER, kKeyboardPage, 102, 0x5E, true},
    {KEY_F13, kKeyboardPage, 104, 0x64, false},
    {KEY_F14, kKeyboardPage, 105, 0x65, false},
    {KEY_F15, kKeyboardPage, 106, 0x66, false},
    {KEY_F16, kKeyboardPage, 107, 0x67, false},
    {KEY_F17, kKeyboardPage, 108, 0x68, false},
    {KEY_F18, kKeyboardPage, 109, 0x69, false},
    {KEY_F19, kKeyboardPage, 110, 0x6A, false},
    {KEY_F20, kKeyboardPage, 111, 0x6B, false},
    {KEY_F21, kKeyboardPage, 112, 0x6C, false},
    {KEY_F22, kKeyboardPage, 113, 0x6D, false},
    {KEY_F23, kKeyboardPage, 114, 0x6E, false},
    {KEY_F24, kKeyboardPage, 115, 0x76, false},
    {KEY_MUTE, kConsumerPage, 0xE2, 0x20, true},
    {KEY_VOLUMEDOWN, kConsumerPage, 0xEA, 0x2E, true},
    {KEY_VOLUMEUP, kConsumerPage, 0xE9, 0x30, true},
    {KEY_NEXTSONG, kConsumerPage, 0xB5, 0x19, true},
    {KEY_PREVIOUSSONG, kConsumerPage, 0xB6, 0x10, true},
    {KEY_STOPCD, kConsumerPage, 0xB7, 0x24, true},
    {KEY_PLAYPAUSE, kConsumerPage, 0xCD, 0x22, true},
    {KEY_MAIL, kConsumerPage, 0x18A, 0x6C, true},
    {KEY_CONFIG, kConsumerPage, 0x183, 0x6D, true},
    {KEY_COMPUTER, kConsumerPage, 0x194, 0x6B, true},
    {KEY_CALC, kConsumerPage, 0x192, 0x21, true},
    {KEY_SEARCH, kConsumerPage, 0x221, 0x65, true},
    {KEY_HOMEPAGE, kConsumerPage, 0x223, 0x32, true},
    {KEY_BACK, kConsumerPage, 0x224, 0x6A, true},
    {KEY_FORWARD, kConsumerPage, 0x225, 0x69, true},
    {KEY_STOP, kConsumerPage, 0x226, 0x68, true},
    {KEY_REFRESH, kConsumerPage, 0x227, 0x67, true},
    {KEY_BOOKMARKS, kConsumerPage, 0x22A, 0x66, true},
};

bool IsMouseButton(unsigned code) { return code >= BTN_LEFT && code <= BTN_TASK; }

}  // namespace

KeyPosition PositionOfKey(unsigned linuxKey) {
  for (const auto& [key, usage] : kPlainKeys)
    if (key == linuxKey) return {kKeyboardPage, usage, static_cast<std::uint8_t>(key), false};
  for (const auto& r : kOtherKeys)
    if (r.key == linuxKey) return {r.page, r.usage, r.scan, r.extended};
  return {};
}

int VirtualKeyOfUsage(std::uint16_t page, std::uint16_t usage, bool extended, bool numLock) {
  const KeyTable& normal = KeyboardInfoTable();
  if (page == kConsumerPage) {
    for (const auto& row : normal)
      if (IsConsumerPageKey(row.VKCode) && row.HIDCode == usage) return row.VKCode;
    return 0;
  }
  if (page != kKeyboardPage) return 0;
  if (extended) {
    for (const auto& row : ExtendedKeyboardInfoTable())
      if (row.HIDCode == usage && row.VKCode < 256) return row.VKCode;
    for (const auto& row : normal)
      if (row.Extended == kExtendedForm && !IsConsumerPageKey(row.VKCode) && row.HIDCode == usage)
        return row.VKCode;
    return 0;
  }
  // The keypad's keys appear twice in the normal table, as digit (higher code) and as
  // navigation key (lower code); Num Lock picks one.
  int found = 0;
  for (const auto& row : normal) {
    if (row.Extended != kNormalForm || row.HIDCode != usage || row.VKCode >= 256) continue;
    if (found == 0 || numLock) found = row.VKCode;
  }
  if (found != 0) return found;
  // A key whose only row is marked as the extended form although the keyboard does not flag it
  // (the right Shift key).
  for (const auto& row : normal)
    if (row.Extended == kExtendedForm && !IsConsumerPageKey(row.VKCode) && row.HIDCode == usage &&
        row.VKCode < 256)
      return row.VKCode;
  return 0;
}

std::uint32_t TickOf(const timeval& time) {
  const auto ms = static_cast<std::uint64_t>(time.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(time.tv_usec) / 1000u;
  return static_cast<std::uint32_t>(ms);
}

bool EvdevTranslator::Feed(const input_event& event, std::vector<TranslatedEvent>& out) {
  if (frameDone_) {
    frame_.clear();
    frameDone_ = false;
  }
  out.clear();
  if (event.type == EV_SYN && event.code == SYN_DROPPED) {
    // The kernel lost events: everything up to the next report is incomplete.
    frame_.clear();
    dropping_ = true;
    return false;
  }
  frame_.push_back(event);
  if (event.type == EV_LED && event.code == LED_NUML) numLock_ = event.value != 0;
  if (event.type != EV_SYN || event.code != SYN_REPORT) return false;
  frameDone_ = true;
  if (dropping_) {
    dropping_ = false;
    frame_.clear();
    return false;
  }
  TranslateFrame(out);
  return true;
}

TranslatedEvent EvdevTranslator::Key(const input_event& e, std::size_t index) {
  TranslatedEvent t;
  const KeyPosition pos = PositionOfKey(e.code);
  t.keyboard = true;
  const bool released = e.value == 0;
  t.message = released ? hooklib::kKeyUp : hooklib::kKeyDown;
  t.key.vkCode =
      static_cast<std::uint32_t>(VirtualKeyOfUsage(pos.page, pos.usage, pos.extended, numLock_));
  t.key.scanCode = pos.scan;
  t.key.flags =
      (pos.extended ? hooklib::kKeyExtended : 0u) | (released ? hooklib::kKeyReleased : 0u);
  t.key.time = TickOf(e.time);
  t.sources.push_back(index);
  return t;
}

TranslatedEvent EvdevTranslator::Mouse(std::uintptr_t message, const input_event& e,
                                       std::int16_t high) {
  TranslatedEvent t;
  t.message = message;
  t.mouse.x = pointer_.x;
  t.mouse.y = pointer_.y;
  t.mouse.mouseData = static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16;
  t.mouse.time = TickOf(e.time);
  return t;
}

void EvdevTranslator::TranslateFrame(std::vector<TranslatedEvent>& out) {
  std::vector<std::size_t> motion, wheel, wheelHiRes, hwheel, hwheelHiRes;
  int dx = 0, dy = 0, wheelSteps = 0, wheelUnits = 0, hwheelSteps = 0, hwheelUnits = 0;
  for (std::size_t i = 0; i < frame_.size(); ++i) {
    const input_event& e = frame_[i];
    if (e.type == EV_REL) {
      switch (e.code) {
        case REL_X: dx += e.value, motion.push_back(i); break;
        case REL_Y: dy += e.value, motion.push_back(i); break;
        case REL_WHEEL: wheelSteps += e.value, wheel.push_back(i); break;
        case REL_WHEEL_HI_RES: wheelUnits += e.value, wheelHiRes.push_back(i); break;
        case REL_HWHEEL: hwheelSteps += e.value, hwheel.push_back(i); break;
        case REL_HWHEEL_HI_RES: hwheelUnits += e.value, hwheelHiRes.push_back(i); break;
        default: break;
      }
    } else if (e.type == EV_ABS && (e.code == ABS_X || e.code == ABS_Y)) {
      (e.code == ABS_X ? pointer_.x : pointer_.y) = e.value;
      motion.push_back(i);
    }
  }
  if (!motion.empty()) {
    pointer_.x += dx;
    pointer_.y += dy;
    TranslatedEvent move = Mouse(hooklib::kMouseMove, frame_[motion.front()], 0);
    move.sources = motion;
    out.push_back(std::move(move));
  }

  for (std::size_t i = 0; i < frame_.size(); ++i) {
    const input_event& e = frame_[i];
    if (e.type != EV_KEY) continue;
    if (!IsMouseButton(e.code)) {
      if (PositionOfKey(e.code).page != 0) out.push_back(Key(e, i));
      continue;
    }
    if (e.value == 2) continue;
    const bool down = e.value != 0;
    std::uintptr_t message = 0;
    std::int16_t high = 0;
    switch (e.code) {
      case BTN_LEFT: message = down ? hooklib::kLButtonDown : hooklib::kLButtonUp; break;
      case BTN_RIGHT: message = down ? hooklib::kRButtonDown : hooklib::kRButtonUp; break;
      case BTN_MIDDLE: message = down ? hooklib::kMButtonDown : hooklib::kMButtonUp; break;
      case BTN_SIDE:
      case BTN_BACK: high = 1; break;
      case BTN_EXTRA:
      case BTN_FORWARD: high = 2; break;
      default: continue;
    }
    if (high != 0) message = down ? hooklib::kXButtonDown : hooklib::kXButtonUp;
    TranslatedEvent t = Mouse(message, e, high);
    t.sources.push_back(i);
    out.push_back(std::move(t));
  }

  // A device with a high-resolution wheel reports both; its finer value (1/120 of a notch, the
  // unit of the wheel delta) wins.
  auto addWheel = [&](std::uintptr_t message, int steps, int units, std::vector<std::size_t> lo,
                      std::vector<std::size_t> hi) {
    if (lo.empty() && hi.empty()) return;
    const int delta = hi.empty() ? steps * hooklib::kWheelDelta : units;
    if (delta == 0) return;
    const auto clamped = static_cast<std::int16_t>(std::max(-32768, std::min(32767, delta)));
    TranslatedEvent t = Mouse(message, frame_[hi.empty() ? lo.front() : hi.front()], clamped);
    t.sources = std::move(lo);
    t.sources.insert(t.sources.end(), hi.begin(), hi.end());
    out.push_back(std::move(t));
  };
  addWheel(hooklib::kMouseWheel, wheelSteps, wheelUnits, wheel, wheelHiRes);
  addWheel(hooklib::kMouseHWheel, hwheelSteps, hwheelUnits, hwheel, hwheelHiRes);
}

}  // namespace kv::hooklib
