#include <atomic>
#include <chrono>
#include <thread>

#include "hook_fixture.h"

namespace kv::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<TKeyBoardHookDetailObject> KeyRule(int vk, int scan, int ext, int block) {
  auto r = std::make_unique<TKeyBoardHookDetailObject>();
  r->FKeyBoardHookDetail = {vk, scan, ext, block};
  return r;
}

std::unique_ptr<TMouseHookDetailObject> MouseRule(TMouseButtons button, TMouseButtonStateSet states,
                                                  TMouseButtons modified) {
  auto r = std::make_unique<TMouseHookDetailObject>();
  r->FMouseHookDetail.MouseButton = button;
  r->FMouseHookDetail.MouseStateSet = states;
  r->FMouseHookDetail.ModifiedFunction = modified;
  return r;
}

// --- binding ---------------------------------------------------------------------------------

TEST_F(HookTest, AMissingLibraryShowsOneBoxAndLeavesEveryOperationIdle) {
  platform::sim::SimDynamicLibraries empty;
  sim.platform().libraries = &empty;
  auto hook = MakeHook();
  EXPECT_FALSE(hook->DLLLoaded());
  ASSERT_EQ(sim.messageBoxes.Shown().size(), 1u);
  EXPECT_EQ(sim.messageBoxes.Shown()[0].text,
            empty.FileName(kHookLibraryName) + " can not be found!");
  EXPECT_EQ(sim.messageBoxes.Shown()[0].caption, "Error");
  hook->StartHookKeyboard();
  hook->StartHookMouse();
  hook->RecordKeyboardMacroKey();
  EXPECT_EQ(Enables(0) + Enables(1) + Disables(0) + Disables(1), 0);
  // Recorders still reset their own state without the library.
  hook->MacroKeyList().Add("0", std::make_unique<TMacroKeyObject>());
  hook->RecordKeyboardMacroKeyEx();
  EXPECT_EQ(hook->MacroKeyList().Count(), 0);
}

TEST_F(HookTest, ALibraryLackingAnEntryPointIsReleasedSilently) {
  platform::sim::SimDynamicLibraries partial;
  static int dummy;
  partial.AddTable(partial.FileName(kHookLibraryName), {{"EnableKeyboardHook", &dummy},
                                                        {"DisableKeyboardHook", &dummy},
                                                        {"EnableMouseHook", &dummy}});
  sim.platform().libraries = &partial;
  auto hook = MakeHook();
  EXPECT_FALSE(hook->DLLLoaded());
  EXPECT_TRUE(sim.messageBoxes.Shown().empty());
  EXPECT_EQ(partial.OpenCount(), 0);
  EXPECT_EQ(partial.Requests(), std::vector<std::string>{partial.FileName(kHookLibraryName)});
}

TEST_F(HookTest, InstancesShareOneBindingAndTheLastOneReleasesIt) {
  auto first = MakeHook();
  ASSERT_TRUE(first->DLLLoaded());
  EXPECT_EQ(libraries.OpenCount(), 2);  // the test's own handle and the component's

  platform::sim::SimDynamicLibraries empty;
  platform::sim::SimPlatform other;
  other.platform().libraries = &empty;
  other.platform().messageBoxes = &other.messageBoxes;
  auto second = std::make_unique<TgxHook>(other.platform());
  EXPECT_TRUE(second->DLLLoaded());
  EXPECT_TRUE(empty.Requests().empty());
  EXPECT_TRUE(other.messageBoxes.Shown().empty());

  // The first instance going away must not pull the library from under the second.
  first.reset();
  EXPECT_EQ(libraries.OpenCount(), 2);
  int keys = 0;
  second->OnHookKeyboardAllKey = [&](int, int, int, bool&, std::uint32_t) { ++keys; };
  second->StartHookKeyboard();
  Key(65, true, 100);
  EXPECT_EQ(keys, 1);
  second.reset();
  EXPECT_EQ(libraries.OpenCount(), 1);
  EXPECT_FALSE(KeyboardHooked());
}

TEST_F(HookTest, EachOperationLeavesItsOwnCallbackInItsSlotOnly) {
  auto hook = MakeHook();
  EXPECT_FALSE(KeyboardHooked());
  EXPECT_FALSE(MouseHooked());
  int hooked = 0, single = 0;
  hook->OnHookKeyboardAllKey = [&](int, int, int, bool&, std::uint32_t) { ++hooked; };
  hook->OnRecordKeyboardSingleKey = [&](int, std::uint32_t, int, int, const std::string&, bool&) {
    ++single;
  };

  hook->StartHookKeyboard();
  EXPECT_EQ(Disables(0), 1);  // always cleared before a new registration
  EXPECT_EQ(Enables(0), 1);
  Key(65, true, 10);
  hook->RecordKeyboardSingleKey();
  Key(65, true, 20);
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(single, 1);
  EXPECT_FALSE(MouseHooked());

  hook->StartHookMouse();
  hook->StopRecordKeyboardSingleKey();
  EXPECT_FALSE(KeyboardHooked());
  EXPECT_TRUE(MouseHooked());
  EXPECT_EQ(Key(65, true, 30), -1);
  hook->RecordMouseMacro();
  hook->StopRecordMouseMacro();
  EXPECT_FALSE(MouseHooked());
  EXPECT_EQ(Enables(1), 2);
}

