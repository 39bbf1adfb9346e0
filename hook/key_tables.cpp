#include "hook/key_tables.h"

#include <cstdio>
#include <initializer_list>

namespace kv {
namespace {

struct SourceRow {
  int code;
  const char* name;
  int hid;
  const char* description;
  int extended = kNormalForm;
  int scan = 0;
};

constexpr int E = kExtendedForm;

// Rows of the normal table that do not follow one of the generated rules below.
const SourceRow kNormalRows[] = {
    {0, "VK_NULL", -1, ""},
    {1, "VK_LBUTTON", -1, "Mouse Left Click"},
    {2, "VK_RBUTTON", -1, "Mouse Right Click"},
    {3, "VK_CANCEL", -1, "Control Break"},
    {4, "VK_MBUTTON", -1, "Mouse Middle Click"},
    {8, "VK_BACK", 42, "BACKSPACE"},
    {9, "VK_TAB", 43, "TAB"},
    {12, "VK_CLEAR", 156, "CLEAR"},
    {13, "VK_RETURN", 40, "ENTER"},
    {16, "VK_SHIFT", -1, "SHIFT"},
    {17, "VK_CONTROL", -1, "CTRL"},
    {18, "VK_MENU", -1, "ALT"},
    {19, "VK_PAUSE", 72, "PAUSE"},
    {20, "VK_CAPITAL", 57, "CAPS LOCK"},
    {27, "VK_ESCAPE", 41, "ESC"},
    {32, "VK_SPACE", 44, "SPACEBAR"},
    {33, "VK_PRIOR", 97, "PAGE UP"},
    {34, "VK_NEXT", 91, "PAGE DOWN"},
    {35, "VK_END", 89, "END"},
    {36, "VK_HOME", 95, "HOME"},
    {37, "VK_LEFT", 92, "LEFT ARROW"},
    {38, "VK_UP", 96, "UP ARROW"},
    {39, "VK_RIGHT", 94, "RIGHT ARROW"},
    {40, "VK_DOWN", 90, "DOWN ARROW"},
    {41, "VK_SELECT", -1, "SELECT"},
    {42, "VK_PRINT", -1, "PRINT"},
    {43, "VK_EXECUTE", -1, "EXECUTE"},
    {44, "VK_SNAPSHOT", 70, "PRINT SCREEN", E},
    {45, "VK_NUMPAD0_INSERT", 98, "Keypad 0 Insert"},
    {46, "VK_DELETE", 99, "Keypad DEL"},
    {47, "VK_HELP", -1, "HELP"},
    {91, "VK_LWIN", 227, "L WIN", E},
    {92, "VK_RWIN", 231, "R WIN", E},
    {93, "VK_APP", 101, "APP", E},
    {106, "VK_MULTIPLY", 85, "*"},
    {107, "VK_ADD", 87, "+"},
    {108, "VK_SEPARATOR", 151, "Separator"},
    {109, "VK_SUBTRACT", 86, "-"},
    // The keypad's decimal point: its own text, not the "+" of the key beside it.
    {110, "VK_DECIMAL", 99, "NUMPAD ."},
    {111, "VK_DIVIDE", 84, "/", E},
    {144, "VK_NUMLOCK", 83, "NUM LOCK", E},
    {145, "VK_SCROLL", 71, "Scroll Lock"},
    {160, "VK_LSHIFT", 225, "L SHIFT"},
    {161, "VK_RSHIFT", 229, "R SHIFT", E},
    {162, "VK_LCONTROL", 224, "L CTRL"},
    {163, "VK_RCONTROL", 228, "R CTRL", E},
    {164, "VK_LMENU", 226, "L ALT"},
    {165, "VK_RMENU", 230, "R ALT", E},
    {166, "VK_BROWSER_BACK", 548, "BROWSER_BACK", E},
    {167, "VK_BROWSER_FORWARD", 549, "BROWSER_FORWARD", E},
    {168, "VK_BROWSER_REFRESH", 551, "BROWSER_REFRESH", E},
    {169, "VK_BROWSER_STOP", 550, "BROWSER_STOP", E},
    {170, "VK_BROWSER_SEARCH", 545, "BROWSER_SEARCH", E},
    {171, "VK_BROWSER_FAVORITES", 554, "BROWSER_FAVORITES", E},
    {172, "VK_BROWSER_HOME", 547, "BROWSER_HOME", E},
    {173, "VK_VOLUME_MUTE", 226, "VOLUME_MUTE", E},
    {174, "VK_VOLUME_DOWN", 234, "VOLUME_DOWN", E},
    {175, "VK_VOLUME_UP", 233, "VOLUME_UP", E},
    {176, "VK_MEDIA_NEXT_TRACK", 181, "MEDIA_NEXT_TRACK", E},
    {177, "VK_MEDIA_PREV_TRACK", 182, "MEDIA_PREV_TRACK", E},
    {178, "VK_MEDIA_STOP", 183, "MEDIA_STOP", E},
    {179, "VK_MEDIA_PLAY_PAUSE", 205, "MEDIA_PLAY_PAUSE", E},
    {180, "VK_LAUNCH_MAIL", 394, "LAUNCH_MAIL", E},
    {181, "VK_LAUNCH_MEDIA_SELECT", 387, "LAUNCH_MEDIA_SELECT", E},
    {182, "VK_LAUNCH_APP1", 404, "LAUNCH_APP1", E},
    {183, "VK_LAUNCH_APP2", 402, "LAUNCH_APP2", E},
    {186, "VK_OEM_1", 51, ";:", kNormalForm, 0x27},
    {187, "VK_OEM_PLUS", 46, "=", kNormalForm, 0x0D},
    {188, "VK_OEM_COMMA", 54, ",<", kNormalForm, 0x33},
    {189, "VK_OEM_MINUS", 45, "-_", kNormalForm, 0x0C},
    {190, "VK_OEM_PERIOD", 55, ".", kNormalForm, 0x34},
    {191, "VK_OEM_2", 56, "/?", kNormalForm, 0x35},
    {192, "VK_OEM_3", 53, "~`", kNormalForm, 0x29},
    {219, "VK_OEM_4", 47, "[{", kNormalForm, 0x1A},
    {220, "VK_OEM_5", 49, "\\|", kNormalForm, 0x2B},
    {221, "VK_OEM_6", 48, "]}", kNormalForm, 0x1B},
    {222, "VK_OEM_7", 52, "'\"", kNormalForm, 0x28},
    {223, "VK_OEM_8", -1, "None"},
    {225, "VK_OEM_AX", -1, "AX"},
    {226, "VK_OEM_102", 100, "Europe 2 (Note 2)", kNormalForm, 0x56},
};

const SourceRow kExtendedRows[] = {
    {13, "VK_RETURN", 88, "ENTER", E},
    {45, "VK_INSERT", 73, "INS", E},
    {46, "VK_DELETE", 76, "DEL", E},
    // The power key: the Keyboard page's own Power usage and text.
    {255, "VK_POWER", 102, "POWER", E, 0x5E},
    {33, "VK_PRIOR", 75, "PAGE UP", E},
    {34, "VK_NEXT", 78, "PAGE DOWN", E},
    {35, "VK_END", 77, "END", E},
    {36, "VK_HOME", 74, "HOME", E},
    {37, "VK_LEFT", 80, "LEFT ARROW", E},
    {38, "VK_UP", 82, "UP ARROW", E},
    {39, "VK_RIGHT", 79, "RIGHT ARROW", E},
    {40, "VK_DOWN", 81, "DOWN ARROW", E},
};

constexpr int kUnassigned[] = {5,   6,   7,   10,  11,  14,  15,  21,  22,  23,  24,  25,  26,
                               28,  29,  30,  31,  58,  59,  60,  61,  62,  63,  64,  94,  95,
                               136, 137, 138, 139, 140, 141, 142, 143, 146, 147, 148, 149, 150,
                               151, 152, 153, 154, 155, 156, 157, 158, 159, 224};

std::string Hex(int value, int digits) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

void Put(KeyTable& t, int code, std::string name, int hid, std::string description,
         int extended = kNormalForm, int scan = 0) {
  t[static_cast<std::size_t>(code)] = {std::move(name), code, scan,
                                       extended,        hid,  std::move(description)};
}

KeyTable Blank(int extended) {
  KeyTable t;
  for (int i = 0; i < kKeyTableRows; ++i)
    Put(t, i, "VK_UNDEFINED_" + Hex(i, 3), -1, "UNDEFINED_" + Hex(i, 3), extended);
  return t;
}

KeyTable BuildNormal() {
  KeyTable t = Blank(kNormalForm);
  for (int d = 0; d <= 9; ++d) {
    const std::string digit(1, static_cast<char>('0' + d));
    Put(t, 48 + d, "VK_" + digit, d == 0 ? 39 : 29 + d, digit);
    Put(t, 96 + d, "VK_NUMPAD" + digit, d == 0 ? 98 : 88 + d, "NUMPAD " + digit);
  }
  for (int i = 0; i < 26; ++i) {
    const std::string letter(1, static_cast<char>('A' + i));
    Put(t, 65 + i, "VK_" + letter, 4 + i, letter);
  }
  for (int f = 1; f <= 24; ++f)
    Put(t, 111 + f, "VK_F" + std::to_string(f), f <= 12 ? 57 + f : 91 + f, "F" + std::to_string(f));
  for (int code : kUnassigned) Put(t, code, "VK_UNDEFINED_" + Hex(code, 2), -1, "Undefined");
  for (const auto& r : kNormalRows)
    Put(t, r.code, r.name, r.hid, r.description, r.extended, r.scan);
  return t;
}

KeyTable BuildExtended() {
  KeyTable t = Blank(kExtendedForm);
  for (const auto& r : kExtendedRows)
    Put(t, r.code, r.name, r.hid, r.description, r.extended, r.scan);
  return t;
}

}  // namespace

const KeyTable& KeyboardInfoTable() {
  static const KeyTable table = BuildNormal();
  return table;
}

const KeyTable& ExtendedKeyboardInfoTable() {
  static const KeyTable table = BuildExtended();
  return table;
}

std::string GetKeyDescription(int Key, int Extended) {
  const int mode = Extended == kNormalForm ? 0 : Extended == kExtendedForm ? 1 : Extended;
  if (Key < 0 || Key >= kKeyTableRows) return {};
  const auto row = static_cast<std::size_t>(Key);
  if (mode == 0) return KeyboardInfoTable()[row].KeyDescription;
  if (mode == 1 && KeyboardInfoTable()[row].Extended == kExtendedForm)
    return KeyboardInfoTable()[row].KeyDescription;
  return ExtendedKeyboardInfoTable()[row].KeyDescription;
}

}  // namespace kv
