#pragma once
// The desktop services of the filing rules, done the Qt way: web addresses go to the
// default browser, programs start with an argument list (never through a shell), and
// the sibling browser is reached through the main window.
#include <string>

#include "receive/desktop.h"

class Form1;

class QtDesktop : public receive::DesktopServices {
 public:
  explicit QtDesktop(Form1* form) : form_(form) {}
  void sOpenUrl(const std::string& url) override;
  void sSendToBrowser(const std::string& url) override;
  void sStartProgram(const std::string& program) override;

 private:
  Form1* form_;
};
