// Recorded evdev streams replayed through a pipe into the Linux hook library's translation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "hook/key_tables.h"
#include "hooklib/linux/evdev_translate.h"

namespace kv::hooklib {
namespace {

using kv::ExtendedKeyboardInfoTable;
using kv::IsConsumerPageKey;
using kv::KeyboardInfoTable;

using namespace kv::hooklib;

input_event Ev(long ms, unsigned type, unsigned code, int value) {
  input_event e{};
  e.time.tv_sec = ms / 1000;
  e.time.tv_usec = (ms % 1000) * 1000 + 321;  // sub-millisecond parts are dropped
  e.type = static_cast<std::uint16_t>(type);
  e.code = static_cast<std::uint16_t>(code);
  e.value = value;
  return e;
}

// A key as a keyboard reports it: scan code, key, end of report.
void Press(std::vector<input_event>& s, long ms, unsigned key, int value) {
  s.push_back(Ev(ms, EV_MSC, MSC_SCAN, 0x70000));
  s.push_back(Ev(ms, EV_KEY, key, value));
  s.push_back(Ev(ms, EV_SYN, SYN_REPORT, 0));
}

struct Replayed {
  std::vector<TranslatedEvent> records;
  std::vector<std::vector<input_event>> frames;  // the frame each record came from
};

// Writes the stream into a pipe and reads it back in uneven chunks, as a device read would.
Replayed Replay(const std::vector<input_event>& stream, EvdevTranslator& t) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const auto bytes = static_cast<ssize_t>(stream.size() * sizeof(input_event));
  EXPECT_EQ(write(fds[1], stream.data(), static_cast<size_t>(bytes)), bytes);
  close(fds[1]);
  Replayed r;
  input_event buf[5];
  std::vector<TranslatedEvent> out;
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i) {
      if (!t.Feed(buf[i], out)) continue;
      for (auto& rec : out) {
        r.records.push_back(rec);
        r.frames.push_back(t.Frame());
      }
    }
  }
  close(fds[0]);
  return r;
}

std::string Describe(const TranslatedEvent& e) {
  char text[96];
  if (e.keyboard)
    std::snprintf(text, sizeof text, "k%03X vk%u sc%02X f%02X t%u", unsigned(e.message),
                  e.key.vkCode, e.key.scanCode, e.key.flags, e.key.time);
  else
    std::snprintf(text, sizeof text, "m%03X %d,%d d%d t%u", unsigned(e.message), e.mouse.x,
                  e.mouse.y, static_cast<std::int16_t>(e.mouse.mouseData >> 16), e.mouse.time);
  return text;
}

std::vector<std::string> Describe(const Replayed& r) {
  std::vector<std::string> out;
  for (const auto& e : r.records) out.push_back(Describe(e));
  return out;
}

using Strings = std::vector<std::string>;

TEST(EvdevTranslate, KeysBecomeRecordsWithVirtualKeyScanCodeFlagsAndTick) {
  std::vector<input_event> s;
  Press(s, 1000, KEY_A, 1);
  Press(s, 1033, KEY_A, 2);  // auto-repeat: another press
  Press(s, 1100, KEY_A, 0);
  Press(s, 1200, KEY_RIGHTCTRL, 1);
  Press(s, 1201, KEY_KPENTER, 1);
  Press(s, 1202, KEY_LEFT, 1);
  Press(s, 1203, KEY_MUTE, 1);
  Press(s, 1204, KEY_F13, 0);
  Press(s, 1205, KEY_SYSRQ, 1);
  Press(s, 1206, KEY_102ND, 1);
  Press(s, 1207, KEY_KPCOMMA, 1);  // no virtual key: nothing to report
  PointerPosition p;
  EvdevTranslator t(p);
  EXPECT_EQ(
      Describe(Replay(s, t)),
      (Strings{"k100 vk65 sc1E f00 t1000", "k100 vk65 sc1E f00 t1033", "k101 vk65 sc1E f80 t1100",
               "k100 vk163 sc1D f01 t1200", "k100 vk13 sc1C f01 t1201", "k100 vk37 sc4B f01 t1202",
               "k100 vk173 sc20 f01 t1203", "k101 vk124 sc64 f80 t1204", "k100 vk44 sc37 f01 t1205",
               "k100 vk226 sc56 f00 t1206"}));
}

