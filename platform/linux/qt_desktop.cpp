#include "platform/linux/qt_desktop.h"

#include <dlfcn.h>

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/path.h"
#include "base/strings.h"

namespace kv::platform::linux_ {
namespace fs = std::filesystem;
namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool Offscreen() { return QGuiApplication::platformName() == "offscreen"; }

// The image shown until a logo.ico replaces it: a small mouse outline.
QIcon DefaultIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
  p.setBrush(QColor(0xD0, 0x30, 0x30));
  p.drawRoundedRect(QRectF(8, 3, 16, 26), 8, 8);
  p.drawLine(QPointF(16, 3), QPointF(16, 13));
  return QIcon(pixmap);
}

// Menu captions show as written: Qt would take an "&" for the mark of a hot key.
QString MenuText(std::string_view caption) { return Q(caption).replace('&', "&&"); }

class QtTrayIcon : public TrayIcon {
 public:
  explicit QtTrayIcon(TrayIconSpec spec) : spec_(std::move(spec)) {
    for (std::size_t i = 0; i < spec_.menu.size(); ++i) {
      QAction* action = menu_.addAction(MenuText(spec_.menu[i].caption));
      action->setVisible(spec_.menu[i].visible);
      QObject::connect(action, &QAction::triggered, [this, i] {
        if (spec_.onMenuItem) spec_.onMenuItem(i);
      });
      actions_.push_back(action);
    }
    icon_.setIcon(DefaultIcon());
    icon_.setToolTip(Q(spec_.hint));
    icon_.setContextMenu(&menu_);
    QObject::connect(&icon_, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason why) { Activated(why); });
    icon_.show();
  }
  bool SetImageFromFile(std::string_view file) override {
    QImageReader reader(Q(file));
    const QImage image = reader.read();
    if (image.isNull()) return false;
    icon_.setIcon(QIcon(QPixmap::fromImage(image)));
    return true;
  }
  void SetHint(std::string_view hint) override { icon_.setToolTip(Q(hint)); }
  void SetMenuCaption(std::size_t index, std::string_view caption) override {
    if (index < actions_.size()) actions_[index]->setText(MenuText(caption));
  }
  QSystemTrayIcon& Icon() { return icon_; }
  // With a StatusNotifier host Qt hands this to the desktop's notification service.
  void ShowMessage(std::string_view title, std::string_view text) override {
    icon_.showMessage(Q(title), Q(text), QSystemTrayIcon::Warning);
  }

 private:
  // A double click is one click, however the desktop reports it (Qt: a trigger, then a double
  // click; KDE: two triggers): a report within the double-click interval of the click taken
  // is the same gesture. Otherwise the configurator would be started twice.
  void Activated(QSystemTrayIcon::ActivationReason why) {
    if (why != QSystemTrayIcon::Trigger && why != QSystemTrayIcon::DoubleClick) return;
    if (lastClick_.isValid() && lastClick_.elapsed() < QApplication::doubleClickInterval()) return;
    lastClick_.start();
    if (spec_.onClick) spec_.onClick();
  }

  TrayIconSpec spec_;
  QMenu menu_;
  QSystemTrayIcon icon_;
  std::vector<QAction*> actions_;
  QElapsedTimer lastClick_;
};

// Draws the content model: labels in their fonts and colours, images as plain panels (the
// platform has no pictures of its own for the model's image names), buttons with their text.
class ContentWidget : public QWidget {
 public:
  ContentWidget(const WindowContent& content, std::function<void(const std::string&)> onClick)
      : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Dialog), onClick_(std::move(onClick)) {
    SetContent(content);
  }
  void SetContent(const WindowContent& content) {
    content_ = content;
    setFixedSize(content.clientWidth, content.clientHeight);
    setWindowTitle(Q(content.className));
    update();
  }
  // Absolute rectangle of element `i`, its containers' offsets added.
  QRect Rect(std::size_t i) const {
    const auto& e = content_.elements[i];
    QRect r(e.x, e.y, e.width, e.height);
    int parent = e.parent, guard = 0;
    while (parent >= 0 && static_cast<std::size_t>(parent) < content_.elements.size() &&
           guard++ < 64) {
      r.translate(content_.elements[parent].x, content_.elements[parent].y);
      parent = content_.elements[parent].parent;
    }
    return r;
  }
  const WindowContent& Content() const { return content_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0x1E, 0x22, 0x2A));
    for (std::size_t i = 0; i < content_.elements.size(); ++i) {
      const auto& e = content_.elements[i];
      if (!e.visible) continue;
      const QRect r = Rect(i);
      switch (e.kind) {
        case ElementKind::Image:
        case ElementKind::ClickableImage:
          p.fillRect(r, e.kind == ElementKind::Image ? QColor(0x2A, 0x30, 0x3A)
                                                     : QColor(0x3A, 0x60, 0x90));
          break;
        case ElementKind::ImageButton: p.fillRect(r, QColor(0x50, 0x58, 0x68)); break;
        case ElementKind::Container: break;
        case ElementKind::Label: break;
      }
      if (!e.text.empty()) {
        QFont font(Q(e.font.face));
        if (e.font.size > 0) font.setPointSize(e.font.size);
        font.setBold(e.font.bold);
        p.setFont(font);
        p.setPen(QColor::fromRgba(e.color));
        const int align = (e.align == TextAlign::Center  ? Qt::AlignHCenter
                           : e.align == TextAlign::Right ? Qt::AlignRight
                                                         : Qt::AlignLeft) |
                          Qt::AlignVCenter;
        p.drawText(r, align, Q(e.text));
      }
    }
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    // The topmost clickable element under the pointer.
    for (std::size_t i = content_.elements.size(); i-- > 0;) {
      const auto& e = content_.elements[i];
      if (!e.visible ||
          (e.kind != ElementKind::ImageButton && e.kind != ElementKind::ClickableImage))
        continue;
      if (Rect(i).contains(event->position().toPoint())) {
        if (onClick_) onClick_(e.name);
        return;
      }
    }
  }

 private:
  WindowContent content_;
  std::function<void(const std::string&)> onClick_;
};

