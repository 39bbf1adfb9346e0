#pragma once
// TgxHook: sees the desktop's keyboard and mouse events through the hook library, reports the
// keys and buttons the owner's rules select (letting the owner swallow them), and records single
// keys, key combinations and keyboard and mouse macros.
//
// Threads: everything runs on the main thread, including the library's callbacks. The component
// also runs one event thread that only waits; the work it is woken for runs on the main thread.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hook/hook_library.h"
#include "hook/hook_types.h"

namespace kv::platform {
struct Platform;
}

namespace kv {

// The hook library's name; the platform's dynamic-library service gives its file name
// ("gxHook.dll" on Windows).
inline constexpr const char* kHookLibraryName = "gxHook";

using TOnHookKeyboardKey = std::function<void(int Key, int AState, int AKeyExtended, bool& ABlocked,
                                              std::uint32_t AScanKey)>;
using TOnHookAllMouseButton =
    std::function<void(TMouseButtons AgxButton, int AState, std::int16_t AExValue, bool& ABlocked)>;
using TOnHookMouseButton = std::function<void(TMouseButtons AgxButton, int AState, bool& ABlocked)>;
using TOnHookMouseMove = std::function<void(int X, int Y, double Time)>;

using TOnRecordKeyboardSingleKey =
    std::function<void(int Key, std::uint32_t ScanKey, int AState, int AKeyExtended,
                       const std::string& SingleKeyString, bool& ABlocked)>;
using TOnRecordKeyboardComboKey =
    std::function<void(int Key1, int Key1Extended, int Key2, int Key2Extended, int Modifier,
                       const std::string& ComboKeyString)>;
using TOnRecordKeyboardComboKey2 =
    std::function<void(int Key1, int ScanKey1, int Key1Extended, int Key2, int ScanKey2,
                       int Key2Extended, int Modifier, const std::string& ComboKeyString)>;
using TOnRecordKeyboardMacroKey =
    std::function<void(int MacroType, int Key1, int AState, int Extended, double Time,
                       const std::string& MacroKeyString, const std::string& MacroKeyStateString,
                       TMacroKeyList& KeyList)>;
using TOnRecordKeyboardMacroKeyEx =
    std::function<void(int MacroType, int Key1, int AState, int Extended, double Time,
                       std::uint32_t TotalTime, const std::string& MacroKeyString,
                       const std::string& MacroKeyStateString, TMacroKeyList& KeyList)>;
using TOnRecordMouseMacroKey = std::function<void(
    int MacroType, TMouseButtons AButton, int AState, std::uint16_t X, std::uint16_t Y, double Time,
    const std::string& MacroKeyString, const std::string& MacroKeyStateString,
    TMouseMacroKeyList& MouseRecordList)>;
// Stopping a keyboard macro recording hands the recorded entries over: the handler receives the
// list by value and owns it with its entries from then on (kept, moved on, or freed when the
// handler returns); the component's own list is empty afterwards.
using TOnStopRecordKeyboardMacroKey = std::function<void(TMacroKeyList KeyoboardRecordList)>;
// Stopping a mouse macro recording lends the list: the component keeps owning the entries until
// the next recording starts or it is destroyed.
using TOnStopRecordMouseMacroKey = std::function<void(TMouseMacroKeyList& MouseRecordList)>;

// A block of work for ProcessDataEvent: a copy of one macro entry to hand to the owner.
struct RecordDataEntry {
  std::uint8_t kind = 0;  // 1 keyboard macro entry, 0 mouse macro entry
  TMACROKEYHOOK macroKey;
  TMOUSEMACROKEY mouseMacroKey;
};

class TgxHook {
 public:
  // Binds the hook library (once per process) through the platform's dynamic-library service
  // and starts the event thread. A missing library is reported in a message box and leaves the
  // component idle (DLLLoaded() false). `owner` is kept for the owner's use only.
  explicit TgxHook(platform::Platform& platform, void* owner = nullptr);
  ~TgxHook();
  TgxHook(const TgxHook&) = delete;
  TgxHook& operator=(const TgxHook&) = delete;

  bool DLLLoaded() const { return FDLLLoaded; }
  void* Owner() const { return FOwner; }

  // Hooking.
  void StartHookKeyboard();
  void StopHookKeyboard();
  void StartHookMouse();
  void StopHookMouse();
  void AddKeyboardHookObject(std::unique_ptr<TKeyBoardHookDetailObject> AObject);
  void RemoveAllKeyboardHookObject();
  void AddMouseHookObject(std::unique_ptr<TMouseHookDetailObject> AObject);
  void RemoveAllMouseHookObject();

  // Recording.
  void RecordKeyboardSingleKey();
  void StopRecordKeyboardSingleKey();
  void RecordKeyboardComboKey();
  void StopRecordKeyboardComboKey();
  void RecordKeyboardMacroKey();
  void StopRecordKeyboardMacroKey();
  void RecordKeyboardMacroKeyEx();
  void StopRecordKeyboardMacroKeyEx();
  void RecordMouseMacro();
  void StopRecordMouseMacro();

