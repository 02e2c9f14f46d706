// Form1: layout of the panes, splitter dragging, window state and column widths.
#include <QFrame>
#include <QHeaderView>
#include <QMenuBar>
#include <QStyleOptionViewItem>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QTreeView>
#include <algorithm>
#include <cmath>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MessageView.h"
#include "ui/common/Footy.h"
#include "store/folderTree.h"
#include "store/mod_ini.h"

void Form1::sLayout() {
  if (isMinimized() || !client_) return;
  const int sbh = statusBar()->isVisible() ? statusBar()->height() : 0;
  const int sw = client_->width();
  const int sh = client_->height() + sbh;  // the client area includes the status bar
  if (sw <= 0 || sh - sbh <= 0) return;

  split0_->setGeometry(split0_->x(), 0, 4, sh - sbh);
  const int listLeft = split0_->x() + 4;
  split2_->setGeometry(listLeft, split2_->y(), std::max(0, sw - listLeft), 4);
  tv_->setGeometry(0, 0, split0_->x(), split0_->height());
  ListView1_->setGeometry(split2_->x(), 0, split2_->width(), split2_->y());
  const QRect preview = view_->layout(QRect(ListView1_->x(), split2_->y() + split2_->height(),
                                                 ListView1_->width(),
                                                 sh - ListView1_->height() - split2_->height() - sbh));
  FootySetPos(0, preview.x(), preview.y(), preview.width(), preview.height());
  // The search box takes the top of the list's place.
  if (QWidget* bar = client_->findChild<QWidget*>(QStringLiteral("searchBar"), Qt::FindDirectChildrenOnly)) {
    const int h = std::min(bar->sizeHint().height(), split2_->y());
    bar->setGeometry(split2_->x(), 0, split2_->width(), h);
    ListView1_->setGeometry(split2_->x(), h, split2_->width(), split2_->y() - h);
  }
  updateNoAccountHint();
  // Panel 1 takes the rest of the status bar by its stretch: a width fixed from the
  // window's would keep the window from ever getting narrower.
}

void Form1::sDragSplitter(int index, int offset) {
  const int sbh = statusBar()->isVisible() ? statusBar()->height() : 0;
  const int sw = client_->width();
  const int sh = client_->height() + sbh;
  if (index == 0) {
    split0_->move(folderTree::fClampSplit(split0_->x() + offset, 75, sw - 75), split0_->y());
  } else {
    split2_->move(split2_->x(), folderTree::fClampSplit(split2_->y() + offset, 75, sh - 125));
  }
  sLayout();
}

bool Form1::splitterEvent(int index, QEvent* event) {
  QFrame* bar = fSplitBar(index);
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
      dragging_ = true;
      bar->setBackgroundRole(QPalette::Dark);
      return true;
    case QEvent::MouseMove: {
      if (!dragging_) return false;
      QPointF p = static_cast<QMouseEvent*>(event)->position();
      sDragSplitter(index, static_cast<int>(std::lround(index == 0 ? p.x() : p.y())));
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (!dragging_) return false;
      bar->setBackgroundRole(QPalette::Button);
      dragging_ = false;
      return true;
    default:
      return false;
  }
}

double Form1::twipsPerPixelX() const {
  QScreen* s = screen();
  double dpi = s ? s->logicalDotsPerInchX() : 96.0;
  return dpi > 0 ? 1440.0 / dpi : 15.0;
}

double Form1::twipsPerPixelY() const {
  QScreen* s = screen();
  double dpi = s ? s->logicalDotsPerInchY() : 96.0;
  return dpi > 0 ? 1440.0 / dpi : 15.0;
}

void Form1::sRestoreWindowState(const std::filesystem::path& ini) {
  long state = mod_ini::fGetIniInt("Mail", "WinState", 0, ini);
  // The normal place is set in every state, so restoring a minimized or maximized
  // window brings it back where it was last seen normal.
  const double tx = twipsPerPixelX(), ty = twipsPerPixelY();
  int x = static_cast<int>(std::lround(mod_ini::fGetIniInt("Mail", "X", 0, ini) / tx));
  int y = static_cast<int>(std::lround(mod_ini::fGetIniInt("Mail", "Y", 0, ini) / ty));
  int w = static_cast<int>(std::lround(mod_ini::fGetIniInt("Mail", "W", 9600, ini) / tx));
  int h = static_cast<int>(std::lround(mod_ini::fGetIniInt("Mail", "H", 6400, ini) / ty));
  // X, Y, W and H are the whole window, frame included: the frame's share comes off the
  // inner size as soon as the frame is known.
  move(x, y);
  pendingFrameSize_ = QSize(std::max(w, 1), std::max(h, 1));
  resize(pendingFrameSize_);
  if (isVisible()) applyFrameSize(true);
  if (state == 1) {
    setWindowState(Qt::WindowMinimized);
  } else if (state == 2) {
    setWindowState(Qt::WindowMaximized);
  } else {
    setWindowState(Qt::WindowNoState);
  }
}

void Form1::applyFrameSize(bool last) {
  if (!pendingFrameSize_.isValid() || !isVisible()) return;
  if (size() != pendingFrameSize_ && frameGeometry().size() != pendingFrameSize_) {
    pendingFrameSize_ = QSize();  // sized otherwise since: that size stands
    return;
  }
  const QSize frame = frameGeometry().size() - size();
  // A window shown maximized or minimized keeps the inner size until it is normal again.
  if (windowState() == Qt::WindowNoState) resize((pendingFrameSize_ - frame).expandedTo(QSize(1, 1)));
  if (last || !frame.isNull()) pendingFrameSize_ = QSize();
}

void Form1::sSaveWindowState(const std::filesystem::path& ini) {
  int state = isMinimized() ? 1 : isMaximized() ? 2 : 0;
  mod_ini::fWriteIniString("Mail", "WinState", std::to_string(state), ini);
  if (state != 0) return;
  const double tx = twipsPerPixelX(), ty = twipsPerPixelY();
  auto write = [&](const char* key, double twips) {
    mod_ini::fWriteIniString("Mail", key, std::to_string(std::lround(twips)), ini);
  };
  write("X", pos().x() * tx);
  write("Y", pos().y() * ty);
  const QSize whole = frameGeometry().size();
  write("H", whole.height() * ty);
  write("W", whole.width() * tx);
}

int Form1::fDefaultTreeWidth() const {
  // The height the tree will get, near enough: the window less its bars.
  const int height = this->height() - menuBar()->sizeHint().height() - statusBar()->sizeHint().height();
  const int natural = tv_->fNaturalWidth(height);
  // A very long account or folder name scrolls instead of taking the window.
  return std::clamp(natural, 100, std::max(100, width() * 2 / 5));
}

std::array<int, 3> Form1::fDefaultColumnWidths() const {
  return ListView1_->defaultColumnWidths(width() - split0_->x() - 4);
}

void Form1::sLoadColumnWidths() {
  const std::array<int, 3> defaults = fDefaultColumnWidths();
  for (int c = 0; c < 3; ++c) {
    std::string key = "Col" + std::to_string(c + 1);
    long w = mod_ini::fGetIniInt("Mail", key, defaults[c], settingsPath_);
    if (w > 0) ListView1_->setColumnWidth(c, static_cast<int>(w));
  }
}

void Form1::sSaveColumnWidths() {
  for (int c = 0; c < 3; ++c) {
    std::string key = "Col" + std::to_string(c + 1);
    mod_ini::fWriteIniString("Mail", key, std::to_string(ListView1_->columnWidth(c)), settingsPath_);
  }
}
