#include "ui/main/MessageView.h"

#include <QDesktopServices>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPromise>
#include <QPushButton>
#include <QThreadPool>
#include <QUrl>
#include <memory>
#include <system_error>

#include "mail/readstart.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "ui/common/Footy.h"
#include "ui/main/HtmlView.h"

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
constexpr std::string_view kShownKeys = "to:from:nofile:";

QString qs(const std::string& text) { return QString::fromStdString(text); }

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

MessageView::MessageView(QWidget* client) : QObject(client), client_(client) {
  panel_ = new QWidget(client);
  panel_->setObjectName(QStringLiteral("fraHeader"));
  auto* grid = new QGridLayout(panel_);
  grid->setContentsMargins(2, 2, 2, 2);
  grid->setSpacing(2);
  reply_ = new QPushButton(QStringLiteral("差出人"), panel_);
  reply_->setObjectName(QStringLiteral("cmd"));
  reply_->setToolTip(QStringLiteral("返信します"));
  reply_->setEnabled(false);  // until a mail is shown
  const QString labels[3] = {QString(), QStringLiteral("宛先"), QStringLiteral("件名")};
  for (int i = 0; i < 3; ++i) {
    boxes_[i] = new QLineEdit(panel_);
    boxes_[i]->setObjectName(QStringLiteral("txt_%1").arg(i));
    boxes_[i]->setReadOnly(true);
    boxes_[i]->setFixedHeight(kHeaderRowHeight);
    if (i == 0) {
      grid->addWidget(reply_, 0, 0);
    } else {
      grid->addWidget(new QLabel(labels[i], panel_), i, 0);
    }
    grid->addWidget(boxes_[i], i, 1);
  }
  grid->addWidget(new QLabel(QStringLiteral("添付"), panel_), 0, 2, Qt::AlignTop);
  attachments_ = new QListWidget(panel_);
  attachments_->setObjectName(QStringLiteral("List1"));
  attachments_->setToolTip(QStringLiteral("添付ファイルリスト"));
  grid->addWidget(attachments_, 0, 3, 3, 1);
  grid->setColumnStretch(1, 3);
  grid->setColumnStretch(3, 1);

  // A double click on a line opens it; beside the lines it does nothing.
  connect(attachments_, &QListWidget::itemDoubleClicked, this, &MessageView::attachmentActivated);
  attachments_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(attachments_, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QListWidgetItem* item = attachments_->itemAt(at);
    if (!item) return;
    attachments_->setCurrentItem(item);
    emit attachmentMenuRequested(attachments_->viewport()->mapToGlobal(at));
  });
}

QRect MessageView::layout(const QRect& preview) {
  const int h = std::min(kHeaderHeight, std::max(0, preview.height()));
  panel_->setGeometry(preview.x(), preview.y(), preview.width(), h);
  const QRect rest(preview.x(), preview.y() + h, preview.width(), std::max(0, preview.height() - h));
  if (html_) html_->setGeometry(rest);
  return rest;
}

void MessageView::clear() {
  shownPath_.clear();
  reply_->setEnabled(false);  // no mail shown: nothing to reply to
  setViewerText(QString());
  for (QLineEdit* box : boxes_) box->clear();
  attachments_->clear();
}

void MessageView::showText() {
  FootySetVisible(0, true);
  if (html_) html_->hide();
}

void MessageView::show(const QString& path, const QString& subject) {
  showText();
  boxes_[2]->setText(subject);
  shownPath_ = path;
  reply_->setEnabled(true);
  // A big mail still being read for the view is not wanted any more.
  for (auto* pending : findChildren<QFutureWatcher<mail::MailResult>*>(Qt::FindDirectChildrenOnly)) pending->cancel();
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(mailstore::fPath(path.toStdString()), ec);
  if (ec || size <= kReadInPlaceBytes) {
    showParts(readShown(path, kShownKeys));
    return;
  }
  // The worker touches nothing of the window: a result that comes after another mail
  // was clicked is dropped.
  auto promise = std::make_shared<QPromise<mail::MailResult>>();
  auto* watcher = new QFutureWatcher<mail::MailResult>(this);
  connect(watcher, &QFutureWatcher<mail::MailResult>::resultReadyAt, this, [this, watcher, path](int index) {
    if (shownPath_ != path) return;
    const mail::MailResult r = watcher->resultAt(index);
    auto* values = std::get_if<std::vector<std::string>>(&r);
    if (index == 0 || !values) {
      showParts(r);
      return;
    }
    // The text is up already (the same text): only the attachments are added.
    attachments_->clear();
    for (const std::string& name : mail::fPartsOf(*values).files) attachments_->addItem(qs(name));
  });
  connect(watcher, &QFutureWatcher<mail::MailResult>::finished, watcher, &QObject::deleteLater);
  watcher->setFuture(promise->future());
  promise->start();
  QThreadPool::globalInstance()->start([promise, path] {
    const std::string file = path.toStdString();
    if (auto start = mail::fReadMailShownStart(file, kShownKeys, kShownBodyBytes, kTextFirstBytes))
      promise->addResult(mail::MailResult(std::move(*start)));
    if (!promise->isCanceled()) promise->addResult(readShown(path, kShownKeys));
    promise->finish();
  });
}

void MessageView::showParts(const mail::MailResult& result) {
  auto* values = std::get_if<std::vector<std::string>>(&result);
  if (!values) {
    emit failed(qs(std::get<std::string>(result)));
    return;
  }
  const mail::MailParts parts = mail::fPartsOf(*values);
  setViewerText(qs(parts.body));
  boxes_[0]->setText(qs(parts.header("from")));
  boxes_[1]->setText(qs(parts.header("to")));
  attachments_->clear();
  for (const std::string& name : parts.files) attachments_->addItem(qs(name));
}

HtmlView* MessageView::ensureHtmlView() {
  if (html_) return html_;
  html_ = new HtmlView(client_);
  html_->openOutside = [this](const QUrl& url) {
    if (mod_ini::fGetIniInt("Mail", "URLOpen", 0, settingsPath_) != 1) return false;
    // Straight to the desktop's opener: the view lets only web and mail links through,
    // and a link's text must never be taken for a local file name.
    QDesktopServices::openUrl(url);
    return true;
  };
  html_->hide();
  emit relayout();
  return html_;
}

void MessageView::showHtml(const QString& path) {
  HtmlView* view = ensureHtmlView();
  view->show();
  view->raise();
  // The HTML part when the message has one, else the body as written.
  mail::MailResult r = readShown(path, "html:nofile:");
  FootySetVisible(0, false);
  if (auto* values = std::get_if<std::vector<std::string>>(&r)) view->sShowDocument(qs(mail::fPartsOf(*values).body), path);
}

bool MessageView::showEuc(const QString& path) {
  std::optional<std::string> text = mail::fReadEucFile(mailstore::fPath(path.toStdString()));
  if (!text) return false;
  setViewerText(qs(*text));
  return true;
}

QString MessageView::extractAttachment(const QString& path, int line, const QString& folder) {
  if (path.isEmpty() || line < 0) return {};
  std::optional<std::string> file = mail::fExtractAttachment(path.toStdString(), static_cast<size_t>(line), folder.toStdString());
  return file ? qs(*file) : QString();
}
