#include "hook/gx_hook.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/dynlib.h"
#include "platform/platform.h"

namespace kv {
namespace {

// The library is bound once per process and shared by every component. Each component that
// bound it holds a reference; the last one to go releases it, so one instance's destruction
// never leaves another calling into a released library.
struct HookBinding {
  std::mutex mutex;
  bool loaded = false;
  int users = 0;
  std::unique_ptr<platform::DynamicLibrary> library;
  hooklib::EnableHookFn enableKeyboard = nullptr;
  hooklib::DisableHookFn disableKeyboard = nullptr;
  hooklib::EnableHookFn enableMouse = nullptr;
  hooklib::DisableHookFn disableMouse = nullptr;
  // Which component the library's keyboard and mouse callbacks belong to, if any.
  const void* keyboardContext = nullptr;
  const void* mouseContext = nullptr;

  void Unload() {
    loaded = false;
    library.reset();
    enableKeyboard = enableMouse = nullptr;
    disableKeyboard = disableMouse = nullptr;
    keyboardContext = mouseContext = nullptr;
  }
};

HookBinding& Binding() {
  static HookBinding binding;
  return binding;
}

template <typename Fn>
Fn Resolve(platform::DynamicLibrary& library, const char* name) {
  return reinterpret_cast<Fn>(library.Symbol(name));
}

bool LoadHookLibrary(platform::Platform& p) {
  HookBinding& b = Binding();
  std::lock_guard lock(b.mutex);
  if (b.loaded) {
    ++b.users;
    return true;
  }
  const std::string fileName =
      p.libraries ? p.libraries->FileName(kHookLibraryName) : kHookLibraryName;
  auto library = p.libraries ? p.libraries->Load(fileName) : nullptr;
  if (!library) {
    const std::string text = fileName + " can not be found!";
    if (p.messageBoxes) p.messageBoxes->ShowError(text, "Error");
    else p.debug.Write(text);
    return false;
  }
  b.library = std::move(library);
  b.loaded = true;
  b.enableKeyboard = Resolve<hooklib::EnableHookFn>(*b.library, hooklib::kEnableKeyboardHook);
  b.disableKeyboard = Resolve<hooklib::DisableHookFn>(*b.library, hooklib::kDisableKeyboardHook);
  b.enableMouse = Resolve<hooklib::EnableHookFn>(*b.library, hooklib::kEnableMouseHook);
  b.disableMouse = Resolve<hooklib::DisableHookFn>(*b.library, hooklib::kDisableMouseHook);
  if (b.enableKeyboard && b.disableKeyboard && b.enableMouse && b.disableMouse) {
    b.users = 1;
    return true;
  }
  b.Unload();
  return false;
}

// The library holds one callback per slot; it is always cleared before a new one is set.
struct SlotOf {
  hooklib::EnableHookFn HookBinding::*enable;
  hooklib::DisableHookFn HookBinding::*disable;
  const void* HookBinding::*context;
};
constexpr SlotOf kKeyboardSlot{&HookBinding::enableKeyboard, &HookBinding::disableKeyboard,
                               &HookBinding::keyboardContext};
constexpr SlotOf kMouseSlot{&HookBinding::enableMouse, &HookBinding::disableMouse,
                            &HookBinding::mouseContext};

void SetSlot(const SlotOf& slot, hooklib::HookCallback callback, void* component) {
  HookBinding& b = Binding();
  (b.*slot.disable)();
  b.*slot.context = nullptr;
  if (!callback) return;
  (b.*slot.enable)(callback, component, 0);
  b.*slot.context = component;
}

// Gives up one component's hold on the library. The callbacks still registered for it are
// removed first: the library must never call a component that is gone.
void ReleaseHookLibrary(const void* component) {
  HookBinding& b = Binding();
  std::lock_guard lock(b.mutex);
  if (!b.loaded) return;
  for (const SlotOf* slot : {&kKeyboardSlot, &kMouseSlot})
    if (b.*slot->context == component) SetSlot(*slot, nullptr, nullptr);
  if (--b.users > 0) return;
  b.Unload();
}

using Callback = void (TgxHook::*)(int, std::uintptr_t, std::intptr_t, bool&);

template <Callback Method>
void Trampoline(void* context, std::int32_t nCode, std::uintptr_t wParam, std::intptr_t record,
                bool* blocked) {
  bool ignored = false;
  (static_cast<TgxHook*>(context)->*Method)(nCode, wParam, record, blocked ? *blocked : ignored);
}

}  // namespace

// --- event thread ----------------------------------------------------------------------------

// Waits for its two events: "data" has ProcessDataEvent run on the main thread (and waits for
// it), "stop" ends the thread. The stop event wins when both are set, so destruction is prompt.
class TgxHook::EventThread {
 public:
  EventThread(platform::EventLoop& loop, TgxHook& hook) : shared_(std::make_shared<Shared>()) {
    shared_->hook = &hook;
    thread_ = std::thread([s = shared_, &loop] { Run(s, loop); });
  }

