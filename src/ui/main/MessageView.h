#pragma once
// The message view: the header panel (the 差出人 button, 宛先 and 件名), the attachment
// list, the text preview (editor 0) and the HTML preview. It shows one mail file at a
// time and knows which; the main window lays it out and gives it its commands.
#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <filesystem>

#include "mail/mail.h"

class HtmlView;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

class MessageView : public QObject {
  Q_OBJECT
 public:
  // The panes are made on `client`.
  explicit MessageView(QWidget* client);
  // "URLOpen" is read from there when a link in the HTML preview is clicked.
  void setSettingsPath(std::filesystem::path settingsPath) { settingsPath_ = std::move(settingsPath); }

  // Shows a listed mail: the subject the list has at once, the rest read from the file
  // (a big mail on a worker thread, its text first, its attachments after).
  void show(const QString& path, const QString& subject);
  // Shows nothing; the reply button waits for a mail.
  void clear();
  // The file shown; empty when none is.
  const QString& shownPath() const { return shownPath_; }

  // The mail's HTML part (or its body as written) in the HTML preview.
  void showHtml(const QString& path);
  // The file's text read as EUC-JP in the text preview; false when it cannot be read.
  bool showEuc(const QString& path);
  // Back to the text preview from the HTML one.
  void showText();
  // Decodes the attachment on `line` of the list of the mail `path` into `folder`: the
  // file's path, or empty when it fails. Only the one asked for is decoded.
  static QString extractAttachment(const QString& path, int line, const QString& folder);

  // Places the header panel at the top of `preview` and the HTML preview below it; the
  // rest of `preview`, which the text preview takes.
  QRect layout(const QRect& preview);

  QLineEdit* headerBox(int index) const { return boxes_[index]; }
  QListWidget* attachments() const { return attachments_; }
  QPushButton* replyButton() const { return reply_; }
  // The HTML preview; null until it is first used.
  HtmlView* htmlView() const { return html_; }

 signals:
  // A mail could not be read: what went wrong, for the status bar.
  void failed(const QString& text);
  // The HTML preview was made: the panes want laying out again.
  void relayout();
  void attachmentActivated();
  void attachmentMenuRequested(const QPoint& globalPos);

 private:
  void showParts(const mail::MailResult& result);
  HtmlView* ensureHtmlView();

  QWidget* client_;
  std::filesystem::path settingsPath_;
  QWidget* panel_ = nullptr;
  QPushButton* reply_ = nullptr;
  std::array<QLineEdit*, 3> boxes_{};
  QListWidget* attachments_ = nullptr;
  HtmlView* html_ = nullptr;
  QString shownPath_;
};
