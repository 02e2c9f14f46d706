#pragma once
// The mail list control (ListView1): a tree view that tells its owner when a key moved
// the current row (so the mail there is shown, as a click shows it) and when a drag it
// started has ended, however it ended.
#include <QKeyEvent>
#include <QTreeView>
#include <functional>

class MailListView : public QTreeView {
 public:
  using QTreeView::QTreeView;
  std::function<void()> currentMovedByKey;
  std::function<void()> dragEnded;

 protected:
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
