#pragma once
// What the receive core asks of the desktop. The program implements it with Qt; the core
// never opens, starts or hands on anything by itself, so tests can record the calls.
#include <string>

namespace receive {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;
  // Opens a web address with the system's default browser.
  virtual void sOpenUrl(const std::string& url) = 0;
  // Hands a web address to the sibling browser program (its window, or starts it).
  virtual void sSendToBrowser(const std::string& url) = 0;
  // Starts a program or opens a file named by the user's own rule.
  virtual void sStartProgram(const std::string& program) = 0;
};

}  // namespace receive