TEST_F(HookTest, DestroyingAnInstanceRemovesItsCallbacksFromTheLibrary) {
  auto hook = MakeHook();
  hook->StartHookKeyboard();
  hook->StartHookMouse();
  hook.reset();
  EXPECT_FALSE(KeyboardHooked());
  EXPECT_FALSE(MouseHooked());
}

// --- keyboard hooking ------------------------------------------------------------------------

TEST_F(HookTest, KeyboardRulesMatchInOrderUpToTheEndMarker) {
  auto hook = MakeHook();
  hook->AddKeyboardHookObject(KeyRule(65, 0, 0, 1));
  hook->AddKeyboardHookObject(KeyRule(-1, 0, 0, 1));
  hook->AddKeyboardHookObject(KeyRule(66, 0, 0, 1));
  ASSERT_EQ(hook->KeyboardHookObjectList().Count(), 3);
  EXPECT_EQ(hook->KeyboardHookObjectList().Name(1), "-1");
  hook->StartHookKeyboard();

  EXPECT_EQ(Key(65, true, 1), 0);  // rules are consulted only with OnHookKeyboardKey set

  struct Seen {
    int key, state, ext;
    bool blocked;
    std::uint32_t scan;
  };
  std::vector<Seen> seen;
  hook->OnHookKeyboardKey = [&](int k, int s, int e, bool& b, std::uint32_t sc) {
    seen.push_back({k, s, e, b, sc});
  };
  EXPECT_EQ(Key(65, true, 2, false, 30), 1);
  EXPECT_EQ(Key(65, false, 3, false, 30), 1);
  EXPECT_EQ(Key(65, true, 4, true), 0);         // the extended form is another key
  EXPECT_EQ(Key(66, true, 5), 0);               // behind the end marker
  EXPECT_EQ(Key(65, true, 6, false, 0, 1), 0);  // non-zero hook codes are not looked at
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].key, 65);
  EXPECT_EQ(seen[0].state, 1);
  EXPECT_TRUE(seen[0].blocked);  // already set when the handler runs
  EXPECT_EQ(seen[0].scan, 30u);
  EXPECT_EQ(seen[1].state, 0);

  hook->RemoveAllKeyboardHookObject();
  EXPECT_EQ(Key(65, true, 7), 0);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(HookTest, AScanCodeRuleMatchesByScanCodeAndTheHandlerDecidesUnblockedRules) {
  auto hook = MakeHook();
  hook->AddKeyboardHookObject(KeyRule(0, 30, 0, 0));
  hook->StartHookKeyboard();
  std::vector<int> keys;
  hook->OnHookKeyboardKey = [&](int k, int, int, bool& b, std::uint32_t) {
    keys.push_back(k);
    b = k == 200;
  };
  EXPECT_EQ(Key(65, true, 1, false, 30), 0);
  EXPECT_EQ(Key(200, true, 2, false, 30), 1);
  EXPECT_EQ(Key(65, true, 3, false, 31), 0);
  EXPECT_EQ(keys, (std::vector<int>{65, 200}));
}

TEST_F(HookTest, TheAllKeyEventSeesEveryKeyBeforeTheRules) {
  auto hook = MakeHook();
  hook->AddKeyboardHookObject(KeyRule(65, 0, 1, 1));
  hook->StartHookKeyboard();
  std::vector<std::string> order;
  hook->OnHookKeyboardAllKey = [&](int k, int s, int e, bool& b, std::uint32_t sc) {
    order.push_back("all " + std::to_string(k) + "/" + std::to_string(s) + "/" + std::to_string(e) +
                    "/" + std::to_string(sc) + (b ? " b" : ""));
  };
  hook->OnHookKeyboardKey = [&](int k, int, int, bool& b, std::uint32_t) {
    order.push_back("rule " + std::to_string(k) + (b ? " b" : ""));
  };
  EXPECT_EQ(Key(65, true, 1, true, 0x1E), 1);
  EXPECT_EQ(Key(90, false, 2, false, 0x2C), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"all 65/1/1/30", "rule 65 b", "all 90/0/0/44"}));
}