TEST(EvdevTranslate, KeypadKeysFollowNumLock) {
  std::vector<input_event> s;
  Press(s, 10, KEY_KP4, 1);
  Press(s, 11, KEY_KPDOT, 1);
  s.push_back(Ev(12, EV_LED, LED_NUML, 0));
  s.push_back(Ev(12, EV_SYN, SYN_REPORT, 0));
  Press(s, 13, KEY_KP4, 1);
  Press(s, 14, KEY_KPDOT, 1);
  Press(s, 15, KEY_KP0, 1);
  PointerPosition p;
  EvdevTranslator t(p);
  EXPECT_EQ(Describe(Replay(s, t)),
            (Strings{"k100 vk100 sc4B f00 t10", "k100 vk110 sc53 f00 t11", "k100 vk37 sc4B f00 t13",
                     "k100 vk46 sc53 f00 t14", "k100 vk45 sc52 f00 t15"}));
  EXPECT_FALSE(t.NumLock());
}

// Whether any row of the tables carries this usage of this page (Consumer page: the media and
// launch keys; Keyboard page: every other row).
bool TablesNameUsage(std::uint16_t page, std::uint16_t usage) {
  for (const kv::KeyTable* table : {&KeyboardInfoTable(), &ExtendedKeyboardInfoTable()})
    for (const auto& row : *table)
      if (row.HIDCode == usage && IsConsumerPageKey(row.VKCode) == (page == 0x0C)) return true;
  return false;
}

TEST(EvdevTranslate, EveryKeyTheTablesNameMapsBackToItsOwnUsage) {
  std::set<std::pair<std::uint16_t, std::uint16_t>> reached;
  int mapped = 0;
  for (unsigned key = 1; key < KEY_MAX; ++key) {
    const KeyPosition pos = PositionOfKey(key);
    if (pos.page == 0) continue;
    const int vk = VirtualKeyOfUsage(pos.page, pos.usage, pos.extended, true);
    if (vk == 0) {
      // Left without a virtual key only when the tables have no row for its usage at all.
      EXPECT_FALSE(TablesNameUsage(pos.page, pos.usage))
          << "key " << key << " (usage " << pos.usage << " of page " << pos.page << ")";
      continue;
    }
    ++mapped;
    reached.insert({pos.page, pos.usage});
    const auto& row =
        pos.extended &&
                ExtendedKeyboardInfoTable()[static_cast<std::size_t>(vk)].HIDCode == pos.usage
            ? ExtendedKeyboardInfoTable()[static_cast<std::size_t>(vk)]
            : KeyboardInfoTable()[static_cast<std::size_t>(vk)];
    EXPECT_EQ(row.HIDCode, pos.usage) << "key " << key;
    EXPECT_EQ(IsConsumerPageKey(vk), pos.page == 0x0C) << "key " << key;
  }
  // And the other way round: every usage the tables name comes from some key, but two that no
  // Linux key has (the kernel reports a keyboard's Clear usage as Delete, and Keyboard LANG8 as
  // no key at all).
  const std::set<int> withoutLinuxKey = {156, 151};
  for (const kv::KeyTable* table : {&KeyboardInfoTable(), &ExtendedKeyboardInfoTable()})
    for (const auto& row : *table) {
      if (row.HIDCode < 0 || withoutLinuxKey.count(row.HIDCode)) continue;
      const std::uint16_t page = IsConsumerPageKey(row.VKCode) ? 0x0C : 0x07;
      EXPECT_TRUE(reached.count({page, static_cast<std::uint16_t>(row.HIDCode)}))
          << row.VKName << " usage " << row.HIDCode << " comes from no key";
    }
  EXPECT_GT(mapped, 100);
  EXPECT_EQ(VirtualKeyOfUsage(0x07, 4, false, true), 65);
  EXPECT_EQ(VirtualKeyOfUsage(0x07, 229, false, true), 161);  // right Shift: not flagged extended
  EXPECT_EQ(VirtualKeyOfUsage(0x07, 226, false, true), 164);  // left Alt, not the mute key
  EXPECT_EQ(VirtualKeyOfUsage(0x0C, 226, true, true), 173);
  EXPECT_EQ(VirtualKeyOfUsage(0x07, 102, true, true), 255);
  EXPECT_EQ(VirtualKeyOfUsage(0x01, 4, false, true), 0);
}