  ~EventThread() {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->hook = nullptr;
      shared_->stop = true;
    }
    shared_->wake.notify_all();
    thread_.join();
  }

  void Push(RecordDataEntry entry) {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->queue.push_back(std::move(entry));
      shared_->data = true;
    }
    shared_->wake.notify_all();
  }

  std::vector<RecordDataEntry> Take() {
    std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->queue, {});
  }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;  // the stop event
    bool data = false;  // the data event
    bool delivered = false;
    std::vector<RecordDataEntry> queue;
    TgxHook* hook = nullptr;  // read and cleared on the main thread only
  };

  static void Run(const std::shared_ptr<Shared>& s, platform::EventLoop& loop) {
    std::unique_lock lock(s->mutex);
    for (;;) {
      s->wake.wait(lock, [&] { return s->stop || s->data; });
      if (s->stop) return;
      // Reset before the work, so that entries queued while it runs wake the thread again
      // instead of being lost or making it spin.
      s->data = false;
      s->delivered = false;
      lock.unlock();
      loop.Post([s] {
        TgxHook* hook;
        {
          std::lock_guard l(s->mutex);
          hook = s->hook;
        }
        if (hook) hook->ProcessDataEvent();
        {
          std::lock_guard l(s->mutex);
          s->delivered = true;
        }
        s->wake.notify_all();
      });
      lock.lock();
      s->wake.wait(lock, [&] { return s->stop || s->delivered; });
    }
  }

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

// --- lifecycle -------------------------------------------------------------------------------

TgxHook::TgxHook(platform::Platform& platform, void* owner) : platform_(platform), FOwner(owner) {
  FDLLLoaded = LoadHookLibrary(platform);
  FIdThreadComponentDataEvent = std::make_unique<EventThread>(platform.loop, *this);
}

TgxHook::~TgxHook() {
  if (FDLLLoaded) ReleaseHookLibrary(this);
  FIdThreadComponentDataEvent.reset();
}

void TgxHook::EnableKeyboard(hooklib::HookCallback callback) {
  if (FDLLLoaded) SetSlot(kKeyboardSlot, callback, this);
}
void TgxHook::DisableKeyboard() { EnableKeyboard(nullptr); }
void TgxHook::EnableMouse(hooklib::HookCallback callback) {
  if (FDLLLoaded) SetSlot(kMouseSlot, callback, this);
}
void TgxHook::DisableMouse() { EnableMouse(nullptr); }

// --- hooking ---------------------------------------------------------------------------------

void TgxHook::StartHookKeyboard() { EnableKeyboard(&Trampoline<&TgxHook::DoHookKeyboard>); }
void TgxHook::StopHookKeyboard() { DisableKeyboard(); }
void TgxHook::StartHookMouse() { EnableMouse(&Trampoline<&TgxHook::DoHookMouse>); }
void TgxHook::StopHookMouse() { DisableMouse(); }

void TgxHook::AddKeyboardHookObject(std::unique_ptr<TKeyBoardHookDetailObject> AObject) {
  if (!AObject) return;
  auto name = std::to_string(AObject->FKeyBoardHookDetail.KeyboardVKKey);
  FKeyboardHookObjectList.Add(std::move(name), std::move(AObject));
}

