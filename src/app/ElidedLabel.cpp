#include "app/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>

QString ElidedLabel::fShownText() const {
  const int room = contentsRect().width() - 2 * margin() - 2 * indent();
  return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, room));
}

QSize ElidedLabel::minimumSizeHint() const { return QSize(0, QLabel::minimumSizeHint().height()); }

QSize ElidedLabel::sizeHint() const { return QSize(0, QLabel::sizeHint().height()); }

void ElidedLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect().adjusted(margin(), margin(), -margin(), -margin()),
                        QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                        isEnabled(), fShownText(), foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  sUpdateToolTip();
}

void ElidedLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) sUpdateToolTip();
}

void ElidedLabel::sUpdateToolTip() { setToolTip(fShownText() == text() ? QString() : text()); }
