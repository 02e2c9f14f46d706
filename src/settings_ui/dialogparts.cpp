#include "settings_ui/dialogparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

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

}  // namespace dialogparts