TEST(EvdevTranslate, MouseFramesGiveMovementThenButtonsThenWheels) {
  std::vector<input_event> s = {
      Ev(500, EV_REL, REL_X, 5),
      Ev(500, EV_REL, REL_Y, -3),
      Ev(500, EV_KEY, BTN_LEFT, 1),
      Ev(500, EV_SYN, SYN_REPORT, 0),
      Ev(510, EV_KEY, BTN_SIDE, 1),
      Ev(510, EV_KEY, BTN_LEFT, 0),
      Ev(510, EV_SYN, SYN_REPORT, 0),
      Ev(520, EV_KEY, BTN_EXTRA, 0),
      Ev(520, EV_KEY, BTN_RIGHT, 1),
      Ev(520, EV_KEY, BTN_MIDDLE, 0),
      Ev(520, EV_SYN, SYN_REPORT, 0),
      Ev(530, EV_REL, REL_WHEEL, 1),
      Ev(530, EV_SYN, SYN_REPORT, 0),
      Ev(540, EV_REL, REL_WHEEL, -1),
      Ev(540, EV_REL, REL_WHEEL_HI_RES, -120),
      Ev(540, EV_SYN, SYN_REPORT, 0),
      Ev(550, EV_REL, REL_WHEEL_HI_RES, 60),
      Ev(550, EV_REL, REL_HWHEEL, -2),
      Ev(550, EV_REL, REL_X, -10),
      Ev(550, EV_SYN, SYN_REPORT, 0),
  };
  PointerPosition p;
  EvdevTranslator t(p);
  const Replayed r = Replay(s, t);
  EXPECT_EQ(Describe(r),
            (Strings{"m200 5,-3 d0 t500", "m201 5,-3 d0 t500", "m20B 5,-3 d1 t510",
                     "m202 5,-3 d0 t510", "m20C 5,-3 d2 t520", "m204 5,-3 d0 t520",
                     "m208 5,-3 d0 t520", "m20A 5,-3 d120 t530", "m20A 5,-3 d-120 t540",
                     "m200 -5,-3 d0 t550", "m20A -5,-3 d60 t550", "m20E -5,-3 d-240 t550"}));
  // Each record names the events it stands for, so a blocked one can be left out.
  ASSERT_EQ(r.records[1].sources.size(), 1u);
  EXPECT_EQ(r.frames[1][r.records[1].sources[0]].code, BTN_LEFT);
  EXPECT_EQ(r.records[8].sources.size(), 2u);  // both wheel events of that frame
  EXPECT_EQ(r.records[0].sources.size(), 2u);
}

TEST(EvdevTranslate, AbsolutePointersSetThePositionAndLostEventsDropTheirFrame) {
  std::vector<input_event> s = {
      Ev(1, EV_ABS, ABS_X, 300),    Ev(1, EV_ABS, ABS_Y, 200),     Ev(1, EV_SYN, SYN_REPORT, 0),
      Ev(2, EV_KEY, BTN_LEFT, 1),   Ev(2, EV_SYN, SYN_DROPPED, 0), Ev(2, EV_KEY, BTN_LEFT, 0),
      Ev(2, EV_SYN, SYN_REPORT, 0), Ev(3, EV_KEY, BTN_RIGHT, 1),   Ev(3, EV_SYN, SYN_REPORT, 0),
  };
  PointerPosition p;
  EvdevTranslator t(p);
  EXPECT_EQ(Describe(Replay(s, t)), (Strings{"m200 300,200 d0 t1", "m204 300,200 d0 t3"}));
}

TEST(EvdevTranslate, TicksWrapLikeTheTickCounter) {
  timeval tv{};
  tv.tv_sec = 4294967;  // 4294967000 ms
  tv.tv_usec = 295999;
  EXPECT_EQ(TickOf(tv), 4294967295u);
  tv.tv_usec = 296000;
  EXPECT_EQ(TickOf(tv), 0u);
}

}  // namespace
}  // namespace kv::hooklib