// --- mouse hooking ---------------------------------------------------------------------------

TEST_F(HookTest, MouseRulesMatchButtonsAtOrBelowTheirOwnAndStatesInTheirSet) {
  auto hook = MakeHook();
  hook->AddMouseHookObject(MouseRule(
      TMouseButtons::XCLICK5, StateBit(TMouseButtonStates::XBUTTONDOWN), TMouseButtons::LCLICK));
  EXPECT_EQ(hook->MouseHookObjectList().Name(0), "5");
  hook->StartHookMouse();
  std::vector<std::pair<TMouseButtons, int>> seen;
  hook->OnHookMouseButton = [&](TMouseButtons b, int s, bool& blocked) {
    seen.push_back({b, s});
    blocked = true;  // the handler, not the rule, decides
  };
  EXPECT_EQ(Mouse(kXButtonDown, 1, 0, 0, 1), 1);
  EXPECT_EQ(Mouse(kXButtonDown, 2, 0, 0, 2), 1);
  EXPECT_EQ(Mouse(kXButtonUp, 3, 0, 0, 2), 0);  // state not in the set
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, TMouseButtons::XCLICK4);  // reported, not remapped
  EXPECT_EQ(seen[1].first, TMouseButtons::XCLICK5);
  EXPECT_EQ(seen[0].second, 1);
}

TEST_F(HookTest, ARuleThatDoesNotRemapItsButtonSuppressesTheEvent) {
  auto hook = MakeHook();
  const auto clicks =
      StateBit(TMouseButtonStates::LBUTTONDOWN) | StateBit(TMouseButtonStates::LBUTTONUP);
  hook->AddMouseHookObject(MouseRule(TMouseButtons::LCLICK, clicks, TMouseButtons::LCLICK));
  hook->AddMouseHookObject(MouseRule(TMouseButtons::RCLICK, clicks, TMouseButtons::MCLICK));
  hook->StartHookMouse();
  int events = 0;
  hook->OnHookMouseButton = [&](TMouseButtons, int, bool&) { ++events; };
  Mouse(kLButtonDown, 1);
  Mouse(kLButtonUp, 2);
  EXPECT_EQ(events, 0);  // the first matching rule decides, the second is never reached
  hook->RemoveAllMouseHookObject();
  hook->AddMouseHookObject(MouseRule(TMouseButtons::RCLICK, clicks, TMouseButtons::MCLICK));
  Mouse(kLButtonUp, 3);
  EXPECT_EQ(events, 1);
}

TEST_F(HookTest, MessagesBeyondTheStateSetNeverMatchARule) {
  auto hook = MakeHook();
  hook->AddMouseHookObject(MouseRule(TMouseButtons::BUTTONX3, 0xFFFF, TMouseButtons::LCLICK));
  hook->StartHookMouse();
  int events = 0;
  hook->OnHookMouseButton = [&](TMouseButtons, int, bool&) { ++events; };
  Mouse(0x20F, 1);
  Mouse(0x210, 2);
  Mouse(0x1FF, 3);
  EXPECT_EQ(events, 1);
}

TEST_F(HookTest, WheelButtonsAndExtraValuesFollowTheWheelDelta) {
  auto hook = MakeHook();
  hook->StartHookMouse();
  std::vector<std::tuple<TMouseButtons, int, int>> seen;
  hook->OnHookMouseAllButton = [&](TMouseButtons b, int s, std::int16_t ex, bool&) {
    seen.emplace_back(b, s, ex);
  };
  Mouse(kMouseWheel, 1, 0, 0, 120);
  Mouse(kMouseWheel, 2, 0, 0, -120);
  Mouse(kMouseWheel, 3, 0, 0, 240);
  Mouse(kMouseWheel, 4, 0, 0, -240);
  Mouse(kMouseWheel, 5, 0, 0, 0);
  Mouse(kMouseHWheel, 6, 0, 0, 120);
  Mouse(kRButtonUp, 7);
  Mouse(kMButtonDown, 8);
  Mouse(kXButtonDown, 9, 0, 0, 3);
  using B = TMouseButtons;
  EXPECT_EQ(seen, (std::vector<std::tuple<B, int, int>>{{B::WHEELUP, 1, 120},
                                                        {B::WHEELDOWN, 1, -120},
                                                        {B::WHEELUP, 1, 240},
                                                        {B::WHEELDOWN, 1, -240},
                                                        {B::BUTTON_NONE, 1, 0},
                                                        {B::BUTTON_NONE, 1, 0},
                                                        {B::RCLICK, 0, 0},
                                                        {B::MCLICK, 1, 0},
                                                        {B::BUTTON_NONE, 1, 3}}));
}