  // Hands a copy of a macro entry to the event thread, which has ProcessDataEvent deliver it on
  // the main thread. Any thread.
  void QueueRecordData(RecordDataEntry entry);
  // Delivers every queued entry to OnRecordKeyboardMacroKey / OnRecordMouseMacroKey. Main thread.
  void ProcessDataEvent();

  // Events; each fires only when set.
  TOnRecordKeyboardSingleKey OnRecordKeyboardSingleKey;
  TOnRecordKeyboardComboKey OnRecordKeyboardComboKey;
  TOnRecordKeyboardComboKey2 OnRecordKeyboardComboKey2;
  TOnRecordKeyboardMacroKey OnRecordKeyboardMacroKey;
  TOnRecordKeyboardMacroKeyEx OnRecordKeyboardMacroKeyEx;
  TOnStopRecordKeyboardMacroKey OnStopRecordKeyboardMacroKey;
  TOnStopRecordMouseMacroKey OnStopRecordMouseMacroKey;
  TOnRecordMouseMacroKey OnRecordMouseMacroKey;
  TOnHookKeyboardKey OnHookKeyboardKey;
  TOnHookKeyboardKey OnHookKeyboardAllKey;
  TOnHookMouseButton OnHookMouseButton;
  TOnHookAllMouseButton OnHookMouseAllButton;
  TOnHookMouseMove OnHookMouseMove;

  // State, read-only to the owner.
  const TCOMBOKEY& ComboKeyInfo() const { return FComboKeyInfo; }
  const std::string& ComboKeyString() const { return FComboKeyString; }
  TMacroKeyList& MacroKeyList() { return FMacroKeyList; }
  TMouseMacroKeyList& MouseMacroKeyList() { return FMouseMacroKeyList; }
  const OwnedStringList<TKeyBoardHookDetailObject>& KeyboardHookObjectList() const {
    return FKeyboardHookObjectList;
  }
  const OwnedStringList<TMouseHookDetailObject>& MouseHookObjectList() const {
    return FMouseHookObjectList;
  }
  std::uint32_t LastTimeKeyboardMacro() const { return FLastTimeKeyboardMacro; }
  std::uint32_t LastTimeKeyboardCombo() const { return FLastTimeKeyboardCombo; }
  std::uint32_t LastTimeMouseMacro() const { return FLastTimeMouseMacro; }
  std::uint32_t TotalMacroTime() const { return FTotalMacroTime; }
  const TKBDLLHOOKSTRUCT& LastMacroKey() const { return FLastMacroKey; }
  const std::array<std::uint8_t, 256>& AllKeyState() const { return FAllKeyState; }

  // The callbacks the library calls; public so that a benchmark or a host can drive them
  // directly. `record` is the address of the library's low-level record.
  void DoHookKeyboard(int nCode, std::uintptr_t wParam, std::intptr_t record, bool& blocked);
  void DoHookMouse(int nCode, std::uintptr_t wParam, std::intptr_t record, bool& blocked);
  void DoRecordKeyboardSingleKey(int nCode, std::uintptr_t wParam, std::intptr_t record,
                                 bool& blocked);
  void DoRecordKeyboardComboKey(int nCode, std::uintptr_t wParam, std::intptr_t record,
                                bool& blocked);
  void DoRecordKeyboardMacroKey(int nCode, std::uintptr_t wParam, std::intptr_t record,
                                bool& blocked);
  void DoRecordKeyboardMacroKeyEx(int nCode, std::uintptr_t wParam, std::intptr_t record,
                                  bool& blocked);
  void DoRecordMouseMacro(int nCode, std::uintptr_t wParam, std::intptr_t record, bool& blocked);

 private:
  class EventThread;
  void EnableKeyboard(hooklib::HookCallback callback);
  void DisableKeyboard();
  void EnableMouse(hooklib::HookCallback callback);
  void DisableMouse();
  std::uint16_t ModifierState();

  platform::Platform& platform_;
  void* FOwner = nullptr;
  bool FDLLLoaded = false;
  TCOMBOKEY FComboKeyInfo;
  std::string FComboKeyString;
  TMacroKeyList FMacroKeyList;
  TMouseMacroKeyList FMouseMacroKeyList;
  OwnedStringList<TKeyBoardHookDetailObject> FKeyboardHookObjectList;
  OwnedStringList<TMouseHookDetailObject> FMouseHookObjectList;
  std::unique_ptr<EventThread> FIdThreadComponentDataEvent;
  std::uint32_t FLastTimeKeyboardMacro = 0;
  std::uint32_t FLastTimeKeyboardCombo = 0;
  std::uint32_t FLastTimeMouseMacro = 0;
  std::uint32_t FTotalMacroTime = 0;
  TKBDLLHOOKSTRUCT FLastMacroKey;
  std::array<std::uint8_t, 256> FAllKeyState{};
};

}  // namespace kv
