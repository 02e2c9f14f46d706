#include "ui/main/FolderTree.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidgetItemIterator>
#include <climits>
#include <map>
#include <optional>
#include <unordered_set>

#include "store/countcache.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string u8(const QString& s) { return s.toStdString(); }

}  // namespace

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

FolderTree::~FolderTree() { waitCounts(); }

void FolderTree::setStore(std::filesystem::path programDir, std::filesystem::path accountPrefix) {
  programDir_ = std::move(programDir);
  accountPrefix_ = std::move(accountPrefix);
}

void FolderTree::removeNode(QTreeWidgetItem* node) {
  QList<QTreeWidgetItem*> stack{node};
  while (!stack.isEmpty()) {
    QTreeWidgetItem* n = stack.takeLast();
    nodes_.remove(fKey(n));
    for (int i = 0; i < n->childCount(); ++i) stack << n->child(i);
  }
  delete node;
}

QIcon FolderTree::image(int number) const {
  static std::map<int, QIcon> cache;
  auto it = cache.find(number);
  if (it != cache.end()) return it->second;
  QStyle* st = style();
  QIcon icon;
  switch (number) {
    case folderTree::kImageAccount:
      icon = st->standardIcon(QStyle::SP_DriveNetIcon);
      break;
    case folderTree::kImageFolderOpen:
      icon = st->standardIcon(QStyle::SP_DirOpenIcon);
      break;
    case folderTree::kImageTrash:
      icon = st->standardIcon(QStyle::SP_TrashIcon);
      break;
    default:
      icon = st->standardIcon(QStyle::SP_DirClosedIcon);
      break;
  }
  return cache[number] = icon;
}

QTreeWidgetItem* FolderTree::addNode(const QString& parentKey, const QString& key, const QString& text,
                                    int imageNumber, int selectedImage, int count) {
  if (nodes_.contains(key)) return nullptr;
  QTreeWidgetItem* parent = parentKey.isEmpty() ? nullptr : nodes_.value(parentKey);
  if (!parentKey.isEmpty() && !parent) return nullptr;
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  node->setText(0, text);
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  node->setData(0, kKeyRole, key);
  node->setData(0, kImageRole, imageNumber);
  node->setData(0, kSelectedImageRole, selectedImage ? selectedImage : imageNumber);
  QIcon icon = image(imageNumber);
  if (selectedImage && selectedImage != imageNumber) {
    // The open folder while the node is selected.
    QIcon both;
    for (const QSize& size : icon.availableSizes())
      both.addPixmap(icon.pixmap(size), QIcon::Normal);
    QIcon open = image(selectedImage);
    for (const QSize& size : open.availableSizes())
      both.addPixmap(open.pixmap(size), QIcon::Selected);
    icon = both;
  }
  node->setIcon(0, icon);
  if (parent && count != folderTree::kNoCount) node->setData(0, kCountRole, QString::number(count));
  nodes_.insert(key, node);
  return node;
}

void FolderTree::rebuild() {
  clear();
  nodes_.clear();
  for (const folderTree::Node& n : folderTree::fBuildNodes(programDir_, false)) {
    QTreeWidgetItem* node =
        addNode(qs(n.parentKey), qs(n.key), qs(n.text), n.image, n.selectedImage, n.count);
    if (node && !node->parent()) node->setExpanded(true);
  }
  viewport()->update();
  startCounts();
}

void FolderTree::addSubFolders(const std::filesystem::path& dir, const QString& parentKey) {
  std::unordered_set<std::string> keys;
  for (auto it = nodes_.cbegin(); it != nodes_.cend(); ++it) keys.insert(u8(it.key()));
  std::vector<folderTree::Node> found;
  folderTree::sAddSubFolders(dir, u8(parentKey), found, keys);
  for (const folderTree::Node& n : found) {
    addNode(qs(n.parentKey), qs(n.key), qs(n.text), n.image, n.selectedImage, n.count);
  }
}

QTreeWidgetItem* FolderTree::rootOf(QTreeWidgetItem* node) {
  while (node && node->parent()) node = node->parent();
  return node;
}

