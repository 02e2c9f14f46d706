#pragma once
// The desktop, done the Qt way: files and web addresses go to the desktop's opener,
// programs start with an argument list (never through a shell), and the sibling browser
// (a program beside this one) is handed the addresses the filing rules send it.
#include <QString>
#include <filesystem>
#include <string>

#include "receive/desktop.h"

class QWidget;

namespace desktop {

// The program's name in captions and message boxes.
inline constexpr char kTitle[] = "Quillbrook";

// Opens `file` as the desktop would: an executable starts with `parameters` as its one
// argument in `folder` (its own folder when empty); anything else goes to the opener.
// False when nothing could be started.
bool shellOpen(const QString& file, const QString& parameters = QString(), const QString& folder = QString());

}  // namespace desktop

class QtDesktop : public receive::DesktopServices {
 public:
  // programDir: where the sibling browser lives. window: the window that hands it over.
  QtDesktop(std::filesystem::path programDir, QWidget* window)
      : programDir_(std::move(programDir)), window_(window) {}
  void sOpenUrl(const std::string& url) override;
  void sSendToBrowser(const std::string& url) override;
  void sStartProgram(const std::string& program) override;

 private:
  std::filesystem::path programDir_;
  QWidget* window_;
};
