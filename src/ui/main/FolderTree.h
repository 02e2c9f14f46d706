#pragma once
// The folder tree control (tv): nodes carry their key, stored count and image number;
// selection follows mouse presses only; a delegate draws each folder's count after its
// name; label edits and dropped files are handed to the owner. A key that moves the
// current node reports it, so the owner lists that folder as a click would.
#include <QList>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <functional>

class FolderTree : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr int kKeyRole = Qt::UserRole;
  static constexpr int kCountRole = Qt::UserRole + 1;  // text; empty = no count
  static constexpr int kImageRole = Qt::UserRole + 2;
  static constexpr int kSelectedImageRole = Qt::UserRole + 3;

  explicit FolderTree(QWidget* parent = nullptr);

  // Asked before a label edit starts; refusing keeps the label as it is.
  std::function<bool(QTreeWidgetItem*)> canRename;
  // Asked with the new text when an edit ends; false keeps the old text.
  std::function<bool(QTreeWidgetItem*, const QString&)> rename;

  static QString fKey(const QTreeWidgetItem* item);

  // The width that shows every node and the standard folders of an account (even before
  // there is one) whole, name and a count of up to three digits, in the tree's own font
  // and style; `height` decides whether a vertical scroll bar needs room too.
  int fNaturalWidth(int height) const;

 signals:
  void nodeMousePressed(QTreeWidgetItem* item, Qt::MouseButton button, const QPoint& globalPos);
  void nodeKeySelected(QTreeWidgetItem* item);
  void dragEntered();
  void dragLeft();  // the drag went elsewhere or was cancelled
  void dragMovedOver(QTreeWidgetItem* item);
  void filesDropped(QTreeWidgetItem* item, const QList<QUrl>& urls);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

 private:
  // A click on the label of the node already selected renames it, once the time for a
  // double click has passed without one (F2 renames at once).
  QTreeWidgetItem* pressedSelected_ = nullptr;
  QTreeWidgetItem* renameItem_ = nullptr;
  QTimer renameTimer_;
};

class FolderTreeDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit FolderTreeDelegate(FolderTree* tree);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 private:
  FolderTree* tree_;
};
