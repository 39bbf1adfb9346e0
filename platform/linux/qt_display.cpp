#include "platform/linux/qt_display.h"

#include <QGuiApplication>
#include <QtGlobal>
#include <cstdlib>
#include <cstring>

namespace kv::platform::linux_ {
namespace {

QtMessageHandler previousHandler = nullptr;

// Qt says why each platform could not start; the caller says it once, in its own words.
void QuietAboutPlatforms(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (context.category && std::strncmp(context.category, "qt.qpa.", 7) == 0) return;
  if (previousHandler) previousHandler(type, context, text);
}

bool Set(const char* v) { return v && *v; }

}  // namespace

std::string QtPlatformsToTry(const char* qpaPlatform, const char* display,
                             const char* waylandDisplay) {
  if (Set(qpaPlatform)) return "";
  std::string list;
  if (Set(waylandDisplay)) list += "wayland;";
  if (Set(display)) list += "xcb;";
  return list + "offscreen";
}

DisplayChoice::DisplayChoice() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  display_ = Set(display) ? display : "";
  wayland_ = Set(wayland) ? wayland : "";
  const std::string platforms = QtPlatformsToTry(std::getenv("QT_QPA_PLATFORM"), display, wayland);
  if (platforms.empty()) return;
  fallback_ = true;
  setenv("QT_QPA_PLATFORM", platforms.c_str(), 1);
  previousHandler = qInstallMessageHandler(QuietAboutPlatforms);
}

DisplayChoice::~DisplayChoice() { Finish(); }

std::string DisplayChoice::Finish() {
  if (!fallback_ || finished_) return "";
  finished_ = true;
  qInstallMessageHandler(previousHandler);
  previousHandler = nullptr;
  // The programs started from here (the configurator) make their own choice again.
  unsetenv("QT_QPA_PLATFORM");
  if (QGuiApplication::platformName() != "offscreen") return "";
  if (display_.empty() && wayland_.empty())
    return "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
  std::string named;
  if (!wayland_.empty()) named = "WAYLAND_DISPLAY=" + wayland_;
  if (!display_.empty()) named += (named.empty() ? "" : ", ") + ("DISPLAY=" + display_);
  return "no display (" + named + " cannot be used)";
}

}  // namespace kv::platform::linux_