void TgxHook::RemoveAllKeyboardHookObject() { FKeyboardHookObjectList.Clear(); }

void TgxHook::AddMouseHookObject(std::unique_ptr<TMouseHookDetailObject> AObject) {
  if (!AObject) return;
  auto name = std::to_string(static_cast<int>(AObject->FMouseHookDetail.MouseButton));
  FMouseHookObjectList.Add(std::move(name), std::move(AObject));
}

void TgxHook::RemoveAllMouseHookObject() { FMouseHookObjectList.Clear(); }

void TgxHook::DoHookKeyboard(int nCode, std::uintptr_t, std::intptr_t record, bool& blocked) {
  if (nCode != 0 || record == 0) return;
  const auto& r = *reinterpret_cast<const hooklib::KeyboardRecord*>(record);
  const int key = static_cast<int>(r.vkCode);
  const int extended = (r.flags & hooklib::kKeyExtended) ? 1 : 0;
  const int state = (r.flags & hooklib::kKeyReleased) ? 0 : 1;
  const std::uint32_t scan = r.scanCode;
  if (OnHookKeyboardAllKey) OnHookKeyboardAllKey(key, state, extended, blocked, scan);
  if (!OnHookKeyboardKey) return;
  for (const auto& [name, rule] : FKeyboardHookObjectList) {
    const TKeyBoardHookDetail& d = rule->FKeyBoardHookDetail;
    if (d.KeyboardVKKey == -1) return;
    const bool byKey = d.KeyboardVKKey != 0 && d.KeyboardVKKey == key;
    const bool byScan =
        d.KeyboardSCANKey != 0 && static_cast<std::uint32_t>(d.KeyboardSCANKey) == scan;
    if ((byKey || byScan) && d.KeyExtended == extended) {
      if (d.block == 1) blocked = true;
      OnHookKeyboardKey(key, state, extended, blocked, scan);
      return;
    }
  }
}

namespace {

bool IsButtonRelease(std::uintptr_t msg) {
  return msg == hooklib::kLButtonUp || msg == hooklib::kRButtonUp || msg == hooklib::kMButtonUp ||
         msg == hooklib::kXButtonUp;
}

std::int16_t HighWord(std::uint32_t value) { return static_cast<std::int16_t>(value >> 16); }

TMouseButtons XButton(std::uint32_t mouseData) {
  switch (HighWord(mouseData)) {
    case 1: return TMouseButtons::XCLICK4;
    case 2: return TMouseButtons::XCLICK5;
    default: return TMouseButtons::BUTTON_NONE;
  }
}

TMouseButtons PlainButton(std::uintptr_t msg) {
  switch (msg) {
    case hooklib::kLButtonDown:
    case hooklib::kLButtonUp: return TMouseButtons::LCLICK;
    case hooklib::kRButtonDown:
    case hooklib::kRButtonUp: return TMouseButtons::RCLICK;
    case hooklib::kMButtonDown:
    case hooklib::kMButtonUp: return TMouseButtons::MCLICK;
    default: return TMouseButtons::BUTTON_NONE;
  }
}

}  // namespace

void TgxHook::DoHookMouse(int, std::uintptr_t wParam, std::intptr_t record, bool& blocked) {
  if (record == 0) return;
  const auto& r = *reinterpret_cast<const hooklib::MouseRecord*>(record);
  const bool injected = (r.flags & hooklib::kMouseInjected) != 0;
  if (wParam == hooklib::kMouseMove) {
    if (OnHookMouseMove && !injected) OnHookMouseMove(r.x, r.y, static_cast<double>(r.time));
    blocked = false;  // pointer movement is never swallowed
    return;
  }
  if (injected) return;
  const int state = IsButtonRelease(wParam) ? 0 : 1;
  TMouseButtons button = PlainButton(wParam);
  std::int16_t extra = 0;
  if (wParam == hooklib::kXButtonDown || wParam == hooklib::kXButtonUp) {
    extra = HighWord(r.mouseData);
    button = XButton(r.mouseData);
  } else if (wParam == hooklib::kMouseWheel) {
    extra = HighWord(r.mouseData);
    button = extra > 0   ? TMouseButtons::WHEELUP
             : extra < 0 ? TMouseButtons::WHEELDOWN
                         : TMouseButtons::BUTTON_NONE;
  }
  if (OnHookMouseAllButton) OnHookMouseAllButton(button, state, extra, blocked);
  if (!OnHookMouseButton) return;
  if (wParam < hooklib::kMouseMove || wParam - hooklib::kMouseMove > 15) return;
  const auto stateBit = static_cast<TMouseButtonStateSet>(1u << (wParam - hooklib::kMouseMove));
  for (const auto& [name, rule] : FMouseHookObjectList) {
    const TMouseHookDetail& d = rule->FMouseHookDetail;
    if ((d.MouseStateSet & stateBit) == 0 || d.MouseButton < button) continue;
    if (d.ModifiedFunction != button) OnHookMouseButton(button, state, blocked);
    return;
  }
}

