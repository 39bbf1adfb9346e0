#pragma once
// Names, display texts and USB HID usages of the Windows virtual-key codes, for a key's normal
// form and for its extended form. Built once on first use and never changed afterwards.
#include <array>
#include <cstdint>
#include <string>

namespace kv {

struct TKeyboardInfoTable {
  std::string VKName;
  std::int32_t VKCode = 0;
  std::int32_t ScanCode = 0;
  std::int32_t Extended = 224;  // 224 normal form, 225 extended form
  std::int32_t HIDCode = -1;    // Keyboard/Keypad page, or Consumer page for media keys
  std::string KeyDescription;
};

constexpr int kKeyTableRows = 300;
constexpr std::int32_t kNormalForm = 224;
constexpr std::int32_t kExtendedForm = 225;
using KeyTable = std::array<TKeyboardInfoTable, kKeyTableRows>;

// Normal forms, and the keys whose only form is extended.
const KeyTable& KeyboardInfoTable();
// Extended forms.
const KeyTable& ExtendedKeyboardInfoTable();

// Display text of a virtual key. `Extended`: 0 or 224 = normal form, 1 or 225 = extended form.
// Empty for codes outside 0..299.
std::string GetKeyDescription(int Key, int Extended);

// Virtual keys whose HID usage is on the Consumer page rather than the Keyboard/Keypad page.
constexpr bool IsConsumerPageKey(int vk) { return vk >= 166 && vk <= 183; }

}  // namespace kv
