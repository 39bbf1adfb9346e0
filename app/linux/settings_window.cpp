#include "app/linux/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/embedded_languages.h"
#include "lang/translation.h"
#include "profile/records.h"

namespace kv::app {
namespace {

QString Tr(const char* text) { return QString::fromStdString(TranslateText(text)); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

SettingsWindow::SettingsWindow(SettingsService& service) : service_(service) {
  setObjectName("kvmonSettings");
  auto* layout = new QVBoxLayout(this);

  mouseBox_ = new QGroupBox(this);
  auto* mouse = new QVBoxLayout(mouseBox_);
  mouseSummary_ = new QLabel(mouseBox_);
  mouseSummary_->setObjectName("mouseSummary");
  mouseDetails_ = new QLabel(mouseBox_);
  mouseDetails_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  mouseFix_ = new QLabel(mouseBox_);
  mouseFix_->setObjectName("mouseFix");
  mouseFix_->setWordWrap(true);
  checkAgain_ = new QPushButton(mouseBox_);
  QObject::connect(checkAgain_, &QPushButton::clicked, [this] { Refresh(); });
  mouse->addWidget(mouseSummary_);
  mouse->addWidget(mouseDetails_);
  mouse->addWidget(mouseFix_);
  mouse->addWidget(checkAgain_, 0, Qt::AlignLeft);
  layout->addWidget(mouseBox_);

  profilesBox_ = new QGroupBox(this);
  auto* profiles = new QGridLayout(profilesBox_);
  onBoardProfile_ = new QLabel(profilesBox_);
  onBoardProfile_->setObjectName("onBoardProfile");
  profiles->addWidget(onBoardProfile_, 0, 0, 1, 3);
  for (int i = 0; i < kProfileCount; ++i) {
    profileNames_[i] = new QLabel(profilesBox_);
    muteLabels_[i] = new QLabel(profilesBox_);
    muteButtons_[i] = new QComboBox(profilesBox_);
    muteButtons_[i]->setObjectName(QString("muteButton%1").arg(i));
    // activated: the user's choice only, never a refill.
    QObject::connect(muteButtons_[i], &QComboBox::activated, [this, i](int row) {
      const int button = muteButtons_[i]->itemData(row).toInt();
      Change([this, i, button] { service_.SetMuteButton(i, button); });
    });
    profiles->addWidget(profileNames_[i], i + 1, 0);
    profiles->addWidget(muteLabels_[i], i + 1, 1);
    profiles->addWidget(muteButtons_[i], i + 1, 2);
  }
  layout->addWidget(profilesBox_);

  generalBox_ = new QGroupBox(this);
  auto* general = new QGridLayout(generalBox_);
  languageLabel_ = new QLabel(generalBox_);
  language_ = new QComboBox(generalBox_);
  language_->setObjectName("language");
  for (int l : {kLanguageCH, kLanguageUS}) language_->addItem(Q(LanguageName(l)), l);
  QObject::connect(language_, &QComboBox::activated, [this](int row) {
    const int l = language_->itemData(row).toInt();
    Change([this, l] { service_.SetLanguage(l); });
  });
  muteNotifications_ = new QCheckBox(generalBox_);
  muteNotifications_->setObjectName("muteNotifications");
  QObject::connect(muteNotifications_, &QCheckBox::clicked,
                   [this](bool on) { Change([this, on] { service_.SetMuteNotifications(on); }); });
  startAtLogin_ = new QCheckBox(generalBox_);
  startAtLogin_->setObjectName("startAtLogin");
  QObject::connect(startAtLogin_, &QCheckBox::clicked,
                   [this](bool on) { Change([this, on] { service_.SetStartAtLogin(on); }); });
  general->addWidget(languageLabel_, 0, 0);
  general->addWidget(language_, 0, 1);
  general->addWidget(muteNotifications_, 1, 0, 1, 2);
  general->addWidget(startAtLogin_, 2, 0, 1, 2);
  layout->addWidget(generalBox_);

  error_ = new QLabel(this);
  error_->setObjectName("error");
  error_->setWordWrap(true);
  error_->setStyleSheet("color: #b00020");
  error_->hide();
  layout->addWidget(error_);
  close_ = new QPushButton(this);
  QObject::connect(close_, &QPushButton::clicked, [this] { hide(); });
  layout->addWidget(close_, 0, Qt::AlignRight);

  Retranslate();
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::Open() {
  Refresh();
  show();
  raise();
  activateWindow();
}

void SettingsWindow::Refresh() { Populate(service_.Read()); }

void SettingsWindow::Change(const std::function<void()>& change) {
  try {
    change();
    error_->hide();
  } catch (const std::exception& e) {
    error_->setText(Tr("The change could not be made:") + " " + Q(e.what()));
    error_->show();
  }
  // What the store holds now, also after a refusal.
  Refresh();
}

void SettingsWindow::Retranslate() {
  setWindowTitle(Tr("Gaming Mouse Settings"));
  mouseBox_->setTitle(Tr("Mouse"));
  checkAgain_->setText(Tr("Check again"));
  profilesBox_->setTitle(Tr("Profiles"));
  generalBox_->setTitle(Tr("General"));
  languageLabel_->setText(Tr("Language:"));
  muteNotifications_->setText(Tr("Notify when the microphone is muted or unmuted"));
  startAtLogin_->setText(Tr("Start at login"));
  close_->setText(Tr("Close"));
  for (int i = 0; i < kProfileCount; ++i) muteLabels_[i]->setText(Tr("Microphone button:"));
  Populate(shown_);
}

void SettingsWindow::Populate(const SettingsSnapshot& s) {
  shown_ = s;
  mouseSummary_->setText(Q(MouseSummary(s.mouse)));
  QStringList details;
  for (const MouseInterfaceState& i : s.mouse.interfaces) {
    QString line = Q(i.hardwareIds.empty() ? i.path : i.hardwareIds.front());
    if (i.failure) line += " — " + Q(i.failure->detail);
    details << line;
  }
  mouseDetails_->setText(details.join("\n"));
  mouseDetails_->setVisible(!details.empty());
  const std::string fix = MouseFix(s.mouse);
  mouseFix_->setText(Q(fix));
  mouseFix_->setVisible(!fix.empty());

  onBoardProfile_->setText(
      Tr("On-board profile now active:") + " " +
      (s.onBoardProfile ? QString::number(*s.onBoardProfile + 1) : Tr("not recorded yet")));
  for (int i = 0; i < kProfileCount; ++i) {
    const ProfileState* p = nullptr;
    for (const ProfileState& candidate : s.profiles)
      if (candidate.index == i) p = &candidate;
    QString name = Tr("Profile") + " " + QString::number(i + 1);
    if (p && p->current) name += " " + Tr("(current)");
    profileNames_[i]->setText(name);
    const QSignalBlocker block(muteButtons_[i]);
    muteButtons_[i]->clear();
    muteButtons_[i]->setEnabled(p != nullptr && (p->storageType == 0 || p->storageType == 1));
    muteButtons_[i]->addItem(Tr("None"), -1);
    const int count = p ? p->buttonCount : 0;
    for (int b = 0; b < count; ++b)
      muteButtons_[i]->addItem(Tr("Button") + " " + QString::number(b), b);
    if (p && !p->muteButtons.empty()) {
      const int row = muteButtons_[i]->findData(p->muteButtons.front());
      if (row < 0)
        muteButtons_[i]->addItem(Tr("Button") + " " + QString::number(p->muteButtons.front()),
                                 p->muteButtons.front());
      muteButtons_[i]->setCurrentIndex(muteButtons_[i]->findData(p->muteButtons.front()));
    } else {
      muteButtons_[i]->setCurrentIndex(0);
    }
  }

  {
    const QSignalBlocker block(language_);
    language_->setCurrentIndex(language_->findData(s.language));
  }
  muteNotifications_->setEnabled(s.muteNotifications.has_value());
  muteNotifications_->setChecked(s.muteNotifications.value_or(false));
  if (!s.muteNotifications) muteNotifications_->setToolTip(Tr("(not available)"));
  startAtLogin_->setEnabled(s.startAtLogin.has_value());
  startAtLogin_->setChecked(s.startAtLogin.value_or(false));
  if (!s.storeError.empty()) {
    error_->setText(Q(s.storeError));
    error_->show();
  }
}

}  // namespace kv::app
