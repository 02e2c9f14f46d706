// Form1: the message view - header panel, text and HTML previews, the EUC view, the
// attachment list and its commands, and the Help menu.
#include <QDesktopServices>
#include <QFile>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>
#include <system_error>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/HtmlView.h"
#include "ui/main/MailListModel.h"
#include "ui/common/Footy.h"
#include "mail/mail.h"
#include "mail/readstart.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace {

constexpr int kHeaderRowHeight = 22;
constexpr int kHeaderHeight = 3 * kHeaderRowHeight + 8;
// The viewer shows this much of a text part at most; a bigger one is cut with a note.
constexpr size_t kShownBodyBytes = 1024 * 1024;
// A mail up to this size is read in the click; a bigger one on a worker thread, so that
// the window never waits for GMime to walk through a big attachment. Its text is shown
// from the file's first bytes when they hold it, before the attachments are listed.
constexpr std::uintmax_t kReadInPlaceBytes = 2 * 1024 * 1024;
constexpr size_t kTextFirstBytes = 4 * 1024 * 1024;

QString cut(const std::vector<std::string>& result, size_t index, size_t label) {
  if (index >= result.size() || result[index].size() <= label) return {};
  return QString::fromUtf8(result[index].data() + label, static_cast<qsizetype>(result[index].size() - label));
}

mail::MailResult readShown(const QString& path, std::string_view keys) {
  const std::string file = path.toStdString();
  const std::string folder = mailstore::fUtf8(mailstore::fPath(file).parent_path());
  return mail::fReadMailShown(file, keys, folder, kShownBodyBytes).result;
}

// Replaces the viewer's text, lifting its write protection only for that.
void setViewerText(const QString& text) {
  FootyWriteEnable(0, true);
  FootySetText(0, text);
  FootyWriteEnable(0, false);
}

}  // namespace

void Form1::sCreateView() {
  header_ = new QWidget(client_);
  header_->setObjectName(QStringLiteral("fraHeader"));
  auto* grid = new QGridLayout(header_);
  grid->setContentsMargins(2, 2, 2, 2);
  grid->setSpacing(2);
  cmd_ = new QPushButton(QStringLiteral("差出人"), header_);
  cmd_->setObjectName(QStringLiteral("cmd"));
  cmd_->setToolTip(QStringLiteral("返信します"));
  cmd_->setEnabled(false);  // until a mail is shown
  const QString labels[3] = {QString(), QStringLiteral("宛先"), QStringLiteral("件名")};
  for (int i = 0; i < 3; ++i) {
    txt_[i] = new QLineEdit(header_);
    txt_[i]->setObjectName(QStringLiteral("txt_%1").arg(i));
    txt_[i]->setReadOnly(true);
    txt_[i]->setFixedHeight(kHeaderRowHeight);
    if (i == 0) {
      grid->addWidget(cmd_, 0, 0);
    } else {
      grid->addWidget(new QLabel(labels[i], header_), i, 0);
    }
    grid->addWidget(txt_[i], i, 1);
  }
  auto* attachLabel = new QLabel(QStringLiteral("添付"), header_);
  grid->addWidget(attachLabel, 0, 2, Qt::AlignTop);
  List1_ = new QListWidget(header_);
  List1_->setObjectName(QStringLiteral("List1"));
  List1_->setToolTip(QStringLiteral("添付ファイルリスト"));
  grid->addWidget(List1_, 0, 3, 3, 1);
  grid->setColumnStretch(1, 3);
  grid->setColumnStretch(3, 1);

  // A double click on a line opens it; beside the lines it does nothing.
  connect(List1_, &QListWidget::itemDoubleClicked, this, [this] { sRunMenuItem(Menu::Attach, menuitem::attach::kOpen); });
  List1_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(List1_, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QListWidgetItem* item = List1_->itemAt(at);
    if (!item) return;
    List1_->setCurrentItem(item);
    fMenu(Menu::Attach)->popup(List1_->viewport()->mapToGlobal(at));
  });
}

QRect Form1::fLayoutHeaderPanel(const QRect& preview) {
  if (!header_) return preview;
  const int h = std::min(kHeaderHeight, std::max(0, preview.height()));
  header_->setGeometry(preview.x(), preview.y(), preview.width(), h);
  return QRect(preview.x(), preview.y() + h, preview.width(), std::max(0, preview.height() - h));
}

void Form1::sClearHeaderPanel() {
  for (QLineEdit* box : txt_) {
    if (box) box->clear();
  }
  if (List1_) List1_->clear();
}

void Form1::sShowTextView() {
  FootySetVisible(0, true);
  if (wb_) wb_->hide();
}

