#pragma once
// The HTML preview (wb): a web view that shows one mail as HTML and nothing else. The
// document is served by a URL scheme of our own, inline "cid:" parts come from the
// message file, scripts never run, and no remote content of a mail is ever fetched (a
// fetched image would tell the sender the mail was read). Only links to web pages and
// mail addresses are followed; where a click goes is the owner's decision.
#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineView>
#include <functional>

class QWebEngineProfile;
class MailSchemeHandler;
class MailRequestGuard;

class HtmlView : public QWebEngineView {
  Q_OBJECT
 public:
  // The scheme of our documents, and the scheme of a mail's inline parts.
  static inline const QByteArray kScheme = QByteArrayLiteral("qbmail");
  static inline const QByteArray kCidScheme = QByteArrayLiteral("cid");

  // Before the application object exists: the schemes and the shared GL contexts the
  // web engine needs.
  static void sPrepareApplication();

  explicit HtmlView(QWidget* parent = nullptr);
  ~HtmlView() override;

  // Shows an HTML text as the document of a message file (whose "cid:" parts it may use).
  void sShowDocument(const QString& html, const QString& messagePath);
  QString fMessagePath() const { return messagePath_; }
  QByteArray fDocument() const { return document_; }

  // A link click: true opens the address outside and keeps the document; false lets the
  // view navigate to it.
  std::function<bool(const QUrl&)> openOutside;

 private:
  friend class MailSchemeHandler;
  QWebEngineProfile* profile_ = nullptr;
  MailSchemeHandler* handler_ = nullptr;
  MailRequestGuard* guard_ = nullptr;
  QByteArray document_;
  QString messagePath_;
  quint64 serial_ = 0;
};
