#include "ui/main/HtmlView.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "mail/mail.h"

namespace {

bool isOwnScheme(const QUrl& url) {
  const QByteArray scheme = url.scheme().toLatin1().toLower();
  return scheme == HtmlView::kScheme || scheme == HtmlView::kCidScheme;
}

bool isBlank(const QUrl& url) { return url.toString().toLower() == QLatin1String("about:blank"); }

// A mail may link to web pages and mail addresses. Anything else (file:, a network
// share, a scheme some local program registered) would let a mail start things on
// this machine, so such a click goes nowhere.
bool isFollowableLink(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                           scheme == QLatin1String("mailto"));
}

// Prefixed to every document: the charset we serve, and a policy that allows only our
// own schemes for anything the document would load by itself.
const QByteArray kDocumentHead = QByteArrayLiteral(
    "<meta charset=\"utf-8\">"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "img-src qbmail: cid:; style-src 'unsafe-inline' qbmail: cid:; font-src qbmail: cid:\">\n");

}  // namespace

// Serves the current document and the inline parts of its message.
class MailSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  explicit MailSchemeHandler(HtmlView* view) : QWebEngineUrlSchemeHandler(view), view_(view) {}

  void requestStarted(QWebEngineUrlRequestJob* job) override {
    const QUrl url = job->requestUrl();
    QByteArray bytes, type;
    if (url.scheme().toLower().toLatin1() == HtmlView::kScheme) {
      bytes = view_->document_;
      type = QByteArrayLiteral("text/html");
    } else {
      auto part = mail::fReadPartByContentId(view_->messagePath_.toStdString(),
                                             url.toString(QUrl::FullyEncoded).toStdString());
      if (!part) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
      }
      bytes = QByteArray::fromStdString(part->bytes);
      type = QByteArray::fromStdString(part->mediaType);
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(type, buffer);
  }

 private:
  HtmlView* view_;
};

// Blocks every load a mail's document would start by itself towards anything but our
// own schemes: images, styles, frames, fonts, prefetches. Pages the user navigated to
// on purpose load as usual.
class MailRequestGuard : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (isOwnScheme(info.requestUrl())) return;
    if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
        info.navigationType() == QWebEngineUrlRequestInfo::NavigationTypeLink) {
      return;  // a link the user clicked, already allowed by the page
    }
    const QUrl first = info.firstPartyUrl();
    const QString scheme = first.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) return;
    info.block(true);
  }
};

namespace {

// Link clicks follow the owner; nothing else may take the view away from the mail.
class MailPage : public QWebEnginePage {
 public:
  MailPage(QWebEngineProfile* profile, HtmlView* view) : QWebEnginePage(profile, view), view_(view) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    if (isOwnScheme(url) || isBlank(url)) return true;
    // Whoever asks - a click, a page, a frame - no other scheme is followed: the engine
    // would hand one it cannot show to the desktop.
    if (!isFollowableLink(url)) return false;
    if (type == NavigationTypeLinkClicked && isMainFrame) {
      return !(view_->openOutside && view_->openOutside(url));
    }
    // A page the user went to may go on by itself; a mail may not (refreshes, form
    // posts, frames pointing elsewhere).
    const QUrl current = this->url();
    return !(current.isEmpty() || isBlank(current) || isOwnScheme(current));
  }

 private:
  HtmlView* view_;
};

}  // namespace

void HtmlView::sPrepareApplication() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  for (const QByteArray& name : {kScheme, kCidScheme}) {
    QWebEngineUrlScheme scheme(name);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
  }
}

HtmlView::HtmlView(QWidget* parent) : QWebEngineView(parent) {
  setObjectName(QStringLiteral("wb"));
#ifndef _WIN32
  // The engine's sandbox refuses to start as root. Only our own engine goes without it:
  // the switch is read when the engine starts, here, and is removed before anything
  // else this program starts could inherit it.
  const bool root = ::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
  if (root) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
  profile_ = new QWebEngineProfile(this);  // off the record: no cache, no cookies on disk
  profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  handler_ = new MailSchemeHandler(this);
  profile_->installUrlSchemeHandler(kScheme, handler_);
  profile_->installUrlSchemeHandler(kCidScheme, handler_);
  guard_ = new MailRequestGuard(this);
  profile_->setUrlRequestInterceptor(guard_);

  QWebEngineSettings* s = profile_->settings();
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);  // no <a ping>
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);

  setPage(new MailPage(profile_, this));
  setContextMenuPolicy(Qt::NoContextMenu);
  setUrl(QUrl(QStringLiteral("about:blank")));
#ifndef _WIN32
  // The engine has read the switch by now.
  if (root) qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
#endif
}

HtmlView::~HtmlView() {
  // The page must go before its profile.
  delete page();
}

void HtmlView::sShowDocument(const QString& html, const QString& messagePath) {
  document_ = kDocumentHead + html.toUtf8();
  messagePath_ = messagePath;
  // A new address per document, so the engine never shows a stale one.
  setUrl(QUrl(QStringLiteral("%1:/mail/%2").arg(QString::fromLatin1(kScheme)).arg(++serial_)));
}