class QtContentWindow : public ContentWindow {
 public:
  QtContentWindow(const WindowContent& content, std::function<void(const std::string&)> onClick)
      : widget_(content, std::move(onClick)) {}
  void SetContent(const WindowContent& content) override { widget_.SetContent(content); }
  void Show() override {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      widget_.move(area.center() - QPoint(widget_.width() / 2, widget_.height() / 2));
    }
    widget_.show();
  }
  void Hide() override { widget_.hide(); }
  void BringToFront() override {
    widget_.raise();
    widget_.activateWindow();
  }
  bool IsVisible() const override { return widget_.isVisible(); }

 private:
  ContentWidget widget_;
};

}  // namespace

QSystemTrayIcon* QtShell::QtObjectOf(TrayIcon& icon) {
  auto* qt = dynamic_cast<QtTrayIcon*>(&icon);
  return qt ? &qt->Icon() : nullptr;
}

std::unique_ptr<TrayIcon> QtShell::CreateTrayIcon(TrayIconSpec spec) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
  return std::make_unique<QtTrayIcon>(std::move(spec));
}

std::unique_ptr<ContentWindow> QtShell::CreateContentWindow(
    const WindowContent& content, std::function<void(const std::string&)> onClick) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
  return std::make_unique<QtContentWindow>(content, std::move(onClick));
}

void QtShell::SetApplicationTitle(std::string_view title) {
  QGuiApplication::setApplicationDisplayName(Q(title));
}

bool QtShell::ShowAndRaise(WindowHandle window) {
  // Post of the null message only tests that the window is there; it changes nothing.
  return window != 0 && windows_.Post(window, WindowMessage{0, 0, 0});
}

std::string QtShell::ResolveProgram(std::string_view file) {
  std::string folder, name;
  path::SplitFolderAndName(file, folder, name);
  if (path::FileExists(std::string(file))) return std::string(file);
  std::string lower = AsciiLower(name);
  if (lower.ends_with(".exe")) lower.resize(lower.size() - 4);
  const std::string alt = folder + lower;
  return path::FileExists(alt) ? alt : "";
}

bool QtShell::Launch(std::string_view file, std::string_view workingDir, ShowStyle) {
  const std::string program = ResolveProgram(file);
  if (program.empty()) return false;
  return QProcess::startDetached(Q(program), {}, Q(workingDir));
}

bool QtShell::OpenUrl(std::string_view url, ShowStyle) {
  return QDesktopServices::openUrl(QUrl(Q(url)));
}

void QtMessageBoxes::ShowError(std::string_view text, std::string_view caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || Offscreen()) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    return;
  }
  QMessageBox::critical(nullptr, Q(caption), Q(text));
}

std::uint8_t QtKeyboard::KeyState(int vk) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return 0;
  const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
  Qt::KeyboardModifier want;
  switch (vk) {
    case 16:
    case 160:
    case 161: want = Qt::ShiftModifier; break;  // Shift, LShift, RShift
    case 17:
    case 162:
    case 163: want = Qt::ControlModifier; break;  // Ctrl
    case 18:
    case 164:
    case 165: want = Qt::AltModifier; break;  // Alt
    case 91:
    case 92: want = Qt::MetaModifier; break;  // Windows keys
    default: return 0;
  }
  return (mods & want) ? kDown : 0;
}

namespace {
class DlLibrary : public DynamicLibrary {
 public:
  explicit DlLibrary(void* handle) : handle_(handle) {}
  ~DlLibrary() override { dlclose(handle_); }
  void* Symbol(std::string_view name) override { return dlsym(handle_, std::string(name).c_str()); }

 private:
  void* handle_;
};
}  // namespace

std::string DlDynamicLibraries::PrivateLibraryDir(Paths& paths) {
#ifdef KV_PRIVATE_LIBDIR
  return paths.ExecutableDir() + KV_PRIVATE_LIBDIR;
#else
  (void)paths;
  return "";
#endif
}

std::unique_ptr<DynamicLibrary> DlDynamicLibraries::Load(std::string_view fileName) {
  const std::string name(fileName);
  if (name.empty()) return nullptr;
  void* handle = nullptr;
  if (name.find('/') != std::string::npos) {
    handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    // Beside the program (a build tree, a portable copy), then the installation's private
    // library folder, then the system's search.
    for (const std::string& folder : {paths_.ExecutableDir(), PrivateLibraryDir(paths_)}) {
      const std::string file = folder + name;
      if (!handle && !folder.empty() && path::FileExists(file))
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return handle ? std::make_unique<DlLibrary>(handle) : nullptr;
}

}  // namespace kv::platform::linux_