// --- queued entries --------------------------------------------------------------------------

void TgxHook::QueueRecordData(RecordDataEntry entry) {
  FIdThreadComponentDataEvent->Push(std::move(entry));
}

void TgxHook::ProcessDataEvent() {
  const std::vector<RecordDataEntry> entries = FIdThreadComponentDataEvent->Take();
  for (const RecordDataEntry& e : entries) {
    if (e.kind == 1 && OnRecordKeyboardMacroKey) {
      const TMACROKEYHOOK k = e.macroKey;
      OnRecordKeyboardMacroKey(k.nKeyType, k.nKeyValue, k.nKeyState, k.nKeyValueExtended, k.Time,
                               k.MacroKeyString, k.MacroKeyStateString, FMacroKeyList);
    } else if (e.kind == 0 && OnRecordMouseMacroKey) {
      const TMOUSEMACROKEY m = e.mouseMacroKey;
      OnRecordMouseMacroKey(m.nKeyType, m.MouseButton, m.nKeyState, m.X, m.Y, m.Time,
                            m.MacroKeyString, m.MacroKeyStateString, FMouseMacroKeyList);
    }
  }
}

// --- recording: selecting the callbacks --------------------------------------------------------

void TgxHook::RecordKeyboardSingleKey() {
  EnableKeyboard(&Trampoline<&TgxHook::DoRecordKeyboardSingleKey>);
}
void TgxHook::StopRecordKeyboardSingleKey() { DisableKeyboard(); }

void TgxHook::RecordKeyboardComboKey() {
  EnableKeyboard(&Trampoline<&TgxHook::DoRecordKeyboardComboKey>);
  FLastTimeKeyboardCombo = 0;
}

void TgxHook::StopRecordKeyboardComboKey() {
  DisableKeyboard();
  FLastTimeKeyboardCombo = 0;
}

void TgxHook::RecordKeyboardMacroKey() {
  FMacroKeyList.Clear();
  EnableKeyboard(&Trampoline<&TgxHook::DoRecordKeyboardMacroKey>);
}

void TgxHook::RecordKeyboardMacroKeyEx() {
  FLastMacroKey = {};
  FTotalMacroTime = 0;
  FAllKeyState.fill(0);
  FMacroKeyList.Clear();
  EnableKeyboard(&Trampoline<&TgxHook::DoRecordKeyboardMacroKeyEx>);
}

void TgxHook::StopRecordKeyboardMacroKey() {
  DisableKeyboard();
  TMacroKeyList recorded = std::exchange(FMacroKeyList, {});
  if (OnStopRecordKeyboardMacroKey) OnStopRecordKeyboardMacroKey(std::move(recorded));
}

void TgxHook::StopRecordKeyboardMacroKeyEx() { StopRecordKeyboardMacroKey(); }

void TgxHook::RecordMouseMacro() {
  FMouseMacroKeyList.Clear();
  EnableMouse(&Trampoline<&TgxHook::DoRecordMouseMacro>);
  FLastTimeMouseMacro = 0;
}

void TgxHook::StopRecordMouseMacro() {
  DisableMouse();
  if (OnStopRecordMouseMacroKey) OnStopRecordMouseMacroKey(FMouseMacroKeyList);
}

}  // namespace kv
