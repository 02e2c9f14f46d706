#include "ui/main/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kAnswerWithinMs = 2000;  // a service that is started on demand needs a moment
}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent), bus_(QDBusConnection::sessionBus()) {}

bool DesktopNotifier::fNotify(const QString& title, const QString& text) {
  if (!bus_.isConnected()) return false;
  if (!listening_) {
    listening_ = bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                              SLOT(sActionInvoked(uint, QString)));
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  // The "default" action is the click on the notice itself.
  call << QStringLiteral("Quillbrook") << 0u << QStringLiteral("mail-unread") << title << text
       << QStringList{QStringLiteral("default"), QStringLiteral("開く")} << QVariantMap() << -1;
  const QDBusReply<uint> reply = bus_.call(call, QDBus::Block, kAnswerWithinMs);
  if (!reply.isValid()) return false;
  shown_.insert(reply.value());
  return true;
}

void DesktopNotifier::sActionInvoked(uint id, const QString& action) {
  if (shown_.contains(id) && action == QStringLiteral("default")) emit clicked();
}
