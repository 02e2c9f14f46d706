#pragma once
// The mail list control (ListView1): a tree view that tells its owner when a key moved
// the current row (so the mail there is shown, as a click shows it) and when a drag it
// started has ended, however it ended.
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QTreeView>
#include <functional>

class MailListView : public QTreeView {
 public:
  using QTreeView::QTreeView;
  std::function<void()> currentMovedByKey;
  std::function<void()> dragEnded;

  // The grid between rows and columns, as in a report-style list.
  QColor fGridColor() const {
    QStyleOption option;
    option.initFrom(this);
    return QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  }

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
    QTreeView::drawRow(painter, option, index);
    painter->save();
    painter->setPen(fGridColor());
    const QRect r = option.rect;
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    for (int c = 0; c < header()->count(); ++c) {
      const int x = header()->sectionViewportPosition(c) + header()->sectionSize(c) - 1;
      painter->drawLine(x, r.top(), x, r.bottom());
    }
    painter->restore();
  }
  void keyPressEvent(QKeyEvent* event) override {
    const QPersistentModelIndex before = currentIndex();
    QTreeView::keyPressEvent(event);
    if (currentIndex().row() != before.row() && currentMovedByKey) currentMovedByKey();
  }
  void startDrag(Qt::DropActions supportedActions) override {
    QTreeView::startDrag(supportedActions);
    if (dragEnded) dragEnded();
  }
};
