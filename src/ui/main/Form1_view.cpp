// Form1: what the message view shows and the commands on it (the view itself is
// MessageView), and the Help menu.
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTreeView>
#include <QUrl>
#include <system_error>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"
#include "ui/main/MessageView.h"
#include "mail/mail.h"
#include "store/mailstore.h"

void Form1::createView() {
  view_ = new MessageView(client_);
  connect(view_, &MessageView::failed, this, [this](const QString& text) { sSetStatus(1, text); });
  connect(view_, &MessageView::relayout, this, &Form1::sLayout);
  connect(view_, &MessageView::attachmentActivated, this,
          [this] { sRunMenuItem(Menu::Attach, menuitem::attach::kOpen); });
  connect(view_, &MessageView::attachmentMenuRequested, this,
          [this](const QPoint& at) { fMenu(Menu::Attach)->popup(at); });
}

QLineEdit* Form1::fHeaderBox(int index) const { return view_->headerBox(index); }
QListWidget* Form1::fAttachList() const { return view_->attachments(); }
HtmlView* Form1::fHtmlView() const { return view_->htmlView(); }

void Form1::ListView1_ItemClick() {
  const QModelIndex current = ListView1_->currentIndex();
  if (!current.isValid() || !ListView1_->selectionModel()->isRowSelected(current.row(), {})) return;
  const int row = current.row();
  const MailRow& mail = listModel_->fRow(row);
  view_->show(mail.path, mail.subject);
  if (mail.icon == MailListModel::kRead) return;
  const std::filesystem::path file = mailstore::fPath(mail.path.toStdString());
  if (!mailstore::sMarkRead(file.parent_path(), mailstore::fUtf8(file.filename()))) {
    // icon.ini could not be read or written: the mail stays unread, and says so.
    sSetStatus(1, QStringLiteral("既読を保存できませんでした"));
    return;
  }
  listModel_->sSetIcon(row, MailListModel::kRead);
  QTreeWidgetItem* node = fNode(listedKey_);
  if (node && node->parent() && !FolderTree::fKey(node).startsWith(QString::fromUtf8(mailstore::kTrash))) {
    node->setData(0, FolderTree::kCountRole, QString::number(mailstore::fCountUnread(fNodeFolder(node))));
  }
  tv_->viewport()->update();
}

void Form1::sShowHtml() {
  const QString path = fShownMailPath();
  if (!path.isEmpty()) view_->showHtml(path);
}

void Form1::sShowEuc() {
  const QString path = fShownMailPath();
  if (!path.isEmpty() && view_->showEuc(path)) sSetStatus(1, QStringLiteral("変換処理完了"));
}

QString Form1::extractAttachment(int line) const {
  return MessageView::extractAttachment(fShownMailPath(), line, fGetTempPath());
}

void Form1::sOpenAttachment() {
  const QString file = extractAttachment(fAttachList()->currentRow());
  if (file.isEmpty()) return;
  fShellOpen(file, QString(), QFileInfo(file).absolutePath());
}

void Form1::sSaveAttachment() {
  QListWidgetItem* item = fAttachList()->currentItem();
  if (!item) return;
  QFileDialog dialog(this, QStringLiteral("名前を付けて保存"));
  dialog.setObjectName(QStringLiteral("dlgSave"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // "*" so that names without a dot show too (they do on Windows with *.*).
  dialog.setNameFilter(QStringLiteral("すべてのファイル(*.*) (*)"));
  dialog.setDirectory(QDir::homePath());
  dialog.selectFile(item->text());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString target = dialog.selectedFiles().first();
  const QString extracted = extractAttachment(fAttachList()->row(item));
  if (extracted.isEmpty()) return;
  // The user has agreed to replace an existing file; the extracted copy moves there.
  const std::filesystem::path from = mailstore::fPath(extracted.toStdString());
  const std::filesystem::path to = mailstore::fPath(target.toStdString());
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  if (ec) {
    // Another file system: copy, then drop the extracted file.
    if (std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec)) {
      std::filesystem::remove(from, ec);
    }
  }
}

void Form1::installHelpCommands() {
  // The online help and the home page are the user guide installed beside the program:
  // it works without a network and always matches this version.
  const QString guide = QString::fromStdString(mailstore::fUtf8(programDir_ / "guide" / "index.html"));
  // Where the desktop has no browser, the user is told where the guide lies.
  auto openGuide = [this, guide] {
    if (fShellOpen(guide, QString(), QString())) return;
    sMessage(kTitle, QStringLiteral("ブラウザを開けませんでした。ガイドは次の場所にあります:\n%1")
                         .arg(QDir::toNativeSeparators(guide)));
  };
  sSetMenuHandler(Menu::Help, menuitem::help::kOnlineHelp, openGuide);
  sSetMenuHandler(Menu::Help, menuitem::help::kHomePage, openGuide);
#ifdef _WIN32
  const std::filesystem::path update = programDir_ / "Update.exe";
#else
  const std::filesystem::path update = programDir_ / "Update";
#endif
  const QString program = QString::fromStdString(mailstore::fUtf8(update));
  if (QFile::exists(program)) {
    sSetMenuHandler(Menu::Help, menuitem::help::kUpdate, [this, program] { fShellOpen(program, QString(), QString()); });
  }
}
