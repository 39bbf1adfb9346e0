#pragma once
// Rule objects, macro entries and the other value types of the hook component.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kv {

enum class TMouseButtons : std::uint8_t {
  BUTTON_NONE,
  LCLICK,
  RCLICK,
  MCLICK,
  XCLICK4,
  XCLICK5,
  WHEELUP,
  WHEELDOWN,
  BUTTONX1,  // never produced by the component: values for rules and remapping
  BUTTONX2,
  BUTTONX3,
};

// Ordinal = mouse message number minus 0x200.
enum class TMouseButtonStates : std::uint8_t {
  MOUSEMOVE,
  LBUTTONDOWN,
  LBUTTONUP,
  LBUTTONDBLCLK,
  RBUTTONDOWN,
  RBUTTONUP,
  RBUTTONDBLCLK,
  MBUTTONDOWN,
  MBUTTONUP,
  MBUTTONDBLCLK,
  MOUSEWHEEL,
  XBUTTONDOWN,
  XBUTTONUP,
  XBUTTONDBLCLK,
  MOUSEHWHEEL,
  OTHERFUNCTION,
};

// Bit n = TMouseButtonStates ordinal n.
using TMouseButtonStateSet = std::uint16_t;
constexpr TMouseButtonStateSet StateBit(TMouseButtonStates s) {
  return static_cast<TMouseButtonStateSet>(1u << static_cast<unsigned>(s));
}

enum class TMouseStatesToHook : std::uint8_t { HOOK_DOWN, HOOK_UP };

struct TKeyBoardHookDetail {
  std::int32_t KeyboardVKKey = 0;    // 0 = not matched by key code; -1 = end of the rules
  std::int32_t KeyboardSCANKey = 0;  // 0 = not matched by scan code
  std::int32_t KeyExtended = 0;
  std::int32_t block = 0;  // 1 = swallow a matching key
};

struct TKeyBoardHookDetailObject {
  TKeyBoardHookDetail FKeyBoardHookDetail;
};

struct TMouseHookDetail {
  TMouseButtons MouseButton = TMouseButtons::BUTTON_NONE;
  TMouseButtonStateSet MouseStateSet = 0;
  TMouseButtons ModifiedFunction = TMouseButtons::BUTTON_NONE;          // == button: not remapped
  TMouseStatesToHook MouseStateToHook = TMouseStatesToHook::HOOK_DOWN;  // for the owner only
};

struct TMouseHookDetailObject {
  TMouseHookDetail FMouseHookDetail;
};

// The component's own copy of a low-level keyboard record.
struct TKBDLLHOOKSTRUCT {
  std::uint32_t vkCode = 0, scanCode = 0, flags = 0, time = 0, dwExtraInfo = 0;
};

struct TMACROKEYHOOK {
  std::uint16_t nKeyType = 0;   // 0 delay, 1 key
  std::uint16_t nKeyState = 0;  // 1 pressed, 0 released
  std::uint16_t nKeyValue = 0;  // virtual key, or the delay in ms
  std::uint16_t nKeyValueExtended = 0;
  double Time = 0;
  std::string MacroKeyString;
  std::string MacroKeyStateString;
};

struct TMOUSEMACROKEY {
  std::uint16_t nKeyType = 0;  // 0 delay, 1 button
  std::uint16_t nKeyState = 0;
  TMouseButtons MouseButton = TMouseButtons::BUTTON_NONE;
  std::uint16_t X = 0, Y = 0;   // low 16 bits of the screen position
  std::uint16_t TimeValue = 0;  // low 16 bits of the delay
  double Time = 0;
  std::string MacroKeyString;
  std::string MacroKeyStateString;
};

struct TMacroKeyObject {
  TMACROKEYHOOK FMacroKey;
};

struct TMOUSEMacroKeyObject {
  TMOUSEMACROKEY FMOUSEMacroKey;
};

struct TCOMBOKEY {
  std::uint16_t nKeyValue1 = 0, nKeyValue1Extended = 0, nKeyValue2 = 0, nKeyValue2Extended = 0;
  std::uint16_t nModifier = 0;  // Alt 1, Ctrl 2, Shift 4, Win 8
  std::uint32_t nScanKey1 = 0, nScanKey2 = 0;
};

// A list of named entries that owns its objects. A handler that receives the list may move an
// entry's object out to keep it; whatever is left is freed when the list is emptied.
template <typename T>
class OwnedStringList {
 public:
  using Item = std::pair<std::string, std::unique_ptr<T>>;

  void Add(std::string name, std::unique_ptr<T> object) {
    items_.emplace_back(std::move(name), std::move(object));
  }
  int Count() const { return static_cast<int>(items_.size()); }
  Item& operator[](std::size_t i) { return items_[i]; }
  const Item& operator[](std::size_t i) const { return items_[i]; }
  T* Object(std::size_t i) const { return items_[i].second.get(); }
  const std::string& Name(std::size_t i) const { return items_[i].first; }
  void Clear() { items_.clear(); }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<Item> items_;
};

using TMacroKeyList = OwnedStringList<TMacroKeyObject>;
using TMouseMacroKeyList = OwnedStringList<TMOUSEMacroKeyObject>;

struct TMouseButtonString {
  TMouseButtons MouseButton;
  const char* ButtonDescription;
};

extern const TMouseButtonString MouseButtonDescriptions[7];

// Display text of a button, or "" for a button without one.
std::string GetMouseButtonDescription(TMouseButtons Button);

}  // namespace kv
