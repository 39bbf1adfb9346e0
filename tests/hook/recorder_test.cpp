#include "hook/key_tables.h"
#include "hook_fixture.h"

namespace kv::test {
namespace {

// Entries of a keyboard macro list as short texts: "A1" key 65 down, "A0" up, "d100" delay.
std::vector<std::string> Entries(const TMacroKeyList& list) {
  std::vector<std::string> out;
  int i = 0;
  for (const auto& [name, e] : list) {
    EXPECT_EQ(name, std::to_string(i++));
    const TMACROKEYHOOK& k = e->FMacroKey;
    EXPECT_EQ(k.Time, 0.0);
    EXPECT_TRUE(k.MacroKeyString.empty());
    if (k.nKeyType == 0) out.push_back("d" + std::to_string(k.nKeyValue));
    else
      out.push_back(std::string(1, static_cast<char>(k.nKeyValue)) + std::to_string(k.nKeyState) +
                    (k.nKeyValueExtended ? "e" : ""));
  }
  return out;
}

using Strings = std::vector<std::string>;

// --- single key --------------------------------------------------------------------------------

TEST_F(HookTest, SingleKeyRecordingReportsPressAndReleaseWithTheKeyName) {
  auto hook = MakeHook();
  hook->RecordKeyboardSingleKey();
  Strings seen;
  hook->OnRecordKeyboardSingleKey = [&](int k, std::uint32_t sc, int s, int e,
                                        const std::string& name, bool& b) {
    seen.push_back(std::to_string(k) + "/" + std::to_string(sc) + "/" + std::to_string(s) + "/" +
                   std::to_string(e) + " " + name);
    b = k == 13;
  };
  EXPECT_EQ(Key(163, true, 1, true, 0x1D), 0);
  EXPECT_EQ(Key(13, false, 2, true, 0x1C), 1);
  EXPECT_EQ(seen, (Strings{"163/29/1/1 R CTRL", "13/28/0/1 ENTER"}));
}

// --- combinations --------------------------------------------------------------------------------

struct Combo {
  int k1, e1, k2, e2, mod;
  std::string text;
  bool operator==(const Combo&) const = default;
};

TEST_F(HookTest, ACombinationGrowsWithinAHundredMillisecondsAndThenStartsAgain) {
  auto hook = MakeHook();
  std::vector<Combo> seen;
  hook->OnRecordKeyboardComboKey = [&](int k1, int e1, int k2, int e2, int mod,
                                       const std::string& t) {
    seen.push_back({k1, e1, k2, e2, mod, t});
  };
  hook->RecordKeyboardComboKey();
  keyboard.SetDown(162, true);
  EXPECT_EQ(Key(162, true, 1000), 0);  // the modifier itself passes
  EXPECT_EQ(Key(65, true, 1010), 1);
  EXPECT_EQ(Key(65, false, 1050), 0);  // releases pass
  EXPECT_EQ(Key(66, true, 1100), 1);
  EXPECT_EQ(Key(67, true, 1150), 1);  // a completed pair starts over
  keyboard.SetDown(162, false);
  EXPECT_EQ(Key(68, true, 1400), 1);  // 250 ms later: a new combination
  EXPECT_EQ(Key(68, true, 1450), 1);  // the same key again replaces the first
  EXPECT_EQ(seen, (std::vector<Combo>{{65, 0, 0, 0, 2, "Ctrl+A"},
                                      {65, 0, 66, 0, 2, "Ctrl+A+B"},
                                      {67, 0, 0, 0, 2, "Ctrl+C"},
                                      {68, 0, 0, 0, 0, "D"},
                                      {68, 0, 0, 0, 0, "D"}}));
  EXPECT_EQ(hook->ComboKeyString(), "D");
  EXPECT_EQ(hook->LastTimeKeyboardCombo(), 1450u);
  hook->StopRecordKeyboardComboKey();
  EXPECT_EQ(hook->LastTimeKeyboardCombo(), 0u);
  EXPECT_EQ(hook->ComboKeyInfo().nKeyValue1, 68);  // the combination itself survives
}

TEST_F(HookTest, ASecondKeyLaterThanAHundredMillisecondsStandsAlone) {
  auto hook = MakeHook();
  Strings texts;
  hook->OnRecordKeyboardComboKey = [&](int, int, int k2, int, int, const std::string& t) {
    texts.push_back(t + "|" + std::to_string(k2));
  };
  hook->RecordKeyboardComboKey();
  Key(65, true, 5000);
  Key(66, true, 5150);
  Key(67, true, 5250);  // exactly 100 ms: still joins
  EXPECT_EQ(texts, (Strings{"A|0", "B|0", "B+C|67"}));
}

TEST_F(HookTest, ModifiersAreListedInAFixedOrderAndAloneProduceNothing) {
  auto hook = MakeHook();
  Strings texts;
  std::vector<int> mods;
  hook->OnRecordKeyboardComboKey = [&](int, int, int, int, int mod, const std::string& t) {
    texts.push_back(t);
    mods.push_back(mod);
  };
  hook->RecordKeyboardComboKey();
  for (int vk : {161, 165, 92}) keyboard.SetDown(vk, true);
  EXPECT_EQ(Key(160, true, 100), 0);
  EXPECT_EQ(Key(92, true, 101, true), 0);
  EXPECT_TRUE(texts.empty());
  keyboard.SetDown(163, true);
  Key(112, true, 400);
  EXPECT_EQ(texts, Strings{"Ctrl+Alt+Win+Shift+F1"});
  EXPECT_EQ(mods, std::vector<int>{15});
}

TEST_F(HookTest, TheSecondVariantCarriesScanCodes) {
  auto hook = MakeHook();
  std::vector<std::vector<int>> seen;
  hook->OnRecordKeyboardComboKey2 = [&](int k1, int s1, int e1, int k2, int s2, int e2, int mod,
                                        const std::string&) {
    seen.push_back({k1, s1, e1, k2, s2, e2, mod});
  };
  hook->RecordKeyboardComboKey();
  Key(65, true, 100, false, 0x1E);
  Key(37, true, 150, true, 0x4B);
  Key(66, true, 170, false, 0x30);
  EXPECT_EQ(seen, (std::vector<std::vector<int>>{{65, 0x1E, 0, 0, 0, 0, 0},
                                                 {65, 0x1E, 0, 37, 0x4B, 1, 0},
                                                 {66, 0x30, 0, 0, 0, 0, 0}}));
}

TEST_F(HookTest, ACombinationSpanningTheTickCounterWrapStaysOneCombination) {
  auto hook = MakeHook();
  Strings texts;
  hook->OnRecordKeyboardComboKey = [&](int, int, int, int, int, const std::string& t) {
    texts.push_back(t);
  };
  hook->RecordKeyboardComboKey();
  Key(65, true, 0xFFFFFFF0u);
  Key(66, true, 20);  // 36 ms later, after the wrap
  Key(67, true, 30);  // the very first tick values are real times too
  EXPECT_EQ(texts, (Strings{"A", "A+B", "C"}));
}

// --- keyboard macro ------------------------------------------------------------------------------

TEST_F(HookTest, KeyboardMacroRecordsKeysAndDelaysBetweenElevenAndNineteenNinetyNine) {
  auto hook = MakeHook();
  Strings events;
  hook->OnRecordKeyboardMacroKey = [&](int type, int key, int state, int ext, double time,
                                       const std::string& text, const std::string& stateText,
                                       TMacroKeyList& list) {
    events.push_back(std::to_string(type) + "/" + std::to_string(key) + "/" +
                     std::to_string(state) + "/" + std::to_string(ext) + "@" +
                     std::to_string(static_cast<long long>(time)) + " " + text + " " + stateText +
                     " #" + std::to_string(list.Count()));
  };
  hook->RecordKeyboardMacroKey();
  EXPECT_EQ(Key(65, true, 10000), 1);
  EXPECT_EQ(Key(65, false, 10100), 1);
  EXPECT_EQ(Key(66, true, 13100), 1);  // 3000 ms: no delay entry
  Key(66, false, 13110);               // exactly 10 ms: none
  Key(67, true, 15110);                // exactly 2000 ms: none
  Key(67, false, 15121, true);         // 11 ms
  EXPECT_EQ(Entries(hook->MacroKeyList()),
            (Strings{"A1", "d100", "A0", "B1", "B0", "C1", "d11", "C0e"}));
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[0], "1/65/1/0@10000 A Down #1");
  EXPECT_EQ(events[1], "0/100/0/0@10100 100 ms #2");
  EXPECT_EQ(events[2], "1/65/0/0@10100 A Up #3");
}

TEST_F(HookTest, EveryKeyEventOfTheMacroMakesAKeyEntryEvenWhenItsCodeEqualsTheDelay) {
  auto hook = MakeHook();
  hook->OnRecordKeyboardMacroKey = [](int, int, int, int, double, const std::string&,
                                      const std::string&, TMacroKeyList&) {};
  hook->RecordKeyboardMacroKey();
  Key(65, true, 1000);
  Key(66, true, 1066);  // delay 66 ms before key 66
  EXPECT_EQ(Entries(hook->MacroKeyList()), (Strings{"A1", "d66", "B1"}));
}

TEST_F(HookTest, ANewMacroMeasuresItsFirstKeyAgainstThePreviousRecording) {
  auto hook = MakeHook();
  hook->OnRecordKeyboardMacroKey = [](int, int, int, int, double, const std::string&,
                                      const std::string&, TMacroKeyList&) {};
  hook->RecordKeyboardMacroKey();
  Key(65, true, 1000);
  hook->StopRecordKeyboardMacroKey();
  hook->RecordKeyboardMacroKey();
  Key(66, true, 1500);
  EXPECT_EQ(Entries(hook->MacroKeyList()), (Strings{"d500", "B1"}));
}

TEST_F(HookTest, KeyboardMacroTimesThatWrapCountForwardAndOlderEventsAddNoDelay) {
  auto hook = MakeHook();
  hook->OnRecordKeyboardMacroKey = [](int, int, int, int, double, const std::string&,
                                      const std::string&, TMacroKeyList&) {};
  hook->RecordKeyboardMacroKey();
  Key(65, true, 0xFFFFFFCEu);
  Key(65, false, 50);   // 100 ms later, across the wrap
  Key(66, true, 40);    // older than the reference
  Key(66, false, 100);  // measured from the later time, 50
  EXPECT_EQ(Entries(hook->MacroKeyList()), (Strings{"A1", "d100", "A0", "B1", "d50", "B0"}));
  EXPECT_EQ(hook->LastTimeKeyboardMacro(), 100u);
}

TEST_F(HookTest, StoppingAMacroHandsTheListOverAndEmptiesIt) {
  auto hook = MakeHook();
  hook->OnRecordKeyboardMacroKey = [](int, int, int, int, double, const std::string&,
                                      const std::string&, TMacroKeyList&) {};
  hook->RecordKeyboardMacroKey();
  Key(65, true, 1000);
  Key(65, false, 1100);
  // The handler owns what it receives: it keeps the whole list, and the entries outlive the
  // next recording (which frees only the component's own list).
  TMacroKeyList kept;
  int listedDuringTheHandler = -1;
  hook->OnStopRecordKeyboardMacroKey = [&](TMacroKeyList list) {
    listedDuringTheHandler = hook->MacroKeyList().Count();
    kept = std::move(list);
  };
  hook->StopRecordKeyboardMacroKey();
  EXPECT_FALSE(KeyboardHooked());
  EXPECT_EQ(listedDuringTheHandler, 0);
  EXPECT_EQ(hook->MacroKeyList().Count(), 0);
  EXPECT_EQ(Key(66, true, 1200), -1);
  hook->RecordKeyboardMacroKey();
  Key(67, true, 1300);  // a delay (measured from the last key before) and the key
  ASSERT_EQ(kept.Count(), 3);
  EXPECT_EQ(kept.Name(2), "2");
  EXPECT_EQ(kept.Object(0)->FMacroKey.nKeyValue, 65);
  EXPECT_EQ(kept.Object(1)->FMacroKey.nKeyValue, 100);  // the delay entry
  EXPECT_EQ(kept.Object(2)->FMacroKey.nKeyState, 0);
  EXPECT_EQ(hook->MacroKeyList().Count(), 2);
  hook->OnStopRecordKeyboardMacroKey = [](TMacroKeyList) {};  // keeps nothing: freed on return
  hook->StopRecordKeyboardMacroKey();
  EXPECT_EQ(kept.Count(), 3);
}

// --- extended keyboard macro -------------------------------------------------------------------

TEST_F(HookTest, ExtendedMacroDropsAutoRepeatAndTimesTheHold) {
  auto hook = MakeHook();
  std::vector<std::pair<std::string, std::uint32_t>> events;
  hook->OnRecordKeyboardMacroKeyEx = [&](int, int key, int state, int, double, std::uint32_t total,
                                         const std::string& text, const std::string& stateText,
                                         TMacroKeyList&) {
    EXPECT_EQ(text, GetKeyDescription(key, 0));
    events.push_back({text + " " + stateText + (state ? "" : "!"), total});
  };
  hook->RecordKeyboardMacroKeyEx();
  EXPECT_EQ(Key(65, true, 5000), 1);
  for (std::uint32_t t = 5500; t < 6000; t += 33) EXPECT_EQ(Key(65, true, t), 1);
  EXPECT_EQ(Key(65, false, 6000), 1);
  EXPECT_EQ(Key(66, true, 6250), 1);
  EXPECT_EQ(Entries(hook->MacroKeyList()), (Strings{"A1", "d1000", "A0", "d250", "B1"}));
  EXPECT_EQ(events, (std::vector<std::pair<std::string, std::uint32_t>>{
                        {"A Down", 0}, {"A Up!", 1000}, {"B Down", 250}}));
  EXPECT_EQ(hook->AllKeyState()[66], 1);
  EXPECT_EQ(hook->AllKeyState()[65], 0);
  EXPECT_EQ(hook->LastMacroKey().vkCode, 66u);
}

TEST_F(HookTest, ExtendedMacroClampsLongDelaysAndStopsRecordingPastFiveHundredEntries) {
  auto hook = MakeHook();
  hook->OnRecordKeyboardMacroKeyEx = [](int, int, int, int, double, std::uint32_t,
                                        const std::string&, const std::string&, TMacroKeyList&) {};
  hook->RecordKeyboardMacroKeyEx();
  Key(65, true, 1000);
  Key(65, false, 71000);
  EXPECT_EQ(Entries(hook->MacroKeyList()), (Strings{"A1", "d65535", "A0"}));

  std::uint32_t t = 72000;
  while (hook->MacroKeyList().Count() <= 500) {
    const bool down = (t & 1) == 0;
    EXPECT_EQ(Key(66, down, ++t), 1);
  }
  EXPECT_EQ(hook->MacroKeyList().Count(), 501);
  EXPECT_EQ(Key(67, true, t + 10), 0);  // neither recorded nor blocked
  EXPECT_EQ(hook->MacroKeyList().Count(), 501);

  hook->RecordKeyboardMacroKeyEx();  // a new recording starts from nothing
  EXPECT_EQ(hook->MacroKeyList().Count(), 0);
  EXPECT_EQ(hook->LastMacroKey().vkCode, 0u);
  EXPECT_EQ(hook->AllKeyState()[66] + hook->AllKeyState()[67], 0);
}

TEST_F(HookTest, ExtendedMacroSurvivesKeyCodesBeyondTheStateTable) {
  auto hook = MakeHook();
  hook->OnRecordKeyboardMacroKeyEx = [](int, int, int, int, double, std::uint32_t,
                                        const std::string&, const std::string&, TMacroKeyList&) {};
  hook->RecordKeyboardMacroKeyEx();
  Key(65, true, 100);
  Key(70000, true, 200);
  Key(70000, false, 300);
  EXPECT_EQ(hook->MacroKeyList().Count(), 5);
  EXPECT_EQ(hook->AllKeyState()[70000 & 0xFF], 0);
}

// --- mouse macro ---------------------------------------------------------------------------------

std::vector<std::string> MouseEntries(const TMouseMacroKeyList& list) {
  std::vector<std::string> out;
  for (const auto& [name, e] : list) {
    const TMOUSEMACROKEY& m = e->FMOUSEMacroKey;
    out.push_back(
        (m.nKeyType ? "b" + std::to_string(int(m.MouseButton)) + "/" + std::to_string(m.nKeyState)
                    : std::string("d")) +
        "@" + std::to_string(m.X) + "," + std::to_string(m.Y) + " t" + std::to_string(m.TimeValue));
  }
  return out;
}

TEST_F(HookTest, MouseMacroTracesClicksDelaysAndThePointerWithoutBlocking) {
  auto hook = MakeHook();
  Strings events;
  hook->OnRecordMouseMacroKey = [&](int type, TMouseButtons b, int state, std::uint16_t x,
                                    std::uint16_t y, double time, const std::string& text,
                                    const std::string& stateText, TMouseMacroKeyList&) {
    events.push_back(std::to_string(type) + "/" + std::to_string(int(b)) + "/" +
                     std::to_string(state) + "@" + std::to_string(x) + "," + std::to_string(y) +
                     ":" + std::to_string(static_cast<long long>(time)) + " " + text + " " +
                     stateText);
  };
  hook->RecordMouseMacro();
  EXPECT_EQ(Mouse(kLButtonDown, 1000, 10, 20), 0);
  EXPECT_EQ(Mouse(kLButtonUp, 1080, 10, 20), 0);
  EXPECT_EQ(Mouse(kMouseMove, 1100, -10, 70000), 0);
  Mouse(kMouseMove, 1100, -10, 5, 0, true);  // injected: ignored
  EXPECT_EQ(MouseEntries(hook->MouseMacroKeyList()),
            (Strings{"b1/1@10,20 t0", "d@10,20 t80", "b1/0@10,20 t80", "d@65526,4464 t20"}));
  EXPECT_EQ(events, (Strings{"1/1/1@10,20:1000 Mouse Click Down", "0/0/0@10,20:1080 80 ms",
                             "1/1/0@10,20:1080 Mouse Click Up", "0/0/0@65526,4464:1100 20 ms"}));
}

TEST_F(HookTest, MouseMacroKeepsTheLowBitsOfLongDelaysAndTheFullValueInTheEvent) {
  auto hook = MakeHook();
  Strings texts;
  hook->OnRecordMouseMacroKey = [&](int, TMouseButtons, int, std::uint16_t, std::uint16_t, double,
                                    const std::string& text, const std::string&,
                                    TMouseMacroKeyList&) { texts.push_back(text); };
  hook->RecordMouseMacro();
  Mouse(kMouseMove, 1000);
  Mouse(kXButtonDown, 71000, 0, 0, 2);
  Mouse(kMouseWheel, 71001, 0, 0, 120);
  Mouse(kMouseWheel, 71002, 0, 0, -120);
  Mouse(kXButtonUp, 71003, 0, 0, 1);
  EXPECT_EQ(MouseEntries(hook->MouseMacroKeyList()),
            (Strings{"d@0,0 t4464", "b5/1@0,0 t4464", "d@0,0 t1", "b7/1@0,0 t1", "d@0,0 t1",
                     "b6/1@0,0 t1", "d@0,0 t1", "b4/0@0,0 t1"}));
  EXPECT_EQ(texts[0], "70000");
  EXPECT_EQ(texts[3], "Wheel Down(Mouse)");
  EXPECT_EQ(texts[7], "Backward(Mouse) ");
}

TEST_F(HookTest, MouseMacroKeepsAButtonWhoseTimeIsOlderThanTheReference) {
  auto hook = MakeHook();
  hook->OnRecordMouseMacroKey = [](int, TMouseButtons, int, std::uint16_t, std::uint16_t, double,
                                   const std::string&, const std::string&, TMouseMacroKeyList&) {};
  hook->RecordMouseMacro();
  Mouse(kRButtonDown, 0xFFFFFFF0u);
  Mouse(kRButtonUp, 16);    // across the wrap: 32 ms later
  Mouse(kMButtonDown, 10);  // older: no delay, but the press is kept
  Mouse(kMButtonUp, 26);
  EXPECT_EQ(MouseEntries(hook->MouseMacroKeyList()),
            (Strings{"b2/1@0,0 t0", "d@0,0 t32", "b2/0@0,0 t32", "b3/1@0,0 t0", "d@0,0 t10",
                     "b3/0@0,0 t10"}));
}

TEST_F(HookTest, StoppingTheMouseMacroKeepsTheListUntilTheNextRecording) {
  auto hook = MakeHook();
  hook->OnRecordMouseMacroKey = [](int, TMouseButtons, int, std::uint16_t, std::uint16_t, double,
                                   const std::string&, const std::string&, TMouseMacroKeyList&) {};
  int handed = -1;
  hook->OnStopRecordMouseMacroKey = [&](TMouseMacroKeyList& list) { handed = list.Count(); };
  hook->RecordMouseMacro();
  Mouse(kLButtonDown, 100);
  Mouse(kLButtonUp, 200);
  hook->StopRecordMouseMacro();
  EXPECT_EQ(handed, 3);
  EXPECT_EQ(hook->MouseMacroKeyList().Count(), 3);
  EXPECT_EQ(Mouse(kLButtonDown, 300), -1);
  hook->RecordMouseMacro();
  EXPECT_EQ(hook->MouseMacroKeyList().Count(), 0);
  EXPECT_EQ(hook->LastTimeMouseMacro(), 0u);
}

TEST(MouseButtonDescriptions, CoverTheRecordedButtonsOnly) {
  EXPECT_EQ(GetMouseButtonDescription(TMouseButtons::LCLICK), "Mouse Click");
  EXPECT_EQ(GetMouseButtonDescription(TMouseButtons::XCLICK5), "Forward(Mouse)");
  EXPECT_EQ(GetMouseButtonDescription(TMouseButtons::WHEELUP), "Wheel up(Mouse)");
  EXPECT_EQ(GetMouseButtonDescription(TMouseButtons::BUTTON_NONE), "");
  EXPECT_EQ(GetMouseButtonDescription(TMouseButtons::BUTTONX2), "");
}

}  // namespace
}  // namespace kv::test