TEST_F(HookTest, PointerMovesReportTheTickAndAreNeverSwallowedInjectedEventsAreIgnored) {
  auto hook = MakeHook();
  hook->AddMouseHookObject(MouseRule(TMouseButtons::BUTTONX3, 0xFFFF, TMouseButtons::BUTTONX1));
  hook->StartHookMouse();
  std::vector<std::tuple<int, int, double>> moves;
  int buttons = 0;
  hook->OnHookMouseMove = [&](int x, int y, double t) { moves.emplace_back(x, y, t); };
  hook->OnHookMouseAllButton = [&](TMouseButtons, int, std::int16_t, bool& b) {
    ++buttons, b = true;
  };
  hook->OnHookMouseButton = [&](TMouseButtons, int, bool& b) { ++buttons, b = true; };
  EXPECT_EQ(Mouse(kMouseMove, 4000000000u, -5, 7), 0);
  EXPECT_EQ(Mouse(kMouseMove, 12, 1, 1, 0, true), 0);
  EXPECT_EQ(Mouse(kLButtonDown, 13, 0, 0, 0, true), 0);
  EXPECT_EQ(buttons, 0);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0], (std::tuple<int, int, double>{-5, 7, 4000000000.0}));
  EXPECT_EQ(Mouse(kLButtonDown, 14), 1);
  EXPECT_EQ(buttons, 2);
}

// --- event thread ----------------------------------------------------------------------------

TEST_F(HookTest, QueuedEntriesAreDeliveredInOrderOnTheMainThread) {
  auto hook = MakeHook();
  std::vector<std::string> seen;
  bool onMain = true;
  hook->OnRecordKeyboardMacroKey = [&](int type, int key, int state, int ext, double,
                                       const std::string& text, const std::string& stateText,
                                       TMacroKeyList& list) {
    onMain = onMain && sim.loop.IsMainThread();
    EXPECT_EQ(&list, &hook->MacroKeyList());
    seen.push_back("k" + std::to_string(type) + "/" + std::to_string(key) + "/" +
                   std::to_string(state) + "/" + std::to_string(ext) + " " + text + " " +
                   stateText);
  };
  hook->OnRecordMouseMacroKey = [&](int type, TMouseButtons b, int state, std::uint16_t x,
                                    std::uint16_t y, double, const std::string& text,
                                    const std::string&, TMouseMacroKeyList&) {
    onMain = onMain && sim.loop.IsMainThread();
    seen.push_back("m" + std::to_string(type) + "/" + std::to_string(int(b)) + "/" +
                   std::to_string(state) + "/" + std::to_string(x) + "," + std::to_string(y) + " " +
                   text);
  };
  std::thread producer([&] {
    RecordDataEntry k;
    k.kind = 1;
    k.macroKey = {1, 1, 65, 0, 0, "A", "Down"};
    hook->QueueRecordData(k);
    RecordDataEntry m;
    m.kind = 0;
    m.mouseMacroKey.nKeyType = 1;
    m.mouseMacroKey.nKeyState = 0;
    m.mouseMacroKey.MouseButton = TMouseButtons::RCLICK;
    m.mouseMacroKey.X = 3;
    m.mouseMacroKey.Y = 4;
    m.mouseMacroKey.MacroKeyString = "Mouse Right Click";
    hook->QueueRecordData(m);
    hook->QueueRecordData(k);
  });
  producer.join();
  ASSERT_TRUE(sim.loop.RunUntil([&] { return seen.size() == 3; }));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(seen, (std::vector<std::string>{"k1/65/1/0 A Down", "m1/2/0/3,4 Mouse Right Click",
                                            "k1/65/1/0 A Down"}));
  // The data event was reset: nothing runs again without new entries.
  sim.loop.RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(HookTest, DestroyingTheComponentEndsItsWaitingThreadPromptly) {
  auto hook = MakeHook();
  std::this_thread::sleep_for(20ms);  // let the thread reach its wait
  const auto start = std::chrono::steady_clock::now();
  hook.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

TEST_F(HookTest, DestroyingTheComponentWhileItsWorkWaitsForTheMainThreadIsSafe) {
  auto hook = MakeHook();
  int delivered = 0;
  hook->OnRecordKeyboardMacroKey = [&](int, int, int, int, double, const std::string&,
                                       const std::string&, TMacroKeyList&) { ++delivered; };
  RecordDataEntry k;
  k.kind = 1;
  hook->QueueRecordData(k);
  std::this_thread::sleep_for(20ms);  // the thread has now posted its work and waits for it
  hook.reset();
  sim.loop.RunPending();  // work the thread posted before it ended finds no component
  EXPECT_EQ(delivered, 0);
}

}  // namespace
}  // namespace kv::test
