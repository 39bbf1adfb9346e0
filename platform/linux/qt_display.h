#pragma once
// The monitor's work needs no display. Without one (neither DISPLAY nor WAYLAND_DISPLAY set, or
// the one named cannot be opened) Qt would abort the program; instead it is started on its
// offscreen platform, and the program runs without the desktop's services (no tray icon).
#include <string>

namespace kv::platform::linux_ {

// The Qt platforms to try, in order, when the user named none (QT_QPA_PLATFORM unset or empty):
// the desktop's own, then "offscreen". "" when the user named one: that choice stands.
std::string QtPlatformsToTry(const char* qpaPlatform, const char* display,
                             const char* waylandDisplay);

// Made before the QApplication, finished once it exists.
class DisplayChoice {
 public:
  // Sets QT_QPA_PLATFORM to QtPlatformsToTry() of the environment and, while the QApplication
  // is being made, keeps Qt's own complaints about a display it cannot open off stderr.
  DisplayChoice();
  ~DisplayChoice();
  DisplayChoice(const DisplayChoice&) = delete;
  DisplayChoice& operator=(const DisplayChoice&) = delete;

  // Call after the QApplication exists: "" when a display is in use (or the user chose the
  // platform), else one sentence saying why there is none.
  std::string Finish();

 private:
  bool fallback_ = false;
  bool finished_ = false;
  std::string display_, wayland_;
};

}  // namespace kv::platform::linux_
