// The recording callbacks of TgxHook: single keys, key combinations, keyboard macros (plain and
// extended) and mouse macros.
#include <algorithm>
#include <cstdlib>

#include "hook/gx_hook.h"
#include "hook/key_tables.h"
#include "platform/keyboard.h"
#include "platform/platform.h"

namespace kv {

const TMouseButtonString MouseButtonDescriptions[7] = {
    {TMouseButtons::LCLICK, "Mouse Click"},          {TMouseButtons::RCLICK, "Mouse Right Click"},
    {TMouseButtons::MCLICK, "Mouse Middle Click"},   {TMouseButtons::XCLICK4, "Backward(Mouse) "},
    {TMouseButtons::XCLICK5, "Forward(Mouse)"},      {TMouseButtons::WHEELUP, "Wheel up(Mouse)"},
    {TMouseButtons::WHEELDOWN, "Wheel Down(Mouse)"},
};

std::string GetMouseButtonDescription(TMouseButtons Button) {
  for (const auto& row : MouseButtonDescriptions)
    if (row.MouseButton == Button) return row.ButtonDescription;
  return {};
}

namespace {

struct KeyEvent {
  int vk;
  std::uint32_t scan;
  int ext;
  int state;  // 1 pressed, 0 released
  std::uint32_t time;
};

KeyEvent ReadKey(std::intptr_t record) {
  const auto& r = *reinterpret_cast<const hooklib::KeyboardRecord*>(record);
  return {static_cast<int>(r.vkCode), r.scanCode, (r.flags & hooklib::kKeyExtended) ? 1 : 0,
          (r.flags & hooklib::kKeyReleased) ? 0 : 1, r.time};
}

// Milliseconds from `from` to `to` on the wrapping 32-bit tick counter: a counter that wrapped
// in between still gives the small positive gap, an event older than `from` a negative one.
std::int64_t TickDelta(std::uint32_t from, std::uint32_t to) {
  return static_cast<std::int32_t>(to - from);
}

const char* StateText(int state) { return state ? "Down" : "Up"; }

// Appends a keyboard macro entry named by its index.
void AppendMacroEntry(TMacroKeyList& list, std::uint16_t type, int state, int value, int ext) {
  auto entry = std::make_unique<TMacroKeyObject>();
  entry->FMacroKey.nKeyType = type;
  entry->FMacroKey.nKeyState = static_cast<std::uint16_t>(state);
  entry->FMacroKey.nKeyValue = static_cast<std::uint16_t>(value);
  entry->FMacroKey.nKeyValueExtended = static_cast<std::uint16_t>(ext);
  list.Add(std::to_string(list.Count()), std::move(entry));
}

bool IsModifierKey(int vk) { return (vk >= 160 && vk <= 165) || vk == 91 || vk == 92; }

}  // namespace

std::uint16_t TgxHook::ModifierState() {
  FComboKeyString.clear();
  std::uint16_t modifier = 0;
  platform::Keyboard* kb = platform_.keyboard;
  if (!kb) return 0;
  auto either = [kb](int left, int right) { return kb->IsDown(left) || kb->IsDown(right); };
  if (either(162, 163)) modifier |= 2, FComboKeyString += "Ctrl+";
  if (either(164, 165)) modifier |= 1, FComboKeyString += "Alt+";
  if (either(91, 92)) modifier |= 8, FComboKeyString += "Win+";
  if (either(160, 161)) modifier |= 4, FComboKeyString += "Shift+";
  return modifier;
}

void TgxHook::DoRecordKeyboardSingleKey(int, std::uintptr_t, std::intptr_t record, bool& blocked) {
  if (record == 0 || !OnRecordKeyboardSingleKey) return;
  const KeyEvent k = ReadKey(record);
  OnRecordKeyboardSingleKey(k.vk, k.scan, k.state, k.ext, GetKeyDescription(k.vk, k.ext), blocked);
}

void TgxHook::DoRecordKeyboardComboKey(int, std::uintptr_t, std::intptr_t record, bool& blocked) {
  const bool first = static_cast<bool>(OnRecordKeyboardComboKey);
  if (record == 0 || (!first && !OnRecordKeyboardComboKey2)) return;
  const KeyEvent k = ReadKey(record);
  if (k.state == 0 || IsModifierKey(k.vk)) return;

  TCOMBOKEY& c = FComboKeyInfo;
  // A key cleared from the combination takes its extended flag with it, so that no event
  // reports a flag for a key that is not there.
  if (c.nKeyValue1 != 0 && c.nKeyValue2 != 0) {
    c.nKeyValue1 = c.nKeyValue2 = 0;
    c.nKeyValue1Extended = c.nKeyValue2Extended = 0;
    if (!first) c.nScanKey1 = c.nScanKey2 = 0;
  }
  c.nModifier = ModifierState();

  const auto vk = static_cast<std::uint16_t>(k.vk);
  const auto ext = static_cast<std::uint16_t>(k.ext);
  // No reference time yet means this press starts a combination, however early the tick.
  const bool fresh =
      FLastTimeKeyboardCombo == 0 || std::llabs(TickDelta(FLastTimeKeyboardCombo, k.time)) > 100;
  if (fresh || c.nKeyValue1 == 0) {
    c.nKeyValue1 = vk;
    c.nKeyValue1Extended = ext;
    if (fresh) c.nKeyValue2 = c.nKeyValue2Extended = 0;
    if (!first) {
      c.nScanKey1 = k.scan;
      if (fresh) c.nScanKey2 = 0;
    }
  } else if (c.nKeyValue2 == 0) {
    if (c.nKeyValue1 == vk) {
      c.nKeyValue1Extended = ext;
      if (!first) c.nScanKey1 = k.scan, c.nScanKey2 = 0;
    } else {
      c.nKeyValue2 = vk;
      c.nKeyValue2Extended = ext;
      if (!first) c.nScanKey2 = k.scan;
    }
  }
  FLastTimeKeyboardCombo = k.time;

  std::string keys = GetKeyDescription(c.nKeyValue1, c.nKeyValue1Extended);
  if (c.nKeyValue2 != 0) keys += "+" + GetKeyDescription(c.nKeyValue2, c.nKeyValue2Extended);
  if (!keys.empty()) {
    FComboKeyString += keys;
    if (first)
      OnRecordKeyboardComboKey(c.nKeyValue1, c.nKeyValue1Extended, c.nKeyValue2,
                               c.nKeyValue2Extended, c.nModifier, FComboKeyString);
    else
      OnRecordKeyboardComboKey2(c.nKeyValue1, static_cast<int>(c.nScanKey1), c.nKeyValue1Extended,
                                c.nKeyValue2, static_cast<int>(c.nScanKey2), c.nKeyValue2Extended,
                                c.nModifier, FComboKeyString);
  }
  blocked = true;
}

void TgxHook::DoRecordKeyboardMacroKey(int, std::uintptr_t, std::intptr_t record, bool& blocked) {
  if (record == 0 || !OnRecordKeyboardMacroKey) return;
  const KeyEvent k = ReadKey(record);
  const double time = k.time;
  if (FLastTimeKeyboardMacro == 0) {
    FLastTimeKeyboardMacro = k.time;
  } else {
    const std::int64_t dt = TickDelta(FLastTimeKeyboardMacro, k.time);
    if (dt > 10 && dt < 2000) {
      AppendMacroEntry(FMacroKeyList, 0, 0, static_cast<int>(dt), 0);
      OnRecordKeyboardMacroKey(0, static_cast<int>(dt), 0, 0, time, std::to_string(dt), "ms",
                               FMacroKeyList);
    }
    // An event older than the reference leaves the reference at the later time.
    if (dt >= 0) FLastTimeKeyboardMacro = k.time;
  }
  AppendMacroEntry(FMacroKeyList, 1, k.state, k.vk, k.ext);
  OnRecordKeyboardMacroKey(1, k.vk, k.state, k.ext, time, GetKeyDescription(k.vk, k.ext),
                           StateText(k.state), FMacroKeyList);
  blocked = true;
}

void TgxHook::DoRecordKeyboardMacroKeyEx(int, std::uintptr_t, std::intptr_t record, bool& blocked) {
  if (record == 0 || !OnRecordKeyboardMacroKeyEx) return;
  if (FMacroKeyList.Count() > 500) return;
  const auto& r = *reinterpret_cast<const hooklib::KeyboardRecord*>(record);
  const KeyEvent k = ReadKey(record);
  const TKBDLLHOOKSTRUCT current{r.vkCode, r.scanCode, r.flags, r.time,
                                 static_cast<std::uint32_t>(r.dwExtraInfo)};
  // Keys beyond the state table (never sent by a keyboard) are recorded but not tracked.
  std::uint8_t none = 0;
  std::uint8_t& held =
      k.vk >= 0 && k.vk < 256 ? FAllKeyState[static_cast<std::size_t>(k.vk)] : none;
  const std::uint32_t sameMask = hooklib::kKeyExtended | hooklib::kKeyReleased;
  const bool sameKey =
      FLastMacroKey.vkCode == r.vkCode && (FLastMacroKey.flags & sameMask) == (r.flags & sameMask);
  // Time since the last state change; an event older than it counts as no time at all.
  const auto sinceLast = [&] {
    return static_cast<std::uint32_t>(
        std::max<std::int64_t>(0, TickDelta(FLastMacroKey.time, k.time)));
  };

  bool delayDue = false;
  if (FLastMacroKey.vkCode == 0) {
    FLastMacroKey = current;
    FTotalMacroTime = 0;
  } else if (sameKey && k.state == 1) {
    FTotalMacroTime = sinceLast();  // auto-repeat: keep counting from the first press
  } else {
    FTotalMacroTime = sinceLast();
    FLastMacroKey = current;
    if (k.state == 0) held = 0;
    delayDue = true;
  }

  if (delayDue && FTotalMacroTime > 0) {
    FTotalMacroTime = std::min<std::uint32_t>(FTotalMacroTime, 65535);
    AppendMacroEntry(FMacroKeyList, 0, 0, static_cast<int>(FTotalMacroTime), 0);
  }

  if (held == 0) {
    if (k.state == 1) held = 1;
    AppendMacroEntry(FMacroKeyList, 1, k.state, k.vk, k.ext);
    OnRecordKeyboardMacroKeyEx(1, k.vk, k.state, k.ext, static_cast<double>(k.time),
                               FTotalMacroTime, GetKeyDescription(k.vk, k.ext), StateText(k.state),
                               FMacroKeyList);
  }
  blocked = true;
}

void TgxHook::DoRecordMouseMacro(int, std::uintptr_t wParam, std::intptr_t record, bool&) {
  if (record == 0 || !OnRecordMouseMacroKey) return;
  const auto& r = *reinterpret_cast<const hooklib::MouseRecord*>(record);
  if (r.flags & hooklib::kMouseInjected) return;

  const int state = (wParam == hooklib::kLButtonUp || wParam == hooklib::kRButtonUp ||
                     wParam == hooklib::kMButtonUp || wParam == hooklib::kXButtonUp)
                        ? 0
                        : 1;
  TMouseButtons button = TMouseButtons::BUTTON_NONE;
  const auto high = static_cast<std::int16_t>(r.mouseData >> 16);
  switch (wParam) {
    case hooklib::kLButtonDown:
    case hooklib::kLButtonUp: button = TMouseButtons::LCLICK; break;
    case hooklib::kRButtonDown:
    case hooklib::kRButtonUp: button = TMouseButtons::RCLICK; break;
    case hooklib::kMButtonDown:
    case hooklib::kMButtonUp: button = TMouseButtons::MCLICK; break;
    case hooklib::kXButtonDown:
    case hooklib::kXButtonUp:
      button = high == 1   ? TMouseButtons::XCLICK4
               : high == 2 ? TMouseButtons::XCLICK5
                           : TMouseButtons::BUTTON_NONE;
      break;
    case hooklib::kMouseWheel:
      // Recorded macros keep their own sign convention: a turn away from the user is "down".
      button = high < 0   ? TMouseButtons::WHEELUP
               : high > 0 ? TMouseButtons::WHEELDOWN
                          : TMouseButtons::BUTTON_NONE;
      break;
    default: break;
  }

  const auto x = static_cast<std::uint16_t>(r.x);
  const auto y = static_cast<std::uint16_t>(r.y);
  const double time = r.time;
  std::uint16_t delay = 0;
  if (FLastTimeMouseMacro == 0) {
    FLastTimeMouseMacro = r.time;
  } else if (const std::int64_t dt = TickDelta(FLastTimeMouseMacro, r.time); dt >= 0) {
    // An event older than the reference gets no delay entry but keeps its button entry: dropping
    // a press or release would leave the macro with a button that never comes up.
    FLastTimeMouseMacro = r.time;
    delay = static_cast<std::uint16_t>(dt);
    auto entry = std::make_unique<TMOUSEMacroKeyObject>();
    TMOUSEMACROKEY& m = entry->FMOUSEMacroKey;
    m.X = x;
    m.Y = y;
    m.TimeValue = delay;
    FMouseMacroKeyList.Add(std::to_string(FMouseMacroKeyList.Count()), std::move(entry));
    OnRecordMouseMacroKey(0, TMouseButtons::BUTTON_NONE, 0, x, y, time, std::to_string(dt), "ms",
                          FMouseMacroKeyList);
  }

  if (button == TMouseButtons::BUTTON_NONE) return;
  auto entry = std::make_unique<TMOUSEMacroKeyObject>();
  TMOUSEMACROKEY& m = entry->FMOUSEMacroKey;
  m.nKeyType = 1;
  m.nKeyState = static_cast<std::uint16_t>(state);
  m.MouseButton = button;
  m.X = x;
  m.Y = y;
  m.TimeValue = delay;
  FMouseMacroKeyList.Add(std::to_string(FMouseMacroKeyList.Count()), std::move(entry));
  OnRecordMouseMacroKey(1, button, state, x, y, time, GetMouseButtonDescription(button),
                        StateText(state), FMouseMacroKeyList);
}

}  // namespace kv
