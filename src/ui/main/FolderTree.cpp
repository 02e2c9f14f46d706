#include "ui/main/FolderTree.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeWidgetItemIterator>

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("tv"));
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::EditKeyPressed);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DropOnly);
  setItemDelegate(new FolderTreeDelegate(this));
  renameTimer_.setSingleShot(true);
  connect(&renameTimer_, &QTimer::timeout, this, [this] {
    if (renameItem_ && renameItem_ == currentItem()) editItem(renameItem_);
    renameItem_ = nullptr;
  });
  // An item deleted meanwhile is never renamed.
  connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] {
    renameTimer_.stop();
    renameItem_ = pressedSelected_ = nullptr;
  });
  setUniformRowHeights(true);
  // Names are never cut short: a long name scrolls sideways, its count with it.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

QString FolderTree::fKey(const QTreeWidgetItem* item) {
  return item ? item->data(0, kKeyRole).toString() : QString();
}

int FolderTree::fNaturalWidth(int height) const {
  QStyleOptionViewItem base;
  initViewItemOption(&base);
  base.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
  const int rootIndent = rootIsDecorated() ? 1 : 0;
  int rowHeight = 0;
  auto rowWidth = [&](int depth, const QString& text, const QString& count) {
    QStyleOptionViewItem opt = base;
    opt.text = text;
    const QSize size = style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), this);
    rowHeight = std::max(rowHeight, size.height() + 5);
    int w = indentation() * (depth + rootIndent) + size.width();
    if (!count.isNull()) {
      // Room for the count the node has, and for one that grows to three digits.
      const QString shown = count.size() > 3 ? count : QStringLiteral("999");
      w += base.fontMetrics.horizontalAdvance(QStringLiteral("(%1)").arg(shown)) + 4;
    }
    return w;
  };
  int widest = 0;
  for (const char* name : {"受信箱", "送信箱", "ごみ箱"}) widest = std::max(widest, rowWidth(1, QString::fromUtf8(name), "0"));
  for (const char* name : {"下書き", "送信待ち"}) widest = std::max(widest, rowWidth(2, QString::fromUtf8(name), "0"));
  int rows = 0;
  for (QTreeWidgetItemIterator it(const_cast<FolderTree*>(this)); *it; ++it, ++rows) {
    int depth = 0;
    for (const QTreeWidgetItem* p = (*it)->parent(); p; p = p->parent()) ++depth;
    const QString count = (*it)->parent() ? (*it)->data(0, kCountRole).toString() : QString();
    widest = std::max(widest, rowWidth(depth, (*it)->text(0), count));
  }
  if (rows * rowHeight > height - 2 * frameWidth()) widest += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return widest + 2 * frameWidth();
}

void FolderTree::mousePressEvent(QMouseEvent* event) {
  // Selection is decided here alone, so the owner sees exactly one press per change.
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (item && event->button() == Qt::LeftButton && item->childCount() > 0) {
    // A press on the expander only opens or closes the node.
    QRect r = visualItemRect(item);
    int x = event->position().toPoint().x();
    if (x < r.left() && x >= r.left() - indentation()) {
      item->setExpanded(!item->isExpanded());
      event->accept();
      return;
    }
  }
  renameTimer_.stop();
  const bool onLabel = item && visualItemRect(item).contains(event->position().toPoint());
  pressedSelected_ =
      event->button() == Qt::LeftButton && onLabel && item == currentItem() ? item : nullptr;
  emit nodeMousePressed(item, event->button(), event->globalPosition().toPoint());
  event->accept();
}

void FolderTree::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && item && item == pressedSelected_ && item == currentItem()) {
    renameItem_ = item;
    renameTimer_.start(QApplication::doubleClickInterval());
  }
  pressedSelected_ = nullptr;
  event->accept();
}
void FolderTree::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void FolderTree::mouseDoubleClickEvent(QMouseEvent* event) {
  renameTimer_.stop();
  renameItem_ = pressedSelected_ = nullptr;
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (item && item->childCount() > 0) item->setExpanded(!item->isExpanded());
  event->accept();
}

void FolderTree::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* before = currentItem();
  QTreeWidget::keyPressEvent(event);
  if (currentItem() != before) emit nodeKeySelected(currentItem());
}

void FolderTree::dragLeaveEvent(QDragLeaveEvent* event) {
  emit dragLeft();
  event->accept();
}

void FolderTree::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  emit dragEntered();
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void FolderTree::dragMoveEvent(QDragMoveEvent* event) {
  emit dragMovedOver(itemAt(event->position().toPoint()));
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void FolderTree::dropEvent(QDropEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  emit filesDropped(item, event->mimeData()->urls());
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

bool FolderTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  QTreeWidgetItem* item = itemFromIndex(index);
  if (item && canRename && !canRename(item)) return false;
  return QTreeWidget::edit(index, trigger, event);
}

FolderTreeDelegate::FolderTreeDelegate(FolderTree* tree) : QStyledItemDelegate(tree), tree_(tree) {}

void FolderTreeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);
  QString count = index.data(FolderTree::kCountRole).toString();
  if (count.isEmpty() || count == QLatin1String("0")) return;

  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
  int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  int textRight = textRect.left() + margin + opt.fontMetrics.horizontalAdvance(opt.text) + margin;
  int clientRight = widget ? widget->rect().right() : option.rect.right();
  QRect drawRect(QPoint(textRight, option.rect.top()), QPoint(clientRight, option.rect.bottom()));

  painter->save();
  painter->setFont(opt.font);
  painter->setPen(QColor(0, 0, 255));
  painter->drawText(drawRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    QStringLiteral("(%1)").arg(count));
  painter->restore();
}

QSize FolderTreeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(size.height() + 5);  // a little air between the nodes
  QString count = index.data(FolderTree::kCountRole).toString();
  if (!count.isEmpty() && count != QLatin1String("0")) {
    size.setWidth(size.width() + option.fontMetrics.horizontalAdvance(QStringLiteral("(%1)").arg(count)) + 4);
  }
  return size;
}

void FolderTreeDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                      const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  QTreeWidgetItem* item = tree_->itemFromIndex(index);
  if (!line || !item) return;
  QString text = line->text();
  if (text == item->text(0)) return;
  if (tree_->rename && !tree_->rename(item, text)) return;  // refused: the old text stays
  model->setData(index, text, Qt::EditRole);
}
