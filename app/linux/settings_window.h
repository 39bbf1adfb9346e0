#pragma once
// kvmon's own settings window on Linux (Qt Widgets), for a desktop without the configurator:
// the mouse's state with what to do about it, the active on-board profile, the stored profiles
// with the button that toggles the microphone in each, the language, mute notifications and
// start at login. Every text goes through the translation lookup, so the window speaks the
// monitor's language and follows it when it changes.
//
// Widgets carry object names for tests and accessibility: "mouseSummary", "mouseFix",
// "onBoardProfile", "muteButton0" to "muteButton4", "language", "muteNotifications",
// "startAtLogin", "error".
#include <QWidget>
#include <functional>
#include <memory>

#include "app/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kv::app {

class SettingsWindow : public QWidget {
 public:
  explicit SettingsWindow(SettingsService& service);
  ~SettingsWindow() override;

  // Reads everything afresh, then shows the window and brings it to the front.
  void Open();
  // Reads everything afresh (the mouse, the store, the switches).
  void Refresh();
  // Sets every text again in the current language.
  void Retranslate();

 private:
  void Change(const std::function<void()>& change);
  void Populate(const SettingsSnapshot& s);

  SettingsService& service_;
  SettingsSnapshot shown_;
  QGroupBox* mouseBox_;
  QLabel* mouseSummary_;
  QLabel* mouseDetails_;
  QLabel* mouseFix_;
  QPushButton* checkAgain_;
  QGroupBox* profilesBox_;
  QLabel* onBoardProfile_;
  QLabel* profileNames_[5];
  QLabel* muteLabels_[5];
  QComboBox* muteButtons_[5];
  QGroupBox* generalBox_;
  QLabel* languageLabel_;
  QComboBox* language_;
  QCheckBox* muteNotifications_;
  QCheckBox* startAtLogin_;
  QLabel* error_;
  QPushButton* close_;
};

}  // namespace kv::app
