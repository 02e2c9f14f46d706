#include "ui/common/ElidedLabel.h"

#include <QPainter>

ElidedLabel::ElidedLabel(QWidget* parent) : QFrame(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  sUpdateToolTip();
  update();
}

QString ElidedLabel::fShownText() const {
  return fontMetrics().elidedText(text_, Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const {
  const QMargins m = contentsMargins();
  return {fontMetrics().horizontalAdvance(text_) + m.left() + m.right(),
          fontMetrics().height() + m.top() + m.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, sizeHint().height()}; }

void ElidedLabel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, fShownText());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  sUpdateToolTip();
}

void ElidedLabel::sUpdateToolTip() { setToolTip(fShownText() == text_ ? QString() : text_); }
