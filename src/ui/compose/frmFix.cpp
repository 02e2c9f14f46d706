#include "ui/compose/frmFix.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "compose/phrases.h"

namespace {

const QString kTitle = QStringLiteral("定型文の登録");

// Phrases live in the window with "\n" line breaks, in the core with CR LF.
QString fromCore(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
std::string toCore(const QString& text) {
  return QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString();
}

}  // namespace

frmFix* frmFix::sOpen(const std::filesystem::path& settingsPath, QWidget* owner) {
  auto* window = new frmFix(settingsPath, owner);
  window->setWindowModality(Qt::ApplicationModal);
  window->show();
  return window;
}

frmFix::frmFix(std::filesystem::path settingsPath, QWidget* owner)
    : QDialog(owner), settingsPath_(std::move(settingsPath)) {
  setObjectName(QStringLiteral("frmFix"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(kTitle);
  if (owner) setWindowIcon(owner->windowIcon());

  lv = new QTreeWidget(this);
  lv->setObjectName(QStringLiteral("lv"));
  lv->setHeaderLabels({QStringLiteral("定型文")});
  lv->setRootIsDecorated(false);
  lv->setSelectionBehavior(QAbstractItemView::SelectRows);
  lv->setStyleSheet(
      QStringLiteral("QTreeView::item { border: 1px solid #d9d9d9; }"
                     "QTreeView::item:selected { background: palette(highlight);"
                     " color: palette(highlighted-text); }"));
  lv->installEventFilter(this);
  txt = new QPlainTextEdit(this);
  txt->setObjectName(QStringLiteral("txt"));

  const std::pair<QString, QString> buttons[] = {
      {QStringLiteral("OK"), QStringLiteral("設定を保存して閉じる")},
      {QStringLiteral("キャンセル"), QStringLiteral("設定を保存せず閉じる")},
      {QStringLiteral("追加"), QStringLiteral("定型文を新規追加")},
      {QStringLiteral("編集"), QStringLiteral("選択している定型文を入力した設定に変更")},
      {QStringLiteral("削除"), QStringLiteral("選択している定型文を削除")},
      {QStringLiteral("クリア"), QStringLiteral("テキストボックスのクリア")},
  };
  auto* row = new QHBoxLayout;
  for (int i = 0; i < 6; ++i) {
    cmdMenu_[i] = new QPushButton(buttons[i].first, this);
    cmdMenu_[i]->setObjectName(QStringLiteral("cmdMenu_%1").arg(i));
    cmdMenu_[i]->setToolTip(buttons[i].second);
    cmdMenu_[i]->setAutoDefault(false);
    connect(cmdMenu_[i], &QPushButton::clicked, this, [this, i] { cmdMenu_Click(i); });
  }
  for (int i : {2, 3, 4, 5}) row->addWidget(cmdMenu_[i]);
  row->addStretch();
  row->addWidget(cmdMenu_[0]);
  row->addWidget(cmdMenu_[1]);
  auto* root = new QVBoxLayout(this);
  root->addWidget(lv, 3);
  root->addWidget(txt, 2);
  root->addLayout(row);
  resize(520, 420);

  for (const std::string& phrase : phrases::fLoad(settingsPath_))
    lv->addTopLevelItem(new QTreeWidgetItem(QStringList{fromCore(phrase)}));
  connect(lv, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item) txt->setPlainText(item->text(0));
  });
  // A click on the phrase already selected loads it again (after the text was changed).
  connect(lv, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    if (item) txt->setPlainText(item->text(0));
  });
}

void frmFix::cmdMenu_Click(int index) {
  QTreeWidgetItem* current = lv->currentItem();
  switch (index) {
    case 0:
      return sSave();
    case 1:
      return reject();
    case 2:
      if (!txt->toPlainText().isEmpty())
        lv->addTopLevelItem(new QTreeWidgetItem(QStringList{txt->toPlainText()}));
      return;
    case 3:
      if (current) current->setText(0, txt->toPlainText());
      return;
    case 4:
      return sDeleteRow();
    case 5:
      return txt->clear();
  }
}

void frmFix::sDeleteRow() { delete lv->currentItem(); }

void frmFix::sSave() {
  std::vector<std::string> list;
  for (int i = 0; i < lv->topLevelItemCount(); ++i)
    list.push_back(toCore(lv->topLevelItem(i)->text(0)));
  if (!phrases::fSave(settingsPath_, list)) {
    // Closing would throw the edits away as if they had been kept.
    const QString text = QStringLiteral("定型文を保存できませんでした");
    if (messageBox) return messageBox(text);
    QMessageBox(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, this).exec();
    return;
  }
  accept();
}

bool frmFix::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lv && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    sDeleteRow();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