std::filesystem::path FolderTree::folderOf(QTreeWidgetItem* node) const {
  if (!node || !node->parent()) return {};
  QStringList below;
  for (QTreeWidgetItem* n = node; n && n->parent(); n = n->parent()) below.prepend(n->text(0));
  int number = folderTree::fNodeAccount(u8(fKey(node)));
  return mailstore::fNodeFolder(accountPrefix_, number, u8(below.join(QLatin1Char('\\'))));
}

namespace {

struct CountedFolder {
  std::string key;
  std::filesystem::path account, folder;
};

// Counts the folders, each account's remembered records read and written once. Folders
// the records do not serve are counted afresh while fewer than `budget` entries have
// been listed; the others go to `left`.
FolderTree::Counts countFolders(const std::vector<CountedFolder>& folders, long budget,
                               std::vector<CountedFolder>* left) {
  FolderTree::Counts counts;
  counts.reserve(folders.size());
  std::map<std::filesystem::path, countcache::AccountCounts> accounts;
  long listed = 0;
  for (const CountedFolder& f : folders) {
    countcache::AccountCounts& records = accounts.try_emplace(f.account, f.account).first->second;
    const long before = records.fListed();
    std::optional<int> count = records.fCount(f.folder, folderTree::fIsTrashKey(f.key), listed < budget);
    listed += records.fListed() - before;
    if (count) {
      counts.emplace_back(f.key, *count);
    } else if (left) {
      left->push_back(f);
    }
  }
  for (auto& [account, records] : accounts) records.fSave();
  return counts;
}

// Every folder node with its key, account folder and folder on disk.
std::vector<CountedFolder> countedFolders(const FolderTree& tree, const QMap<QString, QTreeWidgetItem*>& nodes,
                                          const std::filesystem::path& accountPrefix) {
  std::vector<CountedFolder> folders;
  for (QTreeWidgetItem* node : nodes) {
    if (!node->parent()) continue;
    const std::string key = u8(FolderTree::fKey(node));
    folders.push_back({key, mailstore::fAccountFolder(accountPrefix, folderTree::fNodeAccount(key)),
                       tree.folderOf(node)});
  }
  return folders;
}

}  // namespace

std::function<FolderTree::Counts()> FolderTree::counter() const {
  std::vector<CountedFolder> folders = countedFolders(*this, nodes_, accountPrefix_);
  return [folders = std::move(folders)] { return countFolders(folders, LONG_MAX, nullptr); };
}

void FolderTree::startCounts() {
  // About a few hundredths of a second of listing before the window goes on.
  constexpr long kListNow = 20000;
  std::vector<CountedFolder> folders = countedFolders(*this, nodes_, accountPrefix_);
  std::vector<CountedFolder> left;
  showCounts(countFolders(folders, kListNow, &left));
  if (left.empty()) return;
  waitCounts();
  const int shown = countsShown_;
  countThread_ = std::thread([this, shown, left = std::move(left)] {
    Counts counts = countFolders(left, LONG_MAX, nullptr);
    QMetaObject::invokeMethod(
        this,
        [this, shown, counts = std::move(counts)] {
          if (countsShown_ == shown) showCounts(counts);
        },
        Qt::QueuedConnection);
  });
}

void FolderTree::waitCounts() {
  if (countThread_.joinable()) countThread_.join();
}

void FolderTree::showCounts(const Counts& counts) {
  ++countsShown_;
  {
    // Told one by one, the shown tree would measure all its rows again for each count:
    // thousands of counts filling in would stall the window for seconds.
    const QSignalBlocker quiet(model());
    // By key: the tree may have been rebuilt while the counts were worked out.
    for (const auto& [key, count] : counts) {
      if (QTreeWidgetItem* node = nodes_.value(QString::fromStdString(key)))
        node->setData(0, kCountRole, QString::number(count));
    }
  }
  header()->resizeSections(QHeaderView::ResizeToContents);
  viewport()->update();
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
