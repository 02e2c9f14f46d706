#include "ui/common/dialogparts.h"

#include <algorithm>

#include <QAction>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTranslator>

namespace dialogparts {

void sMarkFocus(QWidget* box, QLabel* label, bool focused) {
  QPalette p = box->palette();
  p.setColor(QPalette::Base, focused ? QColor(204, 255, 255) : QColor(Qt::white));
  box->setPalette(p);
  if (label) {
    QPalette lp = label->palette();
    lp.setColor(QPalette::WindowText, focused ? QColor(0, 0, 255) : QColor(Qt::black));
    label->setPalette(lp);
  }
}

QHBoxLayout* fOkCancelRow(QDialog* dialog, std::function<void()> onOk) {
  auto* ok = new QPushButton("OK", dialog);
  ok->setObjectName("cmdOK");
  ok->setToolTip("設定を保存して閉じる");
  ok->setDefault(true);
  auto* cancel = new QPushButton("キャンセル", dialog);
  cancel->setObjectName("cmdCancel");
  cancel->setToolTip("設定を保存せず閉じる");
  QObject::connect(ok, &QPushButton::clicked, dialog, std::move(onOk));
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

QMenu* fNewMenu(QWidget* owner, const char* caption, const char* name) {
  auto* menu = new QMenu(QString::fromUtf8(caption), owner);
  menu->setObjectName(QString::fromUtf8(name));
  menu->menuAction()->setObjectName(QString::fromUtf8(name) + QStringLiteral("Title"));
  return menu;
}

QAction* fAddMenuItem(QMenu* menu, const char* caption, const char* itemName, int index,
                      const char* shortcut, Qt::ShortcutContext context) {
  QAction* action = QString::fromUtf8(caption) == QLatin1String("-")
                        ? menu->addSeparator()
                        : menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(QStringLiteral("%1_%2").arg(QString::fromUtf8(itemName)).arg(index));
  if (*shortcut) {
    action->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
    action->setShortcutContext(context);
  }
  return action;
}

void sUseJapaneseQtTexts(QObject* application) {
  auto* japanese = new QTranslator(application);
  if (japanese->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(japanese);
}

QScrollArea* fScrollPage(QWidget* page) {
  auto* area = new QScrollArea;
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setWidget(page);
  return area;
}

void sGrowToShow(QWidget* window, QScrollArea* area) {
  QWidget* page = area->widget();
  const int width = area->viewport()->width();
  const int wanted = page->hasHeightForWidth() ? page->heightForWidth(width) : page->sizeHint().height();
  const int missing = std::max(0, wanted - area->viewport()->height());
  // The frame the window manager adds is not part of the window's height.
  const int frame = window->frameGeometry().height() - window->height();
  const QScreen* screen = window->screen();
  const int room = screen ? screen->availableGeometry().height() - frame : window->height() + missing;
  const int height = std::min(window->height() + missing, room);
  if (height != window->height()) window->resize(window->width(), height);
}

}  // namespace dialogparts
