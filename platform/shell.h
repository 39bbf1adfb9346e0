#pragma once
// Shell services: the notification-area (tray) icon with its popup menu, a borderless content
// window drawn from a content model (the About window), showing and raising another program's
// window, and the shell's "open" of a program or an address.
//
// Threads: every call is made on the main thread, and every event (clicks, menu choices) is
// delivered on the main thread through the event loop. Nothing here throws.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kv::platform {

// ---------------------------------------------------------------------------------------------
// Tray icon.

struct TrayMenuItem {
  std::string caption;
  bool visible = true;  // a hidden item exists but is not shown in the menu
};

struct TrayIconSpec {
  std::vector<TrayMenuItem> menu;  // popup menu items, in order; no automatic hot keys
  std::string hint;                // tooltip
  // The user chose menu item `index` (its position in `menu`).
  std::function<void(std::size_t index)> onMenuItem;
  // The user clicked the icon (a single click; the popup menu has its own gesture).
  std::function<void()> onClick;
};

class TrayIcon {
 public:
  virtual ~TrayIcon() = default;  // removes the icon
  // Replaces the image by the icon file at `path`. False, keeping the current image, when the
  // file cannot be read as an icon. Until a successful call the platform's default image shows.
  virtual bool SetImageFromFile(std::string_view path) = 0;
  virtual void SetHint(std::string_view hint) = 0;
  // Caption of the menu item at `index`; an index past the menu is ignored.
  virtual void SetMenuCaption(std::size_t index, std::string_view caption) = 0;
  // A short message that comes from the icon and goes away by itself (a balloon, or the
  // desktop's notification).
  virtual void ShowMessage(std::string_view title, std::string_view text) = 0;
};

// ---------------------------------------------------------------------------------------------
// Content window: a borderless window of fixed client size, centred on the screen when shown
// and not scaled with the screen's resolution. Its content is a list of elements that the
// platform draws in order (later elements on top); positions are in pixels relative to the
// element's container (`parent`, an index into the list, or -1 for the client area).

enum class ElementKind {
  Image,           // a picture filling its rectangle
  ImageButton,     // a button drawn with images for its normal, hot and pressed states and a text
  Container,       // no fill and no outline: only positions its children
  Label,           // one line of text
  ClickableImage,  // a picture that reports clicks
};

enum class TextAlign { Left, Center, Right };

struct Font {
  std::string face;
  int size = 0;  // points
  bool bold = false;
};

struct ContentElement {
  std::string name;  // unique within the content; clicks are reported by name
  ElementKind kind = ElementKind::Label;
  int parent = -1;
  int x = 0, y = 0, width = 0, height = 0;
  std::string text;  // already translated
  Font font;
  TextAlign align = TextAlign::Left;
  std::uint32_t color = 0xFF000000u;  // text colour, 0xAARRGGBB
  // Image names: a platform maps them to its own pictures and draws a plain substitute for a
  // name it does not know. For an ImageButton: normal, hot, pressed.
  std::vector<std::string> images;
  bool visible = true;
};

struct WindowContent {
  std::string className;  // the window's class name
  int clientWidth = 0, clientHeight = 0;
  bool transparent = false;  // the scene has no background of its own
  std::vector<ContentElement> elements;
};

class ContentWindow {
 public:
  virtual ~ContentWindow() = default;  // destroys the window
  // Replaces the content (same elements, new texts after a language change, ...).
  virtual void SetContent(const WindowContent& content) = 0;
  virtual void Show() = 0;  // shows it centred on the screen; hidden windows stay hidden
  virtual void Hide() = 0;
  virtual void BringToFront() = 0;
  virtual bool IsVisible() const = 0;
};

// ---------------------------------------------------------------------------------------------

enum class ShowStyle { Show, ShowNormal };

class Shell {
 public:
  virtual ~Shell() = default;
  // nullptr when the platform has no notification area. Where the area exists but refuses the
  // icon for now (at the start of a session, before the taskbar runs), the icon is returned and
  // shows once the area announces itself.
  virtual std::unique_ptr<TrayIcon> CreateTrayIcon(TrayIconSpec spec) = 0;
  // Created hidden. `onClick` receives the name of a clicked ImageButton or ClickableImage.
  // nullptr when the window cannot be created.
  virtual std::unique_ptr<ContentWindow> CreateContentWindow(
      const WindowContent& content, std::function<void(const std::string& element)> onClick) = 0;
  // The application's title (task switcher, message boxes).
  virtual void SetApplicationTitle(std::string_view title) = 0;
  // Shows the window (it may have been hidden) and brings it to the foreground. False when the
  // window does not exist.
  virtual bool ShowAndRaise(WindowHandle window) = 0;
  // Starts the program at `path` through the shell's "open", with no parameters and
  // `workingDir` as working directory. False when it could not be started.
  virtual bool Launch(std::string_view path, std::string_view workingDir, ShowStyle style) = 0;
  // Opens an address (a web page) with the user's handler for it. False on failure.
  virtual bool OpenUrl(std::string_view url, ShowStyle style) = 0;
};

}  // namespace kv::platform