void Form1::ListView1_ItemClick() {
  const QModelIndex current = ListView1_->currentIndex();
  if (!current.isValid() || !ListView1_->selectionModel()->isRowSelected(current.row(), {})) return;
  const int row = current.row();
  sShowTextView();
  const MailRow& mail = listModel_->fRow(row);
  txt_[2]->setText(mail.subject);
  const QString path = mail.path;
  shownPath_ = path;
  cmd_->setEnabled(true);
  sShowMail(path);
  if (mail.icon == MailListModel::kRead) return;
  const std::filesystem::path file = mailstore::fPath(path.toStdString());
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

void Form1::sShowMail(const QString& path) {
  // A big mail still being read for the view is not wanted any more.
  for (auto* pending : findChildren<QFutureWatcher<mail::MailResult>*>(Qt::FindDirectChildrenOnly)) pending->cancel();
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(mailstore::fPath(path.toStdString()), ec);
  if (ec || size <= kReadInPlaceBytes) {
    sShowReadMail(readShown(path, "to:from:nofile:"));
    return;
  }
  // The worker touches nothing of the window: a result that comes after the window is
  // gone, or after another mail was clicked, is dropped.
  auto promise = std::make_shared<QPromise<mail::MailResult>>();
  auto* watcher = new QFutureWatcher<mail::MailResult>(this);
  connect(watcher, &QFutureWatcher<mail::MailResult>::resultReadyAt, this, [this, watcher, path](int index) {
    if (shownPath_ != path) return;
    const mail::MailResult r = watcher->resultAt(index);
    auto* values = std::get_if<std::vector<std::string>>(&r);
    if (index == 0 || !values) {
      sShowReadMail(r);
      return;
    }
    // The text is up already (the same text): only the attachments are added.
    List1_->clear();
    for (size_t i = 4; i < values->size(); ++i) List1_->addItem(cut(*values, i, 6));
  });
  connect(watcher, &QFutureWatcher<mail::MailResult>::finished, watcher, &QObject::deleteLater);
  watcher->setFuture(promise->future());
  promise->start();
  QThreadPool::globalInstance()->start([promise, path] {
    const std::string file = path.toStdString();
    if (auto start = mail::fReadMailShownStart(file, "to:from:nofile:", kShownBodyBytes, kTextFirstBytes))
      promise->addResult(mail::MailResult(std::move(*start)));
    if (!promise->isCanceled()) promise->addResult(readShown(path, "to:from:nofile:"));
    promise->finish();
  });
}

void Form1::sShowReadMail(const mail::MailResult& r) {
  auto* values = std::get_if<std::vector<std::string>>(&r);
  if (!values) {
    sSetStatus(1, QString::fromStdString(std::get<std::string>(r)));
    return;
  }
  setViewerText(cut(*values, 3, 6));
  txt_[0]->setText(cut(*values, 1, 6));
  txt_[1]->setText(cut(*values, 0, 4));
  List1_->clear();
  for (size_t i = 4; i < values->size(); ++i) List1_->addItem(cut(*values, i, 6));
}

HtmlView* Form1::fEnsureHtmlView() {
  if (wb_) return wb_;
  wb_ = new HtmlView(client_);
  wb_->openOutside = [this](const QUrl& url) {
    if (mod_ini::fGetIniInt("Mail", "URLOpen", 0, settingsPath_) != 1) return false;
    // Straight to the desktop's opener: the view lets only web and mail links through,
    // and a link's text must never be taken for a local file name.
    QDesktopServices::openUrl(url);
    return true;
  };
  wb_->hide();
  sLayout();
  return wb_;
}

void Form1::sShowHtml() {
  const QString path = fShownMailPath();
  if (path.isEmpty()) return;
  HtmlView* view = fEnsureHtmlView();
  view->show();
  view->raise();
  // The HTML part when the message has one, else the body as written.
  mail::MailResult r = readShown(path, "html:nofile:");
  FootySetVisible(0, false);
  if (auto* values = std::get_if<std::vector<std::string>>(&r)) view->sShowDocument(cut(*values, 2, 6), path);
}

void Form1::sShowEuc() {
  const QString path = fShownMailPath();
  if (path.isEmpty()) return;
  std::optional<std::string> text = mail::fReadEucFile(mailstore::fPath(path.toStdString()));
  if (!text) return;
  setViewerText(QString::fromStdString(*text));
  sSetStatus(1, QStringLiteral("変換処理完了"));
}

QString Form1::fExtractAttachment(int line) const {
  const QString path = fShownMailPath();
  if (path.isEmpty() || line < 0) return {};
  // Only the attachment asked for is decoded, the moment it is opened or saved.
  std::optional<std::string> file =
      mail::fExtractAttachment(path.toStdString(), static_cast<size_t>(line), fGetTempPath().toStdString());
  return file ? QString::fromStdString(*file) : QString();
}

void Form1::sOpenAttachment() {
  const QString file = fExtractAttachment(List1_->currentRow());
  if (file.isEmpty()) return;
  fShellOpen(file, QString(), QFileInfo(file).absolutePath());
}

void Form1::sSaveAttachment() {
  QListWidgetItem* item = List1_->currentItem();
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
  const QString extracted = fExtractAttachment(List1_->row(item));
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

void Form1::sInstallHelpCommands() {
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
