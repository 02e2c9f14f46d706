#pragma once
// A one-line status text that never asks for more room than it is given: a text too long
// for its width is cut with "…", and the whole text is its tooltip. A plain QLabel would
// make its window at least as wide as the longest text it ever showed.
#include <QFrame>
#include <QString>

class ElidedLabel : public QFrame {
  Q_OBJECT
 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  void setText(const QString& text);
  const QString& text() const { return text_; }
  // What is drawn at the present width.
  QString fShownText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void sUpdateToolTip();
  QString text_;
};
