// Desktop services that do not need a person at the screen: the config.ini rule, starting the
// configurator, locales, run-time libraries, the tray on Qt's offscreen platform, and the virtual
// mouse from kvmouse's datagrams to a read of its interface.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "app/linux/virtual_mouse.h"
#include "linux/hidraw_test_node.h"
#include "platform/linux/qt_desktop.h"
#include "platform/linux/qt_loop.h"
#include "platform/linux/udev_devices.h"
#include "platform/sim/sim_platform.h"
#include "test_env.h"
#include "tools/kvmouse/kvmouse.h"

using namespace kv::platform;
using namespace kv::platform::linux_;
using kv::app::VirtualMouse;
namespace fs = std::filesystem;

namespace {

struct SimWindowsWorld {
  sim::SimClock clock;
  sim::SimEventLoop loop{clock};
  sim::SimWindows windows{loop};
};

struct TempDir {
  TempDir() {
    path = fs::temp_directory_path() /
           ("kvdesk-" + std::to_string(getpid()) + "-" + std::to_string(++n));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  fs::path path;
  static inline int n = 0;
};

TEST(ConfigFileRule, BuildTreeBesideTheExecutableElseUserThenSystem) {
  TempDir t;
  fs::create_directories(t.path / "build/bin");
  std::ofstream(t / "build/CMakeCache.txt") << "";
  EXPECT_EQ(LinuxPaths::ChooseConfigFile(t / "build/bin/", t / "xdg", "/etc/kvmon"),
            t / "build/bin/config.ini");

  fs::create_directories(t.path / "usr/bin");
  EXPECT_EQ(LinuxPaths::ChooseConfigFile(t / "usr/bin/", t / "xdg", "/etc/kvmon"),
            "/etc/kvmon/config.ini");
  fs::create_directories(t.path / "xdg/kvmon");
  std::ofstream(t / "xdg/kvmon/config.ini") << "[options]\n";
  EXPECT_EQ(LinuxPaths::ChooseConfigFile(t / "usr/bin/", t / "xdg", "/etc/kvmon"),
            t / "xdg/kvmon/config.ini");
  // One beside the program (a portable copy) comes first.
  std::ofstream(t / "usr/bin/config.ini") << "[options]\n";
  EXPECT_EQ(LinuxPaths::ChooseConfigFile(t / "usr/bin/", t / "xdg", "/etc/kvmon"),
            t / "usr/bin/config.ini");
}

TEST(LinuxPaths, TheSystemConfigFollowsThePrefixTheProgramWasInstalledWith) {
  EXPECT_EQ(LinuxPaths::InstalledEtcDir("/usr/bin/", "/x"), "/etc");
  EXPECT_EQ(LinuxPaths::InstalledEtcDir("/usr/local/bin/", "/x"), "/usr/local/etc");
  EXPECT_EQ(LinuxPaths::InstalledEtcDir("/opt/kvmon/bin/", "/x"), "/etc/opt/kvmon");
  EXPECT_EQ(LinuxPaths::InstalledEtcDir("/home/u/.local/bin/", "/x"), "/home/u/.local/etc");
  EXPECT_EQ(LinuxPaths::InstalledEtcDir("/bin/", "/x"), "/etc");
  EXPECT_EQ(LinuxPaths::InstalledEtcDir("/home/u/kvmon/", "/x"), "/x");
}

TEST(ShellLaunch, FindsTheConfiguratorUnderItsWindowsOrItsLinuxName) {
  TempDir t;
  const std::string windowsName = t / "KVCFG.EXE";
  EXPECT_EQ(QtShell::ResolveProgram(windowsName), "");
  std::ofstream(t / "kvcfg") << "#!/bin/sh\n";
  EXPECT_EQ(QtShell::ResolveProgram(windowsName), t / "kvcfg");
  std::ofstream(windowsName) << "";
  EXPECT_EQ(QtShell::ResolveProgram(windowsName), windowsName);
}

TEST(PosixLocales, MapLocaleNamesToWindowsIdsAndAbbreviations) {
  auto zh = PosixLocale::FromPosixName("zh_CN.UTF-8");
  ASSERT_TRUE(zh);
  EXPECT_EQ(zh->languageId, 0x0804);
  EXPECT_EQ(zh->abbreviatedLanguageName, "CHS");
  auto de = PosixLocale::FromPosixName("de_AT@euro");  // territory unknown: the language's row
  ASSERT_TRUE(de);
  EXPECT_EQ(de->languageId, 0x0407);
  EXPECT_FALSE(PosixLocale::FromPosixName("C"));
  EXPECT_FALSE(PosixLocale::FromPosixName(""));
  PosixLocale locale;
  EXPECT_GE(locale.SupportedLocales().size(), 10u);
}

TEST(QtTray, KeepsItsImageWhenTheIconFileIsMissingOrNotAnImage) {
  kv::test::EnsureQtApp();
  TempDir t;
  LinuxPaths paths;
  SimWindowsWorld w;
  QtShell shell(w.windows);
  std::vector<std::size_t> chosen;
  auto tray = shell.CreateTrayIcon({{{"Config", true}, {"About", false}, {"Exit", true}},
                                    "GAMING MOUSE DRIVER",
                                    [&](std::size_t i) { chosen.push_back(i); },
                                    nullptr});
  ASSERT_NE(tray, nullptr);
  EXPECT_FALSE(tray->SetImageFromFile(t / "logo.ico"));
  std::ofstream(t / "logo.ico") << "not an icon";
  EXPECT_FALSE(tray->SetImageFromFile(t / "logo.ico"));
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(image.save(QString::fromStdString(t / "logo.ico"), "ICO"));
  EXPECT_TRUE(tray->SetImageFromFile(t / "logo.ico"));
  tray->SetMenuCaption(7, "ignored");  // past the menu: nothing happens
}

TEST(QtTray, MenuCaptionsShowAsWrittenAndChoicesArriveByPosition) {
  kv::test::EnsureQtApp();
  SimWindowsWorld w;
  QtShell shell(w.windows);
  std::vector<std::size_t> chosen;
  auto tray = shell.CreateTrayIcon({{{"Config & more", true}, {"About", false}, {"Exit", true}},
                                    "hint",
                                    [&](std::size_t i) { chosen.push_back(i); },
                                    nullptr});
  QSystemTrayIcon* icon = QtShell::QtObjectOf(*tray);
  ASSERT_NE(icon, nullptr);
  ASSERT_NE(icon->contextMenu(), nullptr);
  const QList<QAction*> actions = icon->contextMenu()->actions();
  ASSERT_EQ(actions.size(), 3);
  tray->SetMenuCaption(2, "R&D");
  // A caption with "&" makes no hot key and reads with its "&" (Qt shows "&&" as "&").
  for (QAction* a : {actions[0], actions[2]}) {
    EXPECT_TRUE(QKeySequence::mnemonic(a->text()).isEmpty()) << a->text().toStdString();
    EXPECT_EQ(a->text().count("&&"), 1) << a->text().toStdString();
  }
  EXPECT_FALSE(actions[1]->isVisible());
  actions[2]->trigger();
  actions[0]->trigger();
  EXPECT_EQ(chosen, (std::vector<std::size_t>{2, 0}));
}

TEST(QtTray, ADoubleClickIsOneClickHoweverTheDesktopReportsIt) {
  kv::test::EnsureQtApp();
  SimWindowsWorld w;
  QtShell shell(w.windows);
  int clicks = 0;
  auto tray = shell.CreateTrayIcon({{{"Config", true}}, "hint", nullptr, [&] { ++clicks; }});
  QSystemTrayIcon* icon = QtShell::QtObjectOf(*tray);
  ASSERT_NE(icon, nullptr);
  const auto nextGesture = [] {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(QApplication::doubleClickInterval() + 50));
  };
  emit icon->activated(QSystemTrayIcon::Trigger);  // Qt's own double click
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(clicks, 1);
  nextGesture();
  emit icon->activated(QSystemTrayIcon::Trigger);  // KDE's double click
  emit icon->activated(QSystemTrayIcon::Trigger);
  EXPECT_EQ(clicks, 2);
  nextGesture();
  emit icon->activated(QSystemTrayIcon::Context);  // the menu's gesture and the middle button
  emit icon->activated(QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(clicks, 2);
  emit icon->activated(QSystemTrayIcon::DoubleClick);  // a desktop that reports only that
  EXPECT_EQ(clicks, 3);
}

// The desktop's notification service as far as Notify goes: records each call's arguments and
// answers with ids of its own, on a private bus.
class FakeNotificationService : public QDBusVirtualObject {
 public:
  struct Call {
    QString app, icon, summary, body;
    uint replaces = 0;
    bool transient = false;
    int timeout = 0;
  };
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    if (m.member() != "Notify" || m.arguments().size() != 8) return false;
    const auto a = m.arguments();
    const QVariantMap hints = qdbus_cast<QVariantMap>(a[6]);
    calls.push_back({a[0].toString(), a[2].toString(), a[3].toString(), a[4].toString(),
                     a[1].toUInt(), hints.value("transient").toBool(), a[7].toInt()});
    bus.send(m.createReply(QVariant::fromValue(static_cast<uint>(100 + calls.size()))));
    return true;
  }
  std::vector<Call> calls;
};

Notification Note(std::string title, std::string body = "",
                  NotificationIcon icon = NotificationIcon::Information, std::string tag = "") {
  Notification n;
  n.title = std::move(title);
  n.body = std::move(body);
  n.icon = icon;
  n.tag = std::move(tag);
  return n;
}

bool SpinUntil(const std::function<bool()>& done, int limitMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

TEST(QtNotifications, GoToTheBusServiceAndATagReplacesItsLastNotification) {
  kv::test::EnsureQtApp();
  std::string why;
  if (kv::test::PrivateBusAddress(&why).empty()) GTEST_SKIP() << why;
  kv::test::BusConnection service, client;
  FakeNotificationService fake;
  ASSERT_TRUE(service.get().registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(service.get().registerVirtualObject("/org/freedesktop/Notifications", &fake));
  SimWindowsWorld w;
  QtShell shell(w.windows, client.get());
  ASSERT_TRUE(shell.ShowNotification(
      Note("Microphone muted", "", NotificationIcon::Information, "microphone")));
  ASSERT_TRUE(SpinUntil([&] { return fake.calls.size() == 1; }));
  // The answer (id 101) has to be back before the next notification can name it.
  SpinUntil([] { return false; }, 300);
  ASSERT_TRUE(shell.ShowNotification(
      Note("Microphone on", "", NotificationIcon::Information, "microphone")));
  ASSERT_TRUE(
      shell.ShowNotification(Note("Store locked", "kvstore holds it", NotificationIcon::Error)));
  ASSERT_TRUE(SpinUntil([&] { return fake.calls.size() == 3; }));
  EXPECT_EQ(fake.calls[0].app, "kvmon");
  EXPECT_EQ(fake.calls[0].summary, "Microphone muted");
  EXPECT_EQ(fake.calls[0].replaces, 0u);
  EXPECT_TRUE(fake.calls[0].transient);
  EXPECT_EQ(fake.calls[0].timeout, 4000);
  EXPECT_EQ(fake.calls[1].summary, "Microphone on");
  EXPECT_EQ(fake.calls[1].replaces, 101u);
  EXPECT_EQ(fake.calls[2].replaces, 0u);  // no tag: never replaces
  EXPECT_EQ(fake.calls[2].body, "kvstore holds it");
  EXPECT_EQ(fake.calls[2].icon, "dialog-error");
}

TEST(QtNotifications, WithoutAServiceOrABusNothingBreaks) {
  kv::test::EnsureQtApp();
  SimWindowsWorld w;
  QtShell noBus(w.windows);
  EXPECT_FALSE(noBus.ShowNotification(Note("Microphone muted")));
  std::string why;
  if (kv::test::PrivateBusAddress(&why).empty()) GTEST_SKIP() << why;
  kv::test::BusConnection client;
  ASSERT_FALSE(client.get().interface()->isServiceRegistered("org.freedesktop.Notifications"));
  QtShell shell(w.windows, client.get());
  // On its way; the bus's "no such service" answer comes back and changes nothing.
  EXPECT_TRUE(
      shell.ShowNotification(Note("Microphone muted", "", NotificationIcon::Information, "m")));
  SpinUntil([] { return false; }, 200);
  EXPECT_TRUE(
      shell.ShowNotification(Note("Microphone on", "", NotificationIcon::Information, "m")));
  SpinUntil([] { return false; }, 200);
}

TEST(QtTray, TheMuteBadgeMarksTheLowerRightOfTheImage) {
  kv::test::EnsureQtApp();
  QPixmap blue(64, 64);
  blue.fill(Qt::blue);
  const QIcon plain(blue);
  const QImage none = QtShell::BadgedIcon(plain, TrayBadge::None).pixmap(64, 64).toImage();
  const QImage muted =
      QtShell::BadgedIcon(plain, TrayBadge::MicrophoneMuted).pixmap(64, 64).toImage();
  EXPECT_EQ(none.pixelColor(10, 10), QColor(Qt::blue));
  EXPECT_EQ(none.pixelColor(44, 44), QColor(Qt::blue));
  EXPECT_EQ(muted.pixelColor(10, 10), QColor(Qt::blue));  // the image itself stays
  const QColor badge = muted.pixelColor(40, 52);          // on the disc, off its bar
  EXPECT_GT(badge.red(), 200);
  EXPECT_LT(badge.blue(), 80);
  // The tray icon takes a badge and gives it up again, also across a change of image.
  SimWindowsWorld w;
  QtShell shell(w.windows);
  auto tray = shell.CreateTrayIcon({{{"Exit", true}}, "hint", nullptr, nullptr});
  ASSERT_NE(tray, nullptr);
  tray->SetBadge(TrayBadge::MicrophoneMuted);
  tray->SetBadge(TrayBadge::None);
}

TEST(QtContentWindow, ShowsCentredAndHides) {
  kv::test::EnsureQtApp();
  SimWindowsWorld w;
  QtShell shell(w.windows);
  WindowContent content{"TKVMONMAIN", 504, 400, true, {}};
  content.elements.push_back({"BtnOK",
                              ElementKind::ImageButton,
                              -1,
                              208,
                              325,
                              94,
                              27,
                              "OK",
                              {"Myriad Pro", 13, true},
                              TextAlign::Center,
                              0xFFFFFFFFu,
                              {},
                              true});
  auto window = shell.CreateContentWindow(content, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->IsVisible());
  window->Show();
  EXPECT_TRUE(window->IsVisible());
  window->Hide();
  EXPECT_FALSE(window->IsVisible());
}

TEST(Kvmouse, CommandsMakeTheMouseReports) {
  using R = std::vector<std::vector<std::uint8_t>>;
  EXPECT_EQ(kv::kvmouse::ReportsFor("press", "18"),
            (R{{7, 0, 0, 0x04, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(kv::kvmouse::ReportsFor("profile", "3"), (R{{8, 1, 3, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(kv::kvmouse::ReportsFor("notify", "9"), (R{{8, 2, 9, 0, 0, 0, 0, 0}}));
  EXPECT_THROW(kv::kvmouse::ReportsFor("press", "24"), std::invalid_argument);
  EXPECT_THROW(kv::kvmouse::ReportsFor("press", "-1"), std::invalid_argument);
  EXPECT_THROW(kv::kvmouse::ReportsFor("profile", "x"), std::invalid_argument);
  EXPECT_THROW(kv::kvmouse::ReportsFor("click", "1"), std::invalid_argument);
  EXPECT_NE(kv::kvmouse::Send("/nonexistent/kvmouse.sock", {{7, 1}}), "");
}

TEST(VirtualMouse, ReportsSentByKvmouseAreReadFromItsInterfaceUntilItGoes) {
  TempDir t;
  HidrawHid hid(nullptr);
  const std::string socket = t / "mouse.sock";
  VirtualMouse mouse(hid, socket);
  auto list = hid.Interfaces();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ((*list)[0].path, VirtualMouse::kNodeName);
  auto dev = hid.Open(VirtualMouse::kNodeName, HidOpenMode::Overlapped);
  ASSERT_NE(dev, nullptr);
  auto caps = dev->Capabilities();
  ASSERT_TRUE(caps);
  EXPECT_EQ(caps->usagePage, 0xFFA0);
  EXPECT_EQ(caps->usage, 1);
  EXPECT_EQ(caps->inputReportByteLength, 8);
  EXPECT_EQ(kv::kvmouse::Send(socket, kv::kvmouse::ReportsFor("press", "3")), "");
  auto stop = hid.CreateStopEvent();
  std::vector<std::uint8_t> buf(8);
  ASSERT_EQ(dev->Read(buf, *stop, 0).status, HidReadStatus::Report);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{7, 0x08, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(dev->Read(buf, *stop, 0).status, HidReadStatus::Report);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{7, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_THROW(VirtualMouse(hid, t / "other.sock"), std::invalid_argument);  // one per service
  // The mouse has no feature reports: asking for one fails rather than inventing an answer.
  std::vector<std::uint8_t> feature = {9, 0, 0, 0};
  EXPECT_NE(dev->GetFeature(feature), 0u);
}

TEST(VirtualMouse, ItsReadersSeeItGoAsAnUnpluggedDevice) {
  TempDir t;
  HidrawHid hid(nullptr);
  auto mouse = std::make_unique<VirtualMouse>(hid, t / "mouse.sock");
  auto dev = hid.Open(VirtualMouse::kNodeName, HidOpenMode::Overlapped);
  ASSERT_NE(dev, nullptr);
  auto stop = hid.CreateStopEvent();
  std::vector<std::uint8_t> buf(8);
  auto pending = std::async(std::launch::async, [&] { return dev->Read(buf, *stop, 0); });
  mouse.reset();
  const auto r = pending.get();
  EXPECT_EQ(r.status, HidReadStatus::NotConnected);
  EXPECT_NE(dev->WriteOutput(std::vector<std::uint8_t>{7, 1}), 0u);
  EXPECT_EQ(hid.Interfaces()->size(), 0u);
  EXPECT_EQ(hid.Open(VirtualMouse::kNodeName, HidOpenMode::Overlapped), nullptr);
}

TEST(VirtualMouse, ADatagramIsOneReportOfTwoTo64Bytes) {
  using D = std::vector<std::uint8_t>;
  for (const D& d : {D{7}, D{}, D(65, 7)})
    EXPECT_FALSE(VirtualMouse::ReportFromDatagram(d)) << d.size() << " bytes";
  for (const D& d : {D{8, 1}, D{7, 1, 0, 0, 0, 0, 0, 0}, D(64, 7)})
    EXPECT_EQ(VirtualMouse::ReportFromDatagram(d), d);
}

// A bound datagram socket; `Abandon` leaves its file behind as a killed program does.
struct Listener {
  explicit Listener(const fs::path& p) : fd(socket(AF_UNIX, SOCK_DGRAM, 0)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ~Listener() { Abandon(); }
  void Abandon() {
    if (fd >= 0) close(std::exchange(fd, -1));
  }
  int fd;
};

TEST(VirtualMouse, TheSocketPathIsTakenOnlyFromAStaleSocket) {
  TempDir t;
  HidrawHid hid(nullptr);
  const fs::path file = t / "notes.txt";
  std::ofstream(file) << "keep me";
  EXPECT_THROW(VirtualMouse(hid, file), std::runtime_error);
  const fs::path link = t / "link.sock";
  fs::create_symlink(file, link);
  EXPECT_THROW(VirtualMouse(hid, link), std::runtime_error);
  std::ifstream in(file);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "keep me");
  EXPECT_TRUE(fs::is_symlink(link));

  // Someone listens there: refused, and their socket still works.
  const fs::path live = t / "live.sock";
  Listener other(live);
  EXPECT_THROW(VirtualMouse(hid, live), std::runtime_error);
  EXPECT_EQ(kv::kvmouse::Send(live, {{7, 1}}), "");

  // Left behind by a killed run: replaced, and the mouse hears on it.
  const fs::path stale = t / "stale.sock";
  Listener(stale).Abandon();
  ASSERT_TRUE(fs::is_socket(stale));
  {
    VirtualMouse mouse(hid, stale);
    EXPECT_EQ(kv::kvmouse::Send(stale, {{7, 1}}), "");
  }
  EXPECT_FALSE(fs::exists(stale));  // removed at the end
  EXPECT_EQ(hid.Interfaces()->size(), 0u);
}

TEST(VirtualMouse, WhatReplacedTheSocketMeanwhileIsNotRemovedAtTheEnd) {
  TempDir t;
  HidrawHid hid(nullptr);
  const fs::path path = t / "mouse.sock";
  {
    VirtualMouse mouse(hid, path);
    fs::remove(path);
    std::ofstream(path) << "new";
  }
  EXPECT_TRUE(fs::is_regular_file(path));
}

}  // namespace

namespace {

TEST(DeviceNotices, EachCollectionOfANodeArrivesAndLeavesOnTheMainLoop) {
  kv::test::EnsureQtApp();
  QtEventLoop loop;
  HidrawHid hid(nullptr);
  UdevDeviceNotifications devices(loop, hid);
  std::vector<std::pair<DeviceChangeKind, std::string>> seen;
  bool offMain = false;
  auto subscription = devices.Subscribe([&](const DeviceChange& c) {
    offMain |= !loop.IsMainThread();
    if (c.deviceInterface) seen.emplace_back(c.kind, c.path);
  });
  ASSERT_NE(subscription, nullptr);
  // Added and removed on another thread, as the virtual mouse's owner may do.
  std::thread([&] {
    auto node = std::make_shared<kv::test::HidrawTestNode>(
        "test/two", HidNodeIds{},
        std::vector<std::uint8_t>{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09,
                                  0x30, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0, 0x06,
                                  0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x07, 0x09,
                                  0x01, 0x75, 0x08, 0x95, 0x07, 0x81, 0x02, 0xC0});
    hid.AddOpener(node);
    hid.RemoveOpener(node);
  }).join();
  loop.Post([&] { loop.Quit(0); });
  loop.Run();
  EXPECT_FALSE(offMain);
  using K = DeviceChangeKind;
  EXPECT_EQ(seen, (std::vector<std::pair<K, std::string>>{{K::Arrival, "test/two#col01"},
                                                          {K::Arrival, "test/two#col02"},
                                                          {K::Removal, "test/two#col01"},
                                                          {K::Removal, "test/two#col02"}}));
}

}  // namespace
