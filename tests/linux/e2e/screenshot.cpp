// kv_screenshot FILE.png: the whole X screen, for the desktop end-to-end run's artifacts.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kv_screenshot FILE.png\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "kv_screenshot: cannot grab the screen into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
