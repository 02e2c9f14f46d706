#pragma once
// The folder tree control (tv): it builds its nodes from the store, one per account and
// folder, each carrying its key, count and image number, and finds them by key; it counts
// the folders' unread mail (a big store's counts fill in from a worker thread). Selection
// follows mouse presses only; a delegate draws each folder's count after its
// name; label edits and dropped files are handed to the owner. A key that moves the
// current node reports it, so the owner lists that folder as a click would.
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class FolderTree : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr int kKeyRole = Qt::UserRole;
  static constexpr int kCountRole = Qt::UserRole + 1;  // text; empty = no count
  static constexpr int kImageRole = Qt::UserRole + 2;
  static constexpr int kSelectedImageRole = Qt::UserRole + 3;

  explicit FolderTree(QWidget* parent = nullptr);
  ~FolderTree() override;

  // The store shown: the program folder and the prefix of its account folders.
  void setStore(std::filesystem::path programDir, std::filesystem::path accountPrefix);
  // Builds every node from the disk again; the counts follow (see startCounts).
  void rebuild();
  // Adds a node; null when the key is taken or the parent is not there. `count` is
  // folderTree::kNoCount for none; an account node never shows one.
  QTreeWidgetItem* addNode(const QString& parentKey, const QString& key, const QString& text, int image,
                           int selectedImage, int count);
  // Adds the nodes of the folders under `dir` that are not in the tree yet.
  void addSubFolders(const std::filesystem::path& dir, const QString& parentKey);
  // Removes a node and the nodes under it.
  void removeNode(QTreeWidgetItem* node);
  QTreeWidgetItem* node(const QString& key) const { return nodes_.value(key); }
  static QTreeWidgetItem* rootOf(QTreeWidgetItem* node);
  // The node's folder on disk; empty for an account node.
  std::filesystem::path folderOf(QTreeWidgetItem* node) const;

  // The folder nodes' unread counts (node key, count), worked out from the disk alone.
  using Counts = std::vector<std::pair<std::string, int>>;
  // Works them out on any thread (beside other work after a receive run).
  std::function<Counts()> counter() const;
  void showCounts(const Counts& counts);
  // Shows the counts the remembered records give and those of small folders at once,
  // and works out the rest on a worker thread: a big store's window is shown and used
  // while its counts fill in.
  void startCounts();
  void recount() { showCounts(counter()()); }

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
  QIcon image(int number) const;
  void waitCounts();

  std::filesystem::path programDir_;
  std::filesystem::path accountPrefix_;
  QMap<QString, QTreeWidgetItem*> nodes_;
  // Counts worked out after a build; shown only when no later count was shown first.
  std::thread countThread_;
  int countsShown_ = 0;

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
