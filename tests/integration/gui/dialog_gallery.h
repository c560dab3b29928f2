#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QString>

class QWidget;

namespace sentrel::testing {

// One page of one window as the user sees it.
struct GalleryPage {
  QWidget& window;
  QString window_name;  // "HostForm", "OptionsForm", ...
  QString page;         // the page's key, or the window's mode
};

using PageVisitor = std::function<void(const GalleryPage&)>;

// Every dialog of the program, made as the program makes them (with
// stand-ins for the desktop, the channels and the files), opened through
// their own commands and shown page by page.
class DialogGallery {
 public:
  explicit DialogGallery(const std::string& languageFolder);
  ~DialogGallery();

  // Applies the language file `language` ("English", "German", ...) to
  // every window, as a confirmed options dialog does.
  void ApplyLanguage(const std::string& language);

  // Opens each window in turn and calls `visit` on each of its pages while
  // it is on the screen; closes it again without storing anything.
  void VisitPages(const PageVisitor& visit);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace sentrel::testing
