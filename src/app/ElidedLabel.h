#pragma once
// A status bar panel whose text never sets the window's smallest width: a text longer
// than the panel is cut with "…" and shown whole as the panel's tool tip.
#include <QLabel>
#include <QString>

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent = nullptr) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(0);
  }

  void sSetText(const QString& text) {
    setText(text);
    sUpdateToolTip();
  }
  // The text as it is drawn now (cut to the panel's width).
  QString fShownText() const;
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void sUpdateToolTip();
};
