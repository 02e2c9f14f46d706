#pragma once
// The desktop's notification service (freedesktop notifications over D-Bus), for the
// new-mail notice on desktops without a tray. A click on a notice shown by us is
// reported as clicked().
#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>

class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit DesktopNotifier(QObject* parent = nullptr);
  // Shows the notice; false when no service on the session bus took it.
  bool fNotify(const QString& title, const QString& text);

 signals:
  void clicked();

 private slots:
  void sActionInvoked(uint id, const QString& action);

 private:
  QDBusConnection bus_;
  bool listening_ = false;
  QSet<uint> shown_;
};
