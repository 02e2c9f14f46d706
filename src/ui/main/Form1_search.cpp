// Form1: the search box over the mail list, and the File menu's import and export.
#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidgetItem>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"
#include "ui/main/MailSearch.h"
#include "ui/main/TransferProgress.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

namespace {

QString utf8(const std::filesystem::path& p) { return QString::fromStdString(mailstore::fUtf8(p)); }
std::filesystem::path path(const QString& s) { return mailstore::fPath(s.toStdString()); }

}  // namespace

void Form1::installSearchAndTransfer() {
  new MailSearch(*this);
  QMenu* file = fMenu(Menu::File);
  // Before the separator above 終了.
  QAction* before = fMenuItem(Menu::File, menuitem::file::kLastSeparator);
  auto* importAction = new QAction(QStringLiteral("メールの取り込み(&I)..."), file);
  importAction->setObjectName(QStringLiteral("mnuFileImport"));
  importAction->setStatusTip(QStringLiteral("mbox ファイル、Maildir、.eml ファイルのフォルダから選択フォルダへ取り込みます"));
  auto* exportAction = new QAction(QStringLiteral("フォルダの書き出し(&O)..."), file);
  exportAction->setObjectName(QStringLiteral("mnuFileExport"));
  exportAction->setStatusTip(QStringLiteral("選択フォルダを mbox ファイルか .eml ファイルのフォルダへ書き出します"));
  file->insertAction(before, importAction);
  file->insertAction(before, exportAction);
  connect(importAction, &QAction::triggered, this, [this] { importMail(); });
  connect(exportAction, &QAction::triggered, this, [this] { exportFolder(); });
}

std::filesystem::path Form1::transferFolder() const {
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node) return {};
  std::filesystem::path folder = fNodeFolder(node);
  if (folder.empty()) {  // an account node: its inbox
    const int number = folderTree::fNodeAccount(FolderTree::fKey(node).toStdString());
    if (number > 0) folder = mailstore::fAccountFolder(accountPrefix_, number) / mailstore::fPath(mailstore::kInbox);
  }
  return folder;
}

void Form1::importMail() {
  const std::filesystem::path folder = transferFolder();
  if (folder.empty() || receiving_) return;
  QMessageBox ask(QMessageBox::Question, QStringLiteral("メールの取り込み"),
                  QStringLiteral("「%1」へ取り込みます。取り込む元を選んでください。").arg(utf8(folder.filename())),
                  QMessageBox::Cancel, this);
  QPushButton* mbox = ask.addButton(QStringLiteral("mbox ファイル..."), QMessageBox::AcceptRole);
  QPushButton* dir = ask.addButton(QStringLiteral("フォルダ (Maildir / .eml)..."), QMessageBox::AcceptRole);
  ask.exec();
  QString source;
  if (ask.clickedButton() == mbox) {
    source = QFileDialog::getOpenFileName(this, QStringLiteral("mbox ファイルを選択"));
  } else if (ask.clickedButton() == dir) {
    source = QFileDialog::getExistingDirectory(this, QStringLiteral("Maildir または .eml ファイルのフォルダを選択"));
  }
  if (source.isEmpty()) return;
  const transfer::ImportResult result = transferui::fImportWithProgress(this, path(source), folder);
  sMailCount();
  if (QTreeWidgetItem* listed = fNode(listedKey_); listed && fNodeFolder(listed) == folder) sShowNode(listed);
  const QString summary = transferui::fImportSummary(result);
  sSetStatus(1, summary);
  if (!result.error.empty() || result.truncated) sMessage(QStringLiteral("メールの取り込み"), summary);
}

void Form1::exportFolder() {
  QTreeWidgetItem* node = tv_->currentItem();
  const std::filesystem::path folder = node ? fNodeFolder(node) : std::filesystem::path();
  if (folder.empty()) return;
  QMessageBox ask(QMessageBox::Question, QStringLiteral("フォルダの書き出し"),
                  QStringLiteral("「%1」を書き出します。形式を選んでください。").arg(utf8(folder.filename())),
                  QMessageBox::Cancel, this);
  QPushButton* mbox = ask.addButton(QStringLiteral("mbox ファイル..."), QMessageBox::AcceptRole);
  QPushButton* eml = ask.addButton(QStringLiteral(".eml ファイルのフォルダ..."), QMessageBox::AcceptRole);
  ask.exec();
  QString target;
  if (ask.clickedButton() == mbox) {
    target = QFileDialog::getSaveFileName(this, QStringLiteral("書き出し先の mbox ファイル"),
                                          utf8(folder.filename()) + QStringLiteral(".mbox"),
                                          QStringLiteral("mbox (*.mbox)"));
    if (!target.isEmpty() && !target.endsWith(QStringLiteral(".mbox"), Qt::CaseInsensitive))
      target += QStringLiteral(".mbox");
  } else if (ask.clickedButton() == eml) {
    const QString parent = QFileDialog::getExistingDirectory(this, QStringLiteral("書き出し先のフォルダ"));
    if (!parent.isEmpty()) target = utf8(path(parent) / folder.filename());
  }
  if (target.isEmpty()) return;
  const transfer::ExportResult result = transferui::fExportWithProgress(this, folder, path(target));
  QString summary = QStringLiteral("%1件書き出しました").arg(result.exported);
  if (result.cancelled) summary = QStringLiteral("書き出しを中止しました");
  if (!result.error.empty()) summary += QStringLiteral("。") + QString::fromStdString(result.error);
  sSetStatus(1, summary);
  if (!result.error.empty()) sMessage(QStringLiteral("フォルダの書き出し"), summary);
}
