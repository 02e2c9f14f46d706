// The Settings menu's mailer settings dialog.
#include <QTreeView>

#include "ui/main/Form1.h"
#include "ui/settings/frmSetC.h"
#include "store/mod_ini.h"

void Form1::mnuSetItem_0() {
  sStopAutoTimer();
  frmSetC dlg(settingsPath_, this);
  if (dlg.exec() == QDialog::Accepted) {
    // A one-account rotation starts again at account 1.
    autoRePosition_ = dlg.fOneAccountMode() ? 1 : 0;
  }
  // Whether saved or not, the list follows the stored stripes and the timer is re-armed.
  sSetStriped(mod_ini::fGetIniInt("Mail", "Stripe", 1, settingsPath_) != 0);
  if (ListView1_) ListView1_->viewport()->update();
  sStartAutoTimer();
}
